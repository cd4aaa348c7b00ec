// Selection by time window and session, as every reading command applies it:
// each selected dump must equal the full dump filtered by the same rule, on
// one worker and on several; the reader's window is checked on its own, and
// malformed times and ids are refused before anything is read.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "schema/event_kind.h"
#include "schema/payload_fields.h"
#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "text/time_syntax.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

using vxtrace::TimeOrigin;

TEST(VxtraceTimeSpecTest, ParsesAbsoluteAndRelativeTimes) {
  struct Case {
    const char *text;
    uint64_t nanoseconds;
    TimeOrigin origin;
  };
  constexpr TimeOrigin zero = TimeOrigin::clock_zero;
  constexpr TimeOrigin first = TimeOrigin::first_record;
  constexpr TimeOrigin last = TimeOrigin::last_record;
  const Case cases[] = {
      {"0", 0, zero},
      {"1000076458", 1000076458, zero},
      {"18446744073709551615", UINT64_MAX, zero},
      {"+90s", 90'000'000'000, first},
      {"+37m12.5s", 2'232'500'000'000, first},
      {"+1h", 3'600'000'000'000, first},
      {"+250ms", 250'000'000, first},
      {"+40us", 40'000, first},
      {"+1500ns", 1500, first},
      {"+1h0m1ns", 3'600'000'000'001, first},
      {"+0.000000001s", 1, first},
      {"+5.25s", 5'250'000'000, first},
      // With a unit and no sign: since the clock's zero, like the bare number.
      {"37.4038s", 37'403'800'000, zero},
      {"37.403812345s", 37'403'812'345, zero},
      {"37403.8ms", 37'403'800'000, zero},
      {"1h2m3.5s", 3'723'500'000'000, zero},
      {"40us", 40'000, zero},
      {"1500ns", 1500, zero},
      {"0s", 0, zero},
      {"1.0000000000s", 1'000'000'000, zero},  // zeros past the nanosecond are exact
      {"18446744073.709551615s", UINT64_MAX, zero},
      {"18446744073709551615ns", UINT64_MAX, zero},
      // "-": back from the last record.
      {"-60s", 60'000'000'000, last},
      {"-1m30.5s", 90'500'000'000, last},
      {"-0ns", 0, last},
      {"-0.5us", 500, last},
  };
  for (const Case &c : cases) {
    std::string why;
    const auto time = vxtrace::parse_time(c.text, &why);
    ASSERT_TRUE(time.has_value()) << c.text << ": " << why;
    EXPECT_EQ(time->nanoseconds, c.nanoseconds) << c.text;
    EXPECT_EQ(time->origin, c.origin) << c.text;
  }
}

TEST(VxtraceTimeSpecTest, RefusesWhatIsNotATime) {
  struct Case {
    const char *text;
    const char *why;
  };
  const Case cases[] = {
      {"", "empty"},
      {"-", "a duration is needed after '-'"},
      {"+", "a duration is needed after '+'"},
      {"-5", "cannot be negative"},
      {"-0", "cannot be negative"},
      {"-5.5", "expected a unit"},
      {"--5s", "expected a number"},
      {"+-5s", "expected a number"},
      {"1.0000000001s", "finer than a nanosecond"},
      {"37.4038123456s", "finer than a nanosecond"},
      {"0.5ns", "finer than a nanosecond"},
      {"18446744073709551616", "too large"},
      {"18446744073709551616ns", "too large"},
      {"18446744073.709551616s", "too large"},
      {"5124096h", "too large"},
      {"-99999999999h", "too large"},
      {"37.s", "expected a number"},
      {".5s", "not a time"},
      {"1e9", "not a time"},
      {"5 s", "expected a unit"},
      {"5S", "expected a unit"},
      {"5s ", "expected a number"},
  };
  for (const Case &c : cases) {
    std::string why;
    const auto time = vxtrace::parse_time(c.text, &why);
    EXPECT_FALSE(time.has_value()) << c.text;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
  }
}

// The durations of generate --inject: a unit is required, and no sign.
TEST(VxtraceTimeSpecTest, DurationsNeedAUnit) {
  struct Case {
    const char *text;
    std::optional<uint64_t> nanoseconds;
  };
  const Case cases[] = {
      {"400ms", 400'000'000}, {"0.25s", 250'000'000}, {"1m0.5s", 60'500'000'000},
      {"400", std::nullopt},  {"+4s", std::nullopt},  {"-4s", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case &c : cases) {
    std::string why;
    EXPECT_EQ(vxtrace::parse_duration(c.text, &why), c.nanoseconds) << c.text << ": " << why;
  }
}

// [begin, end) of data records by timestamp; definitions still bind, and a
// skipped record is still checked for damage.
TEST(VxtraceReaderWindowTest, StepsOverDataRecordsOutsideTheWindow) {
  std::string bytes = build_trace([](vxt_writer *writer) {
    vxt_writer_define(writer, 1, "/a");
    for (uint64_t t = 10; t <= 50; t += 10) vxt_writer_write_event(writer, 1, t, "xy", 2);
    vxt_writer_define(writer, 2, "/b");
    vxt_writer_write_event(writer, 2, 5, "z", 1);  // backwards: outside
    vxt_writer_write_event(writer, 2, 30, "w", 1);
    vxt_writer_write_event(writer, 2, UINT64_MAX, "m", 1);
  });
  vxt_reader *reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", nullptr);
  ASSERT_NE(reader, nullptr);
  vxt_reader_set_window(reader, 20, 40);
  const uint64_t skipped_before = vxt_reader_skipped_count(reader);
  const ReadResult all = read_all(reader);
  EXPECT_EQ(skipped_before, 0u);
  std::vector<std::pair<bool, uint64_t>> seen;
  for (const ReadRecord &record : all.records)
    seen.emplace_back(record.definition, record.timestamp);
  const std::vector<std::pair<bool, uint64_t>> expected = {
      {true, 0}, {false, 20}, {false, 30}, {true, 0}, {false, 30}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(all.error.status, VXT_OK);

  // No end keeps the largest timestamp.
  reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", nullptr);
  vxt_reader_set_window(reader, 40, UINT64_MAX);
  const ReadResult open_end = read_all(reader);
  ASSERT_FALSE(open_end.records.empty());
  EXPECT_EQ(open_end.records.back().timestamp, UINT64_MAX);

  // A record cut short among the skipped ones ends the input with its offset.
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  bytes.resize(offsets[2] + 10);
  reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", nullptr);
  vxt_reader_set_window(reader, 1000, 2000);
  const ReadResult cut = read_all(reader);
  EXPECT_EQ(cut.error.status, VXT_DAMAGED);
  EXPECT_EQ(cut.error.offset, offsets[2]);
}

class VxtraceSelectTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new TemporaryDirectory;
    trace_ = directory_->file("trace.vxt");
    const ProcessResult made = run_vxtrace(
        {"generate", "-o", trace_, "--events", "3000", "--seed", "21"}, directory_->path());
    ASSERT_EQ(made.exit_status, 0) << made.err;
    full_ = dump({});
    ASSERT_EQ(full_.size(), 3000u);
  }
  static void TearDownTestSuite() { delete directory_; }

  // The dump's lines with args, the same on every number of workers.
  static std::vector<std::string> dump(const std::vector<std::string> &args) {
    std::vector<std::string> lines;
    for (const char *jobs : {"1", "2"}) {
      std::vector<std::string> command = {"dump", "--no-progress", "--jobs",
                                          jobs,   "--chunk-bytes", "2000"};
      command.insert(command.end(), args.begin(), args.end());
      command.push_back(trace_);
      const ProcessResult result = run_vxtrace(command, directory_->path());
      EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(command) << result.err;
      const std::vector<std::string> got = split_lines(result.out);
      if (lines.empty()) lines = got;
      EXPECT_EQ(got, lines) << testing::PrintToString(command) << " differs from --jobs 1";
    }
    return lines;
  }

  static std::vector<std::string> full_lines_where(const std::function<bool(const json &)> &kept) {
    std::vector<std::string> lines;
    for (const std::string &line : full_)
      if (kept(json::parse(line))) lines.push_back(line);
    return lines;
  }

  static uint64_t first_timestamp() { return json::parse(full_.front())["timestamp"]; }

  static TemporaryDirectory *directory_;
  static std::string trace_;
  static std::vector<std::string> full_;
};

TemporaryDirectory *VxtraceSelectTest::directory_ = nullptr;
std::string VxtraceSelectTest::trace_;
std::vector<std::string> VxtraceSelectTest::full_;

// ns as seconds with all nine decimals: "37.403812345s".
std::string seconds_text(uint64_t ns) {
  std::string fraction = std::to_string(ns % 1'000'000'000);
  fraction.insert(0, 9 - fraction.size(), '0');
  return std::to_string(ns / 1'000'000'000) + "." + fraction + "s";
}

TEST_F(VxtraceSelectTest, WindowEqualsTheFullDumpFilteredByTimestamp) {
  const uint64_t first = first_timestamp();
  const uint64_t last = json::parse(full_.back())["timestamp"];
  const uint64_t middle = first + (last - first) / 2;
  struct Case {
    std::vector<std::string> args;
    uint64_t begin, end;
  };
  const std::vector<Case> cases = {
      {{"--begin", std::to_string(middle)}, middle, UINT64_MAX},
      {{"--end", std::to_string(middle)}, 0, middle},
      {{"--begin", "+10ms", "--end", "+25ms"}, first + 10'000'000, first + 25'000'000},
      {{"--begin", std::to_string(last)}, last, UINT64_MAX},
      {{"--begin", "+0ns", "--end", "+0ns"}, first, first},
      {{"--end", std::to_string(first + 1)}, 0, first + 1},
      {{"--begin", "+1h"}, first + 3'600'000'000'000, UINT64_MAX},
      {{"--begin", seconds_text(middle)}, middle, UINT64_MAX},
      {{"--begin", std::to_string(first) + "ns", "--end", seconds_text(middle)}, first, middle},
      {{"--begin", "-10ms"}, last - 10'000'000, UINT64_MAX},
      {{"--begin", "-10ms", "--end", "-2.5ms"}, last - 10'000'000, last - 2'500'000},
      {{"--end", "-0s"}, 0, last},
      {{"--begin", "-1h"}, 0, UINT64_MAX},
      {{"--begin", "+5ms", "--end", "-5ms"}, first + 5'000'000, last - 5'000'000},
  };
  for (const Case &c : cases) {
    const auto expected = full_lines_where([&](const json &line) {
      const uint64_t t = line["timestamp"];
      return t >= c.begin && t < c.end;
    });
    EXPECT_EQ(dump(c.args), expected) << testing::PrintToString(c.args);
  }
  // Combined with --event, both must hold.
  const auto audio_in_window = full_lines_where([&](const json &line) {
    const uint64_t t = line["timestamp"];
    return t >= middle && line["event"].get<std::string>().find("/velocast/audio_") == 0;
  });
  EXPECT_EQ(dump({"--begin", std::to_string(middle), "--event", "/velocast/audio_*"}),
            audio_in_window);
}

// The session of a dump line: payload.session_id or payload.packet.session_id;
// none for the receiver's own events. A line that could not be decoded has a
// session only when its kind carries one, and then it cannot be told.
std::optional<uint32_t> session_of_line(const json &line, bool *kind_has_session) {
  const auto kind = vxtrace::event_kind_of(line["event"].get<std::string>());
  *kind_has_session = kind && vxtrace::has_session(*kind);
  const json payload = line.value("payload", json::object());
  if (payload.contains("session_id")) return payload["session_id"].get<uint32_t>();
  if (payload.contains("packet") && payload["packet"].contains("session_id"))
    return payload["packet"]["session_id"].get<uint32_t>();
  return std::nullopt;
}

TEST_F(VxtraceSelectTest, SessionsEqualTheFullDumpFilteredBySession) {
  struct Case {
    std::vector<std::string> args;
    std::set<uint32_t> sessions;
    bool with_receiver;
  };
  const std::vector<Case> cases = {
      {{"--session", "1"}, {1}, false},
      {{"--session", "2", "--session", "3"}, {2, 3}, false},
      {{"--session", "2", "--with-receiver"}, {2}, true},
      {{"--session", "4000000000"}, {4000000000u}, false},
  };
  size_t receiver_lines = 0;
  for (const Case &c : cases) {
    const auto expected = full_lines_where([&](const json &line) {
      bool kind_has_session = false;
      const std::optional<uint32_t> session = session_of_line(line, &kind_has_session);
      if (session) return c.sessions.count(*session) > 0;
      if (kind_has_session) return false;
      ++receiver_lines;
      return c.with_receiver;
    });
    EXPECT_EQ(dump(c.args), expected) << testing::PrintToString(c.args);
  }
  EXPECT_GT(receiver_lines, 0u) << "the trace should hold records without a session";
  // With a window too: all conditions hold.
  const uint64_t from = first_timestamp() + 20'000'000;
  const auto expected = full_lines_where([&](const json &line) {
    bool kind_has_session = false;
    const auto session = session_of_line(line, &kind_has_session);
    return session == 1u && line["timestamp"].get<uint64_t>() >= from;
  });
  EXPECT_EQ(dump({"--session", "1", "--begin", "+20ms"}), expected);
}

TEST_F(VxtraceSelectTest, BadTimesAndIdsAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  const std::vector<Case> cases = {
      {{"--begin", "-5"}, "--begin"},
      {{"--begin", "+"}, "a duration is needed"},
      {{"--end", "+3x"}, "expected a unit"},
      {{"--end", "+1.5ns"}, "finer than a nanosecond"},
      {{"--begin", "+1.00000000001s"}, "finer than a nanosecond"},
      {{"--begin", "+.5s"}, "expected a number"},
      {{"--begin", "+5"}, "expected a unit"},
      {{"--begin", "1e9"}, "not a time"},
      {{"--begin", "18446744073709551616"}, "too large"},
      {{"--begin", "+99999999999h"}, "too large"},
      {{"--begin", "+2s", "--end", "+1s"}, "comes before --begin"},
      {{"--begin=-5"}, "cannot be negative"},
      {{"--end=-"}, "a duration is needed after '-'"},
      {{"--begin", ""}, "empty"},
      {{"--begin", "-1s", "--end", "-2s"}, "comes before --begin"},
      {{"--end", "1.0000000001s"}, "finer than a nanosecond"},
      {{"--begin", "200", "--end", "100"}, "comes before --begin"},
      {{"--session", "-1"}, "--session"},
      {{"--session", "4294967296"}, "not a whole number"},
      {{"--session", "x"}, "not a whole number"},
      {{"-", "-"}, "standard input (-) can be read only once"},
  };
  for (const char *command : {"dump", "stats", "timeline"})
    for (const Case &c : cases) {
      std::vector<std::string> args = {command, "--no-progress"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      args.push_back(trace_);
      const ProcessResult result = run_vxtrace(args, directory_->path());
      const std::string where = testing::PrintToString(args);
      EXPECT_EQ(result.exit_status, 1) << where;
      EXPECT_NE(result.err.find(c.message), std::string::npos) << where << ": " << result.err;
      EXPECT_TRUE(result.out.empty()) << where;
    }
  // Standard input that is a regular file can be looked at ahead (pipes are
  // refused: tests/vxtrace_reading_command_test.cpp).
  const ProcessResult redirected =
      run_vxtrace({"dump", "--no-progress", "--begin", "+1s", "-"}, directory_->path(), trace_);
  EXPECT_EQ(redirected.exit_status, 0) << redirected.err;
}

}  // namespace
}  // namespace vxtrace_test

#endif  // VX_VXTRACE_PATH
