// The catalogue as a consumer meets it: the built shared library loaded as a
// consumer loads it, driven only through its exported symbols.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/loaded_library.hpp"
#include "support/memory_reader.hpp"
#include "support/recording.hpp"
#include "vexlo/buffer_iterator.h"

namespace {

using vx_test::LoadedLibrary;
using vx_test::PayloadBuilder;

TEST(CataloguePlugin, DecodesPrintsAndReleasesThroughExportedSymbols) {
  LoadedLibrary plugin;
  ASSERT_TRUE(plugin.loaded()) << LoadedLibrary::load_error();
  auto create = plugin.symbol<void (*)(const vx_buffer_reader *, vx_iterator_ops *)>(
      "vx_buffer_iterator_create");
  auto register_events = plugin.symbol<void (*)(void *, const char *)>("vexlo_register_events");
  ASSERT_NE(create, nullptr);
  ASSERT_NE(register_events, nullptr);

  vx_test::MemoryReader reader;
  reader.define(1, "/velocast/media_channel_load_media")
      .define(2, "/velocast/video_decoder_seek")
      .data(1, 10, PayloadBuilder().u32(2).u16(3).raw({97, 98, 99}).bytes)
      .data(2, 20, PayloadBuilder().u32(7).i64(250).bytes)
      .define(3, "/velocast/media_audio_queue_push_packet")
      .data(3, 30, std::vector<uint8_t>(93, 0xFF))
      .data(2, 40, {1, 2});  // too short: no record
  const vx_buffer_reader callbacks = reader.callbacks();
  vx_iterator_ops ops{};
  create(&callbacks, &ops);
  ASSERT_NE(ops.iterator, nullptr);
  register_events(ops.iterator, ops.kind_name(ops.iterator));

  vx_test::CountingAllocator allocator;
  std::vector<std::string> objects;
  size_t events = 0;
  while (ops.advance(ops.iterator)) {
    ++events;
    const vx_event_descriptor *event = ops.current_event(ops.iterator);
    ASSERT_NE(event, nullptr);
    EXPECT_STREQ(event->name, ops.current_name(ops.iterator));
    void *record =
        event->decode(static_cast<vx_buffer_iterator *>(ops.iterator), allocator.allocator());
    if (record == nullptr) continue;
    vx_test::RecordingPrinter printer;
    event->print(record, printer.printer());
    event->release(record, allocator.allocator());
    objects.push_back(printer.text);
  }
  ops.destroy(ops.iterator);

  EXPECT_EQ(events, 4u);
  EXPECT_EQ(reader.close_calls, 1);
  EXPECT_TRUE(allocator.all_freed_once());
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0], R"({"session_id": 2, "url": {"size": 3, "data": [97, 98, 99]}})");
  EXPECT_EQ(objects[1], R"({"session_id": 7, "time": 250})");
  const nlohmann::json push = nlohmann::json::parse(objects[2]);
  EXPECT_EQ(push["update_index"], 18446744073709551615ull);
  EXPECT_EQ(push["packet"]["id"], -1);
  EXPECT_EQ(push["packet_consumed"], 255);
}

}  // namespace
