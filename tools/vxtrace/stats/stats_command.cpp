// vxtrace stats: per event name the count, the decode failures and the payload
// bytes, and totals over the whole trace.
#include "stats/stats_command.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli/options.h"
#include "core/decoded_record.h"
#include "io/diagnostics.h"
#include "select/reading_command.h"
#include "text/json_writer.h"
#include "text/output_sink.h"
#include "text/terminal_text.h"

namespace vxtrace {
namespace {

struct EventTally {
  std::string name;
  bool other_names = false;  // the names past the bound, counted together
  uint64_t count = 0;
  uint64_t failures = 0;  // no decoder, or a payload that did not decode
  uint64_t payload_bytes = 0;
};

struct TraceTotals {
  std::string input;  // as given; for the per-input table
  uint64_t events = 0;
  uint64_t definitions = 0;
  uint64_t unknown_ids = 0;
  uint64_t unknown_id_bytes = 0;
  uint64_t earliest = std::numeric_limits<uint64_t>::max();
  uint64_t latest = 0;
};

// Hashes names as text, so that a lookup needs no std::string of its own.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

void add_to_totals(const EventView &event, DecodeProblem problem, TraceTotals *totals) {
  ++totals->events;
  totals->earliest = std::min(totals->earliest, event.timestamp);
  totals->latest = std::max(totals->latest, event.timestamp);
  if (problem == DecodeProblem::unknown_id) {
    ++totals->unknown_ids;
    totals->unknown_id_bytes += event.payload_size;
  }
}

class StatsCollector {
 public:
  explicit StatsCollector(const OpenedInput &opened) {
    for (const OpenedSource &source : opened.sources) by_input_.push_back({source.path});
  }

  void add(size_t source, const EventView &event, DecodeProblem problem) {
    add_to_totals(event, problem, &totals_);
    add_to_totals(event, problem, &by_input_[source]);
    if (problem == DecodeProblem::unknown_id) return;
    EventTally &tally = tally_of(event.name);
    ++tally.count;
    tally.payload_bytes += event.payload_size;
    if (problem != DecodeProblem::none) ++tally.failures;
  }

  void count_definitions(const OpenedInput &opened) {
    for (size_t source = 0; source < opened.sources.size(); ++source) {
      by_input_[source].definitions =
          vxt_reader_definition_count(opened.sources[source].session->reader());
      totals_.definitions += by_input_[source].definitions;
    }
  }

  // Most frequent first; equal counts by name; the other names last.
  std::vector<EventTally> tallies() const {
    std::vector<EventTally> sorted;
    sorted.reserve(by_name_.size() + 1);
    for (const auto &[name, tally] : by_name_) sorted.push_back(tally);
    std::sort(sorted.begin(), sorted.end(), [](const EventTally &a, const EventTally &b) {
      return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
    if (other_names_.count != 0) sorted.push_back(other_names_);
    return sorted;
  }

  // Whether more names came than kMostNames.
  bool names_bounded() const { return other_names_.count != 0; }

  // A trace has a few hundred names; a damaged or hostile one may define
  // millions, which would each cost a tally.
  static constexpr size_t kMostNames = 65536;

  const TraceTotals &totals() const { return totals_; }
  const std::vector<TraceTotals> &by_input() const { return by_input_; }

 private:
  // Keyed by the text: the reader frees a name when its id is bound again,
  // and the next name may get the same address.
  EventTally &tally_of(std::string_view name) {
    auto found = by_name_.find(name);
    if (found == by_name_.end()) {
      if (by_name_.size() >= kMostNames) return other_names_;
      found = by_name_.emplace(std::string(name), EventTally{}).first;
      found->second.name = found->first;
    }
    return found->second;
  }

  std::unordered_map<std::string, EventTally, NameHash, std::equal_to<>> by_name_;
  EventTally other_names_{"(other names)", true};
  TraceTotals totals_;
  std::vector<TraceTotals> by_input_;
};

void appendf(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string *out, const char *format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0) out->append(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

void append_table(std::string *out, const std::vector<EventTally> &tallies,
                  const TraceTotals &totals) {
  size_t width = 5;
  for (const EventTally &tally : tallies) width = std::max(width, tally.name.size());
  const int name_width = static_cast<int>(std::min<size_t>(width, 200));
  appendf(out, "%-*s %12s %9s %14s\n", name_width, "event", "count", "failures", "payload bytes");
  for (const EventTally &tally : tallies)
    appendf(out, "%-*.*s %12" PRIu64 " %9" PRIu64 " %14" PRIu64 "\n", name_width, name_width,
            printable(tally.name).c_str(), tally.count, tally.failures, tally.payload_bytes);
  appendf(out, "\n%" PRIu64 " events, %" PRIu64 " definitions, %" PRIu64 " with an unknown id\n",
          totals.events, totals.definitions, totals.unknown_ids);
  if (totals.events == 0) return;
  const uint64_t duration = totals.latest - totals.earliest;
  appendf(out, "first timestamp %" PRIu64 " ns, last %" PRIu64 " ns, duration %.6f s\n",
          totals.earliest, totals.latest, static_cast<double>(duration) / 1e9);
}

// With several inputs: one line per input, in command-line order.
void append_input_table(std::string *out, const std::vector<TraceTotals> &inputs) {
  size_t width = 5;
  for (const TraceTotals &input : inputs) width = std::max(width, input.input.size());
  const int name_width = static_cast<int>(std::min<size_t>(width, 200));
  appendf(out, "\n%-*s %12s %11s %20s %20s\n", name_width, "input", "events", "definitions",
          "first timestamp ns", "last timestamp ns");
  for (const TraceTotals &input : inputs) {
    const bool any = input.events > 0;
    appendf(out, "%-*.*s %12" PRIu64 " %11" PRIu64 " %20s %20s\n", name_width, name_width,
            printable(input.input).c_str(), input.events, input.definitions,
            any ? std::to_string(input.earliest).c_str() : "-",
            any ? std::to_string(input.latest).c_str() : "-");
  }
}

// The members that the whole trace and each input share: counts and the
// time range, null without events.
void write_totals_members(JsonWriter &json, const TraceTotals &totals) {
  json.member("events", totals.events);
  json.member("definitions", totals.definitions);
  json.member("unknown_ids", totals.unknown_ids);
  if (totals.events == 0) {
    json.key("first_timestamp");
    json.null();
    json.key("last_timestamp");
    json.null();
    json.member("duration", 0);
    return;
  }
  json.member("first_timestamp", totals.earliest);
  json.member("last_timestamp", totals.latest);
  json.member("duration", totals.latest - totals.earliest);
}

void append_json(std::string *out, const std::vector<EventTally> &tallies,
                 const TraceTotals &totals, const std::vector<TraceTotals> &inputs) {
  JsonWriter json(*out);
  json.open('{');
  json.key("events");
  json.open('[');
  for (const EventTally &tally : tallies) {
    json.open('{');
    json.key("event");
    tally.other_names ? json.null() : json.text(tally.name);
    json.member("count", tally.count);
    json.member("decode_failures", tally.failures);
    json.member("payload_bytes", tally.payload_bytes);
    json.close('}');
  }
  json.close(']');
  json.key("total");
  json.open('{');
  write_totals_members(json, totals);
  json.close('}');
  json.key("inputs");
  json.open('[');
  for (const TraceTotals &input : inputs) {
    json.open('{');
    json.member_text("input", input.input);
    write_totals_members(json, input);
    json.close('}');
  }
  json.close(']');
  json.close('}');
  out->push_back('\n');
}

}  // namespace

namespace {

class StatsCommand : public ReadingCommand {
 public:
  explicit StatsCommand(const StatsOptions &options) : options_(options) {}

  // Standard output only, which the shell opened before the run.
  bool outputs_acceptable(const std::vector<std::string> &) override { return true; }

  bool run(ReadingPass &pass) override {
    StatsCollector stats(pass.opened());
    pass.for_each([&](size_t source, const EventView &event, const DecodedRecord &record) {
      stats.add(source, event, record.problem());
      return true;
    });
    stats.count_definitions(pass.opened());
    if (stats.names_bounded())
      note("more than " + std::to_string(StatsCollector::kMostNames) +
           " event names: the later ones are counted together as \"(other names)\" (JSON: "
           "\"event\": null)");
    return write(stats);
  }

 private:
  bool write(const StatsCollector &stats) const {
    OutputSink sink(STDOUT_FILENO);
    if (options_.json) {
      append_json(&sink.buffer(), stats.tallies(), stats.totals(), stats.by_input());
    } else {
      append_table(&sink.buffer(), stats.tallies(), stats.totals());
      if (stats.by_input().size() > 1) append_input_table(&sink.buffer(), stats.by_input());
    }
    if (sink.flush()) return true;
    report("cannot write to standard output: " + sink.error());
    return false;
  }

  const StatsOptions &options_;
};

}  // namespace

int run_stats(const StatsOptions &options) {
  StatsCommand command(options);
  return run_reading_command(options.in, command);
}

namespace {

CommandRun declare_stats(CLI::App *command) {
  auto options = std::make_shared<StatsOptions>();
  add_reading_options(command, &options->in);
  command->add_flag("--json", options->json, "Write the statistics as one JSON object");
  add_talk_options(command, &options->in.progress);
  return [options] { return run_stats(*options); };
}

}  // namespace

Command stats_command() {
  return {"stats", "Count events, failures and bytes per event", declare_stats};
}

}  // namespace vxtrace
