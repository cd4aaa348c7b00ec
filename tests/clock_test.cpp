// The clock and sleep: vx_get_timestamp on the high-resolution
// counter and on system time, its one-time set-up, vx_sleep_ms, and the
// platform layer beneath them (POSIX, or the Windows kernel's calls).
#include "lib/clock.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#include <time.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "lib/platform/platform.h"
#include "vexlo/log.h"

namespace {

constexpr std::int64_t kEpoch = 116444736000000000;  // 1970-01-01 as file time

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { restore(); }
  void TearDown() override { restore(); }

  static void restore() {
    vx::clock_set_source_for_testing(nullptr);
    vx::clock_force_no_counter_for_testing(false);
    vx::clock_reset_for_testing();
  }
};

// A scripted fake of the platform operations.
struct fake_platform {
  static inline std::atomic<bool> has_counter{true};
  static inline std::atomic<std::int64_t> frequency{1000000};
  static inline std::atomic<std::int64_t> counter{0};
  static inline std::atomic<std::int64_t> system_time{kEpoch};
  static inline std::atomic<int> frequency_queries{0};
  static inline std::atomic<int> epoch_queries{0};

  static bool query(std::int64_t *out) {
    frequency_queries.fetch_add(1);
    if (!has_counter.load()) return false;
    *out = frequency.load();
    return true;
  }
  static std::int64_t read_counter() { return counter.load(); }
  static std::int64_t epoch() {
    epoch_queries.fetch_add(1);
    return kEpoch;
  }
  static std::int64_t now() { return system_time.load(); }

  static constexpr vx::clock_source source = {query, read_counter, epoch, now};

  static void reset() {
    has_counter.store(true);
    frequency.store(1000000);
    counter.store(0);
    system_time.store(kEpoch);
    frequency_queries.store(0);
    epoch_queries.store(0);
  }
};

class ClockFakeTest : public ClockTest {
 protected:
  void SetUp() override {
    ClockTest::SetUp();
    fake_platform::reset();
    vx::clock_set_source_for_testing(&fake_platform::source);
  }
};

// The system time since 1970 from the source the platform layer should use,
// at its resolution (a coarser clock would not bracket its readings).
#ifdef _WIN32
std::int64_t realtime_nanoseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const auto file_time =
      static_cast<std::int64_t>((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
  return (file_time - kEpoch) * 100;
}
#else
std::int64_t realtime_nanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
#endif

// ---------------------------------------------------------------------------
// With the platform's high-resolution counter

using ClockCounterTest = ClockTest;

TEST_F(ClockCounterTest, FirstCallIsNearZero) {
  const std::uint64_t first = vx_get_timestamp();
  EXPECT_LT(first, 10'000'000u);  // well under 10 ms
  EXPECT_EQ(first % 1000, 0u);
}

TEST_F(ClockCounterTest, NeverDecreases) {
  std::uint64_t previous = vx_get_timestamp();
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t now = vx_get_timestamp();
    ASSERT_GE(now, previous);
    ASSERT_EQ(now % 1000, 0u) << "microsecond resolution";
    previous = now;
  }
}

TEST_F(ClockCounterTest, MeasuresASleep) {
  const std::uint64_t before = vx_get_timestamp();
  vx_sleep_ms(50);
  const std::uint64_t after = vx_get_timestamp();
  EXPECT_GE(after - before, 50'000'000u);
  EXPECT_LT(after - before, 5'000'000'000u);
}

TEST_F(ClockCounterTest, ZeroPointIsTheFirstCallNotTheReset) {
  vx_sleep_ms(30);
  EXPECT_LT(vx_get_timestamp(), 10'000'000u);
}

// ---------------------------------------------------------------------------
// Without the counter: system time since 1970-01-01

TEST_F(ClockTest, NoCounterGivesNanosecondsSince1970EndingIn000) {
  vx::clock_force_no_counter_for_testing(true);
  vx::clock_reset_for_testing();
  for (int i = 0; i < 1000; ++i) {
    const std::int64_t before = realtime_nanoseconds();
    const std::uint64_t now = vx_get_timestamp();
    const std::int64_t after = realtime_nanoseconds();
    ASSERT_EQ(now % 1000, 0u) << now;
    // Microsecond resolution, and the double conversion may cost one more.
    ASSERT_GE(static_cast<std::int64_t>(now), before - 2000);
    ASSERT_LE(static_cast<std::int64_t>(now), after + 1000);
  }
}

TEST_F(ClockTest, ForcingNoCounterTakesEffectAtTheNextSetUp) {
  vx::clock_reset_for_testing();
  EXPECT_LT(vx_get_timestamp(), 1'000'000'000'000'000'000u);  // counter: near 0
  vx::clock_force_no_counter_for_testing(true);
  EXPECT_LT(vx_get_timestamp(), 1'000'000'000'000'000'000u);  // not set up again
  vx::clock_reset_for_testing();
  EXPECT_GT(vx_get_timestamp(), 1'600'000'000'000'000'000u);  // after 2020
}

// ---------------------------------------------------------------------------
// The algorithm on a scripted platform

TEST_F(ClockFakeTest, CounterTicksAreConvertedThroughTheFrequency) {
  fake_platform::frequency.store(3'000'000);  // 3 ticks per microsecond
  fake_platform::counter.store(1000);
  EXPECT_EQ(vx_get_timestamp(), 0u);
  fake_platform::counter.store(1000 + 3 * 1'234'567);
  EXPECT_EQ(vx_get_timestamp(), 1'234'567'000u);
  // Fractions of a microsecond are truncated.
  fake_platform::counter.store(1000 + 3 * 2'000'000 + 2);
  EXPECT_EQ(vx_get_timestamp(), 2'000'000'000u);
  EXPECT_EQ(fake_platform::frequency_queries.load(), 1);
}

TEST_F(ClockFakeTest, NanosecondCounter) {
  fake_platform::frequency.store(1'000'000'000);
  fake_platform::counter.store(5'000'000'000'000);
  EXPECT_EQ(vx_get_timestamp(), 0u);
  fake_platform::counter.store(5'000'000'000'000 + 86'400'123'456'789);
  EXPECT_EQ(vx_get_timestamp(), 86'400'123'456'000u);
}

TEST_F(ClockFakeTest, NoCounterUsesSystemTimeSince1970) {
  fake_platform::has_counter.store(false);
  fake_platform::system_time.store(kEpoch + 17'000'000'000'000'000 + 1'234'560);
  EXPECT_EQ(vx_get_timestamp(), 1'700'000'000'123'456'000u);
  EXPECT_EQ(fake_platform::epoch_queries.load(), 1);
  fake_platform::system_time.store(kEpoch + 17'000'000'000'000'000 + 20'000'000);
  EXPECT_EQ(vx_get_timestamp(), 1'700'000'002'000'000'000u);
  EXPECT_EQ(fake_platform::epoch_queries.load(), 1);
}

TEST_F(ClockFakeTest, NoCounterAfterJanuary2038) {
  // Whole seconds stay 64-bit, so 2038 is not the end of time.
  fake_platform::has_counter.store(false);
  // 2038-01-19 03:14:08 UTC: 2^31 seconds after 1970.
  fake_platform::system_time.store(kEpoch + 2'147'483'648LL * 10'000'000);
  EXPECT_EQ(vx_get_timestamp(), 2'147'483'648'000'000'000u);
  // 2040-01-01 00:00:00.123456 UTC.
  fake_platform::system_time.store(kEpoch + 2'208'988'800LL * 10'000'000 + 1'234'560);
  EXPECT_EQ(vx_get_timestamp(), 2'208'988'800'123'456'000u);
  // One second before the overflow of a signed 32-bit count: unchanged.
  fake_platform::system_time.store(kEpoch + 2'147'483'647LL * 10'000'000);
  EXPECT_EQ(vx_get_timestamp(), 2'147'483'647'000'000'000u);
}

TEST_F(ClockFakeTest, SystemTimeBefore1970WrapsAsUnsigned) {
  fake_platform::has_counter.store(false);
  fake_platform::system_time.store(kEpoch - 15'000'000);  // 1.5 s before
  EXPECT_EQ(vx_get_timestamp(), static_cast<std::uint64_t>(-1'500'000'000LL));
}

TEST_F(ClockFakeTest, ZeroFrequencyCountsAsNoCounter) {
  fake_platform::frequency.store(0);
  fake_platform::system_time.store(kEpoch + 10'000'000);
  EXPECT_EQ(vx_get_timestamp(), 1'000'000'000u);
}

TEST_F(ClockFakeTest, ForcedNoCounterIgnoresTheCounter) {
  vx::clock_force_no_counter_for_testing(true);
  vx::clock_reset_for_testing();
  fake_platform::counter.store(123);
  fake_platform::system_time.store(kEpoch + 30'000'000);
  EXPECT_EQ(vx_get_timestamp(), 3'000'000'000u);
}

TEST_F(ClockFakeTest, SetUpHappensOnceAmongConcurrentFirstCalls) {
  fake_platform::counter.store(777);
  constexpr int kThreads = 16;
  std::atomic<bool> go{false};
  std::vector<std::uint64_t> results(kThreads, 1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      results[i] = vx_get_timestamp();
    });
  }
  go.store(true);
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(fake_platform::frequency_queries.load(), 1);
  for (std::uint64_t result : results) EXPECT_EQ(result, 0u);
}

TEST_F(ClockFakeTest, ResetMakesTheNextCallTheZeroPoint) {
  fake_platform::counter.store(100);
  EXPECT_EQ(vx_get_timestamp(), 0u);
  fake_platform::counter.store(600);
  EXPECT_EQ(vx_get_timestamp(), 500'000u);
  vx::clock_reset_for_testing();
  EXPECT_EQ(vx_get_timestamp(), 0u);
  EXPECT_EQ(fake_platform::frequency_queries.load(), 2);
}

// ---------------------------------------------------------------------------
// vx_sleep_ms

TEST(ClockSleepTest, SleepsAtLeastTheGivenTime) {
  const auto before = std::chrono::steady_clock::now();
  vx_sleep_ms(30);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));
}

TEST(ClockSleepTest, ZeroMillisecondsReturns) {
  const auto before = std::chrono::steady_clock::now();
  vx_sleep_ms(0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
}

// POSIX only: on Windows no signal handler can cut a Sleep short.
#ifndef _WIN32
std::atomic<int> signals_caught{0};
void count_signal(int) {
  signals_caught.fetch_add(1);
}

TEST(ClockSleepTest, ResumesAfterASignal) {
  struct sigaction action = {};
  action.sa_handler = count_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: nanosleep returns EINTR
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  signals_caught.store(0);

  std::atomic<bool> started{false};
  std::chrono::steady_clock::duration slept{};
  std::thread sleeper([&] {
    started.store(true);
    const auto before = std::chrono::steady_clock::now();
    vx_sleep_ms(300);
    slept = std::chrono::steady_clock::now() - before;
  });
  while (!started.load()) std::this_thread::yield();
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    pthread_kill(sleeper.native_handle(), SIGUSR1);
  }
  sleeper.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(signals_caught.load(), 1);
  EXPECT_GE(slept, std::chrono::milliseconds(300));
}
#endif

// ---------------------------------------------------------------------------
// The platform layer

TEST(ClockPlatformTest, UnixEpochAsFileTime) {
  EXPECT_EQ(vx::platform::unix_epoch_file_time(), 116444736000000000);
}

TEST(ClockPlatformTest, SystemTimeIsInHundredNanosecondsSince1601) {
  const std::int64_t before = realtime_nanoseconds() / 100;
  const std::int64_t now = vx::platform::system_time_as_file_time();
  const std::int64_t after = realtime_nanoseconds() / 100;
  EXPECT_GE(now - kEpoch, before);
  EXPECT_LE(now - kEpoch, after);
}

#ifdef _WIN32
// The counter is the performance counter, at the frequency the kernel reports
// for it (10 MHz on current Windows and under Wine).
std::int64_t expected_counter_frequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

TEST(ClockPlatformTest, CounterIsThePerformanceCounter) {
  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  const std::int64_t counter = vx::platform::read_counter();
  QueryPerformanceCounter(&after);
  EXPECT_GE(counter, before.QuadPart);
  EXPECT_LE(counter, after.QuadPart);
}

#else
// The counter is CLOCK_MONOTONIC, one tick per nanosecond.
std::int64_t expected_counter_frequency() {
  return 1'000'000'000;
}
#endif

TEST(ClockPlatformTest, CounterExistsAndIsMonotonic) {
  std::int64_t frequency = 0;
  ASSERT_TRUE(vx::platform::query_counter_frequency(&frequency));
  EXPECT_EQ(frequency, expected_counter_frequency());
  std::int64_t previous = vx::platform::read_counter();
  for (int i = 0; i < 10000; ++i) {
    const std::int64_t now = vx::platform::read_counter();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

}  // namespace
