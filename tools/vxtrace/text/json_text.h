// JSON text pieces that the tool writes itself: strings from the trace
// (escaped, made valid UTF-8) and raw bytes as hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/utf8.h"

namespace vxtrace {

enum class JsonEscaping {
  // \n, \r and \t short, other controls and DEL as \u00XX, bytes that are
  // not valid UTF-8 as U+FFFD itself: the form of dump's lines.
  plain,
  // Every control, DEL and '<' as \u00XX and bad bytes as \ufffd: ASCII
  // escapes only, so that the text may stand inside an HTML script element.
  html_safe,
};

// Appends text as a quoted JSON string, valid JSON whatever the trace holds.
void append_json_string(std::string *out, std::string_view text,
                        JsonEscaping escaping = JsonEscaping::plain);

// Appends bytes as lower-case hex digits, two per byte, without quotes.
void append_hex(std::string *out, const void *bytes, size_t size);

// Appends an unsigned decimal number.
void append_decimal(std::string *out, uint64_t value);

}  // namespace vxtrace
