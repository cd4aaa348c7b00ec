// What the report keeps of a session while it still receives records: the
// keys open in each stage, the stage latencies with their lost and flushed
// keys, the spans, the drops, the display cadence, and the plot series.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "measure/display_cadence.h"
#include "measure/histogram.h"
#include "measure/horizon.h"
#include "pipeline/pipeline_model.h"
#include "report/open_keys.h"
#include "report/report.h"
#include "report/window_series.h"

namespace vxtrace {

inline constexpr uint64_t kNone = UINT64_MAX;

struct DisplayCell {
  uint64_t longest_ns = 0;
  uint32_t frames = 0;
  void merge(const DisplayCell &other) {
    longest_ns = std::max(longest_ns, other.longest_ns);
    frames += other.frames;
  }
};

struct DropCell {
  std::array<uint32_t, kSessionDropCount> drops{};
  void merge(const DropCell &other) {
    for (size_t i = 0; i < drops.size(); ++i) drops[i] += other.drops[i];
  }
};

struct PairState {
  LogHistogram latency;
  uint64_t lost = 0;
  uint64_t flushed = 0;
};

struct SpanState {
  uint64_t open_since = kNone;
  LogHistogram durations;
  uint64_t unfinished = 0;
};

// What a stage of a session did wrong, for the findings: keys held longer
// than the hold limit before a flush, and keys that never left.
struct StageIncidents {
  uint64_t held = 0;
  uint64_t held_max_ns = 0;
  uint64_t held_first_ns = kNone;  // the earliest entry of a held key
  uint64_t held_last_ns = 0;       // the latest flush of one
  uint64_t lost = 0;
  uint64_t lost_first_ns = kNone;  // the earliest and latest entries of lost keys
  uint64_t lost_last_ns = 0;

  void note_held(uint64_t entered_ns, uint64_t flushed_ns) {
    ++held;
    held_max_ns = std::max(held_max_ns, elapsed(entered_ns, flushed_ns));
    held_first_ns = std::min(held_first_ns, entered_ns);
    held_last_ns = std::max(held_last_ns, flushed_ns);
  }
  void note_lost(uint64_t entered_ns) {
    ++lost;
    lost_first_ns = std::min(lost_first_ns, entered_ns);
    lost_last_ns = std::max(lost_last_ns, entered_ns);
  }
};

// Drops of one kind in a session, grouped into bursts: drops less than a
// second apart belong to one burst, which is a finding once three of its
// drops fell within one second.
struct DropBurst {
  static constexpr uint64_t kWithinNs = 1'000'000'000;
  static constexpr uint64_t kDrops = 3;
  uint64_t first_ns = 0;
  uint64_t last_ns = 0;
  uint64_t before_last_ns = 0;
  uint64_t count = 0;
  bool dense = false;  // three drops within a second

  // False when the drop at now starts a new burst: the caller takes this one
  // first.
  bool continues(uint64_t now) const { return count == 0 || elapsed(last_ns, now) <= kWithinNs; }
  void add(uint64_t now) {
    if (count == 0) first_ns = now;
    if (count + 1 >= kDrops && elapsed(before_last_ns, now) <= kWithinNs) dense = true;
    before_last_ns = last_ns;
    last_ns = now;
    ++count;
  }
};

// A session still receiving records.
struct LiveSession {
  LiveSession(uint64_t session_key, uint64_t first_record_ns, size_t index, uint64_t stall_floor_ns)
      : key(session_key),
        first_ns(first_record_ns),
        figures_index(index),
        display(stall_floor_ns),
        display_series(first_record_ns),
        drop_series(first_record_ns) {}

  uint64_t key;  // the input and the session id
  uint64_t first_ns;
  size_t figures_index;
  uint64_t events = 0;
  uint64_t last_ns = 0;
  std::vector<OpenKeys> open = std::vector<OpenKeys>(stages().size());
  std::array<PairState, kStagePairCount> pairs;
  std::array<SpanState, kSpanPairCount> spans;
  std::array<uint64_t, kSessionDropCount> drops{};
  std::vector<StageIncidents> incidents = std::vector<StageIncidents>(stages().size());
  std::array<DropBurst, kSessionDropCount> drop_bursts{};
  uint64_t worst_finding = 0;  // the severity of its most severe finding + 1; 0 for none
  DisplayCadence display;
  WindowSeries<DisplayCell> display_series;
  WindowSeries<DropCell> drop_series;
};

// The step (or whole path) of a stage that counts its lost and flushed keys.
inline PairState &primary(LiveSession &session, size_t stage) {
  return session.pairs[stages()[stage].primary_pair];
}

// A span begins or ends at now; one begun again before its end, or ended
// past the horizon, is unfinished.
void begin_span(SpanState &span, uint64_t now);
void end_span(SpanState &span, uint64_t now, uint64_t horizon_ns);
// A span open longer than the horizon at now is unfinished and forgotten.
void expire_span(SpanState &span, uint64_t now, uint64_t horizon_ns);

// A frame displayed at now: into the session's cadence and its plot series.
inline void note_display(LiveSession &session, uint64_t now) {
  DisplayCell &cell = session.display_series.at(now);
  ++cell.frames;
  if (const std::optional<uint64_t> gap = session.display.add(now))
    cell.longest_ns = std::max(cell.longest_ns, *gap);
}

}  // namespace vxtrace
