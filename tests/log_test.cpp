// Logging: the replaceable logger, vx_do_log, the severity names
// and the default logger's line on the standard error stream.
#include "vexlo/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "lib/clock.h"
#include "lib/heap.h"
#include "lib/log_internal.h"

namespace {

// A message that vsnprintf refuses is logged as "Can't log message with
// format: ...". glibc refuses a wide character that it cannot convert and a
// width near INT_MAX; the printf of the Windows build (mingw-w64's) writes
// nothing for the character and overflows its stack on the width, so the
// refusal is tested on Linux only.
#ifdef _WIN32
#define SKIP_WITHOUT_GLIBC_PRINTF() \
  GTEST_SKIP() << "mingw-w64's vsnprintf does not refuse this format"
#else
#define SKIP_WITHOUT_GLIBC_PRINTF() static_cast<void>(0)
#endif

// A logger that keeps a copy of every record it receives.
struct captured_record {
  int severity;
  std::string module;
  std::string file;
  std::string function;
  int line;
  std::string message;
  std::thread::id thread;
};

struct capturing_logger {
  vx_logger logger;
  std::vector<captured_record> records;

  capturing_logger() : logger{this, capture, nullptr} {}

  static void capture(void *user_data, const vx_log_record *record) {
    auto *self = static_cast<capturing_logger *>(user_data);
    self->records.push_back({record->severity, record->module, record->file, record->function,
                             record->line, record->message, std::this_thread::get_id()});
  }
};

// Puts the logging service back into its load-time state: no logger
// installed, no default first line taken, the real clock.
void reset_logging() {
  vx_set_logger(nullptr);
  vx::log_reset_first_line_for_testing();
  vx::log_set_timestamp_source_for_testing(nullptr);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_logging(); }
  void TearDown() override {
    vx::heap_fail_nth(0);
    reset_logging();
  }
};

// ---------------------------------------------------------------------------
// vx_set_logger / vx_get_logger

using LogSetGetTest = LogTest;

TEST_F(LogSetGetTest, SetBeforeAnyInstallReturnsNull) {
  capturing_logger mine;
  EXPECT_EQ(vx_set_logger(&mine.logger), nullptr);
  EXPECT_EQ(vx_set_logger(nullptr), &mine.logger);
  EXPECT_EQ(vx_set_logger(nullptr), nullptr);
}

TEST_F(LogSetGetTest, GetInstallsTheDefaultLogger) {
  vx_logger *logger = vx_get_logger();
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(logger, vx::default_logger_for_testing());
  EXPECT_EQ(logger->user_data, nullptr);
  EXPECT_NE(logger->log, nullptr);
  ASSERT_NE(logger->reserved, nullptr);
  logger->reserved();  // does nothing
  EXPECT_EQ(vx_get_logger(), logger);
  // Installed: a following set returns it.
  capturing_logger mine;
  EXPECT_EQ(vx_set_logger(&mine.logger), logger);
}

TEST_F(LogSetGetTest, SetReplacesAndReturnsThePrevious) {
  capturing_logger first;
  capturing_logger second;
  vx_logger *default_logger = vx_get_logger();
  EXPECT_EQ(vx_set_logger(&first.logger), default_logger);
  EXPECT_EQ(vx_get_logger(), &first.logger);
  EXPECT_EQ(vx_set_logger(&second.logger), &first.logger);
  EXPECT_EQ(vx_get_logger(), &second.logger);
}

TEST_F(LogSetGetTest, GetAfterSetNullInstallsTheDefaultAgain) {
  capturing_logger mine;
  vx_set_logger(&mine.logger);
  EXPECT_EQ(vx_set_logger(nullptr), &mine.logger);
  EXPECT_EQ(vx_get_logger(), vx::default_logger_for_testing());
  EXPECT_EQ(vx_set_logger(nullptr), vx::default_logger_for_testing());
}

TEST_F(LogSetGetTest, ConcurrentGetsAllSeeTheSameLogger) {
  constexpr int kThreads = 8;
  std::vector<vx_logger *> seen(kThreads, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      seen[i] = vx_get_logger();
    });
  }
  go.store(true);
  for (auto &thread : threads) thread.join();
  for (vx_logger *logger : seen) EXPECT_EQ(logger, vx::default_logger_for_testing());
}

TEST_F(LogSetGetTest, GetKeepsALoggerInstalledByAnotherThread) {
  capturing_logger mine;
  std::thread([&] { vx_set_logger(&mine.logger); }).join();
  EXPECT_EQ(vx_get_logger(), &mine.logger);
}

// ---------------------------------------------------------------------------
// vx_do_log: the record and the message

using LogDoLogTest = LogTest;

TEST_F(LogDoLogTest, HandsOneRecordWithEveryField) {
  capturing_logger mine;
  vx_do_log(&mine.logger, VX_LOG_WARNING, "buffer_iterator", "lib/buffer/iterator.cpp",
            "buffer_advance", 123, "event %u named %s", 7u, "/velocast/audio_flush");
  ASSERT_EQ(mine.records.size(), 1u);
  const captured_record &record = mine.records[0];
  EXPECT_EQ(record.severity, VX_LOG_WARNING);
  EXPECT_EQ(record.module, "buffer_iterator");
  EXPECT_EQ(record.file, "lib/buffer/iterator.cpp");
  EXPECT_EQ(record.function, "buffer_advance");
  EXPECT_EQ(record.line, 123);
  EXPECT_EQ(record.message, "event 7 named /velocast/audio_flush");
  EXPECT_EQ(record.thread, std::this_thread::get_id());
}

TEST_F(LogDoLogTest, PassesTheLoggersUserData) {
  static void *seen_user_data = nullptr;
  int marker = 0;
  vx_logger logger = {
      &marker, [](void *user_data, const vx_log_record *) { seen_user_data = user_data; }, nullptr};
  vx_do_log(&logger, VX_LOG_INFO, "m", "f", "fn", 1, "x");
  EXPECT_EQ(seen_user_data, &marker);
}

TEST_F(LogDoLogTest, EmptyMessage) {
  capturing_logger mine;
  vx_do_log(&mine.logger, VX_LOG_DEBUG, "m", "f", "fn", 1, "%s", "");
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, "");
}

TEST_F(LogDoLogTest, Message1023CharactersComesFromTheStackWithoutHeap) {
  capturing_logger mine;
  const std::string text(1023, 'a');
  vx::heap_reset_count();
  vx_do_log(&mine.logger, VX_LOG_INFO, "m", "f", "fn", 1, "%s", text.c_str());
  EXPECT_EQ(vx::heap_request_count(), 0u);
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, text);
}

TEST_F(LogDoLogTest, Message1024CharactersComesFromTheHeapUncut) {
  capturing_logger mine;
  const std::string text = std::string(1022, 'b') + "XY";
  vx::heap_reset_count();
  vx_do_log(&mine.logger, VX_LOG_INFO, "m", "f", "fn", 1, "%s", text.c_str());
  EXPECT_EQ(vx::heap_request_count(), 1u);
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message.size(), 1024u);
  EXPECT_EQ(mine.records[0].message, text);
}

TEST_F(LogDoLogTest, VeryLongMessageWithSeveralArgumentsIsUncut) {
  capturing_logger mine;
  const std::string head(3000, 'h');
  const std::string tail(5000, 't');
  vx_do_log(&mine.logger, VX_LOG_INFO, "m", "f", "fn", 1, "%s|%d|%s|%.2f", head.c_str(), -42,
            tail.c_str(), 1.5);
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, head + "|-42|" + tail + "|1.50");
}

TEST_F(LogDoLogTest, LongMessageWithoutHeapIsCutTo1023Characters) {
  capturing_logger mine;
  const std::string text = std::string(1500, 'c') + "end";
  vx::heap_fail_nth(1);
  vx_do_log(&mine.logger, VX_LOG_ERROR, "m", "f", "fn", 1, "%s", text.c_str());
  vx::heap_fail_nth(0);
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, text.substr(0, 1023));
}

TEST_F(LogDoLogTest, UnformattableMessageNamesItsFormat) {
  SKIP_WITHOUT_GLIBC_PRINTF();
  capturing_logger mine;
  // glibc cannot convert this wide character in the "C" locale: vsnprintf
  // reports an error (EILSEQ).
  vx_do_log(&mine.logger, VX_LOG_ERROR, "m", "f", "fn", 9, "bad %lc here",
            static_cast<wint_t>(0x100));
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, "Can't log message with format: bad %lc here");
  EXPECT_EQ(mine.records[0].severity, VX_LOG_ERROR);
  EXPECT_EQ(mine.records[0].line, 9);
}

TEST_F(LogDoLogTest, MessageOf2Pow31Minus1CharactersIsRefused) {
  SKIP_WITHOUT_GLIBC_PRINTF();
  capturing_logger mine;
  vx::heap_reset_count();
  vx_do_log(&mine.logger, VX_LOG_INFO, "m", "f", "fn", 1, "%2147483647d", 1);
  EXPECT_EQ(vx::heap_request_count(), 0u);
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, "Can't log message with format: %2147483647d");
}

TEST_F(LogDoLogTest, RefusalWithALongFormatIsCutTo1023Characters) {
  SKIP_WITHOUT_GLIBC_PRINTF();
  capturing_logger mine;
  const std::string format = std::string(2000, 'f') + "%lc";
  vx_do_log(&mine.logger, VX_LOG_INFO, "m", "f", "fn", 1, format.c_str(),
            static_cast<wint_t>(0x100));
  ASSERT_EQ(mine.records.size(), 1u);
  EXPECT_EQ(mine.records[0].message, ("Can't log message with format: " + format).substr(0, 1023));
}

TEST_F(LogDoLogTest, NullLoggerIsIgnored) {
  vx_do_log(nullptr, VX_LOG_INFO, "m", "f", "fn", 1, "nothing");
  vx_logger no_log = {nullptr, nullptr, nullptr};
  vx_do_log(&no_log, VX_LOG_INFO, "m", "f", "fn", 1, "nothing");
}

TEST_F(LogDoLogTest, SeveralThreadsLogAtOnce) {
  struct counting {
    static void log(void *user_data, const vx_log_record *record) {
      auto *sum = static_cast<std::atomic<std::size_t> *>(user_data);
      sum->fetch_add(std::string(record->message).size());
    }
  };
  std::atomic<std::size_t> total{0};
  vx_logger logger = {&total, counting::log, nullptr};
  constexpr int kThreads = 4;
  constexpr int kMessages = 200;
  const std::string long_text(2000, 'z');
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (int j = 0; j < kMessages; ++j) {
        vx_do_log(&logger, VX_LOG_INFO, "m", "f", "fn", 1, "%s%d", long_text.c_str(), j % 10);
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(total.load(), static_cast<std::size_t>(kThreads) * kMessages * 2001);
}

// ---------------------------------------------------------------------------
// vx_log_severity_name

TEST(LogSeverityTest, NamesOfTheFourSeverities) {
  EXPECT_STREQ(vx_log_severity_name(VX_LOG_DEBUG), "debug");
  EXPECT_STREQ(vx_log_severity_name(VX_LOG_INFO), "info");
  EXPECT_STREQ(vx_log_severity_name(VX_LOG_WARNING), "warning");
  EXPECT_STREQ(vx_log_severity_name(VX_LOG_ERROR), "error");
}

TEST(LogSeverityTest, EveryOtherValueIsError) {
  for (int severity : {4, 9, 100, INT_MAX, -1, -2, INT_MIN}) {
    EXPECT_STREQ(vx_log_severity_name(severity), "error") << severity;
  }
}

// ---------------------------------------------------------------------------
// The default logger's line on stderr

std::atomic<std::uint64_t> fake_now{0};
std::uint64_t fake_timestamp() {
  return fake_now.load();
}

class LogDefaultLineTest : public LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    fake_now.store(0);
    vx::log_set_timestamp_source_for_testing(fake_timestamp);
  }

  // One line of the default logger at fake time now, as written to stderr.
  static std::string line_at(std::uint64_t now, int severity, const char *module,
                             const char *message) {
    fake_now.store(now);
    ::testing::internal::CaptureStderr();
    vx_do_log(vx_get_logger(), severity, module, "file.cpp", "function", 1, "%s", message);
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(LogDefaultLineTest, FirstLineOfTheProcessShowsZero) {
  ::testing::internal::CaptureStderr();
  vx_do_log(vx_get_logger(), VX_LOG_ERROR, "buffer_iterator", "lib/buffer/iterator.cpp",
            "buffer_advance", 77, "got data for an event with an unknown id: %u", 7u);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "0.000 [error/buffer_iterator]: got data for an event with an unknown id: 7\n");
}

TEST_F(LogDefaultLineTest, ElapsedTimeSinceTheFirstLine) {
  const std::uint64_t start = 5'000'000'000;
  EXPECT_EQ(line_at(start, VX_LOG_INFO, "mod", "one"), "0.000 [info/mod]: one\n");
  EXPECT_EQ(line_at(start + 1'500'000'000, VX_LOG_WARNING, "mod", "two"),
            "1.500 [warning/mod]: two\n");
  // Truncated to whole milliseconds before the division: 1.9996 s -> 1.999.
  EXPECT_EQ(line_at(start + 1'999'600'000, VX_LOG_DEBUG, "mod", "three"),
            "1.999 [debug/mod]: three\n");
  EXPECT_EQ(line_at(start + 3'723'456'789'000, VX_LOG_ERROR, "mod", "four"),
            "3723.456 [error/mod]: four\n");
}

TEST_F(LogDefaultLineTest, FirstLineAtTimestampZeroIsKept) {
  // A first line at time 0 still counts as taken.
  EXPECT_EQ(line_at(0, VX_LOG_INFO, "mod", "first"), "0.000 [info/mod]: first\n");
  EXPECT_EQ(line_at(1'500'000'000, VX_LOG_INFO, "mod", "later"), "1.500 [info/mod]: later\n");
  EXPECT_EQ(line_at(2'000'000'000, VX_LOG_INFO, "mod", "later"), "2.000 [info/mod]: later\n");
}

TEST_F(LogDefaultLineTest, TimeBeforeTheFirstLineShowsZero) {
  // Another thread stored a later first-line
  // time; the elapsed time is clamped instead of wrapping around.
  EXPECT_EQ(line_at(10'000'000'000, VX_LOG_INFO, "mod", "first"), "0.000 [info/mod]: first\n");
  EXPECT_EQ(line_at(9'000'000'000, VX_LOG_INFO, "mod", "earlier"), "0.000 [info/mod]: earlier\n");
  EXPECT_EQ(line_at(10'000'999'000, VX_LOG_INFO, "mod", "same ms"), "0.000 [info/mod]: same ms\n");
  EXPECT_EQ(line_at(10'001'000'000, VX_LOG_INFO, "mod", "after"), "0.001 [info/mod]: after\n");
}

TEST_F(LogDefaultLineTest, SeverityNamesInTheLine) {
  EXPECT_EQ(line_at(0, 0, "m", "x"), "0.000 [debug/m]: x\n");
  EXPECT_EQ(line_at(0, 1, "m", "x"), "0.000 [info/m]: x\n");
  EXPECT_EQ(line_at(0, 2, "m", "x"), "0.000 [warning/m]: x\n");
  EXPECT_EQ(line_at(0, 3, "m", "x"), "0.000 [error/m]: x\n");
  EXPECT_EQ(line_at(0, 9, "m", "x"), "0.000 [error/m]: x\n");
  EXPECT_EQ(line_at(0, -1, "m", "x"), "0.000 [error/m]: x\n");
}

TEST_F(LogDefaultLineTest, LongMessageIsWrittenWhole) {
  const std::string text(5000, 'L');
  EXPECT_EQ(line_at(0, VX_LOG_INFO, "m", text.c_str()), "0.000 [info/m]: " + text + "\n");
}

TEST_F(LogDefaultLineTest, UnformattableMessageLine) {
  SKIP_WITHOUT_GLIBC_PRINTF();
  ::testing::internal::CaptureStderr();
  vx_do_log(vx_get_logger(), VX_LOG_WARNING, "m", "f", "fn", 1, "%lc", static_cast<wint_t>(0x100));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "0.000 [warning/m]: Can't log message with format: %lc\n");
}

TEST_F(LogDefaultLineTest, TheResetHookMakesTheNextLineFirstAgain) {
  EXPECT_EQ(line_at(4'000'000'000, VX_LOG_INFO, "m", "a"), "0.000 [info/m]: a\n");
  vx::log_reset_first_line_for_testing();
  EXPECT_EQ(line_at(7'000'000'000, VX_LOG_INFO, "m", "b"), "0.000 [info/m]: b\n");
  EXPECT_EQ(line_at(7'250'000'000, VX_LOG_INFO, "m", "c"), "0.250 [info/m]: c\n");
}

TEST_F(LogDefaultLineTest, ConcurrentFirstLinesAgreeOnOneFirstTime) {
  // Every thread logs at the same fake time, so whichever stores the first
  // line, every line shows 0.000; a later line measures from that time.
  fake_now.store(2'000'000'000);
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      vx_do_log(vx_get_logger(), VX_LOG_INFO, "m", "f", "fn", 1, "line");
    });
  }
  go.store(true);
  for (auto &thread : threads) thread.join();
  std::string all = ::testing::internal::GetCapturedStderr();
  std::string expected;
  for (int i = 0; i < kThreads; ++i) expected += "0.000 [info/m]: line\n";
  EXPECT_EQ(all, expected);
  EXPECT_EQ(line_at(2'042'000'000, VX_LOG_INFO, "m", "x"), "0.042 [info/m]: x\n");
}

TEST_F(LogDefaultLineTest, RealClockLinesMeasureFromTheFirstLine) {
  vx::log_set_timestamp_source_for_testing(nullptr);
  vx::clock_reset_for_testing();
  ::testing::internal::CaptureStderr();
  vx_do_log(vx_get_logger(), VX_LOG_INFO, "clock", "f", "fn", 1, "first");
  vx_sleep_ms(20);
  vx_do_log(vx_get_logger(), VX_LOG_INFO, "clock", "f", "fn", 1, "second");
  const std::string out = ::testing::internal::GetCapturedStderr();
  const std::string first_line = out.substr(0, out.find('\n') + 1);
  const std::string second_line = out.substr(first_line.size());
  EXPECT_EQ(first_line, "0.000 [info/clock]: first\n");
  double seconds = -1;
  char rest[64] = {};
  ASSERT_EQ(std::sscanf(second_line.c_str(), "%lf %63[^\n]", &seconds, rest), 2) << second_line;
  EXPECT_STREQ(rest, "[info/clock]: second");
  EXPECT_GE(seconds, 0.020);
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(second_line.find('.') + 4, second_line.find(' ')) << "three decimals: " << second_line;
}

}  // namespace
