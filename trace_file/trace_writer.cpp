// Writes a trace file through a buffer that is flushed in large writes. A call
// with a value the format cannot hold is refused on its own and the writer
// goes on; a failed write is final, since the file then lacks bytes that later
// records would follow.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "file_io.h"
#include "little_endian.h"
#include "trace_error.h"
#include "vexlo/vxtrace_file.h"

struct vxt_writer {
  static constexpr size_t kFlushSize = size_t{1} << 20;

  int fd = -1;
  bool owns_fd = false;
  std::vector<uint8_t> buffer;
  uint64_t flushed = 0;
  vxt_error error{};  // the failed write, or the refusal of the last call
  bool write_failed = false;

  ~vxt_writer() {
    if (owns_fd) vxtrace::file_io::close_file(fd);
  }

  bool failed(vxt_status status, const char *format, ...)
      __attribute__((format(VXT_PRINTF_FORMAT, 3, 4)));
  bool refused(const char *format, ...) __attribute__((format(VXT_PRINTF_FORMAT, 2, 3)));
  bool start_call();
  bool flush();
  uint8_t *append(size_t size);
};

bool vxt_writer::failed(vxt_status status, const char *format, ...) {
  if (!write_failed) {
    write_failed = true;
    va_list args;
    va_start(args, format);
    vxtrace::set_error_v(&error, status, flushed + buffer.size(), format, args);
    va_end(args);
  }
  return false;
}

bool vxt_writer::refused(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vxtrace::set_error_v(&error, VXT_INVALID_ARGUMENT, flushed + buffer.size(), format, args);
  va_end(args);
  return false;
}

// False once a write failed; otherwise forgets the previous call's refusal.
bool vxt_writer::start_call() {
  if (write_failed) return false;
  if (error.status != VXT_OK) vxtrace::clear_error(&error);
  return true;
}

bool vxt_writer::flush() {
  size_t written = 0;
  while (written < buffer.size()) {
    const std::int64_t result =
        vxtrace::file_io::write_some(fd, buffer.data() + written, buffer.size() - written);
    if (result < 0 && vxtrace::file_io::interrupted()) continue;
    if (result <= 0) {
      buffer.clear();
      const std::string why = result < 0 ? vxtrace::file_io::error_text() : std::strerror(EIO);
      return failed(VXT_IO_ERROR, "cannot write: %s", why.c_str());
    }
    written += static_cast<size_t>(result);
  }
  flushed += written;
  buffer.clear();
  return true;
}

uint8_t *vxt_writer::append(size_t size) {
  if (buffer.size() + size > kFlushSize && !buffer.empty() && !flush()) return nullptr;
  const size_t at = buffer.size();
  buffer.resize(at + size);
  return buffer.data() + at;
}

namespace {

vxt_writer *start_writer(int fd, bool owns_fd, vxt_error *error) {
  std::unique_ptr<vxt_writer> writer(new (std::nothrow) vxt_writer);
  if (writer == nullptr) {
    if (owns_fd) vxtrace::file_io::close_file(fd);
    vxtrace::set_error(error, VXT_IO_ERROR, 0, "out of memory");
    return nullptr;
  }
  writer->fd = fd;
  writer->owns_fd = owns_fd;
  writer->buffer.reserve(vxt_writer::kFlushSize);
  uint8_t *header = writer->append(VXT_HEADER_SIZE);
  std::memcpy(header, VXT_MAGIC, VXT_MAGIC_SIZE);
  vxtrace::store_le<uint32_t>(header + 8, VXT_VERSION);
  vxtrace::store_le<uint32_t>(header + 12, 0);
  vxtrace::clear_error(error);
  return writer.release();
}

}  // namespace

extern "C" {

vxt_writer *vxt_writer_open_path(const char *path, vxt_error *error) {
  const int fd = vxtrace::file_io::create_for_writing(path);
  if (fd < 0) {
    vxtrace::set_error(error, VXT_IO_ERROR, 0, "cannot create: %s",
                       vxtrace::file_io::error_text().c_str());
    return nullptr;
  }
  return start_writer(fd, true, error);
}

vxt_writer *vxt_writer_open_fd(int fd, vxt_error *error) {
  return start_writer(fd, false, error);
}

bool vxt_writer_define(vxt_writer *writer, uint32_t id, const char *name) {
  if (!writer->start_call()) return false;
  if (id > VXT_MAX_DEFINED_ID)
    return writer->refused("event id %u is above the limit of %u", id, VXT_MAX_DEFINED_ID);
  const size_t length = name == nullptr ? 0 : strnlen(name, VXT_MAX_NAME_LENGTH + 1);
  if (length == 0 || length > VXT_MAX_NAME_LENGTH)
    return writer->refused("event name must be 1 to %u bytes long", VXT_MAX_NAME_LENGTH);
  uint8_t *record = writer->append(5 + length + 1);
  if (record == nullptr) return false;
  record[0] = VXT_TAG_DEFINITION;
  vxtrace::store_le<uint32_t>(record + 1, id);
  std::memcpy(record + 5, name, length + 1);
  return true;
}

bool vxt_writer_write_event(vxt_writer *writer, uint32_t id, uint64_t timestamp,
                            const void *payload, uint32_t payload_size) {
  if (!writer->start_call()) return false;
  if (payload_size > VXT_MAX_PAYLOAD_SIZE)
    return writer->refused("payload of %u bytes is above the limit of %u", payload_size,
                           VXT_MAX_PAYLOAD_SIZE);
  if (payload == nullptr && payload_size > 0)
    return writer->refused("payload of %u bytes given without its bytes", payload_size);
  uint8_t *record = writer->append(VXT_EVENT_RECORD_HEADER_SIZE + size_t{payload_size});
  if (record == nullptr) return false;
  record[0] = VXT_TAG_EVENT;
  vxtrace::store_le<uint32_t>(record + 1, id);
  vxtrace::store_le<uint64_t>(record + 5, timestamp);
  vxtrace::store_le<uint32_t>(record + 13, payload_size);
  if (payload_size > 0) std::memcpy(record + VXT_EVENT_RECORD_HEADER_SIZE, payload, payload_size);
  return true;
}

uint64_t vxt_writer_offset(const vxt_writer *writer) {
  return writer->flushed + writer->buffer.size();
}

const vxt_error *vxt_writer_error(const vxt_writer *writer) {
  return &writer->error;
}

bool vxt_writer_close(vxt_writer *writer, vxt_error *error) {
  if (!writer->write_failed) writer->flush();
  if (writer->owns_fd && vxtrace::file_io::close_file(writer->fd) != 0)
    writer->failed(VXT_IO_ERROR, "cannot close: %s", vxtrace::file_io::error_text().c_str());
  writer->owns_fd = false;
  const bool ok = !writer->write_failed;
  if (error != nullptr) *error = ok ? vxt_error{} : writer->error;
  delete writer;
  return ok;
}

}  // extern "C"
