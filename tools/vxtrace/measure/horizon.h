// How long a key may stay in a stage before a reader counts it lost: the one
// rule for the report and for the generator's manifest.
#pragma once

#include <cstdint>

namespace vxtrace {

// The report's default horizon, which the generator's manifest applies too.
inline constexpr uint64_t kDefaultHorizonNs = 60'000'000'000;

// The time from from_ns to to_ns; 0 when to_ns is earlier.
inline uint64_t elapsed(uint64_t from_ns, uint64_t to_ns) {
  return to_ns > from_ns ? to_ns - from_ns : 0;
}

// Whether a key that entered at entered_ns is, at now_ns, open longer than
// the horizon: it is then lost, whether it leaves or is flushed later.
inline bool past_horizon(uint64_t entered_ns, uint64_t now_ns, uint64_t horizon_ns) {
  return elapsed(entered_ns, now_ns) > horizon_ns;
}

}  // namespace vxtrace
