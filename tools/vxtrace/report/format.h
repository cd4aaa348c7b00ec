// Number and text formatting shared by the report's renderings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vxtrace {

// Nanoseconds as microseconds with up to three decimals, no trailing zeros:
// 1234567 -> "1234.567", 2000 -> "2".
void append_us(std::string &out, uint64_t ns);

// A duration for a person, at most 8 characters: "850ns", "123.4us",
// "12.35ms", "1.234s", "5234s".
std::string human_duration(uint64_t ns);

// Nanoseconds as seconds with nine decimals: "12.000000345".
std::string seconds(uint64_t ns);

void append_uint(std::string &out, uint64_t value);
void append_int(std::string &out, int64_t value);

// A JSON string literal. Control characters and '<' are escaped (so the text
// may stand inside an HTML script element); bytes that are not UTF-8 become
// U+FFFD, so the document stays valid JSON whatever a file name holds.
void append_json_string(std::string &out, std::string_view text);

// Text for HTML element content and attribute values.
void append_html_text(std::string &out, std::string_view text);

// Text for a terminal: control characters and invalid UTF-8 become '?'.
std::string printable(std::string_view text);

}  // namespace vxtrace
