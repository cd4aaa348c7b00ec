// The receiver's own records: how many there are, and the audio sink's
// figures (writes, silence writes, dropped samples, clock lead), over all
// inputs and for each input, since each buffer is one receiver whose sink may
// run dry on its own.
#pragma once

#include <cstdint>
#include <optional>

#include "pipeline/record_fields.h"
#include "report/report.h"
#include "schema/event_kind.h"

namespace vxtrace {

class SinkTracker {
 public:
  // A record without a session, of the input source.
  void add(EventKind kind, const void *record, uint32_t source, Report *report) const;

 private:
  void add_sink_record(EventKind kind, const void *record, AudioSinkFigures *sink) const;

  // The field ordinals of the receiver's audio sink records.
  std::optional<FieldOrdinal> dropped_samples_ =
      find_integer_field(EventKind::audio_sink_dropped_samples, "dropped_samples_per_channel");
  std::optional<FieldOrdinal> clock_lead_ =
      find_integer_field(EventKind::audio_sink_clock_drift_update, "alsa_clock_lead_ns");
};

}  // namespace vxtrace
