#include "timeline/perfetto_timeline.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "text/json_text.h"

namespace vxtrace {
namespace {

// Sort indexes are 64-bit in the model (session id + 1) and 32-bit signed
// ranks here; the mapping keeps their order, the receiver first.
int32_t process_rank(uint64_t sort_index) {
  if (sort_index == 0) return std::numeric_limits<int32_t>::min();
  const uint64_t index = std::min<uint64_t>(sort_index - 1, UINT32_MAX);
  return static_cast<int32_t>(static_cast<int64_t>(index) - (int64_t{1} << 31));
}

TrackEventType event_type(RecordPhase phase) {
  switch (phase) {
    case RecordPhase::slice_begin:
      return TrackEventType::slice_begin;
    case RecordPhase::slice_end:
      return TrackEventType::slice_end;
    case RecordPhase::instant:
    case RecordPhase::held_begin:
      break;
  }
  return TrackEventType::instant;
}

}  // namespace

PerfettoTimeline::PerfettoTimeline(PerfettoWriter::Sink sink, bool with_args)
    : writer_(std::move(sink)), with_args_(with_args) {}

void PerfettoTimeline::declare_process(const ProcessInfo &process) {
  if (process_tracks_.size() < process.pid) {
    process_tracks_.resize(process.pid);
    stage_tracks_.resize(process.pid);
  }
  process_tracks_[process.pid - 1] =
      writer_.add_process_track(process.name, process_rank(process.sort_index));
}

void PerfettoTimeline::declare_stage(const TrackRef &track) {
  const auto stage = static_cast<size_t>(track.stage);
  stage_tracks_[track.pid - 1][stage] = writer_.add_child_track(
      process_tracks_[track.pid - 1], stage_name(track.stage), static_cast<int32_t>(stage));
}

void PerfettoTimeline::record(const RecordEvent &event) {
  last_timestamp_ = std::max(last_timestamp_, event.timestamp);
  const uint64_t flow[1] = {event.flow_id};
  const bool in_flow = event.flow_step != FlowStep::none;
  const bool ends_flow = event.flow_step == FlowStep::last;
  const TrackEventHead head(
      event_type(event.phase), stage_track(event.track), event.timestamp,
      writer_.intern_event_name(event.name), {},
      in_flow && !ends_flow ? std::span<const uint64_t>(flow) : std::span<const uint64_t>(),
      ends_flow ? std::span<const uint64_t>(flow) : std::span<const uint64_t>());
  if (event.phase == RecordPhase::held_begin) {
    if (held_.size() <= event.held_slot) held_.resize(event.held_slot + 1);
    held_[event.held_slot].timestamp = event.timestamp;
    writer_.begin_held_event(head, &held_[event.held_slot].body);
  } else {
    writer_.begin_event(head);
  }
  if (with_args_) add_arguments(event);
  writer_.end_event();
}

// The payload as debug annotations; a name outside the catalogue gives its
// rendering as one string.
void PerfettoTimeline::add_arguments(const RecordEvent &event) {
  if (event.kind) {
    annotations_.add(*event.kind, event.data);
    return;
  }
  if (!payload_name_) payload_name_ = writer_.intern_arg_name("payload");
  writer_.add_string(payload_name_, event.rendered);
}

void PerfettoTimeline::release(uint32_t slot, RecordPhase phase) {
  if (slot >= held_.size()) return;
  Held &held = held_[slot];
  writer_.write_held_event(event_type(phase), held.timestamp, held.body);
  held.body.clear();
}

// The value is a JSON number: an integer when it reads as one, else a double.
void PerfettoTimeline::counter(const TrackRef &track, const CounterRule &rule, uint64_t timestamp,
                               std::string_view value) {
  TrackId &counter = counter_tracks_[{track.pid, rule.counter, rule.series}];
  if (!counter) {
    const std::string name = std::string(rule.counter) + " " + std::string(rule.series);
    counter = writer_.add_counter_track(process_tracks_[track.pid - 1], name, {},
                                        kStageCount + static_cast<int32_t>(counter_tracks_.size()));
  }
  const char *first = value.data();
  const char *last = first + value.size();
  int64_t integer = 0;
  const auto [end, error] = std::from_chars(first, last, integer);
  if (error == std::errc() && end == last) {
    writer_.add_counter(counter, timestamp, integer);
    return;
  }
  double number = 0;
  const auto parsed = std::from_chars(first, last, number);
  if (parsed.ec == std::errc()) writer_.add_double_counter(counter, timestamp, number);
}

void PerfettoTimeline::undecoded(const TrackRef &track, const EventView &event,
                                 std::string_view event_name, DecodeProblem problem) {
  last_timestamp_ = std::max(last_timestamp_, event.timestamp);
  if (!id_name_) {
    id_name_ = writer_.intern_arg_name("id");
    error_name_ = writer_.intern_arg_name("error");
    raw_name_ = writer_.intern_arg_name("raw");
  }
  writer_.begin_event({TrackEventType::instant, stage_track(track), event.timestamp,
                       writer_.intern_event_name(event_name)});
  writer_.add_uint(id_name_, event.id);
  writer_.add_string(error_name_, decode_problem_text(problem));
  std::string raw;
  append_hex(&raw, event.payload, event.payload_size);
  writer_.add_string(raw_name_, raw);
  writer_.end_event();
}

// A file cut short by damaged input says so where it is seen: an instant
// "input damaged" on the first process, after the last record, whose
// arguments give the reason and the records written.
void PerfettoTimeline::finish(const std::string &, const std::string &input_error,
                              uint64_t records) {
  if (!input_error.empty()) {
    if (process_tracks_.empty()) process_tracks_.resize(1);
    if (!process_tracks_.front())
      process_tracks_.front() = writer_.add_process_track("receiver", process_rank(0));
    writer_.begin_event({TrackEventType::instant, process_tracks_.front(), last_timestamp_,
                         writer_.intern_event_name("input damaged")});
    writer_.add_string(writer_.intern_arg_name("error"), input_error);
    writer_.add_uint(writer_.intern_arg_name("records"), records);
    writer_.end_event();
  }
  writer_.finish();
}

}  // namespace vxtrace
