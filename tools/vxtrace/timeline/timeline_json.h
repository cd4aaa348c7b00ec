// Small JSON pieces of the timeline: reading single members back out of the
// plug-in's rendering of a record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vxtrace {

// The text of the value of key in a JSON object, or nothing when the object
// has no such member. A dotted key ("packet.session_id") reaches into nested
// objects. Only the top level of each object is searched.
std::optional<std::string_view> find_member(std::string_view object, std::string_view key);

// True when text is a JSON number (not null, not a string or object).
bool is_json_number(std::string_view text);

// The value as an unsigned 32-bit number, or nothing when it is not one.
std::optional<uint32_t> parse_uint32(std::string_view text);

}  // namespace vxtrace
