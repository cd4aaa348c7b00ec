// UTF-8 checks for text that goes into protobuf string fields, which readers
// may reject when they are not valid UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/json_text.h"

namespace vxtrace {

// The length of the valid UTF-8 sequence at text[at], or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF
// included).
inline size_t utf8_sequence_size(std::string_view text, size_t at) {
  return utf8_sequence_length(text.substr(at));
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
