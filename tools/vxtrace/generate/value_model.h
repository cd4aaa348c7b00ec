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

#define VXTRACE_FIELD_ROLES(X)                                                                     \
  X(session_id)                                                                                    \
  X(type)                                                                                          \
  X(device_id) X(playback_delay_us) X(id) X(rtp_timestamp) X(playback_timestamp_us) X(             \
      data_size) X(velocast_system_time_us) X(codec_type) X(config_blob_size) X(sample_rate)       \
      X(channel_count) X(until_us) X(volume) X(sink_sample_capacity) X(sink_delay_us) X(           \
          want_read_bytes) X(actual_read_bytes) X(alsa_avail) X(alsa_delay) X(samples_per_channel) \
          X(written_samples_per_channel) X(dropped_samples_per_channel) X(alsa_clock_lead_ns)      \
              X(old_alsa_clock_correction_ns) X(old_correction_frames) X(extra_correction_frames)  \
                  X(alsa_time_ns) X(alsa_trigger_time) X(total_written_frames) X(                  \
                      drift_correction_frames) X(padded_width) X(padded_height) X(image_width)     \
                      X(image_height) X(crop_left) X(crop_top) X(timestamp_us) X(rotation_deg) X(  \
                          pack_timestamp) X(seek_timestamp) X(decoder_state) X(queue_size)         \
                          X(can_decode) X(had_output) X(physical_address) X(timestamp) X(cursor_x) \
                              X(cursor_y) X(cursor_enabled) X(cursor_width) X(cursor_height)       \
                                  X(is_muted) X(time) X(percent_filled) X(state) X(is_seekable)    \
                                      X(size) X(audio_index) X(video_index) X(ffmpeg_rc)           \
                                          X(variant_count) X(duration) X(video_codec)              \
                                              X(audio_codec) X(config_size) X(is_end_of_stream)    \
                                                  X(update_index) X(media_time_us) X(push_pos)     \
                                                      X(push_capacity) X(is_queue_empty)           \
                                                          X(is_paused) X(packet_offset)            \
                                                              X(count_silence_audio_frames)        \
                                                                  X(count_dropped_audio_frames)    \
                                                                      X(count_played_audio_frames) \
                                                                          X(packet_consumed)

enum class FieldRole {
#define VXTRACE_ROLE_ENUMERATOR(key) key,
  VXTRACE_FIELD_ROLES(VXTRACE_ROLE_ENUMERATOR)
#undef VXTRACE_ROLE_ENUMERATOR
      unknown
};

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
  int64_t timing_value(FieldRole role);
  int64_t audio_output_value(FieldRole role);
  int64_t video_value(FieldRole role);
  int64_t media_value(FieldRole role);
  double real_value(FieldRole role);
  bool flag(double probability) { return rng_->chance(probability); }

  SplitMix64 *rng_;
  SessionState *session_ = nullptr;
  uint64_t now_ns_ = 0;
  bool video_ = false;
};

}  // namespace vxtrace
