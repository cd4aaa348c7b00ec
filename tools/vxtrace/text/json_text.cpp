#include "text/json_text.h"

#include <charconv>

namespace vxtrace {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

namespace {

void append_unicode_escape(std::string *out, unsigned char c) {
  out->append("\\u00");
  out->push_back(kHexDigits[c >> 4]);
  out->push_back(kHexDigits[c & 0xF]);
}

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
  if (c < 0x20 || c == 0x7F)
    append_unicode_escape(out, c);
  else
    out->push_back(static_cast<char>(c));
}

// Every control, DEL and '<' as \u00XX and bad bytes as \ufffd: ASCII
// escapes only, so that the text may stand inside an HTML script element.
void append_html_safe(std::string *out, unsigned char c) {
  if (c == '"' || c == '\\') {
    out->push_back('\\');
    out->push_back(static_cast<char>(c));
  } else if (c < 0x20 || c == '<' || c == 0x7F) {
    append_unicode_escape(out, c);
  } else {
    out->push_back(static_cast<char>(c));
  }
}

}  // namespace

void append_json_string(std::string *out, std::string_view text, JsonEscaping escaping) {
  const bool html_safe = escaping == JsonEscaping::html_safe;
  out->push_back('"');
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      html_safe ? append_html_safe(out, c) : append_escaped_ascii(out, c);
      ++i;
      continue;
    }
    const size_t length = utf8_sequence_length(text.substr(i));
    if (length == 0) {
      out->append(html_safe ? std::string_view("\\ufffd") : kReplacementCharacter);
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
