#include "generate/fault_plan.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "text/json_writer.h"
#include "text/time_syntax.h"

namespace vxtrace {
namespace {

// Far beyond any count of a trace.
constexpr uint64_t kLargestNumber = 1'000'000'000;
constexpr uint64_t kShortestLatencyNs = 1'000;

// A whole decimal number followed by exactly `unit`.
std::optional<uint64_t> number_with_unit(std::string_view text, std::string_view unit) {
  if (text.size() <= unit.size() || text.substr(text.size() - unit.size()) != unit)
    return std::nullopt;
  text.remove_suffix(unit.size());
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > kLargestNumber)
    return std::nullopt;
  return value;
}

// "+" and a duration after '@', in the command line's one time syntax:
// faults are placed from the first record of the trace.
std::optional<uint64_t> offset_ns(std::string_view text) {
  std::string why;
  const std::optional<TimeSpec> time = parse_time(std::string(text), &why);
  if (!time || time->origin != TimeOrigin::first_record) return std::nullopt;
  return time->nanoseconds;
}

// A duration after ':', nonzero.
std::optional<uint64_t> positive_duration_ns(std::string_view text) {
  std::string why;
  const std::optional<uint64_t> ns = parse_duration(text, &why);
  return ns && *ns > 0 ? ns : std::nullopt;
}

std::optional<uint64_t> positive_count(std::string_view text) {
  const std::optional<uint64_t> count = number_with_unit(text, "");
  return count && *count > 0 ? count : std::nullopt;
}

constexpr const char *kStallAndDisplayLatency =
    "a stall and latency@display do not go together: both decide when a frame is displayed";

// A duration from 1 us to the longest latency, in ns.
std::optional<uint64_t> latency_ns(std::string_view text) {
  const std::optional<uint64_t> ns = positive_duration_ns(text);
  if (!ns || *ns < kShortestLatencyNs || *ns > kLongestInjectedLatencyNs) return std::nullopt;
  return ns;
}

const TimedStage *timed_stage(std::string_view name) {
  for (const TimedStage &stage : kTimedStages)
    if (name == stage.name) return &stage;
  return nullptr;
}

bool fixes_display(const FaultPlan &plan) {
  for (const FaultPlan::Latency &latency : plan.latencies)
    if (latency.stage->to == EventKind::video_stream_frame_displayed) return true;
  return false;
}

// A latency fault; nullopt when it was added, else what is wrong with it.
std::optional<std::string> add_latency(const std::string &text, std::string_view where,
                                       std::string_view tail, FaultPlan *plan) {
  const TimedStage *stage = timed_stage(where);
  const std::optional<uint64_t> ns = latency_ns(tail);
  if (stage == nullptr || !ns)
    return "'" + text +
           "': expected latency@<stage>:<D>, the stage one of reorder, decoder, display and "
           "return, D a duration from 1us to 60000ms";
  for (const FaultPlan::Latency &planned : plan->latencies)
    if (planned.stage == stage) return "'" + text + "': a latency of that stage is already given";
  if (stage->to == EventKind::video_stream_frame_displayed && !plan->stalls.empty())
    return "'" + text + "': " + kStallAndDisplayLatency;
  plan->latencies.push_back({stage, *ns});
  return std::nullopt;
}

}  // namespace

std::optional<std::string> add_fault(const std::string &text, FaultPlan *plan) {
  const std::string_view whole(text);
  const size_t colon = whole.rfind(':');
  const std::string_view head = whole.substr(0, colon);
  const std::string_view tail = colon == std::string_view::npos ? "" : whole.substr(colon + 1);
  const size_t at = head.find('@');
  const std::string_view kind = head.substr(0, at);
  const std::string_view where = at == std::string_view::npos ? "" : head.substr(at + 1);
  const std::string usage = "'" + text +
                            "': expected stall@+<T>:<D>, lose@reorder:<N>, lose@decoder:<N>, "
                            "silence[@+<T>]:<N> or latency@<stage>:<D> (T and D durations such "
                            "as 5.25s and 400ms)";
  if (colon == std::string_view::npos) return usage;
  if (kind == "stall") {
    const std::optional<uint64_t> after = offset_ns(where);
    const std::optional<uint64_t> pause = positive_duration_ns(tail);
    if (!after || !pause) return usage;
    if (fixes_display(*plan)) return "'" + text + "': " + kStallAndDisplayLatency;
    plan->stalls.push_back({*after, *pause});
    return std::nullopt;
  }
  if (kind == "latency") return add_latency(text, where, tail, plan);
  if (kind == "lose") {
    const std::optional<uint64_t> count = positive_count(tail);
    if (!count || (where != "reorder" && where != "decoder")) return usage;
    plan->losses.push_back({where == "reorder" ? LossStage::reorder : LossStage::decoder, *count});
    return std::nullopt;
  }
  if (kind == "silence") {
    const std::optional<uint64_t> after = where.empty() && at == std::string_view::npos
                                              ? std::optional<uint64_t>(0)
                                              : offset_ns(where);
    const std::optional<uint64_t> count = positive_count(tail);
    if (!after || !count) return usage;
    plan->silences.push_back({*after, *count});
    return std::nullopt;
  }
  return usage;
}

namespace {

// Timestamps rise by up to 99 µs from one event to the next, or by an
// injected latency.
constexpr uint64_t kLongestStepNs = 99'000;
constexpr uint64_t kTimestampRoom = uint64_t{1} << 62;

// The pauses of every stall together, or nullopt past the room.
std::optional<uint64_t> total_pause_ns(const FaultPlan &plan) {
  uint64_t total = 0;
  for (const FaultPlan::Stall &stall : plan.stalls) {
    if (stall.pause_ns > kTimestampRoom - total) return std::nullopt;
    total += stall.pause_ns;
  }
  return total;
}

uint64_t total_silences(const FaultPlan &plan) {
  uint64_t total = 0;
  for (const FaultPlan::Silence &silence : plan.silences)
    total = silence.count > UINT64_MAX - total ? UINT64_MAX : total + silence.count;
  return total;
}

}  // namespace

std::optional<std::string> does_not_fit(const FaultPlan &plan, uint64_t events) {
  uint64_t longest_ns = kLongestStepNs;
  for (const FaultPlan::Latency &latency : plan.latencies)
    longest_ns = std::max(longest_ns, latency.latency_ns);
  const std::optional<uint64_t> pauses = total_pause_ns(plan);
  if (!pauses || events > (kTimestampRoom - *pauses) / longest_ns)
    return std::to_string(events) +
           " events with these latencies and stall pauses would run the timestamps out of range";
  const uint64_t silences = total_silences(plan);
  if (silences > events)
    return std::to_string(silences) + " silence writes do not fit in " + std::to_string(events) +
           " events";
  return std::nullopt;
}

const char *loss_stage_name(LossStage stage) {
  return stage == LossStage::reorder ? "reorder" : "decoder";
}

namespace {

void write_loss_sessions(JsonWriter &json,
                         const std::vector<FaultAccount::LossInSession> &sessions) {
  json.key("sessions");
  json.open('[');
  for (const FaultAccount::LossInSession &session : sessions) {
    json.open('{');
    json.member("session_id", session.session_id);
    json.member("first_entered", session.first_entered_ns);
    json.member("last_entered", session.last_entered_ns);
    json.member("count", session.count);
    json.member("lost", session.lost);
    json.member("flushed", session.flushed);
    json.close('}');
  }
  json.close(']');
}

}  // namespace

std::string fault_account_json(const FaultAccount &account) {
  std::string out;
  JsonWriter json(out);
  json.open('{');
  json.key("stalls");
  json.open('[');
  for (const FaultAccount::StallSeen &stall : account.stalls) {
    json.open('{');
    json.member("session_id", stall.session_id);
    json.member("at", stall.at_ns);
    json.member("gap_ns", stall.gap_ns);
    json.close('}');
  }
  json.close(']');
  json.key("losses");
  json.open('[');
  for (const FaultAccount::LossSeen &loss : account.losses) {
    json.open('{');
    json.member_text("stage", loss_stage_name(loss.stage));
    json.member("lost", loss.lost);
    json.member("flushed", loss.flushed);
    write_loss_sessions(json, loss.sessions);
    json.close('}');
  }
  json.close(']');
  json.member("silences_injected", account.silences_injected);
  json.member("silence_writes", account.silence_writes);
  json.key("latencies");
  json.open('[');
  for (const FaultAccount::LatencySeen &latency : account.latencies) {
    json.open('{');
    json.member_text("stage", latency.stage->name);
    json.member_text("from", short_name(latency.stage->from));
    json.member_text("to", short_name(latency.stage->to));
    json.member("latency_ns", latency.latency_ns);
    json.member("keys", latency.keys);
    json.close('}');
  }
  json.close(']');
  json.key("injected_silences");
  json.open('[');
  for (const FaultAccount::SilencesSeen &silences : account.injected_silences) {
    json.open('{');
    json.member("first", silences.first_ns);
    json.member("writes", silences.writes);
    json.close('}');
  }
  json.close(']');
  json.close('}');
  return out + "\n";
}

}  // namespace vxtrace
