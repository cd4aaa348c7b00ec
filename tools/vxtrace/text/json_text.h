// JSON text pieces that the tool writes itself: strings from the trace
// (escaped, made valid UTF-8) and raw bytes as hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vxtrace {

// Length of the well-formed UTF-8 sequence at the start of text (1 for
// ASCII; shortest form, no surrogates, at most U+10FFFF), or 0 when it is not
// one or text is empty.
size_t utf8_sequence_length(std::string_view text);

// Whether every byte of text belongs to a well-formed UTF-8 sequence.
bool is_valid_utf8(std::string_view text);

// Appends text as a quoted JSON string. Bytes that are not valid UTF-8 become
// U+FFFD, so the line stays valid JSON whatever the trace holds.
void append_json_string(std::string *out, std::string_view text);

// Appends bytes as lower-case hex digits, two per byte, without quotes.
void append_hex(std::string *out, const void *bytes, size_t size);

// Appends an unsigned decimal number.
void append_decimal(std::string *out, uint64_t value);

}  // namespace vxtrace
