#include "generate/value_model.h"

namespace vxtrace {

FieldRole field_role(std::string_view key) {
#define VXTRACE_ROLE_MATCH(group, name) \
  if (key == #name) return FieldRole::name;
  VXTRACE_FIELD_ROLES(VXTRACE_ROLE_MATCH)
#undef VXTRACE_ROLE_MATCH
  return FieldRole::unknown;
}

FieldGroup field_group(FieldRole role) {
  switch (role) {
#define VXTRACE_ROLE_GROUP(group, name) \
  case FieldRole::name:                 \
    return FieldGroup::group;
    VXTRACE_FIELD_ROLES(VXTRACE_ROLE_GROUP)
#undef VXTRACE_ROLE_GROUP
    case FieldRole::unknown:
      break;
  }
  return FieldGroup::other;
}

byte_blob ValueModel::blob() const {
  const std::string &url = session_->url;
  return byte_blob{static_cast<uint16_t>(url.size()),
                   reinterpret_cast<uint8_t *>(const_cast<char *>(url.data()))};
}

// One dispatch by group; a key the model does not know gets a plain random
// value.
int64_t ValueModel::integer_value(FieldRole role) {
  switch (field_group(role)) {
    case FieldGroup::identity:
      return identity_value(role);
    case FieldGroup::timing:
      return timing_value(role);
    case FieldGroup::audio_output:
      return audio_output_value(role);
    case FieldGroup::video:
      return video_value(role);
    case FieldGroup::media:
      return media_value(role);
    case FieldGroup::real:
    case FieldGroup::other:
      break;
  }
  return rng_->between(0, 1000);
}

double ValueModel::real_value(FieldRole role) {
  if (field_group(role) == FieldGroup::real) return real_group_value(role);
  return rng_->unit();
}

// Session identity, packets and times.
int64_t ValueModel::identity_value(FieldRole role) {
  SessionState &s = *session_;
  const int64_t media_time = video_ ? s.video_time_us : s.audio_time_us;
  switch (role) {
    case FieldRole::session_id:
      return s.id;
    case FieldRole::type:
      return s.network_type;
    case FieldRole::device_id:
      return static_cast<int64_t>(s.device_id);
    case FieldRole::playback_delay_us:
      return s.playback_delay_us;
    case FieldRole::id:
      return s.audio_packet_id;
    case FieldRole::rtp_timestamp:
      return s.audio_packet_id * 480 + 90000;
    case FieldRole::playback_timestamp_us:
    case FieldRole::timestamp_us:
    case FieldRole::timestamp:
    case FieldRole::pack_timestamp:
    case FieldRole::until_us:
    case FieldRole::media_time_us:
      return media_time;
    case FieldRole::seek_timestamp:
    case FieldRole::time:
    case FieldRole::duration:
      return role == FieldRole::duration ? s.duration_us : s.time_value_us;
    case FieldRole::data_size:
      return video_ ? s.video_data_size : s.audio_data_size;
    case FieldRole::velocast_system_time_us:
      return static_cast<int64_t>(now_ns_ / 1000);
    case FieldRole::codec_type:
      return video_ ? s.video_codec : s.audio_codec;
    case FieldRole::config_blob_size:
      return 2 + s.audio_codec * 3;
    case FieldRole::sample_rate:
      return s.sample_rate;
    case FieldRole::channel_count:
      return s.channel_count;
    default:
      break;
  }
  return 0;  // field_group sends only this group's keys here
}

// The audio queue and sink, and the clock drift correction.
int64_t ValueModel::timing_value(FieldRole role) {
  SessionState &s = *session_;
  switch (role) {
    case FieldRole::sink_sample_capacity:
      return 4096;
    case FieldRole::sink_delay_us:
      return rng_->between(8000, 40000);
    case FieldRole::want_read_bytes:
      return 480 * 4;
    case FieldRole::actual_read_bytes:
      return flag(0.95) ? 480 * 4 : rng_->between(0, 480 * 4);
    case FieldRole::alsa_avail:
      return rng_->between(0, 4096);
    case FieldRole::alsa_delay:
      return rng_->between(480, 3840);
    case FieldRole::samples_per_channel:
      return 480;
    case FieldRole::written_samples_per_channel:
      return flag(0.97) ? 480 : rng_->between(0, 479);
    case FieldRole::dropped_samples_per_channel:
      return rng_->between(1, 480);
    case FieldRole::alsa_clock_lead_ns:
      return rng_->between(-250000, 250000);
    case FieldRole::old_alsa_clock_correction_ns:
      return rng_->between(-100000, 100000);
    case FieldRole::old_correction_frames:
    case FieldRole::extra_correction_frames:
    case FieldRole::drift_correction_frames:
      return rng_->between(-4, 4);
    case FieldRole::alsa_time_ns:
      return static_cast<int64_t>(now_ns_);
    case FieldRole::alsa_trigger_time:
      return static_cast<int64_t>(now_ns_) - s.audio_time_us * 1000;
    case FieldRole::total_written_frames:
      return static_cast<int64_t>(s.total_written_frames);
    default:
      break;
  }
  return 0;  // field_group sends only this group's keys here
}

// The audio queue's pushes.
int64_t ValueModel::audio_output_value(FieldRole role) {
  SessionState &s = *session_;
  switch (role) {
    case FieldRole::update_index:
      return static_cast<int64_t>(s.update_index);
    case FieldRole::push_pos:
      return s.push_pos;
    case FieldRole::push_capacity:
      return 48000;
    case FieldRole::is_queue_empty:
      return flag(0.05);
    case FieldRole::is_paused:
      return s.player_state == 2;
    case FieldRole::packet_offset:
      return flag(0.9) ? 0 : rng_->between(1, 479) * 4;
    case FieldRole::count_silence_audio_frames:
      return flag(0.9) ? 0 : rng_->between(1, 480);
    case FieldRole::count_dropped_audio_frames:
      return flag(0.98) ? 0 : rng_->between(1, 480);
    case FieldRole::count_played_audio_frames:
      return 480;
    case FieldRole::packet_consumed:
      return flag(0.9);
    default:
      break;
  }
  return 0;  // field_group sends only this group's keys here
}

// Video frames, the decoder and the cursor.
int64_t ValueModel::video_value(FieldRole role) {
  SessionState &s = *session_;
  switch (role) {
    case FieldRole::padded_width:
      return (s.width + 63) / 64 * 64;
    case FieldRole::padded_height:
      return (s.height + 15) / 16 * 16;
    case FieldRole::image_width:
      return s.width;
    case FieldRole::image_height:
      return s.height;
    case FieldRole::crop_left:
    case FieldRole::crop_top:
      return 0;
    case FieldRole::decoder_state:
      return flag(0.9) ? 2 : rng_->between(0, 4);
    case FieldRole::queue_size:
      return rng_->between(0, 8);
    case FieldRole::can_decode:
      return flag(0.9);
    case FieldRole::had_output:
      return flag(0.8);
    case FieldRole::physical_address:
      return 0x80000000ll + int64_t{s.frame_slot} * 0x800000;
    case FieldRole::cursor_enabled:
      return s.cursor_enabled;
    case FieldRole::cursor_width:
    case FieldRole::cursor_height:
      return flag(0.8) ? 32 : 64;
    default:
      break;
  }
  return 0;  // field_group sends only this group's keys here
}

// Media playback: channel, player, demuxer, streams and sinks.
int64_t ValueModel::media_value(FieldRole role) {
  SessionState &s = *session_;
  switch (role) {
    case FieldRole::is_muted:
      return s.muted;
    case FieldRole::percent_filled:
      return s.buffer_percent;
    case FieldRole::state:
      return s.player_state;
    case FieldRole::is_seekable:
      return s.duration_us > 0;
    case FieldRole::size:
      return int64_t{64} << rng_->between(10, 16);
    case FieldRole::audio_index:
      return flag(0.95) ? 1 : -1;
    case FieldRole::video_index:
      return flag(0.95) ? 0 : -1;
    case FieldRole::ffmpeg_rc:
      return flag(0.97) ? 0 : -11;
    case FieldRole::variant_count:
      return rng_->between(1, 4);
    case FieldRole::video_codec:
      return s.video_codec;
    case FieldRole::audio_codec:
      return s.audio_codec;
    case FieldRole::config_size:
      return flag(0.95) ? 0 : rng_->between(16, 64);
    case FieldRole::is_end_of_stream:
      return flag(0.001);
    default:
      break;
  }
  return 0;  // field_group sends only this group's keys here
}

double ValueModel::real_group_value(FieldRole role) {
  SessionState &s = *session_;
  switch (role) {
    case FieldRole::volume:
      return s.volume;
    case FieldRole::rotation_deg:
      return flag(0.9) ? 0 : 90 * rng_->between(1, 3);
    case FieldRole::cursor_x:
      return s.cursor_x;
    case FieldRole::cursor_y:
      return s.cursor_y;
    default:
      break;
  }
  return 0;  // field_group sends only this group's keys here
}

}  // namespace vxtrace
