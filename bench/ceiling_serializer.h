// The ceiling that dump is measured against: a serializer written directly
// for the receiver's events, without the plug-in and without callbacks. It
// reads the trace file's bytes, decodes each payload straight from them
// (the layouts come from the same payload descriptions as the plug-in's) and
// writes the same JSON lines as vxtrace dump with std::to_chars.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/text_buffer.h"

namespace vxbench {

class CeilingSerializer {
 public:
  CeilingSerializer();

  // Writes the lines of every data record of the trace file in bytes into
  // out; flush is called with out whenever it holds at least flush_size
  // bytes, and may empty it. Returns the number of data records.
  template <typename Flush>
  uint64_t serialize(const uint8_t *bytes, size_t size, vxtrace::TextBuffer *out, size_t flush_size,
                     Flush flush) {
    uint64_t events = 0;
    begin(bytes, size);
    while (next_line(out, &events))
      if (out->size() >= flush_size) flush(out);
    return events;
  }

 private:
  using PayloadWriter = bool (*)(const uint8_t **position, const uint8_t *end, char **out);
  struct Binding {
    std::string quoted_name;  // empty: never defined
    PayloadWriter writer = nullptr;
  };

  void begin(const uint8_t *bytes, size_t size);
  bool next_line(vxtrace::TextBuffer *out, uint64_t *events);
  void define(uint32_t id, const char *name);
  void write_event(vxtrace::TextBuffer *out, uint32_t id, uint64_t timestamp,
                   const uint8_t *payload, uint32_t payload_size);

  const uint8_t *position_ = nullptr;
  const uint8_t *end_ = nullptr;
  std::vector<Binding> bindings_;
};

}  // namespace vxbench
