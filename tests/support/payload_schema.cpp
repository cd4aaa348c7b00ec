#include "support/payload_schema.hpp"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "events/payload_functions.hpp"

namespace vx_test {

namespace {

Member scalar(WireType type, const char *key) {
  return Member{Member::Kind::scalar, type, key, nullptr};
}
Member record(const char *record_type, const char *key) {
  return Member{Member::Kind::record, WireType::u8, key, record_type};
}
Member blob(const char *key) {
  return Member{Member::Kind::blob, WireType::u8, key, nullptr};
}

std::vector<PayloadType> build_payload_types() {
  return {
#define VX_PAYLOAD(T) \
  {                   \
#T, false, sizeof(T), decode_##T, release_##T, print_##T, {
#define VX_NESTED(T) {#T, true, sizeof(T), nullptr, nullptr, print_##T, {
#define VX_FIELD(type, key) scalar(WireType::type, #key),
#define VX_RECORD(T, key) record(#T, #key),
#define VX_BLOB(key) blob(#key),
#define VX_END(T) \
  }               \
  }               \
  ,
#include "vexlo/payloads/all.def"
  };
}

std::string key_text(const char *key) {
  return std::string("\"") + key + "\": ";
}

float f32_of(uint64_t bits) {
  return std::bit_cast<float>(static_cast<uint32_t>(bits));
}

// The call that renders one scalar, from its field type alone.
PrintCall scalar_call(WireType type, uint64_t bits) {
  switch (type) {
    case WireType::u8:
      return int_call("%hhu", static_cast<uint8_t>(bits));
    case WireType::u16:
      return int_call("%hu", static_cast<uint16_t>(bits));
    case WireType::i16:
      return int_call("%hi", static_cast<int16_t>(bits));
    case WireType::u32:
      return unsigned_call(static_cast<uint32_t>(bits));
    case WireType::i32:
      return int_call("%i", static_cast<int32_t>(bits));
    case WireType::u64:
      return unsigned_long_long_call(bits);
    case WireType::i64:
      return long_long_call(static_cast<int64_t>(bits));
    case WireType::f32:
      return double_call(static_cast<double>(f32_of(bits)));
  }
  return literal_call("<bad type>");
}

nlohmann::ordered_json scalar_json(WireType type, uint64_t bits, const std::string &text) {
  switch (type) {
    case WireType::u8:
    case WireType::u16:
    case WireType::u32:
    case WireType::u64:
      return static_cast<uint64_t>(bits & (~0ull >> (64 - 8 * wire_width(type))));
    case WireType::i16:
      return static_cast<int64_t>(static_cast<int16_t>(bits));
    case WireType::i32:
      return static_cast<int64_t>(static_cast<int32_t>(bits));
    case WireType::i64:
      return static_cast<int64_t>(bits);
    case WireType::f32:
      return std::strtod(text.c_str(), nullptr);  // "%g" keeps six digits
  }
  return nullptr;
}

struct SampleWriter {
  const ValuePolicy &policy;
  const std::vector<uint8_t> &url;
  Sample sample;
  size_t leaf_index = 0;

  nlohmann::ordered_json write(const PayloadType &type) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    sample.calls.push_back(literal_call("{"));
    bool first = true;
    for (const Member &member : type.members) {
      if (!first) sample.calls.push_back(literal_call(", "));
      first = false;
      sample.calls.push_back(literal_call(key_text(member.key)));
      object[member.key] = write_member(member);
    }
    sample.calls.push_back(literal_call("}"));
    return object;
  }

  nlohmann::ordered_json write_member(const Member &member) {
    switch (member.kind) {
      case Member::Kind::scalar:
        return write_scalar(member.type);
      case Member::Kind::record:
        return write(payload_type(member.record_type));
      case Member::Kind::blob:
        return write_blob();
    }
    return nullptr;
  }

  nlohmann::ordered_json write_scalar(WireType type) {
    const uint64_t bits = policy(type, leaf_index++);
    PayloadBuilder builder;
    builder.little_endian(bits, wire_width(type));
    sample.payload.insert(sample.payload.end(), builder.bytes.begin(), builder.bytes.end());
    sample.calls.push_back(scalar_call(type, bits));
    return scalar_json(type, bits, sample.calls.back().text);
  }

  nlohmann::ordered_json write_blob() {
    sample.payload.push_back(static_cast<uint8_t>(url.size()));
    sample.payload.push_back(static_cast<uint8_t>(url.size() >> 8));
    sample.payload.insert(sample.payload.end(), url.begin(), url.end());
    sample.calls.push_back(literal_call("{"));
    sample.calls.push_back(literal_call(key_text("size")));
    sample.calls.push_back(int_call("%hu", static_cast<int>(url.size())));
    sample.calls.push_back(literal_call(", "));
    sample.calls.push_back(literal_call(key_text("data")));
    sample.calls.push_back(literal_call("["));
    for (size_t i = 0; i < url.size(); ++i) {
      if (i != 0) sample.calls.push_back(literal_call(", "));
      sample.calls.push_back(int_call("%hhu", url[i]));
    }
    sample.calls.push_back(literal_call("]"));
    sample.calls.push_back(literal_call("}"));
    nlohmann::ordered_json object;
    object["size"] = url.size();
    object["data"] = url;
    return object;
  }
};

}  // namespace

size_t wire_width(WireType type) {
  switch (type) {
    case WireType::u8:
      return 1;
    case WireType::u16:
    case WireType::i16:
      return 2;
    case WireType::u32:
    case WireType::i32:
    case WireType::f32:
      return 4;
    case WireType::u64:
    case WireType::i64:
      return 8;
  }
  return 0;
}

const std::vector<PayloadType> &payload_types() {
  static const std::vector<PayloadType> types = build_payload_types();
  return types;
}

const PayloadType &payload_type(const std::string &name) {
  for (const PayloadType &type : payload_types()) {
    if (name == type.name) return type;
  }
  std::fprintf(stderr, "unknown payload type %s\n", name.c_str());
  std::abort();
}

const std::vector<CatalogueEntry> &catalogue_entries() {
  static const std::vector<CatalogueEntry> entries = {
#define VX_EVENT(short_name, T) {"/velocast/" #short_name, #T},
#include "events/catalogue.def"
  };
  return entries;
}

uint64_t extreme_values(WireType type, size_t leaf_index) {
  if (type != WireType::f32) return ~0ull;
  const float value = leaf_index % 2 == 0 ? 0.5f : 1.0f / 3.0f;
  return std::bit_cast<uint32_t>(value);
}

uint64_t distinct_values(WireType type, size_t leaf_index) {
  if (type == WireType::f32) {
    return std::bit_cast<uint32_t>(static_cast<float>(leaf_index) + 0.25f);
  }
  uint64_t value = 0;
  for (size_t byte = 0; byte < wire_width(type); ++byte) {
    value |= static_cast<uint64_t>((leaf_index * 8 + byte + 1) & 0xFF) << (8 * byte);
  }
  return value;
}

Sample make_sample(const PayloadType &type, const ValuePolicy &policy,
                   const std::vector<uint8_t> &url) {
  SampleWriter writer{policy, url, {}};
  writer.sample.json = writer.write(type);
  return std::move(writer.sample);
}

PayloadIterator::PayloadIterator(const std::vector<uint8_t> &payload)
    : bytes_(payload.empty() ? nullptr : new uint8_t[payload.size()]) {
  if (!payload.empty()) std::memcpy(bytes_.get(), payload.data(), payload.size());
  iterator_.payload = bytes_.get();
  iterator_.payload_size = payload.size();
}

PayloadIterator::PayloadIterator(const void *address, size_t size) {
  iterator_.payload = address;
  iterator_.payload_size = size;
}

void *decode_bytes(void *(*decode)(vx_buffer_iterator *, const vx_allocator *),
                   const std::vector<uint8_t> &payload, const CountingAllocator &allocator) {
  PayloadIterator current(payload);
  return decode(current.iterator(), allocator.allocator());
}

}  // namespace vx_test
