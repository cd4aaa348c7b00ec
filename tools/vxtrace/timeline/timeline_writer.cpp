#include "timeline/timeline_writer.h"

#include <cstring>

#include "text/json_text.h"
#include "timeline/timeline_json.h"

namespace vxtrace {
namespace {

// pid 0 and tid 0 stand for the idle process and thread in some viewers, so
// numbering starts at 1. Sessions get their pids in order of appearance: a
// session id may be any 32-bit value, 0 included, which pids cannot mirror.
constexpr uint32_t kReceiverPid = 1;

uint32_t tid_of(Stage stage) {
  return static_cast<uint32_t>(stage) + 1;
}

void append_quoted(std::string *out, std::string_view text) {
  append_json_string(out, text);
}

}  // namespace

TimelineWriter::TimelineWriter(OutputSink *sink) : sink_(sink), processes_(kReceiverPid) {
  out_.append("{\"traceEvents\": [\n");
}

const TimelineWriter::EventPlacement &TimelineWriter::placement_of(const EventView &event) {
  EventPlacement &placement = placements_[event.id];
  // An id can be defined again under another name.
  if (placement.name != event.name) {
    placement.name = event.name;
    placement.stage = stage_of_event(placement.name);
    placement.counters = counters_of_event(placement.name);
  }
  return placement;
}

uint32_t TimelineWriter::pid_of_session(uint32_t session_id) {
  const auto known = session_pids_.find(session_id);
  if (known != session_pids_.end()) return known->second;
  if (session_pids_.size() >= kSessionProcessLimit) return pid_of_other_sessions();
  const auto pid = static_cast<uint32_t>(processes_.size()) + 1;
  processes_.push_back({ProcessKind::session, session_id, {}});
  session_pids_.emplace(session_id, pid);
  return pid;
}

uint32_t TimelineWriter::pid_of_other_sessions() {
  if (other_sessions_pid_ == 0) {
    processes_.push_back({ProcessKind::other_sessions, 0, {}});
    other_sessions_pid_ = static_cast<uint32_t>(processes_.size());
  }
  return other_sessions_pid_;
}

// The push of a packet carries its session inside the packet.
uint32_t TimelineWriter::pid_of_payload() {
  auto session = find_member(payload_.view(), "session_id");
  if (!session) session = find_member(payload_.view(), "packet.session_id");
  const std::optional<uint32_t> id = session ? parse_uint32(*session) : std::nullopt;
  return id ? pid_of_session(*id) : kReceiverPid;
}

std::string TimelineWriter::process_name(const Process &process) {
  switch (process.kind) {
    case ProcessKind::session:
      return "session " + std::to_string(process.session_id);
    case ProcessKind::other_sessions:
      return "other sessions";
    case ProcessKind::receiver:
      break;
  }
  return "receiver";
}

// The receiver first, then the sessions in id order, then the shared process.
uint64_t TimelineWriter::process_sort_index(const Process &process) {
  switch (process.kind) {
    case ProcessKind::session:
      return uint64_t{process.session_id} + 1;
    case ProcessKind::other_sessions:
      return uint64_t{UINT32_MAX} + 2;
    case ProcessKind::receiver:
      break;
  }
  return 0;
}

// The metadata events that name a process and a thread, the first time the
// track is used. Sort indexes keep sessions in id order and stages in
// pipeline order.
void TimelineWriter::announce(const Track &track) {
  Process &process = processes_[track.pid - 1];
  std::bitset<kStageCount> &threads = process.announced_threads;
  const size_t stage = static_cast<size_t>(track.stage);
  if (threads.test(stage)) return;
  if (threads.none()) {
    const std::string name = process_name(process);
    const uint64_t sort_index = process_sort_index(process);
    open_event("M", {track.pid, track.stage}, 0);
    out_.append("\"name\": \"process_name\", \"args\": {\"name\": ");
    append_quoted(&out_, name);
    out_.append("}}");
    open_event("M", {track.pid, track.stage}, 0);
    out_.append("\"name\": \"process_sort_index\", \"args\": {\"sort_index\": ");
    append_decimal(&out_, sort_index);
    out_.append("}}");
  }
  threads.set(stage);
  open_event("M", track, 0);
  out_.append("\"name\": \"thread_name\", \"args\": {\"name\": ");
  append_quoted(&out_, stage_name(track.stage));
  out_.append("}}");
  open_event("M", track, 0);
  out_.append("\"name\": \"thread_sort_index\", \"args\": {\"sort_index\": ");
  append_decimal(&out_, stage);
  out_.append("}}");
}

// Writes the separator and the members that every event has; the caller
// adds its own members and the closing brace.
void TimelineWriter::open_event(std::string_view phase, const Track &track, uint64_t timestamp) {
  out_.append(first_event_ ? "{\"ph\": \"" : ",\n{\"ph\": \"");
  first_event_ = false;
  out_.append(phase);
  out_.append("\", \"ts\": ");
  append_microseconds(&out_, timestamp);
  out_.append(", \"pid\": ");
  append_decimal(&out_, track.pid);
  out_.append(", \"tid\": ");
  append_decimal(&out_, tid_of(track.stage));
  out_.append(", ");
}

void TimelineWriter::add(const EventView &event, const DecodedRecord &record) {
  ++records_;
  if (record.problem() != DecodeProblem::none) {
    add_undecoded(event, record.problem());
  } else {
    payload_.clear();
    record.print(printer_.printer());
    add_decoded(event, placement_of(event));
  }
  hand_over_if_large();
}

void TimelineWriter::hand_over_if_large() {
  constexpr size_t kHandOverSize = size_t{64} << 10;
  if (out_.size() < kHandOverSize) return;
  sink_->append(out_);
  out_.clear();
}

void TimelineWriter::add_decoded(const EventView &event, const EventPlacement &placement) {
  const Track track{pid_of_payload(), placement.stage};
  announce(track);
  open_event("i", track, event.timestamp);
  out_.append("\"s\": \"t\", \"name\": ");
  append_quoted(&out_, placement.name);
  out_.append(", \"cat\": ");
  append_quoted(&out_, stage_name(placement.stage));
  out_.append(", \"args\": ");
  out_.append(payload_.view());
  out_.push_back('}');
  add_counters(event, placement, track);
}

// Counters are process-wide tracks in the viewers; a field that is not a
// number (a NaN volume renders as null) gives no sample.
void TimelineWriter::add_counters(const EventView &event, const EventPlacement &placement,
                                  const Track &track) {
  for (const CounterRule &rule : placement.counters) {
    const std::optional<std::string_view> value = find_member(payload_.view(), rule.field);
    if (!value || !is_json_number(*value)) continue;
    open_event("C", track, event.timestamp);
    out_.append("\"name\": ");
    append_quoted(&out_, rule.counter);
    out_.append(", \"args\": {");
    append_quoted(&out_, rule.series);
    out_.append(": ");
    out_.append(*value);
    out_.append("}}");
  }
}

// Kept visible on the receiver's own track, with the reason and the bytes.
void TimelineWriter::add_undecoded(const EventView &event, DecodeProblem problem) {
  const Track track{kReceiverPid, Stage::undecoded};
  announce(track);
  open_event("i", track, event.timestamp);
  out_.append("\"s\": \"t\", \"name\": ");
  if (event.name != nullptr)
    append_quoted(&out_, std::string_view(event.name, std::strlen(event.name)));
  else
    append_quoted(&out_, "unknown event id " + std::to_string(event.id));
  out_.append(", \"cat\": ");
  append_quoted(&out_, stage_name(Stage::undecoded));
  out_.append(", \"args\": {\"id\": ");
  append_decimal(&out_, event.id);
  out_.append(", \"error\": ");
  append_quoted(&out_, decode_problem_text(problem));
  out_.append(", \"raw\": \"");
  append_hex(&out_, event.payload, event.payload_size);
  out_.append("\"}}");
}

void TimelineWriter::finish(const std::string &input_name, const std::string &input_error) {
  out_.append(
      "\n],\n\"displayTimeUnit\": \"ns\",\n\"otherData\": {\"producer\": \"vxtrace timeline\", ");
  out_.append("\"input\": ");
  append_quoted(&out_, input_name);
  out_.append(", \"records\": ");
  append_decimal(&out_, records_);
  out_.append(", \"complete\": ");
  out_.append(input_error.empty() ? "true" : "false");
  if (!input_error.empty()) {
    out_.append(", \"input_error\": ");
    append_quoted(&out_, input_error);
  }
  out_.append("}}\n");
  sink_->append(out_);
  out_.clear();
}

}  // namespace vxtrace
