// The payload types and events of the catalogue as tests see them: read from
// the same payload descriptions and event list as the library, and turned
// into payload bytes with the printer calls and JSON that those bytes must
// produce. The expected calls are derived here from the field types alone,
// independently of the library's rendering code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "lib/buffer/iterator.h"
#include "support/recording.hpp"
#include "vexlo/event.h"

namespace vx_test {

enum class WireType { u8, u16, i16, u32, i32, u64, i64, f32 };

size_t wire_width(WireType type);

struct Member {
  enum class Kind { scalar, record, blob };
  Kind kind;
  WireType type;  // scalar only
  const char *key;
  const char *record_type;  // record only
};

struct PayloadType {
  const char *name;
  bool nested;  // only inside other types: no decode, release or descriptor
  size_t record_size;
  void *(*decode)(vx_buffer_iterator *, const vx_allocator *);
  void (*release)(void *, const vx_allocator *);
  void (*print)(const void *, const vx_printer *);
  std::vector<Member> members;
};

const std::vector<PayloadType> &payload_types();
const PayloadType &payload_type(const std::string &name);

struct CatalogueEntry {
  std::string name;  // full name, "/velocast/..."
  std::string type;
};
const std::vector<CatalogueEntry> &catalogue_entries();

// Raw bits for the leaf_index-th scalar of a payload (counted across nested
// records, in wire order).
using ValuePolicy = std::function<uint64_t(WireType, size_t leaf_index)>;
// All bits set in integers; 0.5 and one third by turns in f32 fields.
uint64_t extreme_values(WireType type, size_t leaf_index);
// A different value in every field, with distinct bytes to expose byte order;
// f32 values are exact in "%g".
uint64_t distinct_values(WireType type, size_t leaf_index);

struct Sample {
  std::vector<uint8_t> payload;  // exactly the type's wire size
  std::vector<PrintCall> calls;  // the rendering of its record
  nlohmann::ordered_json json;   // what that rendering parses to
};

// A payload of type with values from policy; a blob holds url.
Sample make_sample(const PayloadType &type, const ValuePolicy &policy,
                   const std::vector<uint8_t> &url = {1, 2, 3});

// Holds a copy of payload in a block of exactly its size (so that reading
// past it is caught by the address sanitizer) behind an iterator whose current
// event is that payload.
class PayloadIterator {
 public:
  explicit PayloadIterator(const std::vector<uint8_t> &payload);
  // An iterator whose current payload is the given address and size.
  PayloadIterator(const void *address, size_t size);

  vx_buffer_iterator *iterator() { return &iterator_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  vx_buffer_iterator iterator_{};
};

void *decode_bytes(void *(*decode)(vx_buffer_iterator *, const vx_allocator *),
                   const std::vector<uint8_t> &payload, const CountingAllocator &allocator);

}  // namespace vx_test
