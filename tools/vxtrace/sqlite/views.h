// The views over the event tables that answer the common questions: where an
// audio packet spends its time, and how regularly frames are displayed. Their
// SQL is built from the stage table below and shown in docs/sqlite.md.
#pragma once

#include <string>
#include <vector>

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

// CREATE VIEW statements, in an order where each view exists before a view
// that reads it.
std::vector<std::string> create_view_sql();

}  // namespace vxtrace
