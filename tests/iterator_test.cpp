#include <gtest/gtest.h>

#include <cstring>

#include "lib/buffer/iterator.h"
#include "lib/heap.h"
#include "support/log_capture.hpp"
#include "support/memory_reader.hpp"

namespace {

using vx_test::LogCapture;
using vx_test::MemoryReader;

const char kFlush[] = "/velocast/audio_flush";
const char kConfig[] = "/velocast/audio_config_changed";

const vx_event_descriptor kFlushDescriptor{kFlush, nullptr, nullptr, nullptr};
const vx_event_descriptor kFlushReplacement{kFlush, nullptr, nullptr, nullptr};
const vx_event_descriptor kConfigDescriptor{kConfig, nullptr, nullptr, nullptr};

// An iterator over a MemoryReader, destroyed with the fixture.
class IteratorTest : public ::testing::Test {
 protected:
  void create() {
    callbacks_ = reader.callbacks();
    vx_buffer_iterator_create(&callbacks_, &ops);
    ASSERT_NE(ops.iterator, nullptr);
  }
  void TearDown() override {
    if (ops.iterator != nullptr) ops.destroy(ops.iterator);
  }
  vx_buffer_iterator *iterator() { return static_cast<vx_buffer_iterator *>(ops.iterator); }
  void register_event(const vx_event_descriptor &descriptor) {
    vx_buffer_iterator_register_event(iterator(), &descriptor);
  }
  bool advance() { return ops.advance(ops.iterator); }

  LogCapture log;
  MemoryReader reader;
  vx_iterator_ops ops{};

 private:
  vx_buffer_reader callbacks_{};
};

TEST_F(IteratorTest, OpsTableIsFilledAndKindIsBuffer) {
  create();
  EXPECT_STREQ(ops.kind_name(nullptr), "buffer");
  EXPECT_STREQ(ops.kind_name(ops.iterator), "buffer");
  EXPECT_EQ(ops.current_name(ops.iterator), nullptr);
  EXPECT_EQ(ops.current_timestamp(ops.iterator), 0u);
  EXPECT_EQ(ops.current_event(ops.iterator), nullptr);
  EXPECT_EQ(iterator()->events_by_id.capacity, 64u);
  EXPECT_EQ(iterator()->names_by_id.capacity, 64u);
  EXPECT_EQ(iterator()->logger, vx_get_logger());
}

TEST_F(IteratorTest, DefinitionsOnlyEndOnFirstAdvance) {
  reader.define(1, kFlush).define(2, kConfig);
  create();
  EXPECT_FALSE(advance());
  EXPECT_FALSE(advance());
  EXPECT_TRUE(log.records.empty());
}

TEST_F(IteratorTest, DataRecordCarriesDescriptorNameTimestampAndPayloadByPointer) {
  reader.define(5, kFlush).data(5, 1200, {1, 2, 3});
  create();
  register_event(kFlushDescriptor);
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_event(ops.iterator), &kFlushDescriptor);
  EXPECT_EQ(ops.current_name(ops.iterator), kFlushDescriptor.name);
  EXPECT_EQ(ops.current_timestamp(ops.iterator), 1200u);
  const void *payload = nullptr;
  size_t size = 0;
  vx_buffer_iterator_get_raw_data(iterator(), &payload, &size);
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(std::memcmp(payload, "\x01\x02\x03", 3), 0);
  EXPECT_FALSE(advance());
  EXPECT_TRUE(log.records.empty());
}

TEST_F(IteratorTest, DefinedNameWithoutDescriptorIsHandedOutByPointer) {
  reader.define(9, kConfig).data(9, 1);
  create();
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_event(ops.iterator), nullptr);
  EXPECT_EQ(ops.current_name(ops.iterator), kConfig);
  EXPECT_TRUE(log.records.empty());
}

TEST_F(IteratorTest, UnknownIdIsReportedAndLogged) {
  reader.data(7, 42, {9});
  create();
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_event(ops.iterator), nullptr);
  EXPECT_EQ(ops.current_name(ops.iterator), nullptr);
  EXPECT_EQ(ops.current_timestamp(ops.iterator), 42u);
  size_t size = 0;
  vx_buffer_iterator_get_raw_data(iterator(), nullptr, &size);
  EXPECT_EQ(size, 1u);
  ASSERT_EQ(log.records.size(), 1u);
  const auto &line = log.records[0];
  EXPECT_EQ(line.severity, 3);
  EXPECT_EQ(line.module, "buffer_iterator");
  EXPECT_EQ(line.file, "lib/buffer/iterator.cpp");
  EXPECT_EQ(line.function, "buffer_advance");
  EXPECT_EQ(line.line, 129);
  EXPECT_EQ(line.message, "got data for an event with an unknown id: 7");
}

TEST_F(IteratorTest, RedefinedIdIsLoggedAndTheLaterDefinitionWins) {
  reader.define(3, kFlush).define(3, kConfig).data(3, 1);
  create();
  register_event(kFlushDescriptor);
  register_event(kConfigDescriptor);
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_event(ops.iterator), &kConfigDescriptor);
  EXPECT_EQ(ops.current_name(ops.iterator), kConfig);
  ASSERT_EQ(log.records.size(), 1u);
  EXPECT_EQ(log.records[0].line, 141);
  EXPECT_EQ(log.records[0].function, "buffer_advance");
  EXPECT_EQ(log.records[0].message,
            "got event id 3 for the '/velocast/audio_config_changed' event, but the id was "
            "already assigned to '/velocast/audio_flush'");
}

TEST_F(IteratorTest, TablesGrowToTheLargerOfDoubleAndIdPlusOne) {
  reader.define(200, kFlush).define(100, kConfig);
  create();
  EXPECT_FALSE(advance());
  EXPECT_EQ(iterator()->events_by_id.capacity, 201u);
  EXPECT_EQ(iterator()->names_by_id.capacity, 201u);
  for (uint32_t id = 64; id < 200; ++id) {
    if (id == 100) continue;
    void *name_slot = vx_id_map_read(&iterator()->names_by_id, id);
    const char *name = nullptr;
    std::memcpy(&name, name_slot, sizeof name);
    EXPECT_EQ(name, nullptr) << id;
  }
}

TEST_F(IteratorTest, IdJustPastCapacityDoublesTheTables) {
  reader.define(100, kFlush);
  create();
  EXPECT_FALSE(advance());
  EXPECT_EQ(iterator()->events_by_id.capacity, 128u);
  EXPECT_EQ(iterator()->names_by_id.capacity, 128u);
}

TEST_F(IteratorTest, HugeIdIsNotBoundAndItsDataIsUnknown) {
  reader.define(4294967295u, kFlush).data(4294967295u, 5);
  create();
  register_event(kFlushDescriptor);
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_event(ops.iterator), nullptr);
  EXPECT_EQ(ops.current_name(ops.iterator), nullptr);
  EXPECT_EQ(iterator()->names_by_id.capacity, 64u);
  ASSERT_EQ(log.records.size(), 2u);
  EXPECT_EQ(log.records[0].function, "buffer_advance");
  EXPECT_EQ(log.records[0].message,
            "event id 4294967295 for the '/velocast/audio_flush' event is too large to bind");
  EXPECT_EQ(log.records[1].message, "got data for an event with an unknown id: 4294967295");
}

TEST_F(IteratorTest, LargestBindableIdIsBound) {
  reader.define(1048575, kFlush).data(1048575, 5);
  create();
  register_event(kFlushDescriptor);
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_event(ops.iterator), &kFlushDescriptor);
  EXPECT_TRUE(log.records.empty());
}

TEST_F(IteratorTest, DefinitionWithoutNameBindsNothing) {
  reader.define(2, nullptr).data(2, 5);
  create();
  ASSERT_TRUE(advance());
  EXPECT_EQ(ops.current_name(ops.iterator), nullptr);
  ASSERT_EQ(log.records.size(), 1u);
  EXPECT_EQ(log.records[0].line, 129);
}

TEST_F(IteratorTest, LateRegistrationDoesNotRebindKnownIds) {
  reader.define(1, kFlush).data(1, 1);
  create();
  ASSERT_TRUE(advance());
  register_event(kFlushDescriptor);
  EXPECT_EQ(ops.current_event(ops.iterator), nullptr);
  EXPECT_EQ(ops.find_event(ops.iterator, kFlush), &kFlushDescriptor);
}

TEST_F(IteratorTest, DuplicateRegistrationIsLoggedAndReplaces) {
  create();
  register_event(kFlushDescriptor);
  register_event(kFlushReplacement);
  EXPECT_EQ(ops.find_event(ops.iterator, kFlush), &kFlushReplacement);
  ASSERT_EQ(log.records.size(), 1u);
  const auto &line = log.records[0];
  EXPECT_EQ(line.severity, 3);
  EXPECT_EQ(line.function, "vx_buffer_iterator_register_event");
  EXPECT_EQ(line.line, 70);
  char expected[256];
  std::snprintf(expected, sizeof expected,
                "attempting to register event '%s' with data %p, previously registered with %p",
                kFlush, static_cast<const void *>(&kFlushReplacement),
                static_cast<const void *>(&kFlushDescriptor));
  EXPECT_EQ(line.message, expected);
}

TEST_F(IteratorTest, FindIsExactAndCaseSensitive) {
  create();
  register_event(kFlushDescriptor);
  EXPECT_EQ(ops.find_event(ops.iterator, "/velocast/audio_flush"), &kFlushDescriptor);
  EXPECT_EQ(ops.find_event(ops.iterator, "/velocast/Audio_flush"), nullptr);
  EXPECT_EQ(ops.find_event(ops.iterator, "/velocast/audio_"), nullptr);
  EXPECT_EQ(ops.find_event(ops.iterator, "/velocast/audio_flush2"), nullptr);
}

TEST_F(IteratorTest, RawDataOutPointersAreOptional) {
  reader.data(1, 1, {4, 5});
  create();
  vx_buffer_iterator_get_raw_data(iterator(), nullptr, nullptr);
  const void *payload = &payload;
  size_t size = 99;
  vx_buffer_iterator_get_raw_data(iterator(), &payload, &size);
  EXPECT_EQ(payload, nullptr);
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(advance());
  vx_buffer_iterator_get_raw_data(iterator(), &payload, nullptr);
  EXPECT_NE(payload, nullptr);
}

TEST_F(IteratorTest, EndKeepsOrClearsTheLastEventAsTheBufferDecides) {
  reader.data(1, 10, {1}).define(2, kFlush);
  create();
  ASSERT_TRUE(advance());
  // The trailing definition is read by this call, which clears the event.
  EXPECT_FALSE(advance());
  EXPECT_EQ(ops.current_timestamp(ops.iterator), 0u);
  EXPECT_FALSE(advance());
}

TEST(IteratorLifecycle, DestroyClosesOnceBeforeFreeing) {
  MemoryReader reader;
  vx_iterator_ops ops{};
  reader.close_context = &ops;
  // Touching the iterator from close would be caught by the sanitizers if it
  // had been freed already.
  reader.on_close = [](MemoryReader *self) {
    auto *table = static_cast<vx_iterator_ops *>(self->close_context);
    EXPECT_EQ(table->current_name(table->iterator), nullptr);
  };
  vx_buffer_reader callbacks = reader.callbacks();
  vx_buffer_iterator_create(&callbacks, &ops);
  ASSERT_NE(ops.iterator, nullptr);
  ops.destroy(ops.iterator);
  EXPECT_EQ(reader.close_calls, 1);
}

TEST(IteratorLifecycle, FailedCreateLeavesNoIteratorAndNoLeak) {
  MemoryReader reader;
  vx_buffer_reader callbacks = reader.callbacks();
  vx_get_logger();  // keep the logger's one-time set-up out of the count
  vx::heap_reset_count();
  vx_iterator_ops ops{};
  vx_buffer_iterator_create(&callbacks, &ops);
  const unsigned long requests = vx::heap_request_count();
  ASSERT_NE(ops.iterator, nullptr);
  ops.destroy(ops.iterator);
  ASSERT_EQ(requests, 5u);  // object, tree record, head node, two tables
  for (unsigned long nth = 1; nth <= requests; ++nth) {
    vx::heap_fail_nth(nth);
    vx_iterator_ops failed{};
    vx_buffer_iterator_create(&callbacks, &failed);
    vx::heap_fail_nth(0);
    EXPECT_EQ(failed.iterator, nullptr) << nth;
    EXPECT_NE(failed.destroy, nullptr);
  }
  EXPECT_EQ(reader.close_calls, 1);
}

TEST(IteratorLifecycle, IteratorKeepsTheLoggerTakenAtCreation) {
  MemoryReader reader;
  reader.data(8, 1);
  vx_buffer_reader callbacks = reader.callbacks();
  vx_iterator_ops ops{};
  LogCapture first;
  vx_buffer_iterator_create(&callbacks, &ops);
  {
    LogCapture second;
    ASSERT_TRUE(ops.advance(ops.iterator));
    EXPECT_TRUE(second.records.empty());
  }
  EXPECT_EQ(first.records.size(), 1u);
  ops.destroy(ops.iterator);
}

}  // namespace
