// The defaults past which the report and the database's views call what
// they see a finding: one home, so that both find the same.
#pragma once

#include <cstdint>

#include "measure/display_cadence.h"  // kDefaultStallFloorNs
#include "measure/horizon.h"          // kDefaultHorizonNs

namespace vxtrace {

// A key that stayed in a stage longer than this before a flush was held; one
// that never left while the trace went on this long was lost.
inline constexpr uint64_t kDefaultHoldNs = 100'000'000;
// Consecutive silence writes of an audio sink that make a silence run.
inline constexpr uint64_t kDefaultSilenceRun = 5;

}  // namespace vxtrace
