// The cadence of a session's displayed frames and its stalls: an interval
// between consecutive frames longer than twice the median interval and at
// least the stall floor. One home for the rule, so that the report and the
// generator's manifest find the same stalls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "measure/histogram.h"
#include "measure/horizon.h"

namespace vxtrace {

// The report's default stall floor, which the generator's manifest applies too.
inline constexpr uint64_t kDefaultStallFloorNs = 50'000'000;
// Stall candidates kept per session: the stalls are the longest intervals, so
// keeping the longest candidates keeps every stall while they are fewer.
inline constexpr size_t kMaxStallCandidates = 1000;

struct Stall {
  uint64_t at_ns = 0;   // the displayed frame that ended the interval
  uint64_t gap_ns = 0;  // the interval
};

struct FoundStalls {
  std::vector<Stall> stalls;  // in time order
  bool incomplete = false;    // more stalls than kept: these are the longest
};

// Fed each displayed frame's time in order; memory stays within the interval
// histogram and kMaxStallCandidates candidates.
class DisplayCadence {
 public:
  explicit DisplayCadence(uint64_t stall_floor_ns = kDefaultStallFloorNs)
      : stall_floor_ns_(stall_floor_ns) {}

  // A frame displayed at now_ns: the interval since the frame before, none
  // for the first. Inline: it runs for every displayed frame of a report.
  std::optional<uint64_t> add(uint64_t now_ns) {
    ++frames_;
    const uint64_t last_ns = last_ns_;
    last_ns_ = now_ns < kNoFrame ? now_ns : kNoFrame - 1;
    if (last_ns == kNoFrame) return std::nullopt;
    const uint64_t gap = elapsed(last_ns, now_ns);
    intervals_.add(gap);
    if (gap >= stall_floor_ns_) offer({now_ns, gap});
    return gap;
  }

  // The frame displayed just before the frames fed, at now_ns: the first
  // interval counts from it, though the frame itself is not counted.
  void frame_before(uint64_t now_ns) {
    if (frames_ == 0) last_ns_ = now_ns < kNoFrame ? now_ns : kNoFrame - 1;
  }

  uint64_t frames() const { return frames_; }
  const LogHistogram &intervals() const { return intervals_; }
  // The candidates longer than twice the histogram's median interval.
  FoundStalls stalls() const;

 private:
  static constexpr uint64_t kNoFrame = UINT64_MAX;

  void offer(Stall candidate);

  uint64_t stall_floor_ns_;
  uint64_t last_ns_ = kNoFrame;
  uint64_t frames_ = 0;
  LogHistogram intervals_;
  std::vector<Stall> candidates_;  // a min-heap by gap once full
  bool candidates_dropped_ = false;
};

}  // namespace vxtrace
