// The one payload type that owns a second block: the url of
// load_media_payload, with the exact order of its allocator calls.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "events/payload_functions.hpp"
#include "support/payload_schema.hpp"
#include "support/recording.hpp"

namespace {

using vx_test::AllocatorEvent;
using vx_test::CountingAllocator;
using vx_test::PayloadBuilder;
using vx_test::RecordingPrinter;

void *decode(const std::vector<uint8_t> &payload, const CountingAllocator &allocator) {
  return vx_test::decode_bytes(decode_load_media_payload, payload, allocator);
}

void expect_alloc(const AllocatorEvent &event, size_t size) {
  EXPECT_TRUE(event.is_alloc);
  EXPECT_EQ(event.size, size);
}

void expect_free(const AllocatorEvent &event, const AllocatorEvent &of) {
  EXPECT_FALSE(event.is_alloc);
  EXPECT_EQ(event.block, of.block);
}

TEST(LoadMediaUrl, FiveBytesRequestNoUrlBuffer) {
  CountingAllocator allocator;
  EXPECT_EQ(decode(PayloadBuilder().u32(2).u8(3).bytes, allocator), nullptr);
  ASSERT_EQ(allocator.events.size(), 2u);
  expect_alloc(allocator.events[0], sizeof(load_media_payload));
  expect_free(allocator.events[1], allocator.events[0]);
}

TEST(LoadMediaUrl, EmptyUrlStillRequestsItsBuffer) {
  CountingAllocator allocator;
  void *record = decode(PayloadBuilder().u32(2).u16(0).bytes, allocator);
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(allocator.events.size(), 2u);
  expect_alloc(allocator.events[1], 0);
  EXPECT_EQ(static_cast<load_media_payload *>(record)->url.data, allocator.events[1].block);

  release_load_media_payload(record, allocator.allocator());
  ASSERT_EQ(allocator.events.size(), 4u);
  expect_free(allocator.events[2], allocator.events[1]);
  expect_free(allocator.events[3], allocator.events[0]);
}

TEST(LoadMediaUrl, RefusedEmptyUrlBufferFailsTheDecode) {
  CountingAllocator allocator;
  allocator.refuse_nth_alloc(2);
  EXPECT_EQ(decode(PayloadBuilder().u32(2).u16(0).bytes, allocator), nullptr);
  ASSERT_EQ(allocator.events.size(), 3u);
  expect_alloc(allocator.events[1], 0);
  EXPECT_EQ(allocator.events[1].block, nullptr);
  expect_free(allocator.events[2], allocator.events[0]);
  EXPECT_TRUE(allocator.all_freed_once());
}

TEST(LoadMediaUrl, UrlOneByteShortFreesUrlBufferThenRecord) {
  CountingAllocator allocator;
  EXPECT_EQ(decode(PayloadBuilder().u32(2).u16(4).raw({1, 2, 3}).bytes, allocator), nullptr);
  ASSERT_EQ(allocator.events.size(), 4u);
  expect_alloc(allocator.events[0], sizeof(load_media_payload));
  expect_alloc(allocator.events[1], 4);
  expect_free(allocator.events[2], allocator.events[1]);
  expect_free(allocator.events[3], allocator.events[0]);
}

TEST(LoadMediaUrl, LongestUrlDecodesEveryByte) {
  std::vector<uint8_t> url(65535);
  for (size_t i = 0; i < url.size(); ++i) url[i] = static_cast<uint8_t>(i * 7);
  CountingAllocator allocator;
  void *record = decode(PayloadBuilder().u32(9).u16(65535).raw(url).bytes, allocator);
  ASSERT_NE(record, nullptr);
  RecordingPrinter printer;
  print_load_media_payload(record, printer.printer());
  release_load_media_payload(record, allocator.allocator());
  EXPECT_TRUE(allocator.all_freed_once());

  const nlohmann::json json = nlohmann::json::parse(printer.text);
  EXPECT_EQ(json["url"]["size"], 65535);
  EXPECT_EQ(json["url"]["data"].get<std::vector<uint8_t>>(), url);
}

TEST(LoadMediaUrl, ReleaseWithoutUrlBufferFreesTheRecordOnly) {
  CountingAllocator allocator;
  void *block =
      allocator.allocator()->alloc(allocator.allocator()->user_data, sizeof(load_media_payload));
  *static_cast<load_media_payload *>(block) = load_media_payload{5, {0, nullptr}};
  release_load_media_payload(block, allocator.allocator());
  ASSERT_EQ(allocator.events.size(), 2u);
  expect_free(allocator.events[1], allocator.events[0]);
}

}  // namespace
