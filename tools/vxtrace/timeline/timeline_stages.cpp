#include "timeline/timeline_stages.h"

#include <algorithm>
#include <array>

namespace vxtrace {
namespace {

constexpr std::string_view kEventPrefix = "/velocast/";

// The first rule whose prefix starts the short name wins, so the longer,
// more particular prefixes stand before the general ones. The plain
// audio_* and video_* events are the network session's: packets,
// configurations and commands as they arrive.
struct StageRule {
  std::string_view prefix;
  Stage stage;
};

constexpr StageRule kStageRules[] = {
    {"network_session_", Stage::network},
    {"headroom_watcher_", Stage::headroom_watcher},
    {"audio_reorder_buffer_", Stage::audio_reorder_buffer},
    {"audio_decoder_", Stage::audio_decoder},
    {"audio_queue_", Stage::audio_queue},
    {"audio_sink_", Stage::audio_sink},
    {"audio_", Stage::network},
    {"video_decoder_", Stage::video_decoder},
    {"video_stream_cursor_", Stage::cursor},
    {"stream_player_cursor_", Stage::cursor},
    {"video_stream_", Stage::video_stream},
    {"video_", Stage::network},
    {"media_channel_", Stage::media_channel},
    {"media_player_", Stage::media_player},
    {"media_demuxer_", Stage::demuxer},
    {"media_video_stream_", Stage::media_streams},
    {"media_audio_stream_", Stage::media_streams},
    {"media_video_sink_", Stage::media_sinks},
    {"media_audio_sink_", Stage::media_sinks},
    {"media_audio_queue_", Stage::audio_queue},
};

// Grouped by event, so that an event's rules form one span.
constexpr CounterRule kCounterRules[] = {
    {"headroom_watcher_delay_changed", "playback_delay_us", "headroom playback delay", "us"},
    {"audio_volume_changed", "volume", "audio volume", "level"},
    {"audio_queue_read", "sink_delay_us", "audio queue sink delay", "us"},
    {"audio_sink_write_data", "alsa_avail", "audio sink avail", "frames"},
    {"audio_sink_write_data", "alsa_delay", "audio sink delay", "frames"},
    {"audio_sink_write_silence", "alsa_avail", "audio sink avail", "frames"},
    {"audio_sink_write_silence", "alsa_delay", "audio sink delay", "frames"},
    {"audio_sink_clock_drift_update", "alsa_clock_lead_ns", "audio sink clock lead", "ns"},
    {"audio_sink_clock_drift_update", "old_correction_frames", "audio sink old correction",
     "frames"},
    {"audio_sink_clock_drift_update", "extra_correction_frames", "audio sink extra correction",
     "frames"},
    {"audio_sink_info", "alsa_avail", "audio sink avail", "frames"},
    {"audio_sink_info", "alsa_delay", "audio sink delay", "frames"},
    {"audio_sink_info", "total_written_frames", "audio sink written", "frames"},
    {"audio_sink_info", "drift_correction_frames", "audio sink drift correction", "frames"},
    {"media_player_buffer_changed", "percent_filled", "media player buffer fill", "percent"},
    {"media_player_position_changed", "time", "media player position", "time"},
    {"media_player_duration_changed", "time", "media player duration", "time"},
    {"media_video_stream_encoded_buffer_size_changed", "size", "video stream encoded buffer",
     "size"},
    {"media_audio_stream_encoded_buffer_size_changed", "size", "audio stream encoded buffer",
     "size"},
    {"media_audio_sink_buffer_size_changed", "size", "audio sink buffer", "size"},
    {"media_audio_queue_push_silence", "push_pos", "audio queue push position", "pos"},
    {"media_audio_queue_push_silence", "push_capacity", "audio queue push capacity", "capacity"},
    {"media_audio_queue_push_packet", "push_pos", "audio queue push position", "pos"},
    {"media_audio_queue_push_packet", "push_capacity", "audio queue push capacity", "capacity"},
};

constexpr std::array<std::string_view, kStageCount> kStageNames = {
    "network",       "headroom watcher", "audio reorder buffer", "audio decoder",
    "audio queue",   "audio sink",       "video decoder",        "video stream",
    "cursor",        "media channel",    "media player",         "demuxer",
    "media streams", "media sinks",      "other events",         "undecoded records",
};

// The name without "/velocast/", or empty for names of other producers.
std::string_view short_name(std::string_view event_name) {
  if (!event_name.starts_with(kEventPrefix)) return {};
  return event_name.substr(kEventPrefix.size());
}

}  // namespace

std::string_view stage_name(Stage stage) {
  return kStageNames[static_cast<size_t>(stage)];
}

Stage stage_of_event(std::string_view event_name) {
  const std::string_view name = short_name(event_name);
  if (name.empty()) return Stage::other;
  for (const StageRule &rule : kStageRules)
    if (name.starts_with(rule.prefix)) return rule.stage;
  return Stage::other;
}

std::span<const CounterRule> counters_of_event(std::string_view event_name) {
  const std::string_view name = short_name(event_name);
  const auto first = std::find_if(std::begin(kCounterRules), std::end(kCounterRules),
                                  [&](const CounterRule &rule) { return rule.event == name; });
  const auto last = std::find_if(first, std::end(kCounterRules),
                                 [&](const CounterRule &rule) { return rule.event != name; });
  return {first, last};
}

}  // namespace vxtrace
