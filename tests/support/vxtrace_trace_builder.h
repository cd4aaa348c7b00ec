// Small traces for the vxtrace tests, written with the trace file writer,
// and a driver that walks a reader by the iterator's calling order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {

// The bytes of a trace written by write (header included).
std::string build_trace(const std::function<void(vxt_writer *)> &write);

struct ReadRecord {
  bool definition = false;
  uint32_t id = 0;
  uint64_t timestamp = 0;
  std::string bytes;  // payload, or the definition's name
  bool operator==(const ReadRecord &) const = default;
};

struct ReadResult {
  std::vector<ReadRecord> records;
  vxt_error error{};
  bool opened = false;
  bool stalled = false;  // has_more said yes but nothing could be read
};

// Opens bytes from memory and reads every record the way a buffer iterator
// does: has_more, then read_event, then read_definition.
ReadResult read_all(const std::string &bytes);

// Same over an open reader, which is closed afterwards.
ReadResult read_all(vxt_reader *reader);

// The offsets at which each record of a well-formed trace starts, and its end.
std::vector<uint64_t> record_offsets(const std::string &bytes);

}  // namespace vxtrace_test
