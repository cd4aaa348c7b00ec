// Number and text formatting shared by the report's renderings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/json_writer.h"
#include "text/terminal_text.h"

namespace vxtrace {

// A duration for a person, at most 7 characters: "850ns", "123.4us",
// "12.35ms", "400.1ms", "1.234s", "5234s", "12d".
std::string human_duration(uint64_t ns);

// A count in at most width characters (at least 4): the digits when they
// fit, else rounded to thousands, millions, ...: "1234567", "12346k".
std::string compact_count(uint64_t value, size_t width);

// Nanoseconds as seconds with nine decimals: "12.000000345".
std::string seconds(uint64_t ns);

void append_uint(std::string &out, uint64_t value);
void append_int(std::string &out, int64_t value);

// Text for HTML element content and attribute values.
void append_html_text(std::string &out, std::string_view text);

}  // namespace vxtrace
