#include "text/json_text.h"

#include <charconv>

namespace vxtrace {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace

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

namespace {

void append_escaped_ascii(std::string *out, unsigned char c) {
  switch (c) {
    case '"':
      out->append("\\\"");
      return;
    case '\\':
      out->append("\\\\");
      return;
    case '\n':
      out->append("\\n");
      return;
    case '\r':
      out->append("\\r");
      return;
    case '\t':
      out->append("\\t");
      return;
    default:
      break;
  }
  if (c < 0x20 || c == 0x7F) {
    out->append("\\u00");
    out->push_back(kHexDigits[c >> 4]);
    out->push_back(kHexDigits[c & 0xF]);
  } else {
    out->push_back(static_cast<char>(c));
  }
}

}  // namespace

void append_json_string(std::string *out, std::string_view text) {
  out->push_back('"');
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      append_escaped_ascii(out, c);
      ++i;
      continue;
    }
    const size_t length = utf8_sequence_length(text.substr(i));
    if (length == 0) {
      out->append(kReplacementCharacter);
      ++i;
    } else {
      out->append(text.substr(i, length));
      i += length;
    }
  }
  out->push_back('"');
}

void append_hex(std::string *out, const void *bytes, size_t size) {
  const auto *data = static_cast<const unsigned char *>(bytes);
  const size_t at = out->size();
  out->resize(at + 2 * size);
  for (size_t i = 0; i < size; ++i) {
    (*out)[at + 2 * i] = kHexDigits[data[i] >> 4];
    (*out)[at + 2 * i + 1] = kHexDigits[data[i] & 0xF];
  }
}

void append_decimal(std::string *out, uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, result.ptr);
}

}  // namespace vxtrace
