// The views over the event tables that answer the common questions: where an
// audio packet or a video frame spends its time, how regularly frames are
// displayed, and the report's findings (stalls, silence, held keys). Their
// SQL is built from the stage table below and shown in docs/sqlite.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/finding_limits.h"
#include "pipeline/pipeline_model.h"

namespace vxtrace {

// A stage that an audio packet passes, in pipeline order: the event that
// records it and the columns that hold the packet's session and id there.
struct AudioStage {
  const char *event;
  const char *session_column;
  const char *id_column;
};

inline constexpr AudioStage kAudioStages[] = {
    {"audio_packet_received", "packet_session_id", "packet_id"},
    {"audio_reorder_buffer_packet_received", "session_id", "id"},
    {"audio_reorder_buffer_packet_sent", "session_id", "id"},
    {"audio_decoder_packet_received", "session_id", "id"},
    {"audio_decoder_packet_sent", "session_id", "id"},
    {"audio_queue_packet_received", "session_id", "id"},
};

// The limits of the views that find what went wrong: a display interval
// stalls when longer than twice its session's median and at least the
// report's stall floor; a run of silence writes counts from this many; a key
// is held when it stayed in a stage longer than this.
inline constexpr uint64_t kStallFloorNs = kDefaultStallFloorNs;
inline constexpr uint64_t kSilenceRunWrites = kDefaultSilenceRun;
inline constexpr uint64_t kHeldKeyNs = kDefaultHoldNs;

// CREATE VIEW statements, in an order where each view exists before a view
// that reads it.
std::vector<std::string> create_view_sql();

}  // namespace vxtrace
