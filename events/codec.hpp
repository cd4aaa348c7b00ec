// The codec rules that every payload type of the catalogue shares: a bounded
// read position over a payload, little-endian scalar reads, and the pieces of
// the JSON rendering (literal texts and one printer call per scalar).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vexlo/event.h"

// A read position inside one payload. Readers advance position; end never
// changes. Both always point into the payload or one past its last byte.
struct vx_payload_cursor {
  const uint8_t *position;
  const uint8_t *end;
};

// A cursor over size bytes at start.
inline vx_payload_cursor vx_cursor_over(const void *start, size_t size) {
  const uint8_t *first = static_cast<const uint8_t *>(start);
  return vx_payload_cursor{first, first + size};
}

// Takes n bytes from the cursor into destination. Fails when fewer than n
// bytes are left; nothing is copied then and the cursor is spent (left at end),
// so every later read of a non-zero width fails as well. The width is compared
// with the bytes left, so no address beyond the payload is ever formed.
bool vx_cursor_read_bytes(vx_payload_cursor *cursor, void *destination, size_t n);

namespace vx::codec {

template <typename Unsigned>
Unsigned byte_swapped(Unsigned value) {
  Unsigned swapped = 0;
  for (size_t i = 0; i < sizeof(Unsigned); ++i) {
    swapped = static_cast<Unsigned>((swapped << 8) | (value & 0xFF));
    value = static_cast<Unsigned>(value >> 8);
  }
  return swapped;
}

// Reads an unsigned integer of sizeof(Unsigned) little-endian bytes, by the
// same rule as vx_cursor_read_bytes, written out here so that a field costs
// one bounds check and one load instead of a call and a byte loop.
template <typename Unsigned>
bool read_little_endian(vx_payload_cursor *cursor, Unsigned *value) {
  const size_t bytes_left = static_cast<size_t>(cursor->end - cursor->position);
  if (sizeof(Unsigned) > bytes_left) {
    cursor->position = cursor->end;
    return false;
  }
  Unsigned raw;
  std::memcpy(&raw, cursor->position, sizeof raw);
  if constexpr (std::endian::native == std::endian::big) raw = vx::codec::byte_swapped(raw);
  cursor->position += sizeof raw;
  *value = raw;
  return true;
}

// Signed and float fields are the same bits as their unsigned twin.
template <typename Target, typename Unsigned>
bool read_reinterpreted(vx_payload_cursor *cursor, Target *value) {
  Unsigned bits;
  if (!read_little_endian(cursor, &bits)) return false;
  *value = std::bit_cast<Target>(bits);
  return true;
}

}  // namespace vx::codec

// One reader per wire field type; the suffix is the type's name in the
// payload descriptions.
inline bool vx_cursor_read_u8(vx_payload_cursor *cursor, uint8_t *value) {
  return vx::codec::read_little_endian(cursor, value);
}
inline bool vx_cursor_read_u16(vx_payload_cursor *cursor, uint16_t *value) {
  return vx::codec::read_little_endian(cursor, value);
}
inline bool vx_cursor_read_i16(vx_payload_cursor *cursor, int16_t *value) {
  return vx::codec::read_reinterpreted<int16_t, uint16_t>(cursor, value);
}
inline bool vx_cursor_read_u32(vx_payload_cursor *cursor, uint32_t *value) {
  return vx::codec::read_little_endian(cursor, value);
}
inline bool vx_cursor_read_i32(vx_payload_cursor *cursor, int32_t *value) {
  return vx::codec::read_reinterpreted<int32_t, uint32_t>(cursor, value);
}
inline bool vx_cursor_read_u64(vx_payload_cursor *cursor, uint64_t *value) {
  return vx::codec::read_little_endian(cursor, value);
}
inline bool vx_cursor_read_i64(vx_payload_cursor *cursor, int64_t *value) {
  return vx::codec::read_reinterpreted<int64_t, uint64_t>(cursor, value);
}
inline bool vx_cursor_read_f32(vx_payload_cursor *cursor, float *value) {
  static_assert(sizeof(float) == 4, "f32 fields are IEEE 754 single precision");
  return vx::codec::read_reinterpreted<float, uint32_t>(cursor, value);
}

// A literal piece of the rendering ("{", ", ", a key text, ...) is the format
// of its own printer call, with no further argument.
inline void vx_print_text(const vx_printer *printer, const char *text) {
  printer->print(printer->user_data, text);
}

// Writes the separator before every member but the first, then the member's
// key text.
inline void vx_print_member_key(const vx_printer *printer, bool *first_member,
                                const char *key_text) {
  if (!*first_member) vx_print_text(printer, ", ");
  *first_member = false;
  vx_print_text(printer, key_text);
}

// One printer call per scalar. The argument types are part of the contract
// with the consumer's printer, which reads each value with va_arg of the type
// that the format names: the narrow types travel as int, f32 as double.
inline void vx_print_u8(const vx_printer *printer, uint8_t value) {
  printer->print(printer->user_data, "%hhu", static_cast<int>(value));
}
inline void vx_print_u16(const vx_printer *printer, uint16_t value) {
  printer->print(printer->user_data, "%hu", static_cast<int>(value));
}
inline void vx_print_i16(const vx_printer *printer, int16_t value) {
  printer->print(printer->user_data, "%hi", static_cast<int>(value));
}
inline void vx_print_u32(const vx_printer *printer, uint32_t value) {
  printer->print(printer->user_data, "%u", static_cast<unsigned int>(value));
}
inline void vx_print_i32(const vx_printer *printer, int32_t value) {
  printer->print(printer->user_data, "%i", static_cast<int>(value));
}
inline void vx_print_u64(const vx_printer *printer, uint64_t value) {
  printer->print(printer->user_data, "%llu", static_cast<unsigned long long>(value));
}
inline void vx_print_i64(const vx_printer *printer, int64_t value) {
  printer->print(printer->user_data, "%lli", static_cast<long long>(value));
}
inline void vx_print_f32(const vx_printer *printer, float value) {
  printer->print(printer->user_data, "%g", static_cast<double>(value));
}
