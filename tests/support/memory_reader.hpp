// An in-memory trace buffer behind the reader callbacks, for driving an
// iterator in tests without a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexlo/buffer_iterator.h"

namespace vx_test {

struct MemoryRecord {
  bool is_definition = false;
  uint32_t id = 0;
  const char *name = nullptr;  // definitions: held by pointer, must outlive the iterator
  uint64_t timestamp = 0;
  std::vector<uint8_t> payload;  // data records
};

class MemoryReader {
 public:
  MemoryReader &define(uint32_t id, const char *name);
  MemoryReader &data(uint32_t id, uint64_t timestamp, std::vector<uint8_t> payload = {});

  // The callbacks over this buffer; the reader must outlive the iterator.
  vx_buffer_reader callbacks();

  int close_calls = 0;
  // Called from close, before the iterator frees anything.
  void (*on_close)(MemoryReader *) = nullptr;
  void *close_context = nullptr;

 private:
  static bool has_more(void *self);
  static bool read_definition(void *self, vx_event_definition *out);
  static bool read_event(void *self, vx_event_data *out);
  static void close(void *self);

  std::vector<MemoryRecord> records_;
  size_t next_ = 0;
};

}  // namespace vx_test
