// Exhausted memory at every point of the catalogue's decoders, of the
// catalogue's registration and of the iterator's id table growth: the failed
// step reports itself, leaks nothing, and leaves everything that was stored
// before it intact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/catalogue.hpp"
#include "lib/buffer/iterator.h"
#include "lib/heap.h"
#include "support/log_capture.hpp"
#include "support/memory_reader.hpp"
#include "support/payload_schema.hpp"
#include "support/recording.hpp"

namespace {

using vx_test::CountingAllocator;

std::vector<const vx_event_descriptor *> catalogue() {
  size_t count = 0;
  const vx_event_descriptor *const *table = vx_catalogue(&count);
  return {table, table + count};
}

// ---------------------------------------------------------------------------
// Decoding with a refusing allocator

size_t allocations_of_clean_decode(const vx_event_descriptor &event,
                                   const std::vector<uint8_t> &payload) {
  CountingAllocator allocator;
  void *record = vx_test::decode_bytes(event.decode, payload, allocator);
  event.release(record, allocator.allocator());
  return allocator.alloc_count();
}

// After a refused request the decoder asks for nothing more: it only gives
// back, once each, what it already holds.
void expect_only_frees_after_refusal(const CountingAllocator &allocator, size_t refused) {
  size_t allocs = 0;
  for (const vx_test::AllocatorEvent &event : allocator.events) {
    if (!event.is_alloc) continue;
    ++allocs;
    if (allocs == refused) {
      EXPECT_EQ(event.block, nullptr);
    }
  }
  EXPECT_EQ(allocs, refused);
  EXPECT_TRUE(allocator.all_freed_once());
}

// Every event, at every payload length up to the full wire size, with each
// of the allocator's requests refused in turn.
TEST(DecodeWithRefusedAllocation, EveryEventEveryLengthEveryRequest) {
  const std::vector<const vx_event_descriptor *> events = catalogue();
  const std::vector<vx_test::CatalogueEntry> &entries = vx_test::catalogue_entries();
  ASSERT_EQ(events.size(), entries.size());
  size_t refusals = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const vx_test::Sample sample =
        vx_test::make_sample(vx_test::payload_type(entries[i].type), vx_test::distinct_values);
    for (size_t length = 1; length <= sample.payload.size(); ++length) {
      const std::vector<uint8_t> payload(sample.payload.begin(), sample.payload.begin() + length);
      const size_t requests = allocations_of_clean_decode(*events[i], payload);
      for (size_t refused = 1; refused <= requests; ++refused) {
        SCOPED_TRACE(std::string(events[i]->name) + " length " + std::to_string(length) +
                     " refused request " + std::to_string(refused));
        CountingAllocator allocator;
        allocator.refuse_nth_alloc(refused);
        EXPECT_EQ(vx_test::decode_bytes(events[i]->decode, payload, allocator), nullptr);
        expect_only_frees_after_refusal(allocator, refused);
        ++refusals;
      }
    }
  }
  EXPECT_GT(refusals, events.size());
}

// ---------------------------------------------------------------------------
// Iterators under heap failure

struct Iterator {
  explicit Iterator(vx_test::MemoryReader *reader) {
    const vx_buffer_reader callbacks = reader->callbacks();
    vx_buffer_iterator_create(&callbacks, &ops);
  }
  ~Iterator() { ops.destroy(ops.iterator); }
  vx_buffer_iterator *object() { return static_cast<vx_buffer_iterator *>(ops.iterator); }
  const vx_event_descriptor *find(const char *name) { return ops.find_event(ops.iterator, name); }
  bool advance() { return ops.advance(ops.iterator); }

  vx_iterator_ops ops{};
};

std::vector<std::string> messages_of(const vx_test::LogCapture &log) {
  std::vector<std::string> messages;
  for (const vx_test::CapturedLog &record : log.records) messages.push_back(record.message);
  return messages;
}

unsigned long heap_requests_of_registration() {
  vx_test::MemoryReader reader;
  Iterator iterator(&reader);
  vx::heap_reset_count();
  vexlo_register_events(iterator.ops.iterator, "buffer");
  return vx::heap_request_count();
}

// The whole catalogue registered with one heap request failing, for each
// request in turn: exactly the descriptor whose insert failed is missing and
// logged; every other one, before and after it, is found. Registering again
// completes the index, and destroy frees it all even without work space.
TEST(RegistrationUnderHeapFailure, EveryRequestOfTheWholeCatalogue) {
  const std::vector<const vx_event_descriptor *> events = catalogue();
  const unsigned long requests = heap_requests_of_registration();
  ASSERT_GE(requests, events.size());
  for (unsigned long failing = 1; failing <= requests; ++failing) {
    SCOPED_TRACE("failing request " + std::to_string(failing));
    vx_test::LogCapture log;  // before the iterator, which keeps the logger it finds
    vx_test::MemoryReader reader;
    Iterator iterator(&reader);
    vx::heap_fail_nth(failing);
    vexlo_register_events(iterator.ops.iterator, "buffer");
    vx::heap_fail_nth(0);

    std::vector<const char *> missing;
    for (const vx_event_descriptor *event : events) {
      const vx_event_descriptor *found = iterator.find(event->name);
      if (found == nullptr) {
        missing.push_back(event->name);
      } else {
        EXPECT_EQ(found, event) << event->name;
      }
    }
    ASSERT_EQ(missing.size(), 1u);
    const std::string expected =
        std::string("out of memory registering event '") + missing[0] + "'";
    EXPECT_EQ(messages_of(log), std::vector<std::string>{expected});

    vexlo_register_events(iterator.ops.iterator, "buffer");
    for (const vx_event_descriptor *event : events) EXPECT_EQ(iterator.find(event->name), event);
    vx::heap_fail_nth(1);  // the tree's free loses its work space
  }
  vx::heap_fail_nth(0);
}

// Definitions whose ids make both tables grow, one heap request failing
// during the advance that reads them: the definition that met the failure
// binds nothing (its data is an unknown id) while every other binding,
// earlier or later, holds; a later definition of the same id binds it.
TEST(AdvanceUnderHeapFailure, FailedTableGrowthSkipsOnlyThatBinding) {
  const char *const names[] = {"/velocast/audio_flush", "/velocast/video_decoder_seek",
                               "/velocast/media_channel_play", "/velocast/media_video_sink_seek"};
  const uint32_t ids[] = {3, 100, 300, 5000};  // 3 fits, each later one grows both tables
  constexpr unsigned long kGrowthRequests = 6;
  for (unsigned long failing = 1; failing <= kGrowthRequests; ++failing) {
    SCOPED_TRACE("failing request " + std::to_string(failing));
    const size_t failed = static_cast<size_t>((failing + 1) / 2);  // index into ids
    vx_test::MemoryReader reader;
    for (size_t i = 0; i < 4; ++i) reader.define(ids[i], names[i]);
    for (size_t i = 0; i < 4; ++i) reader.data(ids[i], i + 1, {1});
    reader.define(ids[failed], names[failed]).data(ids[failed], 9, {1});
    vx_test::LogCapture log;
    Iterator iterator(&reader);
    vexlo_register_events(iterator.ops.iterator, "buffer");

    vx::heap_reset_count();
    vx::heap_fail_nth(failing);
    ASSERT_TRUE(iterator.advance());
    vx::heap_fail_nth(0);
    EXPECT_EQ(vx::heap_request_count(), kGrowthRequests - (failing % 2 == 1 ? 1 : 0));
    for (size_t i = 0; i < 4; ++i) {
      if (i != 0) {
        ASSERT_TRUE(iterator.advance());
      }
      const char *name = iterator.ops.current_name(iterator.ops.iterator);
      if (i == failed) {
        EXPECT_EQ(name, nullptr);
        EXPECT_EQ(iterator.ops.current_event(iterator.ops.iterator), nullptr);
      } else {
        EXPECT_STREQ(name, names[i]);
        EXPECT_EQ(iterator.ops.current_event(iterator.ops.iterator), iterator.find(names[i]));
      }
    }
    ASSERT_TRUE(iterator.advance());
    EXPECT_STREQ(iterator.ops.current_name(iterator.ops.iterator), names[failed]);
    EXPECT_NE(iterator.ops.current_event(iterator.ops.iterator), nullptr);
    // The out-of-memory line and the unknown id; the skipped binding was never
    // stored, so the later definition is no redefinition.
    EXPECT_EQ(messages_of(log),
              (std::vector<std::string>{
                  "out of memory binding event id " + std::to_string(ids[failed]) + " for the '" +
                      names[failed] + "' event",
                  "got data for an event with an unknown id: " + std::to_string(ids[failed])}));
  }
}

// After a partial growth (the names table grew, the events table could not),
// the tables differ in size. A definition that then fits the names table but
// not the events table must bind nothing at all rather than a name without its
// descriptor, and the ids bound before keep their bindings.
TEST(AdvanceUnderHeapFailure, TablesOfDifferentSizesNeverHalfBindAnId) {
  vx_test::MemoryReader reader;
  reader.define(100, "/velocast/audio_flush").data(100, 1, {1});
  reader.define(300, "/velocast/audio_volume_changed").data(300, 2, {1});
  reader.define(200, "/velocast/media_channel_play").data(200, 3, {1});
  reader.data(100, 4, {1});
  reader.define(200, "/velocast/media_channel_play").data(200, 5, {1});
  vx_test::LogCapture log;
  Iterator iterator(&reader);
  vexlo_register_events(iterator.ops.iterator, "buffer");
  auto current_name = [&] { return iterator.ops.current_name(iterator.ops.iterator); };
  auto current_event = [&] { return iterator.ops.current_event(iterator.ops.iterator); };
  ASSERT_TRUE(iterator.advance());  // both tables hold 128 ids now

  vx::heap_fail_nth(2);  // the names table grows to 301, the events table cannot grow
  ASSERT_TRUE(iterator.advance());
  EXPECT_EQ(current_name(), nullptr);
  EXPECT_EQ(iterator.object()->names_by_id.capacity, 301u);
  EXPECT_EQ(iterator.object()->events_by_id.capacity, 128u);

  vx::heap_fail_nth(1);  // id 200 has a names slot already, but no events slot
  ASSERT_TRUE(iterator.advance());
  vx::heap_fail_nth(0);
  EXPECT_EQ(current_name(), nullptr);
  EXPECT_EQ(current_event(), nullptr);

  ASSERT_TRUE(iterator.advance());
  EXPECT_STREQ(current_name(), "/velocast/audio_flush");
  EXPECT_EQ(current_event(), iterator.find("/velocast/audio_flush"));
  ASSERT_TRUE(iterator.advance());
  EXPECT_STREQ(current_name(), "/velocast/media_channel_play");
  EXPECT_EQ(current_event(), iterator.find("/velocast/media_channel_play"));
  EXPECT_EQ(log.records.size(), 4u);  // two failed bindings and their unknown ids
}

}  // namespace
