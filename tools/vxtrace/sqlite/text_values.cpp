#include "sqlite/text_values.h"

#include <cstdint>
#include <cstdio>

#include "text/json_text.h"

namespace vxtrace {
namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when there is none
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
size_t utf8_sequence_length(std::string_view text, size_t at) {
  return vxtrace::utf8_sequence_length(text.substr(at));
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

}  // namespace vxtrace
