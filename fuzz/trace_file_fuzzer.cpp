// Arbitrary bytes as a vxtrace file, read through the buffer iterator with
// the catalogue registered: every event with a descriptor is decoded, printed
// and released. The bytes are read from memory (an exactly sized copy, so the
// address sanitizer sees any read past the end), from a regular file and
// from a pipe; the three must deliver the same records and end the same way.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "events/catalogue.hpp"
#include "fuzz/fuzz_support.hpp"
#include "support/recording.hpp"
#include "vexlo/buffer_iterator.h"
#include "vexlo/vxtrace_file.h"

namespace {

// Inputs up to this size can go through a pipe, which holds them whole.
constexpr size_t kLargestPipedInput = 60000;

// The streamed reader takes a megabyte buffer per input, which would make it
// most of the run's cost; one input in eight, picked by its bytes so that a
// crash reproduces, goes through it.
bool goes_through_pipe(const uint8_t *data, size_t size) {
  if (size > kLargestPipedInput) return false;
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash % 8 == 0;
}

// What a consumer sees of one trace, in order.
struct Transcript {
  std::string events;  // name, timestamp, payload bytes and rendering per event
  vxt_status status = VXT_OK;
  uint64_t end_offset = 0;
  uint64_t definitions = 0;

  bool operator==(const Transcript &) const = default;
};

std::string rendering_of(const vx_iterator_ops &ops) {
  const vx_event_descriptor *descriptor = ops.current_event(ops.iterator);
  if (descriptor == nullptr) return "-";
  vx_test::CountingAllocator allocator;
  void *record =
      descriptor->decode(static_cast<vx_buffer_iterator *>(ops.iterator), allocator.allocator());
  std::string text = "null";
  if (record != nullptr) {
    vx_test::RecordingPrinter printer;
    descriptor->print(record, printer.printer());
    text = vx_fuzz::json_text_of(printer);
    VX_FUZZ_CHECK(vx_fuzz::is_json_object(text));
  }
  descriptor->release(record, allocator.allocator());
  VX_FUZZ_CHECK(allocator.all_freed_once());
  return text;
}

void append_current_event(const vx_iterator_ops &ops, std::string *events) {
  const char *name = ops.current_name(ops.iterator);
  const void *payload = nullptr;
  size_t size = 0;
  vx_buffer_iterator_get_raw_data(static_cast<vx_buffer_iterator *>(ops.iterator), &payload, &size);
  *events += name != nullptr ? name : "(unknown)";
  *events += ' ' + std::to_string(ops.current_timestamp(ops.iterator)) + ' ';
  if (size != 0) events->append(static_cast<const char *>(payload), size);
  *events += ' ' + rendering_of(ops) + '\n';
}

// Walks the whole trace behind reader, then destroys the iterator (which
// closes the reader's input) and closes the reader.
Transcript walk(vxt_reader *reader) {
  Transcript transcript;
  vx_buffer_reader callbacks;
  vxt_reader_fill(reader, &callbacks);
  vx_iterator_ops ops{};
  vx_buffer_iterator_create(&callbacks, &ops);
  VX_FUZZ_CHECK(ops.iterator != nullptr);
  vexlo_register_events(ops.iterator, ops.kind_name(ops.iterator));
  while (ops.advance(ops.iterator)) append_current_event(ops, &transcript.events);
  ops.destroy(ops.iterator);
  // The reader stays readable after its input was closed.
  transcript.status = vxt_reader_error(reader)->status;
  transcript.end_offset = vxt_reader_offset(reader);
  transcript.definitions = vxt_reader_definition_count(reader);
  vxt_reader_close(reader);
  return transcript;
}

// Opens the input; a refused header is a transcript of its own.
Transcript walk_or_refusal(vxt_reader *reader, const vxt_error &error) {
  if (reader != nullptr) return walk(reader);
  VX_FUZZ_CHECK(error.status != VXT_OK);
  Transcript refused;
  refused.status = error.status;
  return refused;
}

Transcript from_memory(const uint8_t *data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(size != 0 ? new uint8_t[size] : nullptr);
  if (size != 0) std::memcpy(copy.get(), data, size);
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_memory(copy.get(), size, "fuzz input", &error);
  return walk_or_refusal(reader, error);
}

bool write_all(int fd, const uint8_t *data, size_t size) {
  while (size != 0) {
    const ssize_t written = write(fd, data, size);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// A file that exists only in memory: regular, so the reader reads it in
// windows.
Transcript from_regular_file(const uint8_t *data, size_t size) {
  const int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
  VX_FUZZ_CHECK(fd >= 0);
  VX_FUZZ_CHECK(write_all(fd, data, size));
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_fd(fd, "fuzz input", &error);
  Transcript transcript = walk_or_refusal(reader, error);
  close(fd);
  return transcript;
}

Transcript from_pipe(const uint8_t *data, size_t size) {
  int ends[2];
  VX_FUZZ_CHECK(pipe(ends) == 0);
  VX_FUZZ_CHECK(write_all(ends[1], data, size));
  close(ends[1]);
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_fd(ends[0], "fuzz input", &error);
  Transcript transcript = walk_or_refusal(reader, error);
  close(ends[0]);
  return transcript;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vx_fuzz::install_quiet_logger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const Transcript in_memory = from_memory(data, size);
  // An empty regular file is streamed rather than read in windows; the pipe
  // covers it.
  if (size != 0) VX_FUZZ_CHECK(from_regular_file(data, size) == in_memory);
  if (goes_through_pipe(data, size)) VX_FUZZ_CHECK(from_pipe(data, size) == in_memory);
  return 0;
}
