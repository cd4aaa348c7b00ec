#include "text/json_writer.h"

#include <charconv>

namespace vxtrace {

void append_us(std::string *out, uint64_t ns) {
  append_decimal(out, ns / 1000);
  const uint64_t fraction = ns % 1000;
  if (fraction == 0) return;
  char decimals[4] = {'.', static_cast<char>('0' + fraction / 100),
                      static_cast<char>('0' + fraction / 10 % 10),
                      static_cast<char>('0' + fraction % 10)};
  size_t length = 4;
  while (decimals[length - 1] == '0') --length;
  out->append(decimals, length);
}

void JsonWriter::key(std::string_view name) {
  separate();
  append_json_string(&out_, name, escaping_);
  out_.append(": ");
  after_key_ = true;
}

void JsonWriter::open(char bracket) {
  separate();
  out_.push_back(bracket);
  first_ = true;
}

void JsonWriter::close(char bracket) {
  out_.push_back(bracket);
  first_ = false;
}

void JsonWriter::number(uint64_t value) {
  separate();
  append_decimal(&out_, value);
}

void JsonWriter::signed_number(int64_t value) {
  separate();
  char digits[24];
  out_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void JsonWriter::us(uint64_t ns) {
  separate();
  append_us(&out_, ns);
}

void JsonWriter::null() {
  separate();
  out_.append("null");
}

void JsonWriter::text(std::string_view value) {
  separate();
  append_json_string(&out_, value, escaping_);
}

void JsonWriter::raw(std::string_view json) {
  separate();
  out_.append(json);
}

void JsonWriter::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_) out_.append(line_break_ ? "," : ", ");
  if (line_break_) out_.push_back('\n');
  first_ = false;
  line_break_ = false;
}

std::string json_string_array(const std::vector<std::string> &texts, JsonEscaping escaping) {
  std::string out;
  JsonWriter json(out, escaping);
  json.open('[');
  for (const std::string &text : texts) json.text(text);
  json.close(']');
  return out;
}

}  // namespace vxtrace
