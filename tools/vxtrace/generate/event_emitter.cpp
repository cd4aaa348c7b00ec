#include "generate/event_emitter.h"

#include <algorithm>

#include "generate/new_session.h"

namespace vxtrace {

void EventEmitter::update_state(size_t kind, SessionState &s) {
  static const size_t audio_packet = kind_index(EventKind::audio_packet_received);
  static const size_t video_packet = kind_index(EventKind::video_packet_received);
  static const size_t cursor = kind_index(EventKind::video_stream_cursor_frame_displayed);
  static const size_t sink_write = kind_index(EventKind::audio_sink_write_data);
  static const size_t queue_push = kind_index(EventKind::media_audio_queue_push_packet);
  static const size_t silence_push = kind_index(EventKind::media_audio_queue_push_silence);
  static const size_t volume = kind_index(EventKind::audio_volume_changed);
  static const size_t buffer_fill = kind_index(EventKind::media_player_buffer_changed);
  static const size_t position = kind_index(EventKind::media_player_position_changed);
  static const size_t duration = kind_index(EventKind::media_player_duration_changed);
  static const size_t load = kind_index(EventKind::media_channel_load_media);
  static const size_t channel_seek = kind_index(EventKind::media_channel_seek);
  static const size_t mute = kind_index(EventKind::media_channel_set_muted);
  static const size_t state = kind_index(EventKind::media_player_media_state_changed);
  SplitMix64 &rng = *rng_;
  if (kind == audio_packet) {
    ++s.audio_packet_id;
    s.audio_time_us += 10'000;
    s.audio_data_size = static_cast<uint32_t>(rng.between(160, 1400));
  } else if (kind == video_packet) {
    s.video_time_us += 16'667;
    s.video_data_size = static_cast<uint32_t>(rng.chance(0.03) ? rng.between(60'000, 250'000)
                                                               : rng.between(2'000, 30'000));
    s.frame_slot = (s.frame_slot + 1) % 16;
  } else if (kind == cursor) {
    s.cursor_x = std::clamp(s.cursor_x + static_cast<float>(rng.between(-40, 40)), 0.0f, 1919.0f);
    s.cursor_y = std::clamp(s.cursor_y + static_cast<float>(rng.between(-25, 25)), 0.0f, 1079.0f);
  } else if (kind == sink_write) {
    s.total_written_frames += 480;
  } else if (kind == queue_push || kind == silence_push) {
    ++s.update_index;
    s.push_pos = (s.push_pos + 1920) % 48000;
  } else if (kind == volume) {
    s.volume = static_cast<float>(rng.between(0, 100)) / 100;
  } else if (kind == buffer_fill) {
    s.buffer_percent = static_cast<uint8_t>(rng.between(0, 100));
  } else if (kind == position) {
    s.time_value_us = s.audio_time_us;
  } else if (kind == duration) {
    s.time_value_us = s.duration_us;
  } else if (kind == load) {
    s.url = make_url(rng, s.id);
    s.duration_us = rng.chance(0.2) ? 0 : rng.between(30, 7200) * 1'000'000;
  } else if (kind == channel_seek) {
    s.time_value_us = s.duration_us > 0 ? rng.between(0, s.duration_us) : 0;
    s.audio_time_us = s.video_time_us = s.time_value_us;
  } else if (kind == mute) {
    s.muted = !s.muted;
  } else if (kind == state) {
    s.player_state = static_cast<uint16_t>(rng.between(0, 5));
  }
}

}  // namespace vxtrace
