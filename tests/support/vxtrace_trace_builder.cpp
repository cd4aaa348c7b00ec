#include "support/vxtrace_trace_builder.h"

#ifdef VX_TRACE_FILE_LIBRARY_PATH

#include "support/temporary_files.h"

namespace vxtrace_test {

std::string build_trace(const std::function<void(vxt_writer *)> &write) {
  TemporaryDirectory directory;
  const std::string path = directory.file("trace.vxt");
  vxt_writer *writer = vxt_writer_open_path(path.c_str(), nullptr);
  write(writer);
  vxt_writer_close(writer, nullptr);
  return read_file(path);
}

ReadResult read_all(const std::string &bytes) {
  ReadResult result;
  vxt_reader *reader = vxt_reader_open_memory(bytes.data(), bytes.size(), "memory", &result.error);
  if (reader == nullptr) return result;
  return read_all(reader);
}

ReadResult read_all(vxt_reader *reader) {
  ReadResult result;
  result.opened = true;
  vx_buffer_reader callbacks{};
  vxt_reader_fill(reader, &callbacks);
  while (callbacks.has_more(callbacks.user_data)) {
    vx_event_data event{};
    vx_event_definition definition{};
    if (callbacks.read_event(callbacks.user_data, &event)) {
      result.records.push_back(
          {false, event.id, event.timestamp,
           std::string(static_cast<const char *>(event.payload), event.payload_size)});
    } else if (callbacks.read_definition(callbacks.user_data, &definition)) {
      result.records.push_back({true, definition.id, 0, definition.name});
    } else {
      result.stalled = true;
      break;
    }
  }
  result.error = *vxt_reader_error(reader);
  callbacks.close(callbacks.user_data);
  vxt_reader_close(reader);
  return result;
}

std::vector<uint64_t> record_offsets(const std::string &bytes) {
  std::vector<uint64_t> offsets;
  uint64_t at = VXT_HEADER_SIZE;
  while (at < bytes.size()) {
    offsets.push_back(at);
    if (static_cast<uint8_t>(bytes[at]) == VXT_TAG_DEFINITION) {
      at = bytes.find('\0', at + 5) + 1;
    } else {
      uint32_t size = 0;
      for (int i = 0; i < 4; ++i)
        size |= uint32_t{static_cast<uint8_t>(bytes[at + 13 + i])} << (8 * i);
      at += VXT_EVENT_RECORD_HEADER_SIZE + size;
    }
  }
  offsets.push_back(bytes.size());
  return offsets;
}

}  // namespace vxtrace_test

#endif
