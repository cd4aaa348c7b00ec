// The library on several threads at once, as consumers use it: logging while
// other threads replace the logger, the clock's first call made by many
// threads together, one current event decoded on several threads, and
// independent iterators on independent threads. Built also under
// ThreadSanitizer (the tsan preset), which reports any data race here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "events/catalogue.hpp"
#include "lib/clock.h"
#include "lib/log_internal.h"
#include "lib/platform/platform.h"
#include "support/memory_reader.hpp"
#include "support/recording.hpp"
#include "vexlo/vexlo.h"

namespace {

// Starts every task on its own thread, lets them go at the same moment and
// waits for all of them.
void run_together(const std::vector<std::function<void()>> &tasks) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(tasks.size());
  for (const auto &task : tasks) {
    threads.emplace_back([&go, &task] {
      while (!go.load()) std::this_thread::yield();
      task();
    });
  }
  go.store(true);
  for (std::thread &thread : threads) thread.join();
}

std::vector<std::function<void()>> copies(int count, const std::function<void()> &task) {
  return std::vector<std::function<void()>>(static_cast<size_t>(count), task);
}

// ---------------------------------------------------------------------------
// Logging

struct CountingLogger {
  std::atomic<long> records{0};
  vx_logger logger{this, count, nullptr};

  static void count(void *self, const vx_log_record *record) {
    // Reads the whole message, so that the sanitizers see a torn record.
    EXPECT_NE(std::strlen(record->message), 0u);
    static_cast<CountingLogger *>(self)->records.fetch_add(1);
  }
};

class ThreadsLogTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    vx_set_logger(nullptr);
    vx::log_reset_first_line_for_testing();
  }
};

// Each record reaches exactly one logger (the default one, or either
// replacement) however the swaps interleave, and every default line is
// written whole, never interleaved with another.
TEST_F(ThreadsLogTest, LoggingWhileOtherThreadsReplaceTheLogger) {
  constexpr int kLoggingThreads = 4;
  constexpr int kSwappingThreads = 2;
  constexpr int kLinesPerThread = 300;
  CountingLogger first;
  CountingLogger second;
  const std::string long_text(1500, 'y');  // beyond the stack buffer: heap path

  auto log_lines = [&] {
    for (int i = 0; i < kLinesPerThread; ++i) {
      const char *tail = i % 7 == 0 ? long_text.c_str() : "";
      vx_do_log(vx_get_logger(), VX_LOG_WARNING, "threads", "f.cpp", "fn", i, "line %d%s", i, tail);
    }
  };
  auto swap_loggers = [&] {
    vx_logger *choices[] = {&first.logger, nullptr, &second.logger};
    for (int i = 0; i < kLinesPerThread; ++i) {
      vx_set_logger(choices[i % 3]);
      EXPECT_NE(vx_get_logger(), nullptr);
    }
  };
  std::vector<std::function<void()>> tasks = copies(kLoggingThreads, log_lines);
  for (int i = 0; i < kSwappingThreads; ++i) tasks.push_back(swap_loggers);

  ::testing::internal::CaptureStderr();
  run_together(tasks);
  const std::string default_lines = ::testing::internal::GetCapturedStderr();

  const std::regex whole_line(R"(\d+\.\d{3} \[warning/threads\]: line \d+(y{1500})?)");
  std::istringstream lines(default_lines);
  long default_count = 0;
  for (std::string line; std::getline(lines, line); ++default_count) {
    ASSERT_TRUE(std::regex_match(line, whole_line)) << line.substr(0, 80);
  }
  EXPECT_EQ(first.records.load() + second.records.load() + default_count,
            kLoggingThreads * kLinesPerThread);
}

TEST_F(ThreadsLogTest, FirstGetsOnManyThreadsInstallOneDefaultLogger) {
  constexpr int kThreads = 8;
  std::vector<vx_logger *> seen(kThreads, nullptr);
  std::vector<std::function<void()>> tasks;
  for (int i = 0; i < kThreads; ++i) tasks.push_back([&seen, i] { seen[i] = vx_get_logger(); });
  run_together(tasks);
  for (vx_logger *logger : seen) EXPECT_EQ(logger, vx::default_logger_for_testing());
}

// ---------------------------------------------------------------------------
// The clock's one-time set-up

// The platform's real operations, counting how often the set-up asks for the
// counter's frequency.
std::atomic<int> frequency_queries{0};
bool counting_query(std::int64_t *frequency) {
  frequency_queries.fetch_add(1);
  return vx::platform::query_counter_frequency(frequency);
}
const vx::clock_source counting_platform = {counting_query, vx::platform::read_counter,
                                            vx::platform::unix_epoch_file_time,
                                            vx::platform::system_time_as_file_time};

class ThreadsClockTest : public ::testing::Test {
 protected:
  void SetUp() override { vx::clock_set_source_for_testing(&counting_platform); }
  void TearDown() override {
    vx::clock_set_source_for_testing(nullptr);
    vx::clock_reset_for_testing();
  }
};

// Repeats the process's first vx_get_timestamp on many threads at once: the
// set-up runs once per round, and every thread measures from that one zero
// point, so each reading is a short time since the round began.
TEST_F(ThreadsClockTest, ManyFirstCallsAtTheSameMomentSetTheClockUpOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  for (int round = 0; round < kRounds; ++round) {
    vx::clock_reset_for_testing();
    frequency_queries.store(0);
    std::vector<std::uint64_t> readings(kThreads, UINT64_MAX);
    std::vector<std::function<void()>> tasks;
    for (int i = 0; i < kThreads; ++i) {
      tasks.push_back([&readings, i] {
        readings[i] = vx_get_timestamp();
        const std::uint64_t later = vx_get_timestamp();
        EXPECT_GE(later, readings[i]);
      });
    }
    run_together(tasks);
    ASSERT_EQ(frequency_queries.load(), 1) << "round " << round;
    for (std::uint64_t reading : readings) {
      EXPECT_LT(reading, 10'000'000'000u) << "round " << round;
      EXPECT_EQ(reading % 1000, 0u);
    }
  }
}

// ---------------------------------------------------------------------------
// Iterators

// The rendering of a record decoded from the current event, and whether the
// decode gave back every block.
struct Rendering {
  bool decoded = false;
  std::string text;
  bool all_freed = false;

  bool operator==(const Rendering &) const = default;
};

Rendering decode_print_release(const vx_iterator_ops &ops) {
  const vx_event_descriptor *descriptor = ops.current_event(ops.iterator);
  vx_test::CountingAllocator allocator;
  vx_test::RecordingPrinter printer;
  void *record =
      descriptor->decode(static_cast<vx_buffer_iterator *>(ops.iterator), allocator.allocator());
  if (record != nullptr) descriptor->print(record, printer.printer());
  descriptor->release(record, allocator.allocator());
  return Rendering{record != nullptr, printer.text, allocator.all_freed_once()};
}

// Payload bytes that every fixed-size type decodes from; the url of
// load_media_payload comes out as its 32 bytes.
std::vector<uint8_t> busy_payload() {
  vx_test::PayloadBuilder builder;
  builder.u32(0x01020304).u16(32);
  for (int i = 0; i < 250; ++i) builder.u8(static_cast<uint8_t>(i * 37 + 11));
  return builder.bytes;
}

// Every catalogue event, defined under id = its index and recorded once.
void fill_with_catalogue_events(vx_test::MemoryReader *reader) {
  size_t count = 0;
  const vx_event_descriptor *const *catalogue = vx_catalogue(&count);
  for (size_t i = 0; i < count; ++i) reader->define(static_cast<uint32_t>(i), catalogue[i]->name);
  for (size_t i = 0; i < count; ++i) reader->data(static_cast<uint32_t>(i), i + 1, busy_payload());
}

struct CatalogueIterator {
  explicit CatalogueIterator(vx_test::MemoryReader *reader) {
    const vx_buffer_reader callbacks = reader->callbacks();
    vx_buffer_iterator_create(&callbacks, &ops);
    vexlo_register_events(ops.iterator, ops.kind_name(ops.iterator));
  }
  ~CatalogueIterator() { ops.destroy(ops.iterator); }
  vx_iterator_ops ops{};
};

// While the iterator stands still, any number of threads may decode, print
// and release its current event; each gets the same rendering as one thread
// alone.
TEST(ThreadsIterator, OneCurrentEventDecodedOnSeveralThreads) {
  constexpr int kThreads = 4;
  vx_test::MemoryReader reader;
  fill_with_catalogue_events(&reader);
  CatalogueIterator iterator(&reader);
  const vx_iterator_ops &ops = iterator.ops;
  int events = 0;
  while (ops.advance(ops.iterator)) {
    ++events;
    ASSERT_NE(ops.current_event(ops.iterator), nullptr) << ops.current_name(ops.iterator);
    const Rendering alone = decode_print_release(ops);
    ASSERT_TRUE(alone.decoded) << ops.current_name(ops.iterator);
    std::vector<Rendering> together(kThreads);
    std::vector<std::function<void()>> tasks;
    for (int i = 0; i < kThreads; ++i) {
      tasks.push_back([&together, &ops, i] { together[i] = decode_print_release(ops); });
    }
    run_together(tasks);
    for (const Rendering &rendering : together) EXPECT_EQ(rendering, alone);
  }
  EXPECT_EQ(events, 111);
}

// Iterators share nothing but the process logger: several threads each run
// their own from creation to destroy while the logger is being replaced.
TEST(ThreadsIterator, IndependentIteratorsOnIndependentThreads) {
  constexpr int kThreads = 4;
  CountingLogger first;
  CountingLogger second;
  vx_logger *previous = vx_set_logger(&first.logger);
  auto walk_a_buffer = [] {
    vx_test::MemoryReader reader;
    fill_with_catalogue_events(&reader);
    reader.data(5000, 1);  // an unknown id: logged
    {
      CatalogueIterator iterator(&reader);
      while (iterator.ops.advance(iterator.ops.iterator)) {
        if (iterator.ops.current_event(iterator.ops.iterator) == nullptr) continue;
        EXPECT_TRUE(decode_print_release(iterator.ops).all_freed);
      }
    }
    EXPECT_EQ(reader.close_calls, 1);
  };
  auto swap_loggers = [&first, &second] {
    for (int i = 0; i < 100; ++i) vx_set_logger(i % 2 == 0 ? &second.logger : &first.logger);
  };
  std::vector<std::function<void()>> tasks = copies(kThreads, walk_a_buffer);
  tasks.push_back(swap_loggers);
  run_together(tasks);
  EXPECT_EQ(first.records.load() + second.records.load(), kThreads);
  vx_set_logger(previous);
}

}  // namespace
