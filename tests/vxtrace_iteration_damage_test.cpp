// The trace file reader driving the plug-in's own iterator in-process, the way
// vxtrace does, over a generated trace cut at every byte and corrupted at
// random: every complete record reaches the consumer, damage ends the walk.
#ifdef VX_VXTRACE_PATH

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vexlo.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

struct PluginFunctions {
  decltype(&vx_buffer_iterator_create) create = nullptr;
  decltype(&vexlo_register_events) register_events = nullptr;
  decltype(&vx_set_logger) set_logger = nullptr;
};

void drop_log(void *, const vx_log_record *) {}
vx_logger silent_logger{nullptr, drop_log, nullptr};

const PluginFunctions &plugin() {
  static const PluginFunctions functions = [] {
    PluginFunctions loaded;
    void *handle = dlopen(VX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return loaded;
    loaded.create =
        reinterpret_cast<decltype(loaded.create)>(dlsym(handle, "vx_buffer_iterator_create"));
    loaded.register_events =
        reinterpret_cast<decltype(loaded.register_events)>(dlsym(handle, "vexlo_register_events"));
    loaded.set_logger =
        reinterpret_cast<decltype(loaded.set_logger)>(dlsym(handle, "vx_set_logger"));
    if (loaded.set_logger != nullptr) loaded.set_logger(&silent_logger);
    return loaded;
  }();
  return functions;
}

void *heap_alloc(void *, size_t size) {
  return std::malloc(size);
}
void heap_free(void *, void *block) {
  std::free(block);
}

int append_piece(void *user_data, const char *format, ...) {
  char piece[128];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  static_cast<std::string *>(user_data)->append(piece, std::min<size_t>(length, sizeof piece - 1));
  return 0;
}

struct Walk {
  size_t events = 0;
  size_t decoded = 0;
  vxt_error error{};
};

// Create, register, advance / decode / print / release, destroy.
Walk walk(const std::string &bytes) {
  Walk result;
  vxt_reader *reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", &result.error);
  if (reader == nullptr) return result;
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader, &callbacks);
  vx_iterator_ops ops{};
  plugin().create(&callbacks, &ops);
  plugin().register_events(ops.iterator, ops.kind_name(ops.iterator));
  const vx_allocator allocator{nullptr, heap_alloc, heap_free};
  std::string text;
  const vx_printer printer{&text, append_piece};
  while (ops.advance(ops.iterator)) {
    ++result.events;
    const vx_event_descriptor *descriptor = ops.current_event(ops.iterator);
    if (descriptor == nullptr) continue;
    void *record = descriptor->decode(static_cast<vx_buffer_iterator *>(ops.iterator), &allocator);
    if (record == nullptr) continue;
    ++result.decoded;
    text.clear();
    descriptor->print(record, &printer);
    descriptor->release(record, &allocator);
  }
  result.error = *vxt_reader_error(reader);
  ops.destroy(ops.iterator);
  vxt_reader_close(reader);
  return result;
}

class VxtraceIterationDamageTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(plugin().create, nullptr) << "cannot load " << VX_PLUGIN_PATH;
    ASSERT_NE(plugin().register_events, nullptr);
    // Short enough to cut at every byte, long enough to hold every payload type.
    const std::string path = directory_.file("trace.vxt");
    ASSERT_EQ(
        run_vxtrace({"generate", "-o", path, "--events", "100", "--seed", "4"}, directory_.path())
            .exit_status,
        0);
    bytes_ = read_file(path);
    offsets_ = record_offsets(bytes_);
  }

  // Data records that end at or before cut.
  size_t complete_events(size_t cut) const {
    size_t events = 0;
    for (size_t i = 0; i + 1 < offsets_.size() && offsets_[i + 1] <= cut; ++i)
      events += static_cast<uint8_t>(bytes_[offsets_[i]]) == VXT_TAG_EVENT;
    return events;
  }

  TemporaryDirectory directory_;
  std::string bytes_;
  std::vector<uint64_t> offsets_;
};

TEST_F(VxtraceIterationDamageTest, WholeTraceDecodesCompletely) {
  const Walk result = walk(bytes_);
  EXPECT_EQ(result.events, 100u);
  EXPECT_EQ(result.decoded, 100u);
  EXPECT_EQ(result.error.status, VXT_OK);
}

TEST_F(VxtraceIterationDamageTest, EveryTruncationDeliversTheCompleteRecords) {
  for (size_t cut = VXT_HEADER_SIZE; cut < bytes_.size(); ++cut) {
    const Walk result = walk(bytes_.substr(0, cut));
    ASSERT_EQ(result.events, complete_events(cut)) << "cut at " << cut;
    const bool on_boundary = std::find(offsets_.begin(), offsets_.end(), cut) != offsets_.end();
    ASSERT_EQ(result.error.status, on_boundary ? VXT_OK : VXT_DAMAGED) << "cut at " << cut;
  }
}

TEST_F(VxtraceIterationDamageTest, RandomCorruptionNeverHurtsTheConsumer) {
  std::mt19937_64 random(777);
  for (int round = 0; round < 400; ++round) {
    std::string bytes = bytes_;
    for (int flip = 0; flip < 3; ++flip)
      bytes[VXT_HEADER_SIZE + random() % (bytes.size() - VXT_HEADER_SIZE)] =
          static_cast<char>(random());
    const Walk result = walk(bytes);
    // Each event took at least a record header of the input.
    EXPECT_LE(result.events, bytes.size() / VXT_EVENT_RECORD_HEADER_SIZE) << "round " << round;
    if (result.error.status != VXT_OK) {
      EXPECT_LT(result.error.offset, bytes.size()) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif
