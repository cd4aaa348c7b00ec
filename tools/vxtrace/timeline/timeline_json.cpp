#include "timeline/timeline_json.h"

#include <charconv>

#include "text/json_text.h"

namespace vxtrace {
namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t skip_spaces(std::string_view text, size_t at) {
  while (at < text.size() && is_space(text[at])) ++at;
  return at;
}

// The end of the string that opens at text[at] ('"'), past its closing quote.
size_t skip_string(std::string_view text, size_t at) {
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\')
      ++at;
    else if (text[at] == '"')
      return at + 1;
  }
  return text.size();
}

// The end of the value that starts at text[at]: a string, an object or array
// with everything nested in it, or a scalar up to the next separator.
size_t skip_value(std::string_view text, size_t at) {
  if (at >= text.size()) return at;
  if (text[at] == '"') return skip_string(text, at);
  if (text[at] == '{' || text[at] == '[') {
    int depth = 0;
    while (at < text.size()) {
      const char c = text[at];
      if (c == '"') {
        at = skip_string(text, at);
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return at + 1;
      ++at;
    }
    return at;
  }
  while (at < text.size() && text[at] != ',' && text[at] != '}' && text[at] != ']' &&
         !is_space(text[at]))
    ++at;
  return at;
}

// One level of find_member: key holds no dot.
std::optional<std::string_view> find_direct_member(std::string_view object, std::string_view key) {
  size_t at = skip_spaces(object, 0);
  if (at >= object.size() || object[at] != '{') return std::nullopt;
  at = skip_spaces(object, at + 1);
  while (at < object.size() && object[at] == '"') {
    const size_t key_end = skip_string(object, at);
    const std::string_view member_key = object.substr(at + 1, key_end - at - 2);
    at = skip_spaces(object, key_end);
    if (at >= object.size() || object[at] != ':') return std::nullopt;
    const size_t value_start = skip_spaces(object, at + 1);
    const size_t value_end = skip_value(object, value_start);
    if (member_key == key) return object.substr(value_start, value_end - value_start);
    at = skip_spaces(object, value_end);
    if (at >= object.size() || object[at] != ',') return std::nullopt;
    at = skip_spaces(object, at + 1);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> find_member(std::string_view object, std::string_view key) {
  const size_t dot = key.find('.');
  if (dot == std::string_view::npos) return find_direct_member(object, key);
  const auto outer = find_direct_member(object, key.substr(0, dot));
  if (!outer) return std::nullopt;
  return find_member(*outer, key.substr(dot + 1));
}

bool is_json_number(std::string_view text) {
  if (text.empty()) return false;
  const char first = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
  return first >= '0' && first <= '9';
}

std::optional<uint32_t> parse_uint32(std::string_view text) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace vxtrace
