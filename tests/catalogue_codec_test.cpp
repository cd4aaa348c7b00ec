// The cursor rule and the reads built on it.
#include <gtest/gtest.h>

#include <cstring>

#include "events/codec.hpp"
#include "events/payload_functions.hpp"
#include "support/recording.hpp"

namespace {

TEST(PayloadCursor, FieldEndingExactlyAtTheEndFits) {
  const uint8_t payload[4] = {1, 2, 3, 4};
  vx_payload_cursor cursor = vx_cursor_over(payload, sizeof payload);
  uint8_t copy[4] = {};
  EXPECT_TRUE(vx_cursor_read_bytes(&cursor, copy, 4));
  EXPECT_EQ(std::memcmp(copy, payload, 4), 0);
  EXPECT_EQ(cursor.position, cursor.end);
}

TEST(PayloadCursor, FieldPastTheEndCopiesNothingAndSpendsTheCursor) {
  const uint8_t payload[3] = {1, 2, 3};
  vx_payload_cursor cursor = vx_cursor_over(payload, sizeof payload);
  uint8_t first = 0;
  ASSERT_TRUE(vx_cursor_read_bytes(&cursor, &first, 1));
  uint8_t copy[4] = {9, 9, 9, 9};
  EXPECT_FALSE(vx_cursor_read_bytes(&cursor, copy, 4));
  EXPECT_EQ(copy[0], 9);
  EXPECT_EQ(cursor.position, cursor.end);
  // Two bytes were left before the failure; the spent cursor gives none.
  EXPECT_FALSE(vx_cursor_read_bytes(&cursor, copy, 1));
}

TEST(PayloadCursor, HugeWidthFailsWithoutWrapping) {
  const uint8_t payload[8] = {};
  vx_payload_cursor cursor = vx_cursor_over(payload, sizeof payload);
  uint8_t copy = 0;
  EXPECT_FALSE(vx_cursor_read_bytes(&cursor, &copy, SIZE_MAX));
}

TEST(PayloadCursor, ScalarsAreLittleEndianTwosComplement) {
  const uint8_t payload[] = {0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF, 0x00, 0x00, 0x00, 0x3F};
  vx_payload_cursor cursor = vx_cursor_over(payload, sizeof payload);
  uint32_t u32 = 0;
  int16_t i16 = 0;
  float f32 = 0;
  EXPECT_TRUE(vx_cursor_read_u32(&cursor, &u32));
  EXPECT_TRUE(vx_cursor_read_i16(&cursor, &i16));
  EXPECT_TRUE(vx_cursor_read_f32(&cursor, &f32));
  EXPECT_EQ(u32, 0x04030201u);
  EXPECT_EQ(i16, -2);
  EXPECT_EQ(f32, 0.5f);
}

// A read stops at the first field that does not fit: what was read stays,
// the rest of the record is zero.
TEST(RecordRead, StopsInsideTheNestedRecord) {
  vx_test::PayloadBuilder payload;
  payload.u32(3).u64(4).u32(5).i64(6).u16(7).u16(8).u16(9);  // 30 bytes
  vx_payload_cursor cursor = vx_cursor_over(payload.bytes.data(), payload.bytes.size());
  video_frame_payload frame;
  std::memset(&frame, 0xA5, sizeof frame);
  vx_test::CountingAllocator allocator;
  EXPECT_FALSE(read_video_frame_payload(&cursor, allocator.allocator(), &frame));
  EXPECT_EQ(frame.timestamp, 6);
  EXPECT_EQ(frame.geometry.image_width, 9);
  EXPECT_EQ(frame.geometry.image_height, 0);
  EXPECT_EQ(frame.cursor_x, 0.0f);
  EXPECT_EQ(frame.cursor_enabled, 0);
  EXPECT_TRUE(allocator.events.empty());
}

TEST(RecordRead, LeavesTheCursorBehindTheRecord) {
  vx_test::PayloadBuilder payload;
  payload.u32(1).i64(2).i64(3).i64(4).u32(5).u8(0xEE);
  vx_payload_cursor cursor = vx_cursor_over(payload.bytes.data(), payload.bytes.size());
  audio_packet_payload packet;
  vx_test::CountingAllocator allocator;
  ASSERT_TRUE(read_audio_packet_payload(&cursor, allocator.allocator(), &packet));
  EXPECT_EQ(cursor.position, payload.bytes.data() + 32);
  EXPECT_EQ(packet.data_size, 5u);
}

}  // namespace
