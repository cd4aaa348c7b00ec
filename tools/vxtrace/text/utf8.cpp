#include "text/utf8.h"

namespace vxtrace {

// Length of the well-formed UTF-8 sequence at the start of text (shortest
// form, no surrogates, at most U+10FFFF), or 0 when it is not one.
size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  if (text.empty()) return 0;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

bool is_valid_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    // ASCII runs are the common case.
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const size_t length = utf8_sequence_length(text.substr(at));
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void assign_valid_utf8(std::string *out, std::string_view text) {
  out->clear();
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8_sequence_length(text.substr(at));
    if (length == 0) {
      out->append(kReplacementCharacter);
      ++at;
    } else {
      out->append(text.substr(at, length));
      at += length;
    }
  }
}

}  // namespace vxtrace
