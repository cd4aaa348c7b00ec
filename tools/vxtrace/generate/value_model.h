// Plausible values for the generator's payload fields. A field's value is
// chosen by its JSON key (its role) from the state of the session that the
// event concerns, so one model serves every payload type, nested ones too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "generate/splitmix64.h"
#include "vexlo/velocast_payloads.h"

namespace vxtrace {

// One line per payload field key: X(group, key). The group says which part of
// the model chooses the value.
// clang-format off
#define VXTRACE_FIELD_ROLES(X)                \
  X(identity, session_id)                     \
  X(identity, type)                           \
  X(identity, device_id)                      \
  X(identity, playback_delay_us)              \
  X(identity, id)                             \
  X(identity, rtp_timestamp)                  \
  X(identity, playback_timestamp_us)          \
  X(identity, data_size)                      \
  X(identity, velocast_system_time_us)        \
  X(identity, codec_type)                     \
  X(identity, config_blob_size)               \
  X(identity, sample_rate)                    \
  X(identity, channel_count)                  \
  X(identity, until_us)                       \
  X(real, volume)                             \
  X(timing, sink_sample_capacity)             \
  X(timing, sink_delay_us)                    \
  X(timing, want_read_bytes)                  \
  X(timing, actual_read_bytes)                \
  X(timing, alsa_avail)                       \
  X(timing, alsa_delay)                       \
  X(timing, samples_per_channel)              \
  X(timing, written_samples_per_channel)      \
  X(timing, dropped_samples_per_channel)      \
  X(timing, alsa_clock_lead_ns)               \
  X(timing, old_alsa_clock_correction_ns)     \
  X(timing, old_correction_frames)            \
  X(timing, extra_correction_frames)          \
  X(timing, alsa_time_ns)                     \
  X(timing, alsa_trigger_time)                \
  X(timing, total_written_frames)             \
  X(timing, drift_correction_frames)          \
  X(video, padded_width)                      \
  X(video, padded_height)                     \
  X(video, image_width)                       \
  X(video, image_height)                      \
  X(video, crop_left)                         \
  X(video, crop_top)                          \
  X(identity, timestamp_us)                   \
  X(real, rotation_deg)                       \
  X(identity, pack_timestamp)                 \
  X(identity, seek_timestamp)                 \
  X(video, decoder_state)                     \
  X(video, queue_size)                        \
  X(video, can_decode)                        \
  X(video, had_output)                        \
  X(video, physical_address)                  \
  X(identity, timestamp)                      \
  X(real, cursor_x)                           \
  X(real, cursor_y)                           \
  X(video, cursor_enabled)                    \
  X(video, cursor_width)                      \
  X(video, cursor_height)                     \
  X(media, is_muted)                          \
  X(identity, time)                           \
  X(media, percent_filled)                    \
  X(media, state)                             \
  X(media, is_seekable)                       \
  X(media, size)                              \
  X(media, audio_index)                       \
  X(media, video_index)                       \
  X(media, ffmpeg_rc)                         \
  X(media, variant_count)                     \
  X(identity, duration)                       \
  X(media, video_codec)                       \
  X(media, audio_codec)                       \
  X(media, config_size)                       \
  X(media, is_end_of_stream)                  \
  X(audio_output, update_index)               \
  X(identity, media_time_us)                  \
  X(audio_output, push_pos)                   \
  X(audio_output, push_capacity)              \
  X(audio_output, is_queue_empty)             \
  X(audio_output, is_paused)                  \
  X(audio_output, packet_offset)              \
  X(audio_output, count_silence_audio_frames) \
  X(audio_output, count_dropped_audio_frames) \
  X(audio_output, count_played_audio_frames)  \
  X(audio_output, packet_consumed)
// clang-format on

enum class FieldRole {
#define VXTRACE_ROLE_ENUMERATOR(group, key) key,
  VXTRACE_FIELD_ROLES(VXTRACE_ROLE_ENUMERATOR)
#undef VXTRACE_ROLE_ENUMERATOR
      unknown
};

// The parts of the model; "other" keys get a plain random value.
enum class FieldGroup { identity, timing, audio_output, video, media, real, other };

FieldGroup field_group(FieldRole role);

FieldRole field_role(std::string_view key);

// What the generator knows about one receiver session.
struct SessionState {
  uint32_t id = 0;
  uint64_t device_id = 0;
  uint32_t network_type = 0;
  int64_t playback_delay_us = 0;
  int64_t audio_packet_id = 0;
  int64_t audio_time_us = 0;
  int64_t video_time_us = 0;
  uint32_t audio_data_size = 0;
  uint32_t video_data_size = 0;
  uint32_t audio_codec = 0;
  uint32_t video_codec = 0;
  int32_t sample_rate = 48000;
  int32_t channel_count = 2;
  uint16_t width = 1920;
  uint16_t height = 1080;
  float volume = 1;
  float cursor_x = 0;
  float cursor_y = 0;
  uint8_t cursor_enabled = 1;
  uint32_t frame_slot = 0;
  uint64_t update_index = 0;
  uint64_t total_written_frames = 0;
  int64_t push_pos = 0;
  int64_t duration_us = 0;
  int64_t time_value_us = 0;  // the seek target, position or duration an event reports
  uint16_t player_state = 0;
  uint8_t buffer_percent = 0;
  uint8_t muted = 0;
  std::string url;
};

class ValueModel {
 public:
  explicit ValueModel(SplitMix64 *rng) : rng_(rng) {}

  // The event about to be written: its session, its time, and whether it
  // belongs to the video side (video times and sizes).
  void set_event(SessionState *session, uint64_t now_ns, bool video) {
    session_ = session;
    now_ns_ = now_ns;
    video_ = video;
  }

  template <class T>
  T value(FieldRole role) {
    if constexpr (std::is_floating_point_v<T>)
      return static_cast<T>(real_value(role));
    else
      return static_cast<T>(integer_value(role));
  }

  byte_blob blob() const;

 private:
  int64_t integer_value(FieldRole role);
  int64_t identity_value(FieldRole role);
  int64_t timing_value(FieldRole role);
  int64_t audio_output_value(FieldRole role);
  int64_t video_value(FieldRole role);
  int64_t media_value(FieldRole role);
  double real_value(FieldRole role);
  double real_group_value(FieldRole role);
  bool flag(double probability) { return rng_->chance(probability); }

  SplitMix64 *rng_;
  SessionState *session_ = nullptr;
  uint64_t now_ns_ = 0;
  bool video_ = false;
};

}  // namespace vxtrace
