#include "measure/display_cadence.h"

#include <algorithm>

namespace vxtrace {
namespace {

bool longer(const Stall &a, const Stall &b) {
  return a.gap_ns > b.gap_ns;
}

}  // namespace

void DisplayCadence::offer(Stall candidate) {
  if (candidates_.size() < kMaxStallCandidates) {
    candidates_.push_back(candidate);
    if (candidates_.size() == kMaxStallCandidates)
      std::make_heap(candidates_.begin(), candidates_.end(), longer);
    return;
  }
  candidates_dropped_ = true;
  if (candidate.gap_ns <= candidates_.front().gap_ns) return;
  std::pop_heap(candidates_.begin(), candidates_.end(), longer);
  candidates_.back() = candidate;
  std::push_heap(candidates_.begin(), candidates_.end(), longer);
}

// As long as fewer stalls than candidates were kept, none is missing.
FoundStalls DisplayCadence::stalls() const {
  FoundStalls found;
  const uint64_t median = intervals_.quantile(0.50);
  const uint64_t threshold = median > UINT64_MAX / 2 ? UINT64_MAX : 2 * median;
  for (const Stall &candidate : candidates_)
    if (candidate.gap_ns > threshold) found.stalls.push_back(candidate);
  std::sort(found.stalls.begin(), found.stalls.end(),
            [](const Stall &a, const Stall &b) { return a.at_ns < b.at_ns; });
  found.incomplete = candidates_dropped_ && found.stalls.size() == candidates_.size();
  return found;
}

}  // namespace vxtrace
