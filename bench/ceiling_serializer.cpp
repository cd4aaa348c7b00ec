#include "ceiling_serializer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "text/json_text.h"
#include "vexlo/velocast_payloads.h"
#include "vexlo/vxtrace_file.h"

namespace vxbench {
namespace {

template <size_t N>
char *put(char *at, const char (&text)[N]) {
  std::memcpy(at, text, N - 1);
  return at + N - 1;
}

template <typename T>
bool take(const uint8_t **position, const uint8_t *end, T *value) {
  if (static_cast<size_t>(end - *position) < sizeof(T)) return false;
  std::memcpy(value, *position, sizeof(T));  // the wire is little-endian, like this machine
  *position += sizeof(T);
  return true;
}

char *write_value(char *at, uint8_t value) {
  return std::to_chars(at, at + 4, value).ptr;
}
char *write_value(char *at, uint16_t value) {
  return std::to_chars(at, at + 8, value).ptr;
}
char *write_value(char *at, int16_t value) {
  return std::to_chars(at, at + 8, value).ptr;
}
char *write_value(char *at, uint32_t value) {
  return std::to_chars(at, at + 12, value).ptr;
}
char *write_value(char *at, int32_t value) {
  return std::to_chars(at, at + 12, value).ptr;
}
char *write_value(char *at, uint64_t value) {
  return std::to_chars(at, at + 24, value).ptr;
}
char *write_value(char *at, int64_t value) {
  return std::to_chars(at, at + 24, value).ptr;
}
char *write_value(char *at, float value) {
  if (!std::isfinite(value)) return put(at, "null");
  return std::to_chars(at, at + 32, static_cast<double>(value), std::chars_format::general, 6).ptr;
}

bool write_blob(const uint8_t **position, const uint8_t *end, char **out) {
  uint16_t size = 0;
  if (!take(position, end, &size) || static_cast<size_t>(end - *position) < size) return false;
  char *at = put(*out, "{\"size\": ");
  at = write_value(at, size);
  at = put(at, ", \"data\": [");
  for (uint16_t i = 0; i < size; ++i) {
    if (i != 0) at = put(at, ", ");
    at = write_value(at, (*position)[i]);
  }
  at = put(at, "]}");
  *position += size;
  *out = at;
  return true;
}

// One writer per payload type, generated from the payload descriptions.
#define VX_WRITER_OPEN(T)                                                                     \
  [[maybe_unused]] bool write_##T(const uint8_t **position, const uint8_t *end, char **out) { \
    char *at = put(*out, "{");                                                                \
    bool first = true;
#define VX_PAYLOAD(T) VX_WRITER_OPEN(T)
#define VX_MEMBER_KEY(key)        \
  if (!first) at = put(at, ", "); \
  first = false;                  \
  at = put(at, "\"" #key "\": ");
#define VX_FIELD(type, key)                         \
  VX_MEMBER_KEY(key) {                              \
    VX_CTYPE_##type value;                          \
    if (!take(position, end, &value)) return false; \
    at = write_value(at, value);                    \
  }
#define VX_RECORD(T, key) VX_MEMBER_KEY(key) if (!write_##T(position, end, &at)) return false;
#define VX_BLOB(key) VX_MEMBER_KEY(key) if (!write_blob(position, end, &at)) return false;
#define VX_END(T)    \
  at = put(at, "}"); \
  *out = at;         \
  return true;       \
  }
#include "vexlo/payloads/all.def"
#undef VX_MEMBER_KEY
#undef VX_WRITER_OPEN

struct CatalogueEntry {
  std::string_view name;
  bool (*write)(const uint8_t **, const uint8_t *, char **);
};

constexpr CatalogueEntry kCatalogue[] = {
#define VX_EVENT(short_name, payload_type) {"/velocast/" #short_name, &write_##payload_type},
#include "events/catalogue.def"
};

}  // namespace

CeilingSerializer::CeilingSerializer() = default;

void CeilingSerializer::begin(const uint8_t *bytes, size_t size) {
  position_ = bytes + VXT_HEADER_SIZE;
  end_ = bytes + size;
  bindings_.clear();
}

void CeilingSerializer::define(uint32_t id, const char *name) {
  if (bindings_.size() <= id) bindings_.resize(size_t{id} + 1);
  Binding &binding = bindings_[id];
  binding.quoted_name.clear();
  vxtrace::append_json_string(&binding.quoted_name, name);
  binding.writer = nullptr;
  for (const CatalogueEntry &entry : kCatalogue)
    if (entry.name == name) binding.writer = entry.write;
}

// The trace is trusted here: it was written by vxtrace generate and checked
// by the setup, which compares this output with dump's.
bool CeilingSerializer::next_line(vxtrace::TextBuffer *out, uint64_t *events) {
  while (position_ < end_) {
    const uint8_t tag = *position_;
    uint32_t id;
    std::memcpy(&id, position_ + 1, 4);
    if (tag == VXT_TAG_DEFINITION) {
      const char *name = reinterpret_cast<const char *>(position_ + 5);
      define(id, name);
      position_ += 5 + std::strlen(name) + 1;
      continue;
    }
    uint64_t timestamp;
    uint32_t payload_size;
    std::memcpy(&timestamp, position_ + 5, 8);
    std::memcpy(&payload_size, position_ + 13, 4);
    const uint8_t *payload = position_ + VXT_EVENT_RECORD_HEADER_SIZE;
    position_ = payload + payload_size;
    write_event(out, id, timestamp, payload, payload_size);
    ++*events;
    return true;
  }
  return false;
}

void CeilingSerializer::write_event(vxtrace::TextBuffer *out, uint32_t id, uint64_t timestamp,
                                    const uint8_t *payload, uint32_t payload_size) {
  static const Binding kUnbound;
  const Binding &binding = id < bindings_.size() ? bindings_[id] : kUnbound;
  out->make_room(1024 + size_t{payload_size} * 6 + binding.quoted_name.size());
  char *at = put(out->end(), "{\"timestamp\": ");
  at = std::to_chars(at, at + 24, timestamp).ptr;
  at = put(at, ", \"id\": ");
  at = std::to_chars(at, at + 24, id).ptr;
  at = put(at, ", \"event\": ");
  if (binding.quoted_name.empty()) {
    at = put(at, "null");
  } else {
    std::memcpy(at, binding.quoted_name.data(), binding.quoted_name.size());
    at += binding.quoted_name.size();
  }
  at = put(at, ", \"payload\": ");
  const char *problem = binding.quoted_name.empty() ? "unknown event id"
                        : binding.writer == nullptr ? "no decoder for this event"
                                                    : nullptr;
  const uint8_t *position = payload;
  char *payload_start = at;
  if (problem == nullptr &&
      (payload_size == 0 || !binding.writer(&position, payload + payload_size, &at))) {
    problem = "payload could not be decoded";
    at = payload_start;
  }
  out->commit(at);
  if (problem != nullptr) {
    std::string tail = "null, \"error\": ";
    vxtrace::append_json_string(&tail, problem);
    tail += ", \"raw\": \"";
    vxtrace::append_hex(&tail, payload, payload_size);
    tail += '"';
    out->append(tail);
  }
  out->append("}\n", 2);
}

}  // namespace vxbench
