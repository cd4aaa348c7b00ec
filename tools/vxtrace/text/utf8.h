// UTF-8 as text from a trace or a command line must be checked before it
// goes where readers expect valid UTF-8 (JSON, protobuf strings, SQLite
// TEXT, a terminal).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vxtrace {

// U+FFFD, which stands for bytes that are not valid UTF-8.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of text (1 for
// ASCII; shortest form, no surrogates, at most U+10FFFF), or 0 when it is not
// one or text is empty.
size_t utf8_sequence_length(std::string_view text);

// Whether every byte of text belongs to a well-formed UTF-8 sequence.
bool is_valid_utf8(std::string_view text);

// text with every byte that starts no valid sequence replaced by U+FFFD.
void assign_valid_utf8(std::string *out, std::string_view text);

}  // namespace vxtrace
