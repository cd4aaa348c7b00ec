// Synthetic but plausible recordings of the receiver, deterministic per seed.
#pragma once

#include <cstdint>

#include "generate/fault_plan.h"
#include "generate/generate_command.h"
#include "schema/event_kind.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace {

class Progress;

// The bench mix: in every block of 100 events, how many of each kind.
struct BenchMixEntry {
  EventKind kind;
  int per_hundred;
};
inline constexpr BenchMixEntry kBenchMix[] = {
    {EventKind::audio_packet_received, 18},
    {EventKind::media_audio_queue_push_packet, 12},
    {EventKind::audio_queue_read, 12},
    {EventKind::audio_sink_write_data, 12},
    {EventKind::video_stream_frame_displayed, 10},
    {EventKind::video_packet_received, 8},
    {EventKind::video_decoder_update_end, 8},
    {EventKind::media_demuxer_get_frame_begin, 6},
    {EventKind::media_demuxer_get_frame_end, 6},
    {EventKind::audio_sink_info, 4},
    {EventKind::media_demuxer_select_streams, 2},
    {EventKind::audio_volume_changed, 2},
};

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
