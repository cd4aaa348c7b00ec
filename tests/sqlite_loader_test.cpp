// The trace as a SQLite database, read back through the sqlite3 shell as its
// users open it: exact values, the derived schema, the views, and an output
// that appears only when complete.
#ifdef VX_VXTRACE_PATH

#include "sqlite/sqlite_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "vexlo/velocast_payloads.h"

namespace vxtrace {
namespace {

namespace fs = std::filesystem;

class SqliteLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vx_sqlite_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const char *name) const { return (folder_ / name).string(); }

  // Runs the sqlite3 shell on the database and returns what it prints; NULL
  // prints as "NULL".
  std::string shell(const std::string &database, const std::string &sql) const {
    const fs::path script = folder_ / "script.sql", output = folder_ / "shell.out";
    std::ofstream(script) << ".nullvalue NULL\n" << sql << "\n";
    const std::string command = "sqlite3 -batch -readonly '" + database + "' < '" +
                                script.string() + "' > '" + output.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::stringstream text;
    text << std::ifstream(output).rdbuf();
    EXPECT_EQ(status, 0) << command << "\n" << text.str();
    return text.str();
  }

  fs::path folder_;
};

std::string event_name(EventKind kind) {
  return std::string(kEventNamePrefix) + std::string(short_name(kind));
}

// A record of a catalogue event, decoded.
LoadRecord decoded(uint64_t timestamp, EventKind kind, const void *payload, uint32_t source = 0) {
  static std::vector<std::string> names(kEventKindCount);
  std::string &name = names[static_cast<size_t>(kind)];
  if (name.empty()) name = event_name(kind);
  return {source, timestamp, static_cast<uint32_t>(kind) + 1, name, kind, payload, {}, {}};
}

// SQL that is true when a REAL column holds exactly the float's value.
std::string equals_float(const char *column, float value) {
  char literal[64];
  std::snprintf(literal, sizeof literal, "%.17g", static_cast<double>(value));
  return std::string(column) + " = " + literal;
}

TEST_F(SqliteLoaderTest, EveryValueReadsBackExactlyThroughTheShell) {
  SqliteLoader loader;
  const std::string db = path("trace.db");
  ASSERT_TRUE(loader.open({db, false, {"a.vxt", "b\xff.vxt"}, "1.0.0"})) << loader.error();
  ASSERT_TRUE(loader.add_definition(1, 3, "/velocast/audio_flush"));
  ASSERT_TRUE(loader.add_definition(0, 9, "/foreign/\xff\x1b"));

  constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();
  constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
  network_session_payload sessions[3] = {
      {1, 7, kU64Max}, {2, 8, uint64_t{1} << 63}, {3, 9, (uint64_t{1} << 63) - 1}};
  for (const auto &session : sessions)
    ASSERT_TRUE(loader.add_record(decoded(10, EventKind::network_session_created, &session)));
  const audio_flush_payload flush{0xFFFFFFFFu, kI64Min};
  ASSERT_TRUE(loader.add_record(decoded(kU64Max, EventKind::audio_flush, &flush, 1)));
  audio_volume_payload volumes[3] = {{5, std::nanf("")}, {5, 0.1f}, {5, -INFINITY}};
  for (const auto &volume : volumes)
    ASSERT_TRUE(loader.add_record(decoded(20, EventKind::audio_volume_changed, &volume)));
  std::vector<uint8_t> url(65535);
  std::string url_hex;
  for (size_t i = 0; i < url.size(); ++i) {
    url[i] = static_cast<uint8_t>(i * 7 + 3);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", url[i]);
    url_hex += hex;
  }
  const load_media_payload loads[2] = {{4, {65535, url.data()}}, {4, {0, nullptr}}};
  for (const auto &load : loads)
    ASSERT_TRUE(loader.add_record(decoded(30, EventKind::media_channel_load_media, &load)));
  audio_packet_received_payload packet{{6, -2, -3, kI64Min, 0xFFFFFFFFu}, -5};
  ASSERT_TRUE(loader.add_record(decoded(40, EventKind::audio_packet_received, &packet)));
  // Undecoded: a short payload, an unknown id, a foreign name that is not UTF-8.
  const uint8_t raw[] = {0x00, 0xFF, 0x1B};
  LoadRecord short_payload = decoded(50, EventKind::audio_flush, nullptr, 1);
  short_payload.raw = raw;
  ASSERT_TRUE(loader.add_record(short_payload));
  ASSERT_TRUE(loader.add_record({0, 60, 77, std::nullopt, std::nullopt, nullptr, {}, {}}));
  ASSERT_TRUE(loader.add_record({0, 70, 9, "/foreign/\xff\x1b", std::nullopt, nullptr, {}, raw}));
  ASSERT_TRUE(loader.finish({.damaged = true,
                             .where = "b.vxt: byte 4096: truncated record",
                             .selection = "",
                             .progress = {}}))
      << loader.error();

  EXPECT_EQ(shell(db,
                  "SELECT seq, timestamp, printf('%llu', timestamp), quote(event), id,"
                  " session_id, quote(source) FROM events ORDER BY seq;"),
            "1|10|10|'/velocast/network_session_created'|1|7|'a.vxt'\n"
            "2|10|10|'/velocast/network_session_created'|1|8|'a.vxt'\n"
            "3|10|10|'/velocast/network_session_created'|1|9|'a.vxt'\n"
            "4|-1|18446744073709551615|'/velocast/audio_flush'|7|4294967295|X'62FF2E767874'\n"
            "5|20|20|'/velocast/audio_volume_changed'|8|5|'a.vxt'\n"
            "6|20|20|'/velocast/audio_volume_changed'|8|5|'a.vxt'\n"
            "7|20|20|'/velocast/audio_volume_changed'|8|5|'a.vxt'\n"
            "8|30|30|'/velocast/media_channel_load_media'|46|4|'a.vxt'\n"
            "9|30|30|'/velocast/media_channel_load_media'|46|4|'a.vxt'\n"
            "10|40|40|'/velocast/audio_packet_received'|5|6|'a.vxt'\n"
            "11|50|50|'/velocast/audio_flush'|7|NULL|X'62FF2E767874'\n"
            "12|60|60|NULL|77|NULL|'a.vxt'\n"
            "13|70|70|X'2F666F726569676E2FFF1B'|9|NULL|'a.vxt'\n");
  EXPECT_EQ(shell(db,
                  "SELECT type, session_id, device_id, printf('%llu', device_id)"
                  " FROM network_session_created ORDER BY seq;"
                  "SELECT session_id, until_us FROM audio_flush;"
                  "SELECT volume, " +
                      equals_float("volume", 0.1f) +
                      " FROM audio_volume_changed ORDER BY seq;"
                      "SELECT * FROM audio_packet_received;"),
            "1|7|-1|18446744073709551615\n"
            "2|8|-9223372036854775808|9223372036854775808\n"
            "3|9|9223372036854775807|9223372036854775807\n"
            "4294967295|-9223372036854775808\n"
            "NULL|NULL\n0.100000001490116|1\n-Inf|0\n"
            "10|6|-2|-3|-9223372036854775808|4294967295|-5\n");
  EXPECT_EQ(shell(db, "SELECT url_size, typeof(url), length(url), hex(url) = '" + url_hex +
                          "' FROM media_channel_load_media ORDER BY seq;"
                          "SELECT seq, reason, quote(raw) FROM undecoded ORDER BY seq;"
                          "SELECT quote(source), id, quote(name) FROM definitions;"),
            "65535|blob|65535|1\n0|blob|0|0\n"
            "11|payload could not be decoded|X'00FF1B'\n"
            "12|unknown event id|X''\n"
            "13|no decoder for this event|X'00FF1B'\n"
            "X'62FF2E767874'|3|'/velocast/audio_flush'\n"
            "'a.vxt'|9|X'2F666F726569676E2FFF1B'\n");
  EXPECT_EQ(shell(db,
                  "SELECT key, value FROM meta WHERE key IN ('tool_version', 'inputs',"
                  " 'records', 'undecoded', 'definitions', 'status', 'damage') ORDER BY key;"),
            "damage|b.vxt: byte 4096: truncated record\ndefinitions|2\n"
            "inputs|[\"a.vxt\", \"b\\ufffd.vxt\"]\nrecords|13\nstatus|damaged\n"
            "tool_version|1.0.0\nundecoded|3\n");
}

TEST_F(SqliteLoaderTest, SchemaFollowsThePayloadDescriptions) {
  const std::string db = path("schema.db");
  SqliteLoader loader;
  ASSERT_TRUE(loader.open({db, false, {"x.vxt"}, "1.0.0"}));
  ASSERT_TRUE(loader.finish({}));
  const auto columns = [&](const char *table) {
    return shell(db, std::string("SELECT group_concat(name || ' ' || type, ', ')"
                                 " FROM pragma_table_info('") +
                         table + "');");
  };
  EXPECT_EQ(columns("audio_packet_received"),
            "seq INTEGER, packet_session_id INTEGER, packet_id INTEGER, packet_rtp_timestamp "
            "INTEGER, packet_playback_timestamp_us INTEGER, packet_data_size INTEGER, "
            "velocast_system_time_us INTEGER\n");
  EXPECT_EQ(columns("media_channel_load_media"),
            "seq INTEGER, session_id INTEGER, url_size INTEGER, url BLOB\n");
  EXPECT_EQ(columns("video_stream_frame_displayed"),
            "seq INTEGER, session_id INTEGER, physical_address INTEGER, data_size INTEGER, "
            "timestamp INTEGER, geometry_padded_width INTEGER, geometry_padded_height INTEGER, "
            "geometry_image_width INTEGER, geometry_image_height INTEGER, geometry_crop_left "
            "INTEGER, geometry_crop_top INTEGER, cursor_x REAL, cursor_y REAL, cursor_enabled "
            "INTEGER\n");
  EXPECT_EQ(columns("events"),
            "seq INTEGER, timestamp INTEGER, event TEXT, id INTEGER, session_id INTEGER, "
            "source TEXT\n");
  EXPECT_EQ(shell(db,
                  "SELECT type, count(*) FROM sqlite_schema GROUP BY type;"
                  "SELECT name FROM sqlite_schema WHERE tbl_name = 'events' AND type = 'index'"
                  " ORDER BY name;"
                  "SELECT value FROM meta WHERE key IN ('status', 'records') ORDER BY key;"),
            "index|3\ntable|116\nview|7\nevents_event\nevents_timestamp\n0\ncomplete\n");
}

TEST_F(SqliteLoaderTest, ViewsGiveStageLatenciesAndDisplayIntervalsPerSession) {
  const std::string db = path("views.db");
  SqliteLoader loader;
  ASSERT_TRUE(loader.open({db, false, {"x.vxt"}, "1.0.0"}));
  // Packet 5 of sessions 1 and 2 (the same id) and packet 6 of session 1,
  // which never leaves the decoder.
  struct Passage {
    uint32_t session;
    int64_t id;
    uint64_t times[6];  // per stage; 0: never
  };
  const Passage passages[] = {{1, 5, {1000, 1100, 1300, 1700, 2500, 4100}},
                              {2, 5, {1050, 1060, 1080, 1120, 1200, 1360}},
                              {1, 6, {2000, 2010, 2030, 2070, 0, 0}}};
  std::vector<std::pair<uint64_t, LoadRecord>> records;
  std::vector<audio_packet_payload> packets;
  std::vector<audio_packet_received_payload> received;
  packets.reserve(20);
  received.reserve(20);
  const EventKind stages[] = {EventKind::audio_packet_received,
                              EventKind::audio_reorder_buffer_packet_received,
                              EventKind::audio_reorder_buffer_packet_sent,
                              EventKind::audio_decoder_packet_received,
                              EventKind::audio_decoder_packet_sent,
                              EventKind::audio_queue_packet_received};
  for (const Passage &passage : passages) {
    const audio_packet_payload packet{passage.session, passage.id, 0, 0, 100};
    received.push_back({packet, 0});
    records.emplace_back(passage.times[0], decoded(passage.times[0], stages[0], &received.back()));
    for (int stage = 1; stage < 6; ++stage) {
      if (passage.times[stage] == 0) continue;
      packets.push_back(packet);
      records.emplace_back(passage.times[stage],
                           decoded(passage.times[stage], stages[stage], &packets.back()));
    }
  }
  // Frames of sessions 1 and 2, interleaved.
  std::vector<video_frame_payload> frames;
  frames.reserve(8);
  for (const auto &[session, time] : std::vector<std::pair<uint32_t, uint64_t>>{
           {1, 1000}, {2, 5000}, {1, 17000}, {2, 21000}, {1, 50000}}) {
    frames.push_back({});
    frames.back().session_id = session;
    records.emplace_back(time,
                         decoded(time, EventKind::video_stream_frame_displayed, &frames.back()));
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  for (const auto &[time, record] : records) ASSERT_TRUE(loader.add_record(record));
  ASSERT_TRUE(loader.finish({}));

  EXPECT_EQ(shell(db,
                  "SELECT stage_pair, session_id, packet_id, from_event, to_event, latency_ns"
                  " FROM audio_stage_latency ORDER BY session_id, packet_id, stage_pair;"),
            "0|1|5|audio_packet_received|audio_queue_packet_received|3100\n"
            "1|1|5|audio_packet_received|audio_reorder_buffer_packet_received|100\n"
            "2|1|5|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|200\n"
            "3|1|5|audio_reorder_buffer_packet_sent|audio_decoder_packet_received|400\n"
            "4|1|5|audio_decoder_packet_received|audio_decoder_packet_sent|800\n"
            "5|1|5|audio_decoder_packet_sent|audio_queue_packet_received|1600\n"
            "0|1|6|audio_packet_received|audio_queue_packet_received|NULL\n"
            "1|1|6|audio_packet_received|audio_reorder_buffer_packet_received|10\n"
            "2|1|6|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|20\n"
            "3|1|6|audio_reorder_buffer_packet_sent|audio_decoder_packet_received|40\n"
            "4|1|6|audio_decoder_packet_received|audio_decoder_packet_sent|NULL\n"
            "0|2|5|audio_packet_received|audio_queue_packet_received|310\n"
            "1|2|5|audio_packet_received|audio_reorder_buffer_packet_received|10\n"
            "2|2|5|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|20\n"
            "3|2|5|audio_reorder_buffer_packet_sent|audio_decoder_packet_received|40\n"
            "4|2|5|audio_decoder_packet_received|audio_decoder_packet_sent|80\n"
            "5|2|5|audio_decoder_packet_sent|audio_queue_packet_received|160\n");
  EXPECT_EQ(shell(db,
                  "SELECT * FROM audio_packet_path ORDER BY session_id, packet_id;"
                  "SELECT session_id, timestamp, interval_ns FROM display_intervals"
                  " ORDER BY session_id, timestamp;"),
            "1|5|1000|1100|1300|1700|2500|4100\n"
            "1|6|2000|2010|2030|2070|NULL|NULL\n"
            "2|5|1050|1060|1080|1120|1200|1360\n"
            "1|1000|NULL\n1|17000|16000\n1|50000|33000\n2|5000|NULL\n2|21000|16000\n");
}

// Rows are written in batches: every row, the last partial batch of each
// table included, must land with its own seq.
TEST_F(SqliteLoaderTest, RowsKeepTheirSeqAcrossBatches) {
  const std::string db = path("batches.db");
  SqliteLoader loader;
  ASSERT_TRUE(loader.open({db, false, {"x.vxt"}, "1.0.0"}));
  std::vector<audio_flush_payload> flushes;
  std::vector<seek_payload> seeks;
  flushes.reserve(1000);
  seeks.reserve(1000);
  for (int64_t seq = 1; seq <= 1000; ++seq) {
    LoadRecord record;
    if (seq % 7 == 0) {  // undecoded
      record = decoded(seq, EventKind::audio_flush, nullptr);
    } else if (seq % 3 == 0) {
      seeks.push_back({static_cast<uint32_t>(seq), -seq});
      record = decoded(seq, EventKind::media_channel_seek, &seeks.back());
    } else {
      flushes.push_back({static_cast<uint32_t>(seq), seq * 3});
      record = decoded(seq, EventKind::audio_flush, &flushes.back());
    }
    ASSERT_TRUE(loader.add_record(record)) << loader.error();
  }
  ASSERT_TRUE(loader.finish({}));
  const std::string flushed = std::to_string(flushes.size()), sought = std::to_string(seeks.size());
  EXPECT_EQ(shell(db,
                  "SELECT count(*), max(seq), sum(seq = timestamp), sum(session_id = seq),"
                  " sum(session_id IS NULL) FROM events;"
                  "SELECT count(*), sum(seq = session_id AND until_us = 3 * seq) FROM audio_flush;"
                  "SELECT count(*), sum(seq = session_id AND time = -seq) FROM media_channel_seek;"
                  "SELECT count(*), sum(seq % 7 = 0) FROM undecoded;"),
            "1000|1000|1000|858|142\n" + flushed + "|" + flushed + "\n" + sought + "|" + sought +
                "\n142|142\n");
}

TEST_F(SqliteLoaderTest, OutputAppearsOnlyWhenCompleteAndNeverReplacesUnasked) {
  const std::string db = path("out.db");
  const audio_flush_payload flush{1, 2};
  {  // Interrupted: destroyed without finish.
    SqliteLoader loader;
    ASSERT_TRUE(loader.open({db, false, {"x.vxt"}, "1.0.0"}));
    ASSERT_TRUE(fs::exists(loader.temporary_path()));
    for (int i = 0; i < 1000; ++i)
      ASSERT_TRUE(loader.add_record(decoded(i, EventKind::audio_flush, &flush)));
  }
  EXPECT_TRUE(fs::is_empty(folder_)) << "a file was left behind";

  std::ofstream(db) << "a recording";
  const fs::path folder = folder_ / "folder.db";
  fs::create_directory(folder);
  struct Case {
    std::string output;
    bool force;
    const char *error;  // empty: accepted
  };
  const Case cases[] = {
      // Why goes to standard error, as for every output file.
      {db, false, "out.db: the database file cannot be made"},
      {folder.string(), true, "folder.db: the database file cannot be made"},
      {path("missing/x.db"), false, "x.db: the database file cannot be made"},
      {"", true, "the output path is empty"},
      {db, true, ""},
  };
  for (const Case &c : cases) {
    SqliteLoader loader;
    const bool opened = loader.open({c.output, c.force, {"x.vxt"}, "1.0.0"});
    EXPECT_EQ(opened, *c.error == 0) << c.output;
    EXPECT_NE(loader.error().find(c.error), std::string::npos) << loader.error();
    if (!opened) {
      EXPECT_FALSE(loader.add_record(decoded(1, EventKind::audio_flush, &flush)));
      continue;
    }
    // A source beyond the inputs is refused and the run fails as a whole.
    EXPECT_FALSE(loader.add_record(decoded(1, EventKind::audio_flush, &flush, 1)));
    EXPECT_NE(loader.error().find("input 1 of 1"), std::string::npos) << loader.error();
    EXPECT_FALSE(loader.finish({}));
  }
  std::stringstream kept;
  kept << std::ifstream(db).rdbuf();
  EXPECT_EQ(kept.str(), "a recording");

  SqliteLoader loader;
  ASSERT_TRUE(loader.open({db, true, {"x.vxt"}, "1.0.0"}));
  ASSERT_TRUE(loader.add_record(decoded(1, EventKind::audio_flush, &flush)));
  ASSERT_TRUE(loader.finish({}));
  EXPECT_EQ(shell(db, "SELECT count(*) FROM audio_flush; PRAGMA journal_mode;"), "1\ndelete\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 4)
      << "expected out.db, folder.db and the shell's two files only";
}

constexpr uint64_t kMs = 1'000'000;

// The records of a hand-built trace with their payloads, loaded in time order
// (records of equal time in the order added).
class Script {
 public:
  template <class Payload>
  void add(uint64_t timestamp, EventKind kind, const Payload &payload, uint32_t source = 0) {
    auto stored = std::make_shared<Payload>(payload);
    records_.push_back(decoded(timestamp, kind, stored.get(), source));
    payloads_.push_back(std::move(stored));
  }

  void load(const std::string &db, std::vector<std::string> inputs) {
    SqliteLoader loader;
    ASSERT_TRUE(loader.open({db, false, std::move(inputs), "1.0.0"})) << loader.error();
    std::stable_sort(
        records_.begin(), records_.end(),
        [](const LoadRecord &a, const LoadRecord &b) { return a.timestamp < b.timestamp; });
    for (const LoadRecord &record : records_)
      ASSERT_TRUE(loader.add_record(record)) << loader.error();
    ASSERT_TRUE(loader.finish({})) << loader.error();
  }

 private:
  std::vector<std::shared_ptr<const void>> payloads_;
  std::vector<LoadRecord> records_;
};

video_frame_payload frame(uint32_t session, int64_t timestamp, uint64_t address = 0) {
  video_frame_payload payload{};
  payload.session_id = session;
  payload.physical_address = address;
  payload.timestamp = timestamp;
  return payload;
}

// A stall is an interval longer than twice the session's median (the lower
// middle interval) and at least 50 ms; each case is one session of ten
// intervals, nine regular and one odd.
TEST_F(SqliteLoaderTest, StallsAreOverTwiceTheMedianAndAtLeastTheFloor) {
  struct Case {
    uint64_t regular_ns;
    uint64_t odd_ns;
    bool stall;
  };
  const Case cases[] = {
      {30 * kMs, 63 * kMs, true},   // 2.1 times the median
      {30 * kMs, 57 * kMs, false},  // 1.9 times
      {30 * kMs, 60 * kMs, false},  // twice exactly
      {20 * kMs, 48 * kMs, false},  // 2.4 times, under the floor
      {20 * kMs, 50 * kMs, true},   // 2.5 times, at the floor
      {20 * kMs, 49999999, false},  // 2.5 times, 1 ns under the floor
  };
  Script script;
  std::string expected;
  for (uint32_t session = 1; session <= std::size(cases); ++session) {
    const Case &c = cases[session - 1];
    // Sessions one after another, each from its own second.
    uint64_t at = session * 1000 * kMs;
    script.add(at, EventKind::video_stream_frame_displayed, frame(session, 0));
    for (int interval = 0; interval < 10; ++interval) {
      const uint64_t previous = at;
      at += interval == 6 ? c.odd_ns : c.regular_ns;
      script.add(at, EventKind::video_stream_frame_displayed, frame(session, interval + 1));
      if (interval == 6 && c.stall)
        expected += std::to_string(session) + "|" + std::to_string(at) + "|" +
                    std::to_string(previous) + "|" + std::to_string(c.odd_ns / 1000) + ".0|" +
                    std::to_string(c.regular_ns / 1000) + ".0\n";
    }
  }
  const std::string db = path("stalls.db");
  script.load(db, {"x.vxt"});
  EXPECT_EQ(shell(db,
                  "SELECT session_id, at, previous, gap_us, median_us FROM stalls"
                  " ORDER BY session_id, at;"),
            expected);
}

// A silence run is at least 5 silence writes of one input with no data write
// of that input between them; it ends at the next data write, if any.
TEST_F(SqliteLoaderTest, SilenceRunsAreFiveOrMoreSilenceWritesOfOneInput) {
  struct Case {
    const char *writes;  // per millisecond: S silence or D data of input a, s or d of input b
    const char *runs;    // input, first, last, ends, writes, length_us of each run
  };
  const Case cases[] = {
      {"DSSSSD", ""},
      {"DSSSSSD", "a.vxt|1|5|6|5|5000.0\n"},
      {"DSSSSS", "a.vxt|1|5|NULL|5|4000.0\n"},
      {"SSSSSSSDSSSS", "a.vxt|0|6|7|7|7000.0\n"},
      {"SSSDSS", ""},
      // Another input's data write does not end a run, nor its silence lengthen one.
      {"SSdSSSD", "a.vxt|0|5|6|5|6000.0\n"},
      {"SSssSSD", ""},
      {"sssssd", "b.vxt|0|4|5|5|5000.0\n"},
  };
  for (const Case &c : cases) {
    Script script;
    const std::string_view writes = c.writes;
    for (size_t ms = 0; ms < writes.size(); ++ms) {
      const char w = writes[ms];
      const EventKind kind = (w == 'S' || w == 's') ? EventKind::audio_sink_write_silence
                                                    : EventKind::audio_sink_write_data;
      script.add(ms * kMs, kind, audio_sink_write_payload{1, 2, 3, 4}, std::islower(w) ? 1 : 0);
    }
    const std::string db = path("silence.db");
    fs::remove(db);
    script.load(db, {"a.vxt", "b.vxt"});
    EXPECT_EQ(shell(db,
                    "SELECT input, first / 1000000, last / 1000000, ends / 1000000, writes,"
                    " length_us FROM silence_runs ORDER BY input, first;"),
              c.runs)
        << c.writes;
  }
}

// A key is held when it stayed in one stage longer than 100 ms and then was
// flushed, or never left (until the input's last record, or until it
// entered again). Each case is one session; a key that leaves one stage
// enters the next, where it stays.
TEST_F(SqliteLoaderTest, HeldKeysAreFlushedOrNeverLeftAfterMoreThan100Ms) {
  enum class End { flush, leave, none, again };
  struct Case {
    bool video;  // a frame received by the video stream, else an audio packet in the reorder buffer
    End end;
    uint64_t after_ms;
  };
  const Case cases[] = {
      {false, End::flush, 99}, {false, End::flush, 101}, {false, End::leave, 150},
      {false, End::none, 0},   {false, End::again, 120}, {true, End::flush, 99},
      {true, End::flush, 101}, {true, End::leave, 101},  {true, End::none, 0},
  };
  Script script;
  for (uint32_t session = 1; session <= std::size(cases); ++session) {
    const Case &c = cases[session - 1];
    const uint64_t end = c.after_ms * kMs;
    const audio_packet_payload packet{session, 40, 0, 0, 100};
    if (c.video)
      script.add(0, EventKind::video_stream_frame_received, frame(session, 40));
    else
      script.add(0, EventKind::audio_reorder_buffer_packet_received, packet);
    if (c.end == End::flush && c.video)
      script.add(end, EventKind::video_decoder_begin_flush, session_payload{session});
    if (c.end == End::flush && !c.video)
      script.add(end, EventKind::audio_reorder_buffer_flush, audio_flush_payload{session, 0});
    if (c.end == End::leave && c.video)
      script.add(end, EventKind::video_stream_frame_displayed, frame(session, 40));
    if (c.end == End::leave && !c.video)
      script.add(end, EventKind::audio_reorder_buffer_packet_sent, packet);
    if (c.end == End::again)
      script.add(end, EventKind::audio_reorder_buffer_packet_received, packet);
  }
  // The last record of the input, at 300 ms, in a session of its own.
  script.add(300 * kMs, EventKind::audio_flush, audio_flush_payload{99, 0});
  const std::string db = path("held.db");
  script.load(db, {"x.vxt"});
  EXPECT_EQ(
      shell(db,
            "SELECT session_id, from_event, to_event, key, entered / 1000000, left / 1000000, how,"
            " held_us FROM held_keys ORDER BY session_id, entered;"),
      "2|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|40|0|101|flush|"
      "101000.0\n"
      "3|audio_reorder_buffer_packet_sent|audio_decoder_packet_received|40|150|NULL|never|"
      "150000.0\n"
      "4|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|40|0|NULL|never|"
      "300000.0\n"
      "5|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|40|0|NULL|never|"
      "120000.0\n"
      "5|audio_reorder_buffer_packet_received|audio_reorder_buffer_packet_sent|40|120|NULL|never|"
      "180000.0\n"
      "7|video_stream_frame_received|video_stream_frame_displayed|40|0|101|flush|101000.0\n"
      "8|video_stream_frame_displayed|video_stream_displayed_frame_consumed|0|101|NULL|never|"
      "199000.0\n"
      "9|video_stream_frame_received|video_stream_frame_displayed|40|0|NULL|never|300000.0\n");
}

// The video stages follow each key from its entering to its leaving event,
// a reused frame buffer once per use; a frame dropped has no display latency.
TEST_F(SqliteLoaderTest, VideoStageLatencyFollowsEachPassage) {
  Script script;
  script.add(10, EventKind::video_decoder_frame_produced, frame(1, 500, 0xA));
  script.add(15, EventKind::video_stream_frame_received, frame(1, 500, 0xA));
  script.add(40, EventKind::video_stream_frame_displayed, frame(1, 500, 0xA));
  script.add(60, EventKind::video_decoder_frame_returned, video_frame_ref_payload{1, 0xA});
  script.add(70, EventKind::video_decoder_frame_produced, frame(1, 600, 0xA));
  script.add(75, EventKind::video_stream_frame_received, frame(1, 600, 0xA));
  script.add(90, EventKind::video_stream_frame_dropped, frame(1, 600, 0xA));
  script.add(100, EventKind::video_decoder_frame_returned, video_frame_ref_payload{1, 0xA});
  const std::string db = path("video.db");
  script.load(db, {"x.vxt"});
  EXPECT_EQ(shell(db,
                  "SELECT from_event, to_event, key, from_timestamp, latency_ns"
                  " FROM video_stage_latency ORDER BY stage_pair, from_timestamp;"),
            "video_decoder_frame_produced|video_stream_frame_received|500|10|5\n"
            "video_decoder_frame_produced|video_stream_frame_received|600|70|5\n"
            "video_stream_frame_received|video_stream_frame_displayed|500|15|25\n"
            "video_stream_frame_received|video_stream_frame_displayed|600|75|NULL\n"
            "video_stream_frame_received|video_stream_frame_dropped|500|15|NULL\n"
            "video_stream_frame_received|video_stream_frame_dropped|600|75|15\n"
            "video_stream_frame_displayed|video_stream_displayed_frame_consumed|10|40|NULL\n"
            "video_decoder_frame_produced|video_decoder_frame_returned|10|10|50\n"
            "video_decoder_frame_produced|video_decoder_frame_returned|10|70|30\n");
}

// One row per session of each input: the same id in two inputs is two
// sessions; records without a session have none.
TEST_F(SqliteLoaderTest, SessionsTableHasEachSessionOfEachInput) {
  constexpr uint64_t kTwoTo63 = uint64_t{1} << 63;
  Script script;
  script.add(5, EventKind::audio_flush, audio_flush_payload{1, 0});
  script.add(7, EventKind::audio_flush, audio_flush_payload{1, 0}, 1);
  script.add(9, EventKind::audio_sink_write_data, audio_sink_write_payload{1, 2, 3, 4});
  script.add(12, EventKind::audio_flush, audio_flush_payload{2, 0});
  script.add(20, EventKind::audio_flush, audio_flush_payload{1, 0});
  script.add(kTwoTo63, EventKind::audio_flush, audio_flush_payload{2, 0}, 1);
  const std::string db = path("sessions.db");
  script.load(db, {"a.vxt", "b.vxt"});
  EXPECT_EQ(shell(db,
                  "SELECT session_id, input, first_timestamp, printf('%llu', last_timestamp),"
                  " records FROM sessions ORDER BY input, session_id;"),
            "1|a.vxt|5|20|2\n2|a.vxt|12|12|1\n1|b.vxt|7|7|1\n"
            "2|b.vxt|-9223372036854775808|9223372036854775808|1\n");
}

}  // namespace
}  // namespace vxtrace

#endif
