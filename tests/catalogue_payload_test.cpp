// Every event payload type, driven from one table: exact rendering at the
// wire size, truncation, surplus bytes, missing payloads and refused
// allocations, with every allocator call checked.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/payload_schema.hpp"
#include "support/recording.hpp"

namespace {

using vx_test::AllocatorEvent;
using vx_test::CountingAllocator;
using vx_test::PayloadIterator;
using vx_test::PayloadType;
using vx_test::RecordingPrinter;
using vx_test::Sample;

std::vector<const PayloadType *> event_payload_types() {
  std::vector<const PayloadType *> types;
  for (const PayloadType &type : vx_test::payload_types()) {
    if (!type.nested) types.push_back(&type);
  }
  return types;
}

bool has_blob(const PayloadType &type) {
  for (const vx_test::Member &member : type.members) {
    if (member.kind == vx_test::Member::Kind::blob) return true;
  }
  return false;
}

std::string joined_text(const std::vector<vx_test::PrintCall> &calls) {
  std::string text;
  for (const vx_test::PrintCall &call : calls) text += call.text;
  return text;
}

void expect_same_calls(const std::vector<vx_test::PrintCall> &actual,
                       const std::vector<vx_test::PrintCall> &expected) {
  ASSERT_EQ(actual.size(), expected.size()) << joined_text(actual);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << "call " << i << ": " << vx_test::describe(actual[i])
                                      << " instead of " << vx_test::describe(expected[i]);
  }
}

// The allocator saw exactly: alloc(record) [alloc(url)], then the frees of
// every block in reverse order of allocation.
void expect_alloc_then_free_in_reverse(const CountingAllocator &allocator,
                                       const std::vector<size_t> &sizes) {
  ASSERT_EQ(allocator.events.size(), 2 * sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    const AllocatorEvent &alloc = allocator.events[i];
    const AllocatorEvent &free = allocator.events[allocator.events.size() - 1 - i];
    EXPECT_TRUE(alloc.is_alloc);
    EXPECT_EQ(alloc.size, sizes[i]);
    EXPECT_FALSE(free.is_alloc);
    EXPECT_EQ(free.block, alloc.block);
  }
  EXPECT_TRUE(allocator.all_freed_once());
}

class PayloadTypeTest : public ::testing::TestWithParam<const PayloadType *> {
 protected:
  const PayloadType &type() const { return *GetParam(); }
  // Record first, then the url buffer of the sample's three-byte url.
  std::vector<size_t> block_sizes() const {
    if (has_blob(type())) return {type().record_size, 3};
    return {type().record_size};
  }
};

TEST_P(PayloadTypeTest, RendersExtremeValuesAtExactWireSize) {
  const Sample sample = vx_test::make_sample(type(), vx_test::extreme_values);
  CountingAllocator allocator;
  void *record = vx_test::decode_bytes(type().decode, sample.payload, allocator);
  ASSERT_NE(record, nullptr);

  RecordingPrinter printer;
  type().print(record, printer.printer());
  expect_same_calls(printer.calls, sample.calls);
  EXPECT_EQ(printer.text, joined_text(sample.calls));
  EXPECT_EQ(allocator.free_count(), 0u);

  type().release(record, allocator.allocator());
  expect_alloc_then_free_in_reverse(allocator, block_sizes());
}

TEST_P(PayloadTypeTest, OneByteShortGivesNullAfterFreeingEveryBlock) {
  Sample sample = vx_test::make_sample(type(), vx_test::distinct_values);
  sample.payload.pop_back();
  CountingAllocator allocator;
  EXPECT_EQ(vx_test::decode_bytes(type().decode, sample.payload, allocator), nullptr);
  expect_alloc_then_free_in_reverse(allocator, block_sizes());
}

TEST_P(PayloadTypeTest, EveryShorterPayloadGivesNullAndLeaksNothing) {
  const Sample sample = vx_test::make_sample(type(), vx_test::distinct_values);
  for (size_t size = 1; size < sample.payload.size(); ++size) {
    const std::vector<uint8_t> prefix(sample.payload.begin(), sample.payload.begin() + size);
    CountingAllocator allocator;
    EXPECT_EQ(vx_test::decode_bytes(type().decode, prefix, allocator), nullptr) << size;
    EXPECT_TRUE(allocator.all_freed_once()) << size;
    EXPECT_GE(allocator.alloc_count(), 1u);
  }
}

TEST_P(PayloadTypeTest, SurplusBytesAreIgnored) {
  Sample sample = vx_test::make_sample(type(), vx_test::distinct_values);
  sample.payload.insert(sample.payload.end(), {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11});
  CountingAllocator allocator;
  void *record = vx_test::decode_bytes(type().decode, sample.payload, allocator);
  ASSERT_NE(record, nullptr);
  RecordingPrinter printer;
  type().print(record, printer.printer());
  expect_same_calls(printer.calls, sample.calls);
  type().release(record, allocator.allocator());
  EXPECT_TRUE(allocator.all_freed_once());
}

TEST_P(PayloadTypeTest, MissingPayloadCallsNoAllocator) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  PayloadIterator null_address(nullptr, 16);
  PayloadIterator empty(bytes, 0);
  CountingAllocator allocator;
  EXPECT_EQ(type().decode(null_address.iterator(), allocator.allocator()), nullptr);
  EXPECT_EQ(type().decode(empty.iterator(), allocator.allocator()), nullptr);
  EXPECT_TRUE(allocator.events.empty());
}

TEST_P(PayloadTypeTest, RefusedRecordGivesNullWithoutFurtherCalls) {
  const Sample sample = vx_test::make_sample(type(), vx_test::distinct_values);
  CountingAllocator allocator;
  allocator.refuse_nth_alloc(1);
  EXPECT_EQ(vx_test::decode_bytes(type().decode, sample.payload, allocator), nullptr);
  ASSERT_EQ(allocator.events.size(), 1u);
  EXPECT_TRUE(allocator.events[0].is_alloc);
  EXPECT_EQ(allocator.events[0].size, type().record_size);
}

TEST_P(PayloadTypeTest, ReleaseOfNullMakesNoCall) {
  CountingAllocator allocator;
  type().release(nullptr, allocator.allocator());
  EXPECT_TRUE(allocator.events.empty());
}

INSTANTIATE_TEST_SUITE_P(AllEventPayloads, PayloadTypeTest,
                         ::testing::ValuesIn(event_payload_types()),
                         [](const ::testing::TestParamInfo<const PayloadType *> &info) {
                           return std::string(info.param->name);
                         });

// The wire sizes as the payload tables give them, checked against the
// descriptions the code is generated from.
TEST(PayloadTypes, WireSizesMatchTheLayoutTables) {
  const std::map<std::string, size_t> wire_sizes = {
      {"session_payload", 4},
      {"network_session_payload", 16},
      {"playback_delay_payload", 12},
      {"audio_packet_payload", 32},
      {"audio_packet_received_payload", 40},
      {"audio_config_payload", 20},
      {"audio_flush_payload", 12},
      {"audio_volume_payload", 8},
      {"audio_queue_read_payload", 24},
      {"audio_sink_write_payload", 16},
      {"audio_sink_dropped_payload", 4},
      {"audio_sink_clock_drift_payload", 24},
      {"audio_sink_info_payload", 40},
      {"frame_geometry", 12},
      {"video_config_payload", 16},
      {"video_packet_payload", 24},
      {"video_packet_received_payload", 32},
      {"video_decoder_drop_payload", 20},
      {"video_decoder_update_begin_payload", 11},
      {"video_decoder_update_end_payload", 12},
      {"video_frame_payload", 45},
      {"video_frame_ref_payload", 12},
      {"cursor_frame_payload", 13},
      {"cursor_shape_payload", 10},
      {"load_media_payload", 6},  // plus the url
      {"muted_payload", 5},
      {"seek_payload", 12},
      {"buffer_fill_payload", 5},
      {"player_state_payload", 6},
      {"seekable_payload", 5},
      {"buffer_size_payload", 8},
      {"select_streams_payload", 8},
      {"probe_end_payload", 23},
      {"get_frame_end_payload", 37},
      {"push_silence_payload", 50},
      {"push_packet_payload", 93},
  };
  ASSERT_EQ(vx_test::payload_types().size(), wire_sizes.size());
  for (const PayloadType &type : vx_test::payload_types()) {
    const Sample sample = vx_test::make_sample(type, vx_test::distinct_values, {});
    ASSERT_TRUE(wire_sizes.contains(type.name)) << type.name;
    EXPECT_EQ(sample.payload.size(), wire_sizes.at(type.name)) << type.name;
  }
}

}  // namespace
