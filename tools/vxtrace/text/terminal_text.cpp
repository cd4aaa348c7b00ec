#include "text/terminal_text.h"

#include "text/utf8.h"

namespace vxtrace {

std::string printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    const size_t length = utf8_sequence_length(text);
    const auto c = static_cast<unsigned char>(text[0]);
    const bool c1_control = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
    if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F)) || c1_control) {
      // One '?' per character: a C1 control is two bytes, a bad byte one.
      shown.push_back('?');
      text.remove_prefix(c1_control ? 2 : 1);
      continue;
    }
    shown.append(text.substr(0, length));
    text.remove_prefix(length);
  }
  return shown;
}

}  // namespace vxtrace
