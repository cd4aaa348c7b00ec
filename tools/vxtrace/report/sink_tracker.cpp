#include "report/sink_tracker.h"

#include <algorithm>
#include <vector>

namespace vxtrace {
namespace {

std::optional<int64_t> read(EventKind kind, std::optional<FieldOrdinal> field, const void *record) {
  if (!field) return std::nullopt;
  return read_integer_field(kind, *field, record);
}

void note_clock_lead(std::optional<int64_t> lead, AudioSinkFigures *sink) {
  if (!lead) return;
  if (sink->clock_drift_updates++ == 0) sink->clock_lead_min_ns = sink->clock_lead_max_ns = *lead;
  sink->clock_lead_min_ns = std::min(sink->clock_lead_min_ns, *lead);
  sink->clock_lead_max_ns = std::max(sink->clock_lead_max_ns, *lead);
}

}  // namespace

void SinkTracker::add(EventKind kind, const void *record, uint32_t source, Report *report) const {
  ++report->receiver_events;
  if (kind == EventKind::audio_queue_read) ++report->audio_queue_reads;
  // The sink is counted over all inputs and for its own input: each buffer
  // is one receiver, whose sink may run dry on its own.
  std::vector<AudioSinkFigures> &by_input = report->audio_sink_by_input;
  if (by_input.size() <= source) by_input.resize(size_t{source} + 1);
  add_sink_record(kind, record, &report->audio_sink);
  add_sink_record(kind, record, &by_input[source]);
}

void SinkTracker::add_sink_record(EventKind kind, const void *record,
                                  AudioSinkFigures *sink) const {
  switch (kind) {
    case EventKind::audio_sink_write_data:
      ++sink->writes;
      break;
    case EventKind::audio_sink_write_silence:
      ++sink->silence_writes;
      break;
    case EventKind::audio_sink_dropped_samples:
      sink->dropped_samples +=
          static_cast<uint64_t>(read(kind, dropped_samples_, record).value_or(0));
      break;
    case EventKind::audio_sink_clock_drift_update:
      note_clock_lead(read(kind, clock_lead_, record), sink);
      break;
    default:
      break;
  }
}

}  // namespace vxtrace
