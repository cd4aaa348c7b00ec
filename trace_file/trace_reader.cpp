// Reads a trace file record by record for the buffer iterator. Every record is
// checked completely before it is reported as present, so the iterator only
// ever sees whole records; the first damaged one ends the input and is
// remembered for the caller to report.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "byte_source.h"
#include "file_io.h"
#include "little_endian.h"
#include "trace_error.h"
#include "vexlo/vxtrace_file.h"

namespace {

using vxtrace::ByteSource;
using vxtrace::clear_error;
using vxtrace::set_error;

struct PendingRecord {
  enum Kind { none, definition, event } kind = none;
  uint32_t id = 0;
  uint64_t timestamp = 0;
  const uint8_t *payload = nullptr;  // or the name
  uint32_t size = 0;                 // payload size, or name length
  uint64_t record_size = 0;
  bool replayed = false;  // a definition given to vxt_reader_open_range
};

}  // namespace

struct vxt_reader {
  std::unique_ptr<ByteSource> source;
  int owned_fd = -1;
  std::string name;  // put before every message; empty for a range of a file
  uint64_t input_size = 0;
  vxt_error error{};
  uint64_t offset = 0;
  uint64_t definitions = 0;
  PendingRecord pending;
  bool has_last_event = false;
  vxt_event_info last_event{};
  // Names stay valid for the iterator's whole life, one copy per id. A name
  // replaced by a redefinition is still quoted by the iterator's log line for
  // that redefinition, so it is freed only at the next callback.
  std::vector<std::unique_ptr<char[]>> names_by_id;
  std::unique_ptr<char[]> retired_name;
  // The bytes of the source's last fetch_ahead, from which records are taken
  // until one reaches beyond them: one virtual call for many records.
  const uint8_t *view = nullptr;
  uint64_t view_offset = 0;
  size_t view_size = 0;
  // Definitions to deliver before the first record (vxt_reader_open_range).
  std::vector<std::pair<uint32_t, std::string>> replay;
  size_t replayed = 0;
  // Data records outside [window_begin, window_end) are consumed without
  // reaching the iterator (vxt_reader_set_window); a window_end of
  // UINT64_MAX is no end, so that the largest timestamp can be kept.
  uint64_t window_begin = 0;
  uint64_t window_end = UINT64_MAX;
  uint64_t skipped = 0;

  ~vxt_reader() {
    source.reset();
    if (owned_fd >= 0) vxtrace::file_io::close_file(owned_fd);
  }

  bool damaged(const char *format, ...) __attribute__((format(VXT_PRINTF_FORMAT, 2, 3)));
  bool cut_short(const char *format, ...) __attribute__((format(VXT_PRINTF_FORMAT, 2, 3)));
  void set(vxt_status status, uint64_t at, const char *format, ...)
      __attribute__((format(VXT_PRINTF_FORMAT, 4, 5)));
  bool vdamaged(const char *format, va_list args) __attribute__((format(VXT_PRINTF_FORMAT, 2, 0)));
  bool check_header();
  bool prepare_next();
  bool prepare_event(const uint8_t *tag);
  bool prepare_definition();
  bool prepare_replayed_definition();
  bool prepare_delivered();
  // The bytes [at, at + want) as fetch gives them, from the view when it
  // holds them.
  const uint8_t *bytes_at(uint64_t at, size_t want, size_t *available) {
    if (at >= view_offset && at - view_offset <= view_size &&
        view_size - (at - view_offset) >= want) {
      *available = want;
      return view + (at - view_offset);
    }
    return refill_view(at, want, available);
  }
  const uint8_t *refill_view(uint64_t at, size_t want, size_t *available);
  void drop_source();
  const char *store_name(uint32_t id, const uint8_t *event_name, size_t length);
};

void vxt_reader::set(vxt_status status, uint64_t at, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vxtrace::set_error_v(&error, status, at, format, args);
  va_end(args);
  vxtrace::name_error(&error, name.c_str());
}

bool vxt_reader::vdamaged(const char *format, va_list args) {
  vxtrace::set_error_v(&error, VXT_DAMAGED, offset, format, args);
  vxtrace::name_error(&error, name.c_str());
  return false;
}

bool vxt_reader::damaged(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vdamaged(format, args);
  va_end(args);
  return false;
}

// The input ended inside the record at offset, or at its start when format is
// null (the end of the input, unless reading stopped early). That is damage of
// the recording only when the input was read to its end: a failed read, or a
// file that shrank under the reader, is told as such.
bool vxt_reader::cut_short(const char *format, ...) {
  const auto at = static_cast<unsigned long long>(offset);
  if (!source->io_error().empty()) {
    set(VXT_IO_ERROR, offset, "%s at byte %llu", source->io_error().c_str(), at);
    return false;
  }
  if (source->input_changed())
    return damaged(
        "the file changed while it was read: it shrank before the end of the record "
        "at byte %llu",
        at);
  if (format == nullptr) return false;
  va_list args;
  va_start(args, format);
  vdamaged(format, args);
  va_end(args);
  return false;
}

bool vxt_reader::check_header() {
  size_t available = 0;
  const uint8_t *header = source->fetch(0, VXT_HEADER_SIZE, &available);
  if (available < VXT_HEADER_SIZE) {
    if (!source->io_error().empty()) {
      set(VXT_IO_ERROR, 0, "%s", source->io_error().c_str());
      return false;
    }
    // Too short to hold a header: say so only if what is there could be one.
    const size_t magic_present = std::min<size_t>(available, VXT_MAGIC_SIZE);
    if (magic_present > 0 && std::memcmp(header, VXT_MAGIC, magic_present) != 0) {
      set(VXT_NOT_A_TRACE, 0, "not a trace file (bad magic)");
      return false;
    }
    set(VXT_NOT_A_TRACE, 0, "truncated header: %u bytes needed, %zu present", VXT_HEADER_SIZE,
        available);
    return false;
  }
  if (std::memcmp(header, VXT_MAGIC, VXT_MAGIC_SIZE) != 0) {
    set(VXT_NOT_A_TRACE, 0, "not a trace file (bad magic)");
    return false;
  }
  const uint32_t version = vxtrace::load_le<uint32_t>(header + 8);
  const uint32_t flags = vxtrace::load_le<uint32_t>(header + 12);
  if (version != VXT_VERSION) {
    set(VXT_NOT_A_TRACE, 8, "unsupported format version %u (this reader reads %u)", version,
        VXT_VERSION);
    return false;
  }
  if (flags != 0) {
    set(VXT_NOT_A_TRACE, 12, "unsupported header flags 0x%x", flags);
    return false;
  }
  offset = VXT_HEADER_SIZE;
  return true;
}

const uint8_t *vxt_reader::refill_view(uint64_t at, size_t want, size_t *available) {
  size_t readable = 0;
  const uint8_t *bytes = source->fetch_ahead(at, want, &readable);
  view = bytes;
  view_offset = at;
  view_size = bytes != nullptr ? readable : 0;
  *available = std::min(want, readable);
  return bytes;
}

void vxt_reader::drop_source() {
  pending = PendingRecord{};
  view = nullptr;
  view_size = 0;
  if (source != nullptr) source->release();
  source.reset();
}

bool vxt_reader::prepare_replayed_definition() {
  const auto &[id, event_name] = replay[replayed];
  pending.kind = PendingRecord::definition;
  pending.id = id;
  pending.payload = reinterpret_cast<const uint8_t *>(event_name.data());
  pending.size = static_cast<uint32_t>(event_name.size());
  pending.record_size = 0;
  pending.replayed = true;
  return true;
}

// Makes the next record pending when it is complete and well formed. False at
// the end of the input or at damage (then error is set).
bool vxt_reader::prepare_next() {
  if (error.status != VXT_OK || source == nullptr) return false;
  if (pending.kind != PendingRecord::none) return true;
  if (replayed < replay.size()) return prepare_replayed_definition();
  size_t available = 0;
  const uint8_t *tag = bytes_at(offset, 1, &available);
  if (available == 0) return cut_short(nullptr);
  if (*tag == VXT_TAG_EVENT) return prepare_event(tag);
  if (*tag == VXT_TAG_DEFINITION) return prepare_definition();
  return damaged("unknown record tag 0x%02x at byte %llu", *tag,
                 static_cast<unsigned long long>(offset));
}

// Like prepare_next, but steps over the data records outside the window. A
// stepped-over record is checked like any other, so damage inside the skipped
// part still ends the input at its offset.
bool vxt_reader::prepare_delivered() {
  while (prepare_next()) {
    if (pending.kind != PendingRecord::event ||
        (pending.timestamp >= window_begin &&
         (pending.timestamp < window_end || window_end == UINT64_MAX)))
      return true;
    offset += pending.record_size;
    pending = PendingRecord{};
    ++skipped;
  }
  return false;
}

bool vxt_reader::prepare_event(const uint8_t *record) {
  const auto at = static_cast<unsigned long long>(offset);
  size_t available = 0;
  record = bytes_at(offset, VXT_EVENT_RECORD_HEADER_SIZE, &available);
  if (available < VXT_EVENT_RECORD_HEADER_SIZE)
    return cut_short("truncated data record at byte %llu: header needs %u bytes, %zu left", at,
                     VXT_EVENT_RECORD_HEADER_SIZE, available);
  const uint32_t payload_size = vxtrace::load_le<uint32_t>(record + 13);
  if (payload_size > VXT_MAX_PAYLOAD_SIZE)
    return damaged("data record at byte %llu announces %u payload bytes, more than the limit of %u",
                   at, payload_size, VXT_MAX_PAYLOAD_SIZE);
  const size_t record_size = VXT_EVENT_RECORD_HEADER_SIZE + size_t{payload_size};
  record = bytes_at(offset, record_size, &available);
  if (available < record_size)
    return cut_short("truncated data record at byte %llu: %u payload bytes announced, %zu left", at,
                     payload_size, available - VXT_EVENT_RECORD_HEADER_SIZE);
  pending.kind = PendingRecord::event;
  pending.id = vxtrace::load_le<uint32_t>(record + 1);
  pending.timestamp = vxtrace::load_le<uint64_t>(record + 5);
  pending.payload = record + VXT_EVENT_RECORD_HEADER_SIZE;
  pending.size = payload_size;
  pending.record_size = record_size;
  return true;
}

bool vxt_reader::prepare_definition() {
  const auto at = static_cast<unsigned long long>(offset);
  constexpr size_t kNameStart = 5;
  constexpr size_t kLongest = kNameStart + VXT_MAX_NAME_LENGTH + 1;
  size_t available = 0;
  const uint8_t *record = bytes_at(offset, kLongest, &available);
  if (available < kNameStart)
    return cut_short("truncated definition at byte %llu: %zu of its 5 leading bytes present", at,
                     available);
  const uint32_t id = vxtrace::load_le<uint32_t>(record + 1);
  if (id > VXT_MAX_DEFINED_ID)
    return damaged("definition at byte %llu binds event id %u, above the limit of %u", at, id,
                   VXT_MAX_DEFINED_ID);
  const void *nul = std::memchr(record + kNameStart, 0, available - kNameStart);
  if (nul == nullptr && available < kLongest)
    return cut_short("truncated definition at byte %llu: event name not terminated", at);
  if (nul == nullptr)
    return damaged("definition at byte %llu: event name longer than %u bytes", at,
                   VXT_MAX_NAME_LENGTH);
  const size_t name_length = static_cast<const uint8_t *>(nul) - (record + kNameStart);
  if (name_length == 0) return damaged("definition at byte %llu: empty event name", at);
  pending.kind = PendingRecord::definition;
  pending.id = id;
  pending.payload = record + kNameStart;
  pending.size = static_cast<uint32_t>(name_length);
  pending.record_size = kNameStart + name_length + 1;
  return true;
}

const char *vxt_reader::store_name(uint32_t id, const uint8_t *event_name, size_t length) {
  if (names_by_id.size() <= id) names_by_id.resize(size_t{id} + 1);
  std::unique_ptr<char[]> &slot = names_by_id[id];
  // A trace that repeats its definitions (concatenated recordings) costs nothing.
  if (slot != nullptr && std::strlen(slot.get()) == length &&
      std::memcmp(slot.get(), event_name, length) == 0)
    return slot.get();
  std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
  if (copy == nullptr) return nullptr;
  std::memcpy(copy.get(), event_name, length);
  copy[length] = '\0';
  retired_name = std::move(slot);
  slot = std::move(copy);
  return slot.get();
}

namespace {

vxt_reader *as_reader(void *user_data) {
  return static_cast<vxt_reader *>(user_data);
}

bool reader_has_more(void *user_data) {
  vxt_reader *reader = as_reader(user_data);
  reader->retired_name.reset();
  return reader->prepare_delivered();
}

bool reader_read_event(void *user_data, vx_event_data *out) {
  vxt_reader *reader = as_reader(user_data);
  reader->retired_name.reset();
  if (!reader->prepare_delivered() || reader->pending.kind != PendingRecord::event) return false;
  const PendingRecord &record = reader->pending;
  out->id = record.id;
  out->timestamp = record.timestamp;
  out->payload = record.payload;
  out->payload_size = record.size;
  reader->last_event = {record.id, record.timestamp, reader->offset, record.size};
  reader->has_last_event = true;
  reader->offset += record.record_size;
  reader->pending = PendingRecord{};
  return true;
}

bool reader_read_definition(void *user_data, vx_event_definition *out) {
  vxt_reader *reader = as_reader(user_data);
  reader->retired_name.reset();
  if (!reader->prepare_delivered() || reader->pending.kind != PendingRecord::definition)
    return false;
  const PendingRecord &record = reader->pending;
  const char *name = reader->store_name(record.id, record.payload, record.size);
  if (name == nullptr) {
    set_error(&reader->error, VXT_IO_ERROR, reader->offset, "out of memory for an event name");
    return false;
  }
  out->id = record.id;
  out->name = name;
  if (record.replayed)
    ++reader->replayed;
  else
    ++reader->definitions;
  reader->offset += record.record_size;
  reader->pending = PendingRecord{};
  return true;
}

void reader_close(void *user_data) {
  as_reader(user_data)->drop_source();
}

// Definitions given to vxt_reader_open_range obey the limits of the file's
// definition records, which consumers rely on (they index tables by id).
bool definitions_are_valid(const vxt_definition *definitions, size_t count, uint64_t begin,
                           vxt_error *error) {
  for (size_t i = 0; i < count; ++i) {
    const vxt_definition &definition = definitions[i];
    if (definition.id > VXT_MAX_DEFINED_ID) {
      set_error(error, VXT_INVALID_ARGUMENT, begin,
                "definition %zu binds event id %u, above the limit of %u", i, definition.id,
                VXT_MAX_DEFINED_ID);
      return false;
    }
    const size_t length =
        definition.name == nullptr ? 0 : strnlen(definition.name, VXT_MAX_NAME_LENGTH + 1);
    if (length == 0 || length > VXT_MAX_NAME_LENGTH) {
      set_error(error, VXT_INVALID_ARGUMENT, begin,
                "definition %zu (event id %u): event name must be 1 to %u bytes long", i,
                definition.id, VXT_MAX_NAME_LENGTH);
      return false;
    }
  }
  return true;
}

// The one set-up of every reader: over source, whose bytes end at
// input_size, reading from offset on. Null, with error set, when the memory
// for it cannot be had.
std::unique_ptr<vxt_reader> new_reader(std::unique_ptr<ByteSource> source, uint64_t input_size,
                                       uint64_t offset, vxt_error *error) {
  if (source == nullptr) {
    set_error(error, VXT_IO_ERROR, offset, "cannot read the file: %s",
              vxtrace::file_io::error_text().c_str());
    return nullptr;
  }
  std::unique_ptr<vxt_reader> reader(new (std::nothrow) vxt_reader);
  if (reader == nullptr) {
    set_error(error, VXT_IO_ERROR, 0, "out of memory");
    return nullptr;
  }
  reader->source = std::move(source);
  reader->input_size = input_size;
  reader->offset = offset;
  return reader;
}

// A reader of a whole input, from its header on. Its messages start with the
// input's name, when one is given.
vxt_reader *open_whole(std::unique_ptr<ByteSource> source, const char *name, vxt_error *error) {
  const uint64_t size = source != nullptr ? source->size() : 0;
  std::unique_ptr<vxt_reader> reader = new_reader(std::move(source), size, 0, error);
  if (reader == nullptr) {
    vxtrace::name_error(error, name);
    return nullptr;
  }
  reader->name = name != nullptr ? name : "";
  if (!reader->check_header()) {
    if (error != nullptr) *error = reader->error;
    return nullptr;
  }
  clear_error(error);
  return reader.release();
}

}  // namespace

extern "C" {

vxt_reader *vxt_reader_open_memory(const void *data, size_t size, const char *display_name,
                                   vxt_error *error) {
  return open_whole(vxtrace::make_memory_source(data, size), display_name, error);
}

vxt_reader *vxt_reader_open_fd(int fd, const char *display_name, vxt_error *error) {
  return vxt_reader_open_fd_windowed(fd, display_name, ByteSource::kDefaultWindowSize, error);
}

vxt_reader *vxt_reader_open_fd_windowed(int fd, const char *display_name, size_t window_size,
                                        vxt_error *error) {
  uint64_t file_size = 0;
  if (!vxtrace::file_io::regular_file_size(fd, &file_size)) {
    set_error(error, VXT_IO_ERROR, 0, "%s", vxtrace::file_io::error_text().c_str());
    vxtrace::name_error(error, display_name);
    return nullptr;
  }
  std::unique_ptr<ByteSource> source;
  // Files that report no size (such as those of /proc) are streamed.
  if (file_size > 0) source = vxtrace::make_file_source(fd, file_size, window_size);
  if (source == nullptr) source = vxtrace::make_stream_source(fd, window_size);
  return open_whole(std::move(source), display_name, error);
}

vxt_reader *vxt_reader_open_path(const char *path, vxt_error *error) {
  const int fd = vxtrace::file_io::open_for_reading(path);
  if (fd < 0) {
    set_error(error, VXT_IO_ERROR, 0, "cannot open: %s", vxtrace::file_io::error_text().c_str());
    vxtrace::name_error(error, path);
    return nullptr;
  }
  vxt_reader *reader = vxt_reader_open_fd(fd, path, error);
  if (reader == nullptr) {
    vxtrace::file_io::close_file(fd);
    return nullptr;
  }
  reader->owned_fd = fd;
  return reader;
}

void vxt_reader_fill(vxt_reader *reader, vx_buffer_reader *out) {
  *out = vx_buffer_reader{reader, reader_has_more, reader_read_definition, reader_read_event,
                          reader_close};
}

bool vxt_reader_skip_record(vxt_reader *reader, vxt_record_info *out) {
  reader->retired_name.reset();
  if (!reader->prepare_next()) return false;
  const PendingRecord &record = reader->pending;
  const bool definition = record.kind == PendingRecord::definition;
  *out = vxt_record_info{};
  out->tag = static_cast<uint8_t>(definition ? VXT_TAG_DEFINITION : VXT_TAG_EVENT);
  out->id = record.id;
  out->offset = reader->offset;
  out->size = record.record_size;
  // The name is NUL-terminated where it stands, in the file's bytes or in the
  // copy of a replayed definition.
  out->name = definition ? reinterpret_cast<const char *>(record.payload) : nullptr;
  if (definition && record.replayed)
    ++reader->replayed;
  else if (definition)
    ++reader->definitions;
  reader->offset += record.record_size;
  reader->pending = PendingRecord{};
  return true;
}

vxt_reader *vxt_reader_open_range(int fd, uint64_t begin, uint64_t end,
                                  const vxt_definition *definitions, size_t definition_count,
                                  vxt_error *error) {
  if (begin < VXT_HEADER_SIZE || end < begin || (definition_count != 0 && definitions == nullptr)) {
    set_error(error, VXT_INVALID_ARGUMENT, begin, "invalid range %llu..%llu",
              static_cast<unsigned long long>(begin), static_cast<unsigned long long>(end));
    return nullptr;
  }
  if (!definitions_are_valid(definitions, definition_count, begin, error)) return nullptr;
  std::unique_ptr<vxt_reader> reader =
      new_reader(vxtrace::make_file_range_source(fd, begin, end), end, begin, error);
  if (reader == nullptr) return nullptr;
  reader->replay.reserve(definition_count);
  for (size_t i = 0; i < definition_count; ++i)
    reader->replay.emplace_back(definitions[i].id, definitions[i].name);
  clear_error(error);
  return reader.release();
}

const vxt_error *vxt_reader_error(const vxt_reader *reader) {
  return &reader->error;
}

uint64_t vxt_reader_offset(const vxt_reader *reader) {
  return reader->offset;
}

uint64_t vxt_reader_size(const vxt_reader *reader) {
  return reader->input_size;
}

void vxt_reader_set_window(vxt_reader *reader, uint64_t begin, uint64_t end) {
  reader->window_begin = begin;
  reader->window_end = end;
}

uint64_t vxt_reader_skipped_count(const vxt_reader *reader) {
  return reader->skipped;
}

uint64_t vxt_reader_definition_count(const vxt_reader *reader) {
  return reader->definitions;
}

bool vxt_reader_last_event(const vxt_reader *reader, vxt_event_info *out) {
  if (reader->has_last_event) *out = reader->last_event;
  return reader->has_last_event;
}

void vxt_reader_close(vxt_reader *reader) {
  delete reader;
}

}  // extern "C"
