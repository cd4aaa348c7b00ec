// Writers of every payload type, generated from the payload descriptions in
// vexlo/payloads/*.def: fill() takes each field's value from a ValueModel by
// the field's key, encode() packs the record little-endian in wire order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "generate/value_model.h"
#include "trace_file/little_endian.h"
#include "vexlo/velocast_payloads.h"

namespace vxtrace {

class PayloadBuffer {
 public:
  void clear() { size_ = 0; }

  template <class T>
  void put(T value) {
    store_le(reserve(sizeof(T)), value);
  }

  void put_bytes(const void *bytes, size_t size) {
    if (size > 0) std::memcpy(reserve(size), bytes, size);
  }

  const uint8_t *data() const { return bytes_.data(); }
  size_t size() const { return size_; }

 private:
  uint8_t *reserve(size_t size) {
    if (bytes_.size() < size_ + size) bytes_.resize(2 * (size_ + size));
    uint8_t *at = bytes_.data() + size_;
    size_ += size;
    return at;
  }

  std::vector<uint8_t> bytes_;
  size_t size_ = 0;
};

#define VX_PAYLOAD(T) [[maybe_unused]] inline void fill(ValueModel &model, T &record) {
#define VX_FIELD(type, key)                          \
  {                                                  \
    static const FieldRole role = field_role(#key);  \
    record.key = model.value<VX_CTYPE_##type>(role); \
  }
#define VX_RECORD(T, key) fill(model, record.key);
#define VX_BLOB(key) record.key = model.blob();
#define VX_END(T) }
#include "vexlo/payloads/all.def"

#define VX_PAYLOAD(T) [[maybe_unused]] inline void encode(PayloadBuffer &out, const T &record) {
#define VX_FIELD(type, key) out.put(record.key);
#define VX_RECORD(T, key) encode(out, record.key);
#define VX_BLOB(key)        \
  out.put(record.key.size); \
  out.put_bytes(record.key.data, record.key.size);
#define VX_END(T) }
#include "vexlo/payloads/all.def"

// Fills a record of type T from the model and appends its wire form.
template <class T>
void write_payload(ValueModel &model, PayloadBuffer &out) {
  T record{};
  fill(model, record);
  encode(out, record);
}

}  // namespace vxtrace
