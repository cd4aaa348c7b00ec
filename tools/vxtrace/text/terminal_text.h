// Text for a terminal. Names come from trace files and command lines: an
// escape sequence or a stray control byte in one must not reach a terminal,
// where it could recolour, move or rewrite what the user reads.
#pragma once

#include <string>
#include <string_view>

namespace vxtrace {

// text with every C0 control, DEL, C1 control (U+0080 to U+009F) and byte
// that is not valid UTF-8 shown as '?'; other UTF-8 is kept.
std::string printable(std::string_view text);

}  // namespace vxtrace
