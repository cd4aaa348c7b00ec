// Worked examples of the catalogue's renderings, byte for byte, through the
// descriptors that a consumer gets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "events/catalogue.hpp"
#include "support/payload_schema.hpp"
#include "support/recording.hpp"

namespace {

using vx_test::CountingAllocator;
using vx_test::PayloadBuilder;
using vx_test::RecordingPrinter;

const vx_event_descriptor *descriptor(const std::string &short_name) {
  const std::string name = "/velocast/" + short_name;
  size_t count = 0;
  const vx_event_descriptor *const *catalogue = vx_catalogue(&count);
  for (size_t i = 0; i < count; ++i) {
    if (name == catalogue[i]->name) return catalogue[i];
  }
  ADD_FAILURE() << "no event " << name;
  return nullptr;
}

// Decodes, prints and releases one payload of the event; empty text when the
// decode gives null. Every block must be given back either way.
std::string render(const std::string &short_name, const std::vector<uint8_t> &payload,
                   RecordingPrinter *printer = nullptr) {
  const vx_event_descriptor *event = descriptor(short_name);
  if (event == nullptr) return "<no event>";
  CountingAllocator allocator;
  RecordingPrinter own_printer;
  if (printer == nullptr) printer = &own_printer;
  void *record = vx_test::decode_bytes(event->decode, payload, allocator);
  if (record != nullptr) event->print(record, printer->printer());
  event->release(record, allocator.allocator());
  EXPECT_TRUE(allocator.all_freed_once()) << short_name;
  return printer->text;
}

TEST(CatalogueExamples, SessionIdIsFourPrinterCalls) {
  RecordingPrinter printer;
  EXPECT_EQ(render("media_channel_play", {7, 0, 0, 0}, &printer), R"({"session_id": 7})");
  const std::vector<vx_test::PrintCall> expected = {
      vx_test::literal_call("{"), vx_test::literal_call("\"session_id\": "),
      vx_test::unsigned_call(7), vx_test::literal_call("}")};
  EXPECT_EQ(printer.calls, expected);
}

TEST(CatalogueExamples, ScalarExtremesAndFloats) {
  EXPECT_EQ(render("network_session_destroyed", {0xFF, 0xFF, 0xFF, 0xFF}),
            R"({"session_id": 4294967295})");
  EXPECT_EQ(render("audio_volume_changed", PayloadBuilder().u32(3).f32(0.5f).bytes),
            R"({"session_id": 3, "volume": 0.5})");
  EXPECT_EQ(render("media_demuxer_select_streams",
                   PayloadBuilder().u32(1).raw({0xFF, 0xFF}).i16(2).bytes),
            R"({"session_id": 1, "audio_index": -1, "video_index": 2})");
  EXPECT_EQ(render("stream_player_cursor_shape_changed",
                   PayloadBuilder().u32(1).u16(256).u16(32).u16(16).bytes),
            R"({"session_id": 1, "cursor_enabled": 256, "cursor_width": 32, "cursor_height": 16})");
  EXPECT_EQ(render("video_stream_cursor_frame_displayed",
                   PayloadBuilder().u32(1).f32(0.1f).f32(1.0f / 3.0f).u8(255).bytes),
            R"({"session_id": 1, "cursor_x": 0.1, "cursor_y": 0.333333, "cursor_enabled": 255})");
}

TEST(CatalogueExamples, SeekAndNegativeTimes) {
  EXPECT_EQ(render("media_channel_seek", PayloadBuilder().u32(7).i64(250).bytes),
            R"({"session_id": 7, "time": 250})");
  EXPECT_EQ(render("media_player_duration_changed", PayloadBuilder().u32(7).i64(-250).bytes),
            R"({"session_id": 7, "time": -250})");
}

TEST(CatalogueExamples, AudioPacketReceivedNestsThePacket) {
  const std::vector<uint8_t> payload =
      PayloadBuilder().u32(1).i64(2).i64(3).i64(4).u32(5).i64(6).bytes;
  EXPECT_EQ(render("audio_packet_received", payload),
            R"({"packet": {"session_id": 1, "id": 2, "rtp_timestamp": 3, )"
            R"("playback_timestamp_us": 4, "data_size": 5}, "velocast_system_time_us": 6})");
  // Without the system time there is no record.
  EXPECT_EQ(render("audio_packet_received", {payload.begin(), payload.begin() + 32}), "");
}

TEST(CatalogueExamples, AudioSinkNewAudioConfigCarriesAnAudioPacket) {
  const std::vector<uint8_t> packet = PayloadBuilder().u32(1).i64(2).i64(3).i64(4).u32(5).bytes;
  EXPECT_EQ(render("media_audio_sink_new_audio_config", packet),
            R"({"session_id": 1, "id": 2, "rtp_timestamp": 3, "playback_timestamp_us": 4, )"
            R"("data_size": 5})");
  const std::vector<uint8_t> config = PayloadBuilder().u32(1).u32(2).u32(3).i32(4).i32(5).bytes;
  EXPECT_EQ(render("media_audio_sink_new_audio_config", config), "");
}

TEST(CatalogueExamples, VideoFrameWithItsGeometry) {
  const std::vector<uint8_t> payload = PayloadBuilder()
                                           .u32(3)
                                           .u64(4096)
                                           .u32(8192)
                                           .i64(1000)
                                           .u16(64)
                                           .u16(48)
                                           .u16(60)
                                           .u16(40)
                                           .u16(2)
                                           .u16(4)
                                           .f32(0.5f)
                                           .f32(0.25f)
                                           .u8(1)
                                           .bytes;
  EXPECT_EQ(render("video_decoder_frame_produced", payload),
            R"({"session_id": 3, "physical_address": 4096, "data_size": 8192, "timestamp": 1000, )"
            R"("geometry": {"padded_width": 64, "padded_height": 48, "image_width": 60, )"
            R"("image_height": 40, "crop_left": 2, "crop_top": 4}, "cursor_x": 0.5, )"
            R"("cursor_y": 0.25, "cursor_enabled": 1})");
  // A payload that ends inside the geometry fails the whole frame.
  EXPECT_EQ(render("video_decoder_frame_produced", {payload.begin(), payload.begin() + 30}), "");
}

TEST(CatalogueExamples, ReceivedVideoPacket) {
  const std::vector<uint8_t> payload =
      PayloadBuilder().u32(3).u32(1).u32(4096).i64(1000).f32(90.0f).i64(2000).bytes;
  EXPECT_EQ(render("video_packet_received", payload),
            R"({"packet": {"session_id": 3, "codec_type": 1, "data_size": 4096, )"
            R"("timestamp_us": 1000, "rotation_deg": 90}, "velocast_system_time_us": 2000})");
}

TEST(CatalogueExamples, UpdateBeginAndEndDifferByOneByte) {
  const std::vector<uint8_t> eleven = PayloadBuilder().u32(1).u16(2).u32(3).u8(4).bytes;
  EXPECT_EQ(render("video_decoder_update_begin", eleven),
            R"({"session_id": 1, "decoder_state": 2, "queue_size": 3, "can_decode": 4})");
  EXPECT_EQ(render("video_decoder_update_end", eleven), "");
}

TEST(CatalogueExamples, UrlBytesAndEmptyUrl) {
  EXPECT_EQ(
      render("media_channel_load_media", PayloadBuilder().u32(2).u16(3).raw({97, 98, 99}).bytes),
      R"({"session_id": 2, "url": {"size": 3, "data": [97, 98, 99]}})");
  EXPECT_EQ(render("media_channel_load_media", PayloadBuilder().u32(2).u16(0).bytes),
            R"({"session_id": 2, "url": {"size": 0, "data": []}})");
}

}  // namespace
