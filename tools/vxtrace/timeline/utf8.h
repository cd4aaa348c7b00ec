// UTF-8 checks for text that goes into protobuf string fields, which readers
// may reject when they are not valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vxtrace {

// The length of the valid UTF-8 sequence at text[at], or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF
// included).
inline size_t utf8_sequence_size(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  size_t size;
  uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < size) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < size; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  return size;
}

inline bool is_valid_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    // ASCII runs are the common case.
    if (static_cast<uint8_t>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const size_t size = utf8_sequence_size(text, at);
    if (size == 0) return false;
    at += size;
  }
  return true;
}

// text with every byte that starts no valid sequence replaced by U+FFFD.
inline void assign_valid_utf8(std::string *out, std::string_view text) {
  out->clear();
  for (size_t at = 0; at < text.size();) {
    const size_t size = utf8_sequence_size(text, at);
    if (size == 0) {
      out->append("\xEF\xBF\xBD");
      ++at;
    } else {
      out->append(text.substr(at, size));
      at += size;
    }
  }
}

}  // namespace vxtrace
