// Synthetic but plausible recordings of the receiver, deterministic per seed.
#pragma once

#include <cstdint>

#include "generate/fault_plan.h"
#include "generate/generate_command.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace {

class Progress;

// Writes the definitions and exactly `events` data records. The realistic mix
// contains every event kind once it has 10,000 events or more (earlier when
// possible); the bench mix is a fixed weighted mix of the twelve most frequent
// kinds. False when the writer failed.
bool write_synthetic_trace(vxt_writer *writer, uint64_t events, uint64_t seed, EventMix mix,
                           Progress *progress);

// The same with faults injected into the realistic mix (the bench mix takes
// none); account receives what they left in the trace.
bool write_synthetic_trace(vxt_writer *writer, uint64_t events, uint64_t seed, EventMix mix,
                           Progress *progress, const FaultPlan &faults, FaultAccount *account);

// The size in bytes of the trace that write_synthetic_trace would write:
// its first kSizeSampleEvents events are written nowhere, their size is
// scaled to `events` and 2% is added. 0 when it cannot be measured.
double estimated_trace_size(uint64_t events, uint64_t seed, EventMix mix);
constexpr uint64_t kSizeSampleEvents = 65536;

// The number of event kinds the generator knows (the catalogue's size).
size_t synthetic_event_kind_count();

}  // namespace vxtrace
