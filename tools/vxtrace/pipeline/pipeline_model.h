// The receiver's pipeline as data: where a packet or a frame enters and leaves
// each stage, the payload field that identifies it, the begin/end pairs that
// bound an operation, and the events that flush what a stage holds. The
// tables are meant to be read against the event list; the commands that
// measure latencies, draw flows or cut slices all follow them.
//
// A key is identified by its session and the value of its key field; all keys
// of one chain use the same field. Within a chain the stages are contiguous:
// the event that ends one stage starts the next, so a key is in exactly one
// stage of its chain at a time. A chain's whole path spans its first entering
// to its last leaving event and holds the same keys meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "schema/event_kind.h"

namespace vxtrace {

// The payload field that identifies a packet or a frame (with the session).
enum class KeyKind : uint8_t {
  packet_id,         // "id" of an audio packet ("packet.id" where nested)
  timestamp_us,      // "timestamp_us" of a video packet ("packet.timestamp_us")
  timestamp,         // "timestamp" of a decoded frame
  physical_address,  // "physical_address" of a frame's buffer
};
inline constexpr size_t kKeyKindCount = 4;

// "id", "timestamp_us", "timestamp", "physical_address": the field's key.
std::string_view key_name(KeyKind key);

enum class Chain : uint8_t {
  audio_packets,     // network to audio queue, by packet id
  video_packets,     // network to video decoder, by timestamp_us
  video_frames,      // decoder to display, by frame timestamp
  displayed_frames,  // a displayed frame's buffer until the decoder has it back
  frame_buffers,     // a decoded frame's buffer from production to its return
};
inline constexpr size_t kChainCount = 5;

// "audio packets", ...: for headings.
std::string_view chain_name(Chain chain);

enum class PairRole : uint8_t {
  step,         // one stage of the chain
  alternative,  // another way out of the step with the same entering event
  whole_path,   // from the chain's first entering to its last leaving event
};

struct StagePair {
  EventKind from;  // the key enters
  EventKind to;    // the key leaves
  KeyKind key;
  Chain chain;
  PairRole role;
};

// In chain order, each chain's steps in pipeline order, its alternatives
// right after their step and its whole path last.
inline constexpr StagePair kStagePairs[] = {
    {EventKind::audio_packet_received, EventKind::audio_reorder_buffer_packet_received,
     KeyKind::packet_id, Chain::audio_packets, PairRole::step},
    {EventKind::audio_reorder_buffer_packet_received, EventKind::audio_reorder_buffer_packet_sent,
     KeyKind::packet_id, Chain::audio_packets, PairRole::step},
    {EventKind::audio_reorder_buffer_packet_sent, EventKind::audio_decoder_packet_received,
     KeyKind::packet_id, Chain::audio_packets, PairRole::step},
    {EventKind::audio_decoder_packet_received, EventKind::audio_decoder_packet_sent,
     KeyKind::packet_id, Chain::audio_packets, PairRole::step},
    {EventKind::audio_decoder_packet_sent, EventKind::audio_queue_packet_received,
     KeyKind::packet_id, Chain::audio_packets, PairRole::step},
    {EventKind::audio_packet_received, EventKind::audio_queue_packet_received, KeyKind::packet_id,
     Chain::audio_packets, PairRole::whole_path},

    {EventKind::video_packet_received, EventKind::video_decoder_packet_received,
     KeyKind::timestamp_us, Chain::video_packets, PairRole::step},

    {EventKind::video_decoder_frame_produced, EventKind::video_stream_frame_received,
     KeyKind::timestamp, Chain::video_frames, PairRole::step},
    {EventKind::video_stream_frame_received, EventKind::video_stream_frame_displayed,
     KeyKind::timestamp, Chain::video_frames, PairRole::step},
    {EventKind::video_stream_frame_received, EventKind::video_stream_frame_dropped,
     KeyKind::timestamp, Chain::video_frames, PairRole::alternative},

    {EventKind::video_stream_frame_displayed, EventKind::video_stream_displayed_frame_consumed,
     KeyKind::physical_address, Chain::displayed_frames, PairRole::step},
    {EventKind::video_stream_displayed_frame_consumed, EventKind::video_decoder_frame_returned,
     KeyKind::physical_address, Chain::displayed_frames, PairRole::step},

    {EventKind::video_decoder_frame_produced, EventKind::video_decoder_frame_returned,
     KeyKind::physical_address, Chain::frame_buffers, PairRole::step},
};
inline constexpr size_t kStagePairCount = std::size(kStagePairs);

// Operations bounded by a begin and an end event of the same session. They
// do not nest: a begin while one is open replaces it.
struct SpanPair {
  EventKind begin;
  EventKind end;
};

inline constexpr SpanPair kSpanPairs[] = {
    {EventKind::video_decoder_update_begin, EventKind::video_decoder_update_end},
    {EventKind::media_demuxer_probe_begin, EventKind::media_demuxer_probe_end},
    {EventKind::media_demuxer_get_frame_begin, EventKind::media_demuxer_get_frame_end},
    {EventKind::media_video_stream_seek_begin, EventKind::media_video_stream_seek_end},
    {EventKind::media_audio_stream_seek_begin, EventKind::media_audio_stream_seek_end},
    {EventKind::media_video_stream_begin_reset, EventKind::media_video_stream_reset_completed},
    {EventKind::media_audio_stream_begin_reset, EventKind::media_audio_stream_reset_completed},
};
inline constexpr size_t kSpanPairCount = std::size(kSpanPairs);

// An event that empties stages of its session: the keys they hold end as
// flushed, not lost. `stage` names the stage by its entering event; none
// means every stage of the chain. Keys flushed from a step leave the chain's
// whole path as flushed too.
struct FlushRule {
  EventKind event;
  Chain chain;
  std::optional<EventKind> stage;
};

inline constexpr FlushRule kFlushRules[] = {
    {EventKind::audio_reorder_buffer_flush, Chain::audio_packets,
     EventKind::audio_reorder_buffer_packet_received},
    {EventKind::audio_flush, Chain::audio_packets, std::nullopt},
    {EventKind::video_decoder_begin_flush, Chain::video_packets, std::nullopt},
    {EventKind::video_decoder_begin_flush, Chain::video_frames, std::nullopt},
    {EventKind::video_decoder_reset, Chain::video_packets, std::nullopt},
    {EventKind::video_decoder_reset, Chain::video_frames, std::nullopt},
    {EventKind::video_decoder_reset, Chain::displayed_frames, std::nullopt},
    {EventKind::video_decoder_reset, Chain::frame_buffers, std::nullopt},
    {EventKind::network_session_destroyed, Chain::audio_packets, std::nullopt},
    {EventKind::network_session_destroyed, Chain::video_packets, std::nullopt},
    {EventKind::network_session_destroyed, Chain::video_frames, std::nullopt},
    {EventKind::network_session_destroyed, Chain::displayed_frames, std::nullopt},
    {EventKind::network_session_destroyed, Chain::frame_buffers, std::nullopt},
};

// The event that ends a session: nothing of it is expected afterwards, and a
// later record with its id belongs to a new session.
inline constexpr EventKind kSessionEndEvent = EventKind::network_session_destroyed;

// Explicit drops, counted per session in this order.
inline constexpr EventKind kSessionDropEvents[] = {
    EventKind::audio_packet_dropped_on_startup,
    EventKind::video_packet_dropped_on_startup,
    EventKind::video_decoder_drop,
    EventKind::video_stream_frame_dropped,
    EventKind::media_video_sink_frame_dropped,
};
inline constexpr size_t kSessionDropCount = std::size(kSessionDropEvents);

// The frame events whose intervals are the display cadence of a session.
inline constexpr EventKind kDisplayEvent = EventKind::video_stream_frame_displayed;
// The shortest display interval that stalls, unless chosen otherwise.
inline constexpr uint64_t kDefaultStallFloorNs = 50'000'000;

// Stages: the distinct open-key sets. A step and its alternatives share one
// stage (a key leaves it by either event); a whole path has its own.
struct KeyStage {
  EventKind from;
  KeyKind key;
  Chain chain;
  bool whole_path;
  size_t primary_pair;  // the step (or whole path) that counts lost and flushed keys
};

std::span<const KeyStage> stages();

// The stage of each pair of kStagePairs, by index.
size_t stage_of_pair(size_t pair);

// The whole-path stage of a chain, if it has one.
std::optional<size_t> whole_path_stage(Chain chain);

// What one event kind does in the model, precomputed for the hot path. Small
// fixed arrays: no kind enters or leaves more than two stages.
struct KindRoles {
  static constexpr size_t kMaxEach = 4;
  uint8_t left_count = 0;
  uint8_t left_pairs[kMaxEach] = {};  // pairs of kStagePairs whose leaving event this is
  uint8_t entered_count = 0;
  uint8_t entered_stages[kMaxEach] = {};
  uint32_t flushed_stages = 0;  // bit per stage
  int8_t span_begin = -1;       // index in kSpanPairs
  int8_t span_end = -1;
  int8_t drop = -1;  // index in kSessionDropEvents
  bool display = false;
  bool ends_session = false;
  // Whether the kind plays any part above.
  bool any() const {
    return left_count != 0 || entered_count != 0 || flushed_stages != 0 || span_begin >= 0 ||
           span_end >= 0 || drop >= 0 || display || ends_session;
  }
};

const KindRoles &roles_of(EventKind kind);

}  // namespace vxtrace
