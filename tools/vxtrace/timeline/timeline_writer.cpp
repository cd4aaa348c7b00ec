#include "timeline/timeline_writer.h"

#include "text/json_text.h"
#include "text/json_writer.h"
#include "timeline/timeline_json.h"

namespace vxtrace {
namespace {

uint32_t tid_of(Stage stage) {
  return static_cast<uint32_t>(stage) + 1;
}

}  // namespace

JsonTimeline::JsonTimeline(OutputSink *sink, bool with_args) : sink_(sink), with_args_(with_args) {
  out_.append("{\"traceEvents\": [\n");
}

// Sort indexes keep sessions in id order and stages in pipeline order.
void JsonTimeline::declare_process(const ProcessInfo &process) {
  const TrackRef track{process.pid, Stage::network};
  open_event("M", track, 0);
  out_.append("\"name\": \"process_name\", \"args\": {\"name\": ");
  append_json_string(&out_, process.name);
  out_.append("}}");
  open_event("M", track, 0);
  out_.append("\"name\": \"process_sort_index\", \"args\": {\"sort_index\": ");
  append_decimal(&out_, process.sort_index);
  out_.append("}}");
}

void JsonTimeline::declare_stage(const TrackRef &track) {
  open_event("M", track, 0);
  out_.append("\"name\": \"thread_name\", \"args\": {\"name\": ");
  append_json_string(&out_, stage_name(track.stage));
  out_.append("}}");
  open_event("M", track, 0);
  out_.append("\"name\": \"thread_sort_index\", \"args\": {\"sort_index\": ");
  append_decimal(&out_, static_cast<size_t>(track.stage));
  out_.append("}}");
}

// Writes the separator and the members that every event has; the caller
// adds its own members and the closing brace.
void JsonTimeline::open_event(std::string_view phase, const TrackRef &track, uint64_t timestamp) {
  open_object(phase);
  append_place(track, timestamp);
}

void JsonTimeline::open_object(std::string_view phase) {
  out_.append(first_event_ ? "{\"ph\": \"" : ",\n{\"ph\": \"");
  first_event_ = false;
  out_.append(phase);
}

void JsonTimeline::append_place(const TrackRef &track, uint64_t timestamp) {
  out_.append("\", \"ts\": ");
  append_us(&out_, timestamp);
  out_.append(", \"pid\": ");
  append_decimal(&out_, track.pid);
  out_.append(", \"tid\": ");
  append_decimal(&out_, tid_of(track.stage));
  out_.append(", ");
}

void JsonTimeline::hand_over_if_large() {
  constexpr size_t kHandOverSize = size_t{64} << 10;
  if (out_.size() < kHandOverSize) return;
  sink_->append(out_);
  out_.clear();
}

namespace {

std::string_view phase_text(RecordPhase phase) {
  switch (phase) {
    case RecordPhase::slice_begin:
      return "B";
    case RecordPhase::slice_end:
      return "E";
    case RecordPhase::instant:
    case RecordPhase::held_begin:
      break;
  }
  return "i";
}

}  // namespace

// A held begin is written without its phase, which release() adds.
void JsonTimeline::record(const RecordEvent &event) {
  const bool held = event.phase == RecordPhase::held_begin;
  const size_t held_from = out_.size();
  if (!held) open_object(phase_text(event.phase));
  append_place(event.track, event.timestamp);
  out_.append("\"s\": \"t\", \"name\": ");
  append_json_string(&out_, event.name);
  out_.append(", \"cat\": ");
  append_json_string(&out_, stage_name(event.track.stage));
  if (with_args_) {
    out_.append(", \"args\": ");
    out_.append(event.rendered);
  }
  out_.push_back('}');
  if (held) {
    if (held_.size() <= event.held_slot) held_.resize(event.held_slot + 1);
    held_[event.held_slot].assign(out_, held_from);
    out_.resize(held_from);
  }
  append_flow(event);
  hand_over_if_large();
}

void JsonTimeline::release(uint32_t slot, RecordPhase phase) {
  if (slot >= held_.size()) return;
  open_object(phase_text(phase));
  out_.append(held_[slot]);
  held_[slot].clear();
  hand_over_if_large();
}

// Bound to the enclosing slice: the record's own event, at the same time on
// the same thread.
void JsonTimeline::append_flow(const RecordEvent &event) {
  if (event.flow_step == FlowStep::none) return;
  const std::string_view phase = event.flow_step == FlowStep::first    ? "s"
                                 : event.flow_step == FlowStep::middle ? "t"
                                                                       : "f";
  open_event(phase, event.track, event.timestamp);
  out_.append("\"name\": \"flow\", \"cat\": \"flow\", \"bp\": \"e\", \"id\": ");
  append_decimal(&out_, event.flow_id);
  out_.push_back('}');
}

// Counters are process-wide tracks in the viewers.
void JsonTimeline::counter(const TrackRef &track, const CounterRule &rule, uint64_t timestamp,
                           std::string_view value) {
  open_event("C", track, timestamp);
  out_.append("\"name\": ");
  append_json_string(&out_, rule.counter);
  out_.append(", \"args\": {");
  append_json_string(&out_, rule.series);
  out_.append(": ");
  out_.append(value);
  out_.append("}}");
}

// Kept visible on the receiver's own track, with the reason and the bytes.
void JsonTimeline::undecoded(const TrackRef &track, const EventView &event,
                             std::string_view event_name, DecodeProblem problem) {
  open_event("i", track, event.timestamp);
  out_.append("\"s\": \"t\", \"name\": ");
  append_json_string(&out_, event_name);
  out_.append(", \"cat\": ");
  append_json_string(&out_, stage_name(Stage::undecoded));
  out_.append(", \"args\": {\"id\": ");
  append_decimal(&out_, event.id);
  out_.append(", \"error\": ");
  append_json_string(&out_, decode_problem_text(problem));
  out_.append(", \"raw\": \"");
  append_hex(&out_, event.payload, event.payload_size);
  out_.append("\"}}");
  hand_over_if_large();
}

void JsonTimeline::finish(const std::string &input_name, const std::string &input_error,
                          uint64_t records) {
  out_.append(
      "\n],\n\"displayTimeUnit\": \"ns\",\n\"otherData\": {\"producer\": \"vxtrace timeline\", ");
  out_.append("\"input\": ");
  append_json_string(&out_, input_name);
  out_.append(", \"records\": ");
  append_decimal(&out_, records);
  out_.append(", \"complete\": ");
  out_.append(input_error.empty() ? "true" : "false");
  if (!input_error.empty()) {
    out_.append(", \"input_error\": ");
    append_json_string(&out_, input_error);
  }
  out_.append("}}\n");
  sink_->append(out_);
  out_.clear();
}

}  // namespace vxtrace
