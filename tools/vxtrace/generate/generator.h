// Synthetic but plausible recordings of the receiver, deterministic per seed.
#pragma once

#include <cstdint>

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

// The number of event kinds the generator knows (the catalogue's size).
size_t synthetic_event_kind_count();

}  // namespace vxtrace
