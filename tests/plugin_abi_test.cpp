// Drives the built shared library the way a consumer does: only through the
// symbols it exports, looked up by name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/loaded_library.hpp"
#include "support/memory_reader.hpp"
#include "vexlo/buffer_iterator.h"
#include "vexlo/log.h"

namespace {

using vx_test::LoadedLibrary;

struct Lines {
  std::vector<std::string> messages;
  static void log(void *self, const vx_log_record *record) {
    static_cast<Lines *>(self)->messages.push_back(
        std::string(record->function) + ":" + std::to_string(record->line) + ":" + record->message);
  }
};

TEST(PluginAbi, IteratorThroughExportedSymbolsOnly) {
  LoadedLibrary plugin;
  ASSERT_TRUE(plugin.loaded()) << LoadedLibrary::load_error();
  auto create = plugin.symbol<void (*)(const vx_buffer_reader *, vx_iterator_ops *)>(
      "vx_buffer_iterator_create");
  auto register_event = plugin.symbol<void (*)(vx_buffer_iterator *, const vx_event_descriptor *)>(
      "vx_buffer_iterator_register_event");
  auto raw_data = plugin.symbol<void (*)(vx_buffer_iterator *, const void **, size_t *)>(
      "vx_buffer_iterator_get_raw_data");
  auto set_logger = plugin.symbol<vx_logger *(*)(vx_logger *)>("vx_set_logger");
  ASSERT_TRUE(create && register_event && raw_data && set_logger);

  Lines lines;
  vx_logger logger{&lines, &Lines::log, nullptr};
  vx_logger *previous = set_logger(&logger);

  static const char kName[] = "/velocast/audio_flush";
  static const vx_event_descriptor descriptor{kName, nullptr, nullptr, nullptr};
  vx_test::MemoryReader reader;
  reader.define(5, kName).data(5, 1200, {1, 2}).data(6, 1300);
  vx_buffer_reader callbacks = reader.callbacks();
  vx_iterator_ops ops{};
  create(&callbacks, &ops);
  ASSERT_NE(ops.iterator, nullptr);
  auto *iterator = static_cast<vx_buffer_iterator *>(ops.iterator);
  register_event(iterator, &descriptor);
  register_event(iterator, &descriptor);

  ASSERT_TRUE(ops.advance(iterator));
  EXPECT_EQ(ops.current_event(iterator), &descriptor);
  EXPECT_EQ(ops.current_name(iterator), kName);
  const void *payload = nullptr;
  size_t size = 0;
  raw_data(iterator, &payload, &size);
  EXPECT_EQ(size, 2u);
  ASSERT_TRUE(ops.advance(iterator));
  EXPECT_EQ(ops.current_name(iterator), nullptr);
  EXPECT_EQ(ops.current_timestamp(iterator), 1300u);
  EXPECT_FALSE(ops.advance(iterator));
  ops.destroy(iterator);
  set_logger(previous);

  EXPECT_EQ(reader.close_calls, 1);
  ASSERT_EQ(lines.messages.size(), 2u);
  EXPECT_EQ(lines.messages[0].rfind("vx_buffer_iterator_register_event:70:attempting", 0), 0u);
  EXPECT_EQ(lines.messages[1], "buffer_advance:129:got data for an event with an unknown id: 6");
}

}  // namespace
