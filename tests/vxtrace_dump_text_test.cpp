// The text that vxtrace writes, checked against values written out by hand:
// event names with control bytes through every JSON writer, and payloads of
// each family as fixed bytes with the JSON they must render as. The payload
// table is deliberately independent of the payload descriptions, so that a
// field whose width or order changes there shows up here.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "text/json_text.h"
#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

class VxtraceDumpTextTest : public testing::Test {
 protected:
  std::string write_trace(const std::function<void(vxt_writer *)> &write) {
    const std::string path = directory_.file("trace.vxt");
    write_file(path, build_trace(write));
    return path;
  }

  ProcessResult run(const std::vector<std::string> &args) {
    std::vector<std::string> quiet = args;
    quiet.insert(quiet.begin() + 1, {"--quiet", "--no-progress"});
    const ProcessResult result = run_vxtrace(quiet, directory_.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return result;
  }

  TemporaryDirectory directory_;
};

// Null when text is not JSON.
json parsed(const std::string &text) {
  return json::parse(text, nullptr, /*allow_exceptions=*/false);
}

bool holds_raw_control_byte(const std::string &text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// Every byte from 0x00 to 0x1F and 0x7F in a name comes back exactly, and
// never raw. A NUL ends a name in the file, so it is checked on the string
// writer alone; the others go through dump, stats --json and timeline.
TEST_F(VxtraceDumpTextTest, ControlBytesInNamesComeBackExactly) {
  std::vector<unsigned char> bytes;
  for (unsigned char c = 0x00; c < 0x20; ++c) bytes.push_back(c);
  bytes.push_back(0x7F);
  std::vector<std::string> names;  // those a trace can hold, by id - 1
  for (const unsigned char byte : bytes) {
    const std::string name = std::string("/x/a") + char(byte) + "b" + char(byte);
    std::string quoted;
    vxtrace::append_json_string(&quoted, name);
    EXPECT_FALSE(holds_raw_control_byte(quoted)) << "byte " << int(byte);
    EXPECT_EQ(parsed(quoted), name) << "byte " << int(byte) << ": " << quoted;
    if (byte != 0x00) names.push_back(name);
  }
  const std::string path = write_trace([&](vxt_writer *writer) {
    for (uint32_t id = 1; id <= names.size(); ++id) {
      ASSERT_TRUE(vxt_writer_define(writer, id, names[id - 1].c_str()));
      vxt_writer_write_event(writer, id, id, "\x01", 1);
    }
  });

  const std::vector<std::string> lines = split_lines(run({"dump", path}).out);
  ASSERT_EQ(lines.size(), names.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_FALSE(holds_raw_control_byte(lines[i])) << lines[i];
    const json line = parsed(lines[i]);
    ASSERT_TRUE(line.is_object()) << "not JSON: " << lines[i];
    EXPECT_EQ(line["event"], names[i]) << lines[i];
  }

  const std::string stats_text = run({"stats", "--json", path}).out;
  EXPECT_FALSE(holds_raw_control_byte(stats_text.substr(0, stats_text.size() - 1)));
  std::set<std::string> counted;
  const json stats = parsed(stats_text);
  for (const json &event : stats.at("events")) counted.insert(event.at("event"));
  EXPECT_EQ(counted, std::set<std::string>(names.begin(), names.end()));

  const std::string timeline_text = run({"timeline", path}).out;
  const json timeline = parsed(timeline_text);
  ASSERT_TRUE(timeline.is_object()) << "the timeline is not JSON";
  std::vector<std::string> instants;
  for (const json &event : timeline.at("traceEvents"))
    if (event.at("ph") == "i") instants.push_back(event.at("name"));
  EXPECT_EQ(instants, names);
}

// One payload of an event, as the producer sends it, and its rendering.
struct PayloadExample {
  std::string event;  // short name
  std::string hex;    // the payload; blanks between fields only for reading
  std::string json;   // the payload's object exactly as dump writes it
};

// The bytes are packed little-endian in wire order, each payload exactly
// its wire size, so a wider field leaves it too short and a narrower one
// moves every later value. The values are written out by hand.
const std::vector<PayloadExample> &payload_examples() {
  static const std::vector<PayloadExample> examples = {
      // Session-only events.
      {"media_channel_play", "2a000000", R"({"session_id": 42})"},
      {"network_session_destroyed", "ffffffff 0102", R"({"session_id": 4294967295})"},
      // Network sessions, the headroom watcher and audio.
      {"network_session_created", "01000000 02000000 0102030405060708",
       R"({"type": 1, "session_id": 2, "device_id": 578437695752307201})"},
      {"headroom_watcher_delay_changed", "07000000 4025ffffffffffff",
       R"({"session_id": 7, "playback_delay_us": -56000})"},
      {"audio_packet_received",
       "03000000 ffffffffffffffff 905f010000000000 dc05000000000000 b0040000 15cd5b0700000000",
       R"({"packet": {"session_id": 3, "id": -1, "rtp_timestamp": 90000, )"
       R"("playback_timestamp_us": 1500, "data_size": 1200}, "velocast_system_time_us": 123456789})"},
      {"audio_volume_changed", "03000000 0000003f", R"({"session_id": 3, "volume": 0.5})"},
      {"audio_queue_read", "00100000 ecffffffffffffff 00200000 401f000000000000",
       R"({"sink_sample_capacity": 4096, "sink_delay_us": -20, "want_read_bytes": 8192, )"
       R"("actual_read_bytes": 8000})"},
      {"audio_sink_info",
       "ffffffff 00020000 00ca9a3b00000000 feffffffffffffff ffffffffffffffff fdffffff 409c0000",
       R"({"alsa_avail": -1, "alsa_delay": 512, "alsa_time_ns": 1000000000, )"
       R"("alsa_trigger_time": -2, "total_written_frames": 18446744073709551615, )"
       R"("drift_correction_frames": -3, "playback_delay_us": 40000})"},
      // Video.
      {"video_packet_received",
       "03000000 01000000 00100000 e803000000000000 0000b442 d007000000000000",
       R"({"packet": {"session_id": 3, "codec_type": 1, "data_size": 4096, )"
       R"("timestamp_us": 1000, "rotation_deg": 90}, "velocast_system_time_us": 2000})"},
      {"video_decoder_update_end", "09000000 0200 03000000 01 00",
       R"({"session_id": 9, "decoder_state": 2, "queue_size": 3, "had_output": 1, )"
       R"("can_decode": 0})"},
      {"video_stream_frame_displayed",
       "03000000 0000000000000080 00200000 18fcffffffffffff "
       "4000 3000 3c00 2800 0200 0400 0000803e abaaaa3e ff",
       R"({"session_id": 3, "physical_address": 9223372036854775808, "data_size": 8192, )"
       R"("timestamp": -1000, "geometry": {"padded_width": 64, "padded_height": 48, )"
       R"("image_width": 60, "image_height": 40, "crop_left": 2, "crop_top": 4}, )"
       R"("cursor_x": 0.25, "cursor_y": 0.333333, "cursor_enabled": 255})"},
      {"stream_player_cursor_shape_changed", "01000000 0001 2000 1000",
       R"({"session_id": 1, "cursor_enabled": 256, "cursor_width": 32, "cursor_height": 16})"},
      // Media playback.
      {"media_channel_load_media", "02000000 0300 616263",
       R"({"session_id": 2, "url": {"size": 3, "data": [97, 98, 99]}})"},
      {"media_player_media_state_changed", "01000000 0201", R"({"session_id": 1, "state": 258})"},
      {"media_player_buffer_changed", "05000000 50", R"({"session_id": 5, "percent_filled": 80})"},
      {"media_demuxer_select_streams", "01000000 ffff 0200",
       R"({"session_id": 1, "audio_index": -1, "video_index": 2})"},
      {"media_demuxer_probe_end", "04000000 eaffffffffffffff ffff 0046c32300000000 01",
       R"({"session_id": 4, "ffmpeg_rc": -22, "variant_count": 65535, "duration": 600000000, )"
       R"("is_seekable": 1})"},
      {"media_audio_queue_push_silence",
       "06000000 0700000000000000 f8ffffffffffffff 0900000000000000 80bb0000 "
       "0a00000000000000 0b00000000000000 01 00",
       R"({"session_id": 6, "update_index": 7, "media_time_us": -8, "playback_delay_us": 9, )"
       R"("sample_rate": 48000, "push_pos": 10, "push_capacity": 11, "is_queue_empty": 1, )"
       R"("is_paused": 0})"},
      {"media_audio_queue_push_packet",
       "0100000000000000 02000000 0300000000000000 0400000000000000 0500000000000000 06000000 "
       "0700000000000000 0800000000000000 44ac0000 0900000000000000 0a00000000000000 "
       "0b000000 0c000000 0d000000 0e000000 01",
       R"({"update_index": 1, "packet": {"session_id": 2, "id": 3, "rtp_timestamp": 4, )"
       R"("playback_timestamp_us": 5, "data_size": 6}, "media_time_us": 7, )"
       R"("playback_delay_us": 8, "sample_rate": 44100, "push_pos": 9, "push_capacity": 10, )"
       R"("packet_offset": 11, "count_silence_audio_frames": 12, )"
       R"("count_dropped_audio_frames": 13, "count_played_audio_frames": 14, )"
       R"("packet_consumed": 1})"},
  };
  return examples;
}

std::string bytes_of_hex(const std::string &hex) {
  std::string digits;
  for (const char c : hex)
    if (c != ' ') digits.push_back(c);
  std::string bytes;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

TEST_F(VxtraceDumpTextTest, PayloadsOfEveryFamilyRenderAsWrittenByHand) {
  const std::vector<PayloadExample> &examples = payload_examples();
  const std::string path = write_trace([&](vxt_writer *writer) {
    for (uint32_t id = 1; id <= examples.size(); ++id) {
      const PayloadExample &example = examples[id - 1];
      const std::string payload = bytes_of_hex(example.hex);
      ASSERT_TRUE(vxt_writer_define(writer, id, ("/velocast/" + example.event).c_str()));
      vxt_writer_write_event(writer, id, id, payload.data(), payload.size());
    }
  });
  const std::vector<std::string> lines = split_lines(run({"dump", path}).out);
  ASSERT_EQ(lines.size(), examples.size());
  const std::string payload_key = "\"payload\": ";
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    const size_t payload_at = line.find(payload_key);
    ASSERT_NE(payload_at, std::string::npos) << line;
    const size_t start = payload_at + payload_key.size();
    EXPECT_EQ(line.substr(start, line.size() - 1 - start), examples[i].json) << examples[i].event;
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif
