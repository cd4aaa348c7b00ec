#include "report/stage_tracker.h"

namespace vxtrace {

void StageTracker::flush(LiveSession &session, uint32_t stage_bits, uint64_t now) {
  for (size_t stage = 0; stage_bits != 0; ++stage, stage_bits >>= 1)
    if ((stage_bits & 1) != 0) flush_stage(session, stage, now);
}

// A key flushed from a step has left its chain: its whole path ends too. A
// key open longer than the horizon is lost, as a sweep before the flush would
// have found it, so that the count does not depend on when sweeps come.
void StageTracker::flush_stage(LiveSession &session, size_t stage, uint64_t now) {
  const KeyStage &flushed = stages()[stage];
  const std::optional<size_t> whole = whole_path_stage(flushed.chain);
  const bool propagate = whole && !flushed.whole_path;
  // For the findings, a step's key that waited past the hold limit was held,
  // one past the horizon lost; whole paths repeat their steps.
  const auto end_by_flush = [&](size_t ended_stage, uint64_t entered) {
    PairState &counts = primary(session, ended_stage);
    const bool lost = expired(entered, now);
    ++(lost ? counts.lost : counts.flushed);
    if (lost)
      note_lost(session, ended_stage, entered);
    else if (elapsed(entered, now) > hold_ns_ && !stages()[ended_stage].whole_path)
      session.incidents[ended_stage].note_held(entered, now);
  };
  const size_t flushed_keys = session.open[stage].remove_if([&](uint64_t key, uint64_t entered) {
    if (propagate) {
      if (const std::optional<uint64_t> whole_entered = session.open[*whole].close(key)) {
        end_by_flush(*whole, *whole_entered);
        --keys_in_flight_;
      }
    }
    end_by_flush(stage, entered);
    return true;
  });
  keys_in_flight_ -= flushed_keys;
}

void StageTracker::expire(LiveSession &session, uint64_t now) {
  for (size_t stage = 0; stage < session.open.size(); ++stage) {
    const size_t expired_keys = session.open[stage].remove_if([&](uint64_t, uint64_t entered) {
      if (!expired(entered, now)) return false;
      note_lost(session, stage, entered);
      return true;
    });
    primary(session, stage).lost += expired_keys;
    keys_in_flight_ -= expired_keys;
  }
}

void StageTracker::lose_open_keys(LiveSession &session, uint64_t end_ns) {
  for (size_t stage = 0; stage < session.open.size(); ++stage) {
    const size_t lost_keys = session.open[stage].remove_if([&](uint64_t, uint64_t entered) {
      if (elapsed(entered, end_ns) >= hold_ns_) note_lost(session, stage, entered);
      return true;
    });
    primary(session, stage).lost += lost_keys;
    keys_in_flight_ -= lost_keys;
  }
}

}  // namespace vxtrace
