// The keys of packets and frames in each stage of a session: a key enters a
// stage with one record and leaves it with the next step's record, by a
// flush of its session, or not at all (lost once the horizon has passed or
// the session or trace has ended). Latencies and lost and flushed counts go
// to the session's stage pairs; the number of keys in flight over all
// sessions is bounded, so that damaged input cannot exhaust memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/record_fields.h"
#include "report/live_session.h"
#include "report/report.h"

namespace vxtrace {

class StageTracker {
 public:
  explicit StageTracker(const ReportOptions &options)
      : horizon_ns_(options.horizon_ns),
        hold_ns_(options.hold_ns),
        max_keys_in_flight_(options.max_keys_in_flight) {}

  // The key of keys that pair_index's step follows leaves its stage at now.
  void leave(LiveSession &session, size_t pair_index, const RecordKeys &keys, uint64_t now);
  // The stage's key of keys enters it at now.
  void enter(LiveSession &session, size_t stage, const RecordKeys &keys, uint64_t now);
  // The stages of stage_bits are flushed at now: their open keys leave by a
  // flush, and those that waited longer than the hold limit were held; but
  // those open longer than the horizon are lost, as at a sweep.
  void flush(LiveSession &session, uint32_t stage_bits, uint64_t now);
  // Keys open longer than the horizon at now are lost and forgotten.
  void expire(LiveSession &session, uint64_t now);
  // The session or the trace ended at end_ns: every key still open is lost;
  // for the findings, only those the trace followed for the hold limit (a
  // key cut off by the end of the buffer may yet have left).
  void lose_open_keys(LiveSession &session, uint64_t end_ns);

  size_t keys_in_flight() const { return keys_in_flight_; }
  // Keys refused because too many were in flight.
  uint64_t keys_not_followed() const { return keys_not_followed_; }

 private:
  void flush_stage(LiveSession &session, size_t stage, uint64_t now);
  // A key of stage that never left; the findings see the steps, not the
  // whole paths that repeat them.
  static void note_lost(LiveSession &session, size_t stage, uint64_t entered_ns) {
    if (!stages()[stage].whole_path) session.incidents[stage].note_lost(entered_ns);
  }
  bool expired(uint64_t entered_ns, uint64_t at_ns) const {
    return past_horizon(entered_ns, at_ns, horizon_ns_);
  }

  uint64_t horizon_ns_;
  uint64_t hold_ns_;
  size_t max_keys_in_flight_;
  size_t keys_in_flight_ = 0;
  uint64_t keys_not_followed_ = 0;
};

// Inline: they run for most records, on the report's hot path.
inline void StageTracker::leave(LiveSession &session, size_t pair_index, const RecordKeys &keys,
                                uint64_t now) {
  const StagePair &pair = kStagePairs[pair_index];
  const std::optional<uint64_t> &key = keys.key(pair.key);
  if (!key) return;
  const size_t stage = stage_of_pair(pair_index);
  const std::optional<uint64_t> entered = session.open[stage].close(*key);
  if (!entered) return;  // entered before the trace began, or already ended
  --keys_in_flight_;
  if (expired(*entered, now)) {
    ++primary(session, stage).lost;
    note_lost(session, stage, *entered);
    return;
  }
  session.pairs[pair_index].latency.add(elapsed(*entered, now));
}

inline void StageTracker::enter(LiveSession &session, size_t stage, const RecordKeys &keys,
                                uint64_t now) {
  const std::optional<uint64_t> &key = keys.key(stages()[stage].key);
  if (!key) return;
  OpenKeys &open = session.open[stage];
  if (keys_in_flight_ >= max_keys_in_flight_ && !open.contains(*key)) {
    ++primary(session, stage).lost;
    ++keys_not_followed_;
    return;
  }
  // The same key entering again before it left: the earlier one never left.
  if (const std::optional<uint64_t> earlier = open.open(*key, now)) {
    ++primary(session, stage).lost;
    note_lost(session, stage, *earlier);
  } else {
    ++keys_in_flight_;
  }
}

}  // namespace vxtrace
