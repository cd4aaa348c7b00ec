// Packed little-endian fields, read and written byte by byte so that neither
// alignment nor the host's byte order matters.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vxtrace {

template <class T>
T load_le(const uint8_t *bytes) {
  static_assert(std::is_integral_v<T>);
  std::make_unsigned_t<T> value = 0;
  for (size_t i = sizeof(T); i-- > 0;)
    value = static_cast<decltype(value)>((value << 8) | bytes[i]);
  return static_cast<T>(value);
}

template <class T>
void store_le(uint8_t *bytes, T value) {
  if constexpr (std::is_floating_point_v<T>) {
    static_assert(sizeof(T) == 4, "payload floats are single precision");
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    store_le(bytes, bits);
  } else {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i, bits = static_cast<decltype(bits)>(bits >> 8))
      bytes[i] = static_cast<uint8_t>(bits);
  }
}

}  // namespace vxtrace
