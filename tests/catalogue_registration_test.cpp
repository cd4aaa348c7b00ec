// The whole catalogue: its fixed registration order, registration into a
// real iterator, duplicate logging, the kind check, and every event decoded
// and rendered as JSON.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "events/catalogue.hpp"
#include "support/log_capture.hpp"
#include "support/memory_reader.hpp"
#include "support/payload_schema.hpp"
#include "support/recording.hpp"
#include "vexlo/velocast_payloads.h"

namespace {

using vx_test::CountingAllocator;
using vx_test::RecordingPrinter;

// The short names in registration order.
constexpr const char *kRegistrationOrder = R"(
network_session_created network_session_about_to_be_deleted network_session_destroyed
headroom_watcher_delay_changed audio_packet_received audio_config_changed audio_flush
audio_volume_changed audio_packet_dropped_on_startup audio_reorder_buffer_packet_received
audio_reorder_buffer_packet_sent audio_reorder_buffer_flush audio_decoder_packet_received
audio_decoder_packet_sent audio_decoder_input_config_changed audio_decoder_output_config_changed
audio_queue_packet_received audio_queue_read audio_queue_input_config_changed
audio_queue_output_config_changed audio_queue_flush audio_sink_write_data audio_sink_write_silence
audio_sink_dropped_samples audio_sink_clock_drift_update audio_sink_info video_config_changed
video_packet_received video_packet_dropped_on_startup video_decoder_config_changed
video_decoder_packet_received video_decoder_begin_flush video_decoder_seek video_decoder_reset
video_decoder_drop video_decoder_update_begin video_decoder_update_end video_decoder_frame_produced
video_decoder_frame_returned video_stream_frame_received video_stream_frame_dropped
video_stream_frame_displayed video_stream_cursor_frame_displayed video_stream_displayed_frame_consumed
stream_player_cursor_shape_changed media_channel_load_media media_channel_play media_channel_pause
media_channel_seek media_channel_set_muted media_player_position_changed media_player_is_playing
media_player_is_paused media_player_media_state_changed media_player_error_changed
media_player_buffer_changed media_player_duration_changed media_player_seekable_changed
media_demuxer_probe_begin media_demuxer_probe_end media_demuxer_select_streams media_demuxer_seek
media_demuxer_get_frame_begin media_demuxer_get_frame_end media_demuxer_interrupt
media_video_stream_new_video_config media_video_stream_new_video_packet
media_video_stream_input_reached_end media_video_stream_begin_reset media_video_stream_play
media_video_stream_pause media_video_stream_seek_begin media_video_stream_seek_end
media_video_stream_ready_to_play media_video_stream_encoded_buffer_size_changed
media_video_stream_reset_completed media_video_stream_reached_end
media_audio_stream_new_audio_config media_audio_stream_new_audio_packet
media_audio_stream_input_reached_end media_audio_stream_begin_reset media_audio_stream_play
media_audio_stream_pause media_audio_stream_seek_begin media_audio_stream_seek_end
media_audio_stream_set_muted media_audio_stream_ready_to_play
media_audio_stream_encoded_buffer_size_changed media_audio_stream_reset_completed
media_audio_stream_reached_end media_video_sink_play media_video_sink_pause media_video_sink_seek
media_video_sink_new_decoded_video media_video_sink_frame_dropped media_video_sink_frame_displayed
media_video_sink_input_reached_end media_video_sink_loading_displayed
media_audio_sink_new_audio_packet media_audio_sink_new_audio_config media_audio_sink_play
media_audio_sink_pause media_audio_sink_seek media_audio_sink_set_muted
media_audio_sink_input_reached_end media_audio_sink_ready_to_play
media_audio_sink_buffer_size_changed media_audio_sink_reached_end
media_audio_queue_change_sink_config media_audio_queue_push_silence media_audio_queue_push_packet
)";

std::vector<const vx_event_descriptor *> catalogue() {
  size_t count = 0;
  const vx_event_descriptor *const *table = vx_catalogue(&count);
  return {table, table + count};
}

// A fresh iterator over an in-memory buffer, destroyed with the object.
struct Iterator {
  explicit Iterator(vx_test::MemoryReader *reader) {
    const vx_buffer_reader callbacks = reader->callbacks();
    vx_buffer_iterator_create(&callbacks, &ops);
  }
  ~Iterator() {
    if (ops.iterator != nullptr) ops.destroy(ops.iterator);
  }
  void register_catalogue(const char *kind) { vexlo_register_events(ops.iterator, kind); }
  const vx_event_descriptor *find(const char *name) { return ops.find_event(ops.iterator, name); }

  vx_iterator_ops ops{};
};

TEST(Catalogue, NamesFollowTheRegistrationOrder) {
  std::istringstream expected(kRegistrationOrder);
  std::string short_name;
  const std::vector<const vx_event_descriptor *> events = catalogue();
  size_t index = 0;
  while (expected >> short_name) {
    ASSERT_LT(index, events.size());
    EXPECT_STREQ(events[index++]->name, ("/velocast/" + short_name).c_str());
  }
  EXPECT_EQ(index, 111u);
  EXPECT_EQ(events.size(), 111u);
}

TEST(Catalogue, EventsPerPayloadType) {
  const std::map<std::string, int> expected = {
      {"session_payload", 35},     {"audio_packet_payload", 9},     {"seek_payload", 9},
      {"video_frame_payload", 8},  {"audio_config_payload", 7},     {"audio_flush_payload", 3},
      {"video_config_payload", 3}, {"video_packet_payload", 3},     {"muted_payload", 3},
      {"buffer_size_payload", 3},  {"audio_sink_write_payload", 2}, {"video_frame_ref_payload", 2},
      {"player_state_payload", 2},
  };
  std::map<std::string, int> counted;
  for (const vx_test::CatalogueEntry &entry : vx_test::catalogue_entries()) ++counted[entry.type];
  EXPECT_EQ(counted.size(), 35u);
  for (const auto &[type, count] : counted) {
    const int want = expected.contains(type) ? expected.at(type) : 1;
    EXPECT_EQ(count, want) << type;
  }
}

// Every event decodes a payload of its type's wire size through its own
// descriptor into one JSON object with its type's keys, in order, and the
// encoded values; one byte less gives nothing and leaks nothing.
TEST(Catalogue, EveryEventRendersItsPayloadAsJson) {
  const std::vector<const vx_event_descriptor *> events = catalogue();
  const std::vector<vx_test::CatalogueEntry> &entries = vx_test::catalogue_entries();
  ASSERT_EQ(events.size(), entries.size());
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(events[i]->name);
    const vx_test::Sample sample =
        vx_test::make_sample(vx_test::payload_type(entries[i].type), vx_test::distinct_values);
    CountingAllocator allocator;
    void *record = vx_test::decode_bytes(events[i]->decode, sample.payload, allocator);
    ASSERT_NE(record, nullptr);
    RecordingPrinter printer;
    events[i]->print(record, printer.printer());
    events[i]->release(record, allocator.allocator());
    EXPECT_TRUE(allocator.all_freed_once());
    EXPECT_EQ(nlohmann::ordered_json::parse(printer.text), sample.json) << printer.text;

    const std::vector<uint8_t> short_payload(sample.payload.begin(), sample.payload.end() - 1);
    CountingAllocator short_allocator;
    EXPECT_EQ(vx_test::decode_bytes(events[i]->decode, short_payload, short_allocator), nullptr);
    EXPECT_TRUE(short_allocator.all_freed_once());
  }
}

TEST(Registration, RegistersEveryEventUnderItsName) {
  vx_test::LogCapture log;
  vx_test::MemoryReader reader;
  Iterator iterator(&reader);
  ASSERT_NE(iterator.ops.iterator, nullptr);
  iterator.register_catalogue(iterator.ops.kind_name(iterator.ops.iterator));
  for (const vx_event_descriptor *event : catalogue()) {
    EXPECT_EQ(iterator.find(event->name), event) << event->name;
  }
  EXPECT_TRUE(log.records.empty());
}

TEST(Registration, SecondRegistrationLogsEveryEventInOrder) {
  vx_test::LogCapture log;
  vx_test::MemoryReader reader;
  Iterator iterator(&reader);
  iterator.register_catalogue("buffer");
  iterator.register_catalogue("buffer");

  const std::vector<const vx_event_descriptor *> events = catalogue();
  ASSERT_EQ(log.records.size(), events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    const vx_test::CapturedLog &line = log.records[i];
    char message[512];
    std::snprintf(message, sizeof message,
                  "attempting to register event '%s' with data %p, previously registered with %p",
                  events[i]->name, static_cast<const void *>(events[i]),
                  static_cast<const void *>(events[i]));
    EXPECT_EQ(line.severity, 3);
    EXPECT_EQ(line.module, "buffer_iterator");
    EXPECT_EQ(line.function, "vx_buffer_iterator_register_event");
    EXPECT_EQ(line.line, 70);
    EXPECT_NE(line.file.find("lib/buffer/iterator"), std::string::npos) << line.file;
    EXPECT_EQ(line.message, message);
    EXPECT_EQ(iterator.find(events[i]->name), events[i]);
  }
}

TEST(Registration, OtherKindsRegisterNothing) {
  for (const char *kind : {"Buffer", "buffer ", "", "buffe", "bufferx"}) {
    vx_test::LogCapture log;
    vx_test::MemoryReader reader;
    Iterator iterator(&reader);
    iterator.register_catalogue(kind);
    for (const vx_event_descriptor *event : catalogue()) {
      EXPECT_EQ(iterator.find(event->name), nullptr) << '"' << kind << "\" " << event->name;
    }
    EXPECT_TRUE(log.records.empty()) << kind;
  }
}

TEST(Registration, NullKindRegistersNothing) {
  vx_test::MemoryReader reader;
  Iterator iterator(&reader);
  iterator.register_catalogue(nullptr);
  EXPECT_EQ(iterator.find("/velocast/audio_flush"), nullptr);
}

// A definition bound after registration gives data records the descriptor
// whose decode reads an audio_flush_payload from the iterator's payload.
TEST(Registration, AudioFlushThroughTheIterator) {
  vx_test::MemoryReader reader;
  reader.define(5, "/velocast/audio_flush")
      .data(5, 77, vx_test::PayloadBuilder().u32(4).i64(-9).bytes);
  Iterator iterator(&reader);
  iterator.register_catalogue("buffer");
  const vx_event_descriptor *audio_flush = iterator.find("/velocast/audio_flush");
  ASSERT_NE(audio_flush, nullptr);
  EXPECT_STREQ(audio_flush->name, "/velocast/audio_flush");

  ASSERT_TRUE(iterator.ops.advance(iterator.ops.iterator));
  ASSERT_EQ(iterator.ops.current_event(iterator.ops.iterator), audio_flush);
  CountingAllocator allocator;
  void *record = audio_flush->decode(static_cast<vx_buffer_iterator *>(iterator.ops.iterator),
                                     allocator.allocator());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(allocator.events.at(0).size, sizeof(audio_flush_payload));
  EXPECT_EQ(static_cast<audio_flush_payload *>(record)->until_us, -9);
  RecordingPrinter printer;
  audio_flush->print(record, printer.printer());
  audio_flush->release(record, allocator.allocator());
  EXPECT_EQ(printer.text, R"({"session_id": 4, "until_us": -9})");
  EXPECT_EQ(printer.calls.size(), 7u);
  EXPECT_TRUE(allocator.all_freed_once());
}

}  // namespace
