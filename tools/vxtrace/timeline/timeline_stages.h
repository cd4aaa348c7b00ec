// Where an event goes on a timeline: the pipeline stage that records it (a
// thread of the timeline), and the payload fields that are plotted as
// counters.
#pragma once

#include <span>
#include <string_view>

namespace vxtrace {

// In pipeline order; the order of the threads in a viewer.
enum class Stage {
  network,
  headroom_watcher,
  audio_reorder_buffer,
  audio_decoder,
  audio_queue,
  audio_sink,
  video_decoder,
  video_stream,
  cursor,
  media_channel,
  media_player,
  demuxer,
  media_streams,
  media_sinks,
  other,      // events of no known stage (names outside the catalogue)
  undecoded,  // records that could not be rendered
};

inline constexpr int kStageCount = static_cast<int>(Stage::undecoded) + 1;

// The thread name a viewer shows, e.g. "audio reorder buffer".
std::string_view stage_name(Stage stage);

// The stage of a full event name ("/velocast/audio_queue_read").
Stage stage_of_event(std::string_view event_name);

// A payload field plotted over time. The viewers show the track as
// "<counter> <series>".
struct CounterRule {
  std::string_view event;    // short name, without "/velocast/"
  std::string_view field;    // key in the rendering; "outer.inner" for nested
  std::string_view counter;  // track name
  std::string_view series;   // the value's key in the counter event
};

// The counters that the event (full name) feeds; empty for most events.
std::span<const CounterRule> counters_of_event(std::string_view event_name);

}  // namespace vxtrace
