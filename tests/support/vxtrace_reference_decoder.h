// An independent decoder of the receiver's payloads for the vxtrace tests,
// generated from the payload descriptions: what `vxtrace dump` prints for a
// payload must equal what this yields for the same bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>

#include "vexlo/velocast_payloads.h"

namespace vxtrace_test {

class ReferenceCursor {
 public:
  ReferenceCursor(const uint8_t *data, size_t size) : position_(data), end_(data + size) {}

  template <class T>
  T take() {
    T value{};
    if (static_cast<size_t>(end_ - position_) < sizeof(T)) {
      ok_ = false;
      position_ = end_;
      return value;
    }
    if constexpr (std::is_floating_point_v<T>) {
      uint32_t bits = 0;
      for (size_t i = 0; i < 4; ++i) bits |= uint32_t{position_[i]} << (8 * i);
      std::memcpy(&value, &bits, sizeof value);
    } else {
      std::make_unsigned_t<T> bits = 0;
      for (size_t i = 0; i < sizeof(T); ++i)
        bits = static_cast<decltype(bits)>(bits |
                                           (static_cast<decltype(bits)>(position_[i]) << (8 * i)));
      value = static_cast<T>(bits);
    }
    position_ += sizeof(T);
    return value;
  }

  bool ok() const { return ok_; }

 private:
  const uint8_t *position_;
  const uint8_t *end_;
  bool ok_ = true;
};

using OrderedJson = nlohmann::ordered_json;

#define VX_PAYLOAD(T)                                         \
  inline OrderedJson reference_##T(ReferenceCursor &cursor) { \
    OrderedJson object = OrderedJson::object();
#define VX_FIELD(type, key) object[#key] = cursor.take<VX_CTYPE_##type>();
#define VX_RECORD(T, key) object[#key] = reference_##T(cursor);
#define VX_BLOB(key)                                                                           \
  {                                                                                            \
    const uint16_t size = cursor.take<uint16_t>();                                             \
    OrderedJson data = OrderedJson::array();                                                   \
    for (uint16_t i = 0; i < size && cursor.ok(); ++i) data.push_back(cursor.take<uint8_t>()); \
    object[#key] = OrderedJson{{"size", size}, {"data", data}};                                \
  }
#define VX_END(T) \
  return object;  \
  }
#include "vexlo/payloads/all.def"

using ReferenceDecoder = OrderedJson (*)(ReferenceCursor &);

// Event name -> decoder of its payload type.
inline const std::map<std::string, ReferenceDecoder> &reference_decoders() {
  static const std::map<std::string, ReferenceDecoder> decoders = {
#define VX_EVENT(short_name, payload_type) {"/velocast/" #short_name, &reference_##payload_type},
#include "events/catalogue.def"
  };
  return decoders;
}

// The payload as JSON, or null when it is too short for its type.
inline OrderedJson reference_decode(const std::string &event, const void *payload, size_t size) {
  const auto found = reference_decoders().find(event);
  if (found == reference_decoders().end()) return nullptr;
  ReferenceCursor cursor(static_cast<const uint8_t *>(payload), size);
  OrderedJson decoded = found->second(cursor);
  return cursor.ok() ? decoded : OrderedJson(nullptr);
}

}  // namespace vxtrace_test
