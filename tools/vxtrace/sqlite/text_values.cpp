#include "sqlite/text_values.h"

#include <cstdint>
#include <cstdio>

namespace vxtrace::sqlite {
namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when there is none
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
size_t utf8_sequence_length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;
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
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return length;
}

void append_json_string(std::string &out, std::string_view text) {
  out += '"';
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8_sequence_length(text, at);
    const char c = text[at];
    if (length == 0) {
      out += "\\ufffd";
      ++at;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (length == 1 && (static_cast<uint8_t>(c) < 0x20 || c == 0x7F)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  out += '"';
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8_sequence_length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

int bind_name(sqlite3_stmt *statement, int parameter, std::string_view text,
              sqlite3_destructor_type lifetime) {
  // A null pointer would bind NULL; an empty name stays an empty text.
  const char *bytes = text.data() != nullptr ? text.data() : "";
  const int size = static_cast<int>(text.size());
  if (is_valid_utf8(text)) return sqlite3_bind_text(statement, parameter, bytes, size, lifetime);
  return sqlite3_bind_blob(statement, parameter, bytes, size, lifetime);
}

std::string json_string_array(const std::vector<std::string> &texts) {
  std::string out = "[";
  for (const std::string &text : texts) {
    if (out.size() > 1) out += ", ";
    append_json_string(out, text);
  }
  return out + "]";
}

}  // namespace vxtrace::sqlite
