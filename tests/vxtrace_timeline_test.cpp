// vxtrace timeline as its users run it: the Trace Event Format document of a
// trace, checked against the dump of the same trace.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <tuple>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;
using Track = std::pair<int64_t, int64_t>;  // pid, tid

// A parsed timeline with the names of its processes and threads.
struct Timeline {
  json document;
  std::string text;
  std::vector<json> instants;
  std::vector<json> counters;
  std::map<int64_t, std::string> processes;
  std::map<Track, std::string> threads;

  const std::string &process_of(const json &event) const { return processes.at(event["pid"]); }
  const std::string &thread_of(const json &event) const {
    return threads.at({event["pid"], event["tid"]});
  }
};

Timeline parse_timeline(const std::string &text) {
  Timeline timeline;
  timeline.text = text;
  timeline.document = json::parse(text);
  for (const json &event : timeline.document.at("traceEvents")) {
    const std::string phase = event.at("ph");
    // A record is an instant or one end of a slice.
    if (phase == "i" || phase == "B" || phase == "E") timeline.instants.push_back(event);
    if (phase == "C") timeline.counters.push_back(event);
    if (phase != "M") continue;
    const std::string name = event.at("name");
    if (name == "process_name") {
      EXPECT_TRUE(timeline.processes.emplace(event["pid"], event["args"]["name"]).second)
          << "process named twice: " << event.dump();
    } else if (name == "thread_name") {
      EXPECT_TRUE(
          timeline.threads.emplace(Track{event["pid"], event["tid"]}, event["args"]["name"]).second)
          << "thread named twice: " << event.dump();
    }
  }
  return timeline;
}

// ns / 1000 as the exact decimal that the document must hold.
std::string microseconds_text(uint64_t nanoseconds) {
  std::string text = std::to_string(nanoseconds / 1000);
  std::string fraction = std::to_string(1000 + nanoseconds % 1000).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return fraction.empty() ? text : text + "." + fraction;
}

// The session a record belongs to, from its payload; -1 for none.
int64_t session_of(const json &payload) {
  if (payload.contains("session_id")) return payload["session_id"];
  if (payload.contains("packet")) return payload["packet"]["session_id"];
  return -1;
}

std::string short_name(const std::string &name) {
  return name.substr(std::strlen("/velocast/"));
}

std::string u32_bytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// One realistic trace with every event kind, its timeline and its dump,
// shared by the tests that only read them.
struct SharedTrace {
  TemporaryDirectory directory;
  std::string path;
  Timeline timeline;
  std::vector<json> dump;
  std::string failure;  // why it could not be made; empty when it is whole
};

std::unique_ptr<SharedTrace> make_shared_trace() {
  auto shared = std::make_unique<SharedTrace>();
  const bool failed_before = testing::Test::HasFailure();
  shared->path = shared->directory.file("trace.vxt");
  const std::string &directory = shared->directory.path();
  try {
    const ProcessResult generated = run_vxtrace(
        {"generate", "--no-progress", "-o", shared->path, "--events", "10000", "--seed", "17"},
        directory);
    const ProcessResult exported = run_vxtrace({"timeline", "--quiet", shared->path}, directory);
    const ProcessResult dumped = run_vxtrace({"dump", "--quiet", shared->path}, directory);
    for (const ProcessResult *result : {&generated, &exported, &dumped})
      if (result->exit_status != 0) throw std::runtime_error("vxtrace failed: " + result->err);
    shared->timeline = parse_timeline(exported.out);
    for (const std::string &line : split_lines(dumped.out))
      shared->dump.push_back(json::parse(line));
  } catch (const std::exception &error) {
    shared->failure = error.what();
  }
  if (shared->failure.empty() && !failed_before && testing::Test::HasFailure())
    shared->failure = "the shared timeline failed a check";
  return shared;
}

// Made on first use rather than in SetUpTestSuite: GoogleTest reports the
// tests of a suite whose set-up failed as skipped, and CTest counts a skipped
// test as no failure.
const SharedTrace &shared_trace() {
  static const std::unique_ptr<SharedTrace> shared = make_shared_trace();
  return *shared;
}

class VxtraceTimelineTest : public testing::Test {
 protected:
  void SetUp() override {
    const SharedTrace &shared = shared_trace();
    ASSERT_TRUE(shared.failure.empty()) << "cannot make the shared trace: " << shared.failure;
    trace_path_ = shared.path;
    timeline_ = &shared.timeline;
    dump_ = &shared.dump;
  }

  ProcessResult run(const std::vector<std::string> &args, const std::string &stdin_path = "") {
    return run_vxtrace(args, directory_.path(), stdin_path);
  }

  Timeline timeline_of(const std::string &path, const std::vector<std::string> &options = {}) {
    std::vector<std::string> args{"timeline", "--quiet", path};
    args.insert(args.end(), options.begin(), options.end());
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return parse_timeline(result.out);
  }

  std::string trace_path_;
  const Timeline *timeline_ = nullptr;
  const std::vector<json> *dump_ = nullptr;
  TemporaryDirectory directory_;
};

TEST_F(VxtraceTimelineTest, EveryRecordIsOneInstantWithItsPayloadAndExactTime) {
  const Timeline &timeline = *timeline_;
  EXPECT_EQ(timeline.document["displayTimeUnit"], "ns");
  EXPECT_EQ(timeline.document["otherData"]["complete"], true);
  ASSERT_EQ(dump_->size(), 10000u);
  ASSERT_EQ(timeline.instants.size(), dump_->size());
  // Begins are written when their ends are known: compare in time order.
  const auto by_time = [](const json &a, const json &b) {
    const double ta =
        a.contains("ts") ? a["ts"].get<double>() : a["timestamp"].get<double>() / 1000;
    const double tb =
        b.contains("ts") ? b["ts"].get<double>() : b["timestamp"].get<double>() / 1000;
    const std::string na = a.contains("name") ? a["name"] : a["event"];
    const std::string nb = b.contains("name") ? b["name"] : b["event"];
    return std::tie(ta, na) < std::tie(tb, nb);
  };
  std::vector<json> instants = timeline.instants, dump = *dump_;
  std::stable_sort(instants.begin(), instants.end(), by_time);
  std::stable_sort(dump.begin(), dump.end(), by_time);
  std::set<std::string> kinds;
  for (size_t i = 0; i < dump.size(); ++i) {
    const json &line = dump[i], &instant = instants[i];
    ASSERT_EQ(instant["name"], line["event"]) << i;
    EXPECT_EQ(instant["args"], line["payload"]) << i;
    EXPECT_EQ(instant["s"], "t");
    kinds.insert(line["event"].get<std::string>());
  }
  EXPECT_EQ(kinds.size(), 111u);
  // Timestamps as written, not as a double reads them back.
  std::multiset<std::string> written, expected;
  for (const std::string &text_line : split_lines(timeline.text)) {
    const bool record = text_line.rfind("{\"ph\": \"i\"", 0) == 0 ||
                        text_line.rfind("{\"ph\": \"B\"", 0) == 0 ||
                        text_line.rfind("{\"ph\": \"E\"", 0) == 0;
    if (!record) continue;
    const size_t ts = text_line.find("\"ts\": ");
    written.insert(text_line.substr(ts, text_line.find(',', ts) - ts));
  }
  for (const json &line : *dump_)
    expected.insert("\"ts\": " + microseconds_text(line["timestamp"]));
  EXPECT_EQ(written, expected);
}

TEST_F(VxtraceTimelineTest, StandardInputGivesTheSameEvents) {
  const ProcessResult from_stdin = run({"timeline", "--quiet", "-"}, trace_path_);
  ASSERT_EQ(from_stdin.exit_status, 0) << from_stdin.err;
  const json document = json::parse(from_stdin.out);
  EXPECT_EQ(document["traceEvents"], timeline_->document["traceEvents"]);
  EXPECT_EQ(document["otherData"]["input"], "standard input");
}

TEST_F(VxtraceTimelineTest, SessionsAreProcessesAndStagesAreThreads) {
  const Timeline &timeline = *timeline_;
  std::set<std::string> process_names;
  for (const auto &[pid, name] : timeline.processes) {
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(process_names.insert(name).second) << "two processes named " << name;
  }
  std::map<std::string, std::string> thread_of_kind;
  for (const json &instant : timeline.instants) {
    const int64_t session = session_of(instant["args"]);
    EXPECT_EQ(timeline.process_of(instant),
              session < 0 ? "receiver" : "session " + std::to_string(session))
        << instant.dump();
    const std::string &thread = timeline.thread_of(instant);
    EXPECT_EQ(instant["cat"], thread);
    const auto [known, added] = thread_of_kind.emplace(instant["name"], thread);
    EXPECT_EQ(known->second, thread) << "one kind on two stages: " << instant["name"];
  }
  for (const auto &[kind, thread] : thread_of_kind) {
    EXPECT_NE(thread, "other events") << kind << " has no stage";
    EXPECT_NE(thread, "undecoded records") << kind;
  }
  const std::map<std::string, std::string> expected_stages = {
      {"audio_packet_received", "network"},
      {"video_config_changed", "network"},
      {"headroom_watcher_delay_changed", "headroom watcher"},
      {"audio_reorder_buffer_flush", "audio reorder buffer"},
      {"audio_decoder_output_config_changed", "audio decoder"},
      {"audio_queue_read", "audio queue"},
      {"media_audio_queue_push_packet", "audio queue"},
      {"audio_sink_info", "audio sink"},
      {"video_decoder_seek", "video decoder"},
      {"video_stream_frame_displayed", "video stream"},
      {"video_stream_cursor_frame_displayed", "cursor"},
      {"stream_player_cursor_shape_changed", "cursor"},
      {"media_channel_load_media", "media channel"},
      {"media_player_is_playing", "media player"},
      {"media_demuxer_probe_end", "demuxer"},
      {"media_video_stream_play", "media streams"},
      {"media_audio_stream_set_muted", "media streams"},
      {"media_audio_sink_new_audio_config", "media sinks"},
      {"media_video_sink_frame_dropped", "media sinks"},
  };
  for (const auto &[kind, stage] : expected_stages)
    EXPECT_EQ(thread_of_kind.at("/velocast/" + kind), stage) << kind;
  // Receiver-wide records go to the receiver, the session of a pushed packet
  // is the packet's.
  for (const json &instant : timeline.instants) {
    const std::string kind = short_name(instant["name"]);
    if (kind == "audio_queue_read" || kind.rfind("audio_sink_", 0) == 0) {
      EXPECT_EQ(timeline.process_of(instant), "receiver") << kind;
    } else if (kind == "media_audio_queue_push_packet") {
      EXPECT_EQ(timeline.process_of(instant),
                "session " + std::to_string(instant["args"]["packet"]["session_id"].get<int>()));
    }
  }
}

TEST_F(VxtraceTimelineTest, TimeRunsForwardOnEveryTrack) {
  std::map<Track, double> last_instant;
  std::map<std::pair<int64_t, std::string>, double> last_counter;
  for (const json &event : timeline_->document["traceEvents"]) {
    const std::string phase = event["ph"];
    // A begin is written when its end is known (or the trace ends).
    if (phase == "M" || (event.contains("name") &&
                         event["name"].get<std::string>().find("_begin") != std::string::npos))
      continue;
    ASSERT_TRUE(timeline_->threads.count({event["pid"], event["tid"]})) << event.dump();
    const double ts = event["ts"];
    double &last = phase == "C" ? last_counter[{event["pid"], event["name"]}]
                                : last_instant[{event["pid"], event["tid"]}];
    EXPECT_GE(ts, last) << event.dump();
    last = ts;
  }
  EXPECT_GT(last_counter.size(), 10u);
}

// The counters engineers plot, and the payload fields that feed them.
struct CounterSource {
  std::string counter;
  std::string series;
  std::string field;
};

const std::multimap<std::string, CounterSource> &counter_sources() {
  static const std::multimap<std::string, CounterSource> sources = {
      {"headroom_watcher_delay_changed", {"headroom playback delay", "us", "playback_delay_us"}},
      {"audio_volume_changed", {"audio volume", "level", "volume"}},
      {"audio_queue_read", {"audio queue sink delay", "us", "sink_delay_us"}},
      {"audio_sink_write_data", {"audio sink avail", "frames", "alsa_avail"}},
      {"audio_sink_write_data", {"audio sink delay", "frames", "alsa_delay"}},
      {"audio_sink_write_silence", {"audio sink avail", "frames", "alsa_avail"}},
      {"audio_sink_write_silence", {"audio sink delay", "frames", "alsa_delay"}},
      {"audio_sink_info", {"audio sink avail", "frames", "alsa_avail"}},
      {"audio_sink_info", {"audio sink delay", "frames", "alsa_delay"}},
      {"audio_sink_info", {"audio sink written", "frames", "total_written_frames"}},
      {"audio_sink_info", {"audio sink drift correction", "frames", "drift_correction_frames"}},
      {"audio_sink_clock_drift_update", {"audio sink clock lead", "ns", "alsa_clock_lead_ns"}},
      {"audio_sink_clock_drift_update",
       {"audio sink old correction", "frames", "old_correction_frames"}},
      {"audio_sink_clock_drift_update",
       {"audio sink extra correction", "frames", "extra_correction_frames"}},
      {"media_player_buffer_changed", {"media player buffer fill", "percent", "percent_filled"}},
      {"media_player_position_changed", {"media player position", "time", "time"}},
      {"media_player_duration_changed", {"media player duration", "time", "time"}},
      {"media_video_stream_encoded_buffer_size_changed",
       {"video stream encoded buffer", "size", "size"}},
      {"media_audio_stream_encoded_buffer_size_changed",
       {"audio stream encoded buffer", "size", "size"}},
      {"media_audio_sink_buffer_size_changed", {"audio sink buffer", "size", "size"}},
      {"media_audio_queue_push_silence", {"audio queue push position", "pos", "push_pos"}},
      {"media_audio_queue_push_silence",
       {"audio queue push capacity", "capacity", "push_capacity"}},
      {"media_audio_queue_push_packet", {"audio queue push position", "pos", "push_pos"}},
      {"media_audio_queue_push_packet", {"audio queue push capacity", "capacity", "push_capacity"}},
  };
  return sources;
}

// Each counter sample follows its record's instant, on the same process and
// at the same time, and holds exactly the decoded field.
TEST_F(VxtraceTimelineTest, CountersEqualTheDecodedFields) {
  const json &events = timeline_->document["traceEvents"];
  const json *record = nullptr;
  std::multiset<std::string> expected_counters;  // still owed by the current record
  std::set<std::string> plotted;
  auto settle = [&] {
    EXPECT_TRUE(expected_counters.empty())
        << (record ? record->dump() : "") << " lacks " << *expected_counters.begin();
    expected_counters.clear();
  };
  for (const json &event : events) {
    if (event["ph"] == "i") {
      settle();
      record = &event;
      const auto [first, last] = counter_sources().equal_range(short_name(event["name"]));
      for (auto source = first; source != last; ++source)
        expected_counters.insert(source->second.counter);
    } else if (event["ph"] == "C") {
      ASSERT_NE(record, nullptr);
      const std::string counter = event["name"];
      ASSERT_EQ(expected_counters.count(counter), 1u)
          << event.dump() << " after " << record->dump();
      expected_counters.erase(counter);
      EXPECT_EQ(event["pid"], (*record)["pid"]);
      EXPECT_EQ(event["ts"], (*record)["ts"]);
      const auto [first, last] = counter_sources().equal_range(short_name((*record)["name"]));
      for (auto source = first; source != last; ++source) {
        if (source->second.counter != counter) continue;
        ASSERT_EQ(event["args"].size(), 1u);
        EXPECT_EQ(event["args"][source->second.series], (*record)["args"][source->second.field])
            << event.dump() << " after " << record->dump();
      }
      plotted.insert(counter);
    }
  }
  settle();
  std::set<std::string> all_counters;
  for (const auto &[kind, source] : counter_sources()) all_counters.insert(source.counter);
  EXPECT_EQ(plotted, all_counters);
}

TEST_F(VxtraceTimelineTest, EventGlobsSelectWhatDumpSelects) {
  const std::vector<std::string> globs{"--event", "/velocast/audio_sink_*", "--event",
                                       "*push_packet"};
  const Timeline timeline = timeline_of(trace_path_, globs);
  std::vector<std::string> args{"dump", "--quiet", trace_path_};
  args.insert(args.end(), globs.begin(), globs.end());
  const std::vector<std::string> lines = split_lines(run(args).out);
  ASSERT_FALSE(lines.empty());
  ASSERT_EQ(timeline.instants.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(timeline.instants[i]["name"], json::parse(lines[i])["event"]);
}

TEST_F(VxtraceTimelineTest, TimestampsAreExactDecimalMicroseconds) {
  const std::vector<uint64_t> times{
      0, 1, 999, 1000, 1500, 1234567, 9007199254740993ull, std::numeric_limits<uint64_t>::max()};
  const std::string path = directory_.file("times.vxt");
  const std::string payload = u32_bytes(4);
  write_file(path, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/media_channel_play");
               for (uint64_t t : times) vxt_writer_write_event(writer, 1, t, payload.data(), 4);
             }));
  const Timeline timeline = timeline_of(path);
  ASSERT_EQ(timeline.instants.size(), times.size());
  const std::vector<std::string> expected{
      "0", "0.001", "0.999", "1", "1.5", "1234.567", "9007199254740.993", "18446744073709551.615"};
  for (const std::string &ts : expected)
    EXPECT_NE(timeline.text.find("\"ts\": " + ts + ", \"pid\""), std::string::npos) << ts;
}

// Session ids are any 32-bit value; none may share the receiver's process.
TEST_F(VxtraceTimelineTest, EverySessionIdGetsAProcessOfItsOwn) {
  const std::string path = directory_.file("sessions.vxt");
  std::string read_payload(24, '\0');
  write_file(path, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/media_channel_play");
               vxt_writer_define(writer, 2, "/velocast/audio_queue_read");
               for (uint32_t session : {0u, 0xFFFFFFFFu, 1u, 0u})
                 vxt_writer_write_event(writer, 1, 10, u32_bytes(session).data(), 4);
               vxt_writer_write_event(writer, 2, 11, read_payload.data(), read_payload.size());
             }));
  const Timeline timeline = timeline_of(path);
  ASSERT_EQ(timeline.instants.size(), 5u);
  const std::vector<std::string> expected{"session 0", "session 4294967295", "session 1",
                                          "session 0", "receiver"};
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(timeline.process_of(timeline.instants[i]), expected[i]);
  EXPECT_EQ(timeline.processes.size(), 4u);
}

// Memory must not grow with the number of sessions: after the first 1024,
// sessions share the process "other sessions", and one line says so. Their
// records keep their session ids, and the first sessions keep their own.
TEST_F(VxtraceTimelineTest, SessionsBeyondTheLimitShareOneProcess) {
  constexpr uint32_t kLimit = 1024, kFirstSession = 5000000;
  const std::vector<uint32_t> sessions = [&] {
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < kLimit + 300; ++i) ids.push_back(kFirstSession + i);
    ids.push_back(kFirstSession);
    return ids;
  }();
  const std::string path = directory_.file("many_sessions.vxt");
  write_file(path, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/media_channel_play");
               for (size_t i = 0; i < sessions.size(); ++i)
                 vxt_writer_write_event(writer, 1, i, u32_bytes(sessions[i]).data(), 4);
             }));
  const ProcessResult result = run({"timeline", "--no-progress", path});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(split_lines(result.err).front(),
            "vxtrace: more than 1024 sessions: the later ones share the process "
            "\"other sessions\"");
  const Timeline timeline = parse_timeline(result.out);
  ASSERT_EQ(timeline.instants.size(), sessions.size());
  for (size_t i = 0; i < sessions.size(); ++i) {
    const json &instant = timeline.instants[i];
    EXPECT_EQ(instant["args"]["session_id"], sessions[i]);
    const bool own = i < kLimit || i + 1 == sessions.size();
    ASSERT_EQ(timeline.process_of(instant),
              own ? "session " + std::to_string(sessions[i]) : "other sessions")
        << "record " << i;
  }
  EXPECT_EQ(timeline.processes.size(), kLimit + 1);
}

// Records that cannot be rendered are kept, with the reason and the bytes;
// a value JSON cannot hold is null and plots nothing.
TEST_F(VxtraceTimelineTest, OddRecordsStayVisible) {
  auto volume_payload = [](float volume) {
    std::string bytes = u32_bytes(3) + std::string(4, '\0');
    std::memcpy(&bytes[4], &volume, 4);
    return bytes;
  };
  const std::string nan_volume = volume_payload(std::numeric_limits<float>::quiet_NaN());
  const std::string half_volume = volume_payload(0.5f);
  const std::string path = directory_.file("odd.vxt");
  write_file(path, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/audio_volume_changed");
               vxt_writer_define(writer, 2, "/other/\"quoted\"\xff");
               vxt_writer_write_event(writer, 1, 10, nan_volume.data(), 8);
               vxt_writer_write_event(writer, 1, 11, half_volume.data(), 8);
               vxt_writer_write_event(writer, 1, 12, "\x03\x00", 2);
               vxt_writer_write_event(writer, 2, 13, "\xab", 1);
               vxt_writer_write_event(writer, 77, 14, "\x01\x02", 2);
             }));
  const Timeline timeline = timeline_of(path);
  ASSERT_EQ(timeline.instants.size(), 5u);
  EXPECT_TRUE(timeline.instants[0]["args"]["volume"].is_null());
  ASSERT_EQ(timeline.counters.size(), 1u);
  EXPECT_EQ(timeline.counters[0]["args"]["level"], 0.5);
  EXPECT_EQ(timeline.counters[0]["ts"], 0.011);
  const json &short_payload = timeline.instants[2], &no_decoder = timeline.instants[3],
             &unknown = timeline.instants[4];
  EXPECT_EQ(short_payload["name"], "/velocast/audio_volume_changed");
  EXPECT_EQ(short_payload["args"],
            json({{"id", 1}, {"error", "payload could not be decoded"}, {"raw", "0300"}}));
  EXPECT_EQ(no_decoder["name"], "/other/\"quoted\"\xEF\xBF\xBD");
  EXPECT_EQ(no_decoder["args"]["error"], "no decoder for this event");
  EXPECT_EQ(unknown["name"], "unknown event id 77");
  EXPECT_EQ(unknown["args"]["raw"], "0102");
  for (const json *record : {&short_payload, &no_decoder, &unknown}) {
    EXPECT_EQ(timeline.process_of(*record), "receiver");
    EXPECT_EQ(timeline.thread_of(*record), "undecoded records");
  }
}

// Cut anywhere, the document holds the complete records before the damage,
// is still valid JSON, says it is incomplete, and vxtrace exits with 2.
TEST_F(VxtraceTimelineTest, DamagedInputStillGivesAClosedDocument) {
  const std::string path = directory_.file("trace.vxt");
  ASSERT_EQ(
      run({"generate", "--no-progress", "-o", path, "--events", "60", "--seed", "8"}).exit_status,
      0);
  const std::string bytes = read_file(path);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const ReadResult whole = read_all(bytes);
  const std::string cut_path = directory_.file("cut.vxt");
  for (size_t record = 0; record + 1 < offsets.size(); record += 7) {
    const uint64_t cut = offsets[record] + 1;
    write_file(cut_path, bytes.substr(0, cut));
    const ProcessResult result = run({"timeline", "--quiet", cut_path});
    size_t complete = 0;
    for (size_t i = 0; i < record; ++i) complete += !whole.records[i].definition;
    EXPECT_EQ(result.exit_status, 2) << "cut at " << cut;
    const Timeline timeline = parse_timeline(result.out);
    EXPECT_EQ(timeline.instants.size(), complete) << "cut at " << cut;
    EXPECT_EQ(timeline.document["otherData"]["complete"], false);
    EXPECT_NE(result.err.find("at byte " + std::to_string(offsets[record])), std::string::npos)
        << result.err;
    EXPECT_EQ(split_lines(result.err).size(), 1u) << result.err;
  }
}

TEST_F(VxtraceTimelineTest, UnreadableInputOrOutputWritesNothing) {
  const std::string text_path = directory_.file("text.vxt");
  write_file(text_path, "not a trace at all\n");
  const std::string out = directory_.file("out.json");
  const ProcessResult refused = run({"timeline", text_path, "-o", out});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_FALSE(std::filesystem::exists(out));
  const ProcessResult unwritable =
      run({"timeline", "--quiet", trace_path_, "-o", directory_.file("missing/out.json")});
  EXPECT_EQ(unwritable.exit_status, 1);
  EXPECT_NE(unwritable.err.find("cannot create"), std::string::npos) << unwritable.err;
}

}  // namespace
}  // namespace vxtrace_test

#endif  // VX_VXTRACE_PATH
