// JSON documents that vxtrace writes itself (the report, the page's data,
// stats --json, the generator's manifest, the database's meta), in one
// style: ", " between items, ": " after keys, and a line break where the
// caller asks for one.
//
//   JsonWriter json(out);
//   json.open('{');
//   json.member("count", 3);
//   json.key("names"); json.open('['); json.text("a"); json.close(']');
//   json.close('}');                     // {"count": 3, "names": ["a"]}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/json_text.h"

namespace vxtrace {

// Nanoseconds as microseconds with up to three decimals, no trailing zeros,
// exact for every value: 1234567 -> "1234.567", 2000 -> "2",
// 2^64-1 -> "18446744073709551.615".
void append_us(std::string *out, uint64_t ns);

class JsonWriter {
 public:
  explicit JsonWriter(std::string &out, JsonEscaping escaping = JsonEscaping::plain)
      : out_(out), escaping_(escaping) {}

  void key(std::string_view name);
  void open(char bracket);
  void close(char bracket);
  // The next value or key starts a line.
  void break_line() { line_break_ = true; }

  void number(uint64_t value);
  void signed_number(int64_t value);
  void us(uint64_t ns);
  void null();
  void text(std::string_view value);
  // A value already in JSON form, such as a number printed elsewhere.
  void raw(std::string_view json);

  void member(std::string_view name, uint64_t value) {
    key(name);
    number(value);
  }
  void member_text(std::string_view name, std::string_view value) {
    key(name);
    text(value);
  }
  // A duration of a set that may be empty: null then.
  void member_us(std::string_view name, uint64_t ns, bool exists) {
    key(name);
    exists ? us(ns) : null();
  }

 private:
  void separate();

  std::string &out_;
  JsonEscaping escaping_;
  bool first_ = true;
  bool after_key_ = false;
  bool line_break_ = false;
};

// A JSON array of strings: ["a", "b"].
std::string json_string_array(const std::vector<std::string> &texts,
                              JsonEscaping escaping = JsonEscaping::plain);

}  // namespace vxtrace
