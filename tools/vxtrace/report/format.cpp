#include "report/format.h"

#include <charconv>
#include <cstdio>

#include "report/report_writers.h"
#include "text/json_text.h"

namespace vxtrace {
namespace {

// The length of the well-formed UTF-8 sequence at the start of text, 0 if the
// first byte starts none (overlong forms and surrogates included).
size_t utf8_length(std::string_view text) {
  return utf8_sequence_length(text);
}

}  // namespace

void append_uint(std::string &out, uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void append_int(std::string &out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void append_us(std::string &out, uint64_t ns) {
  append_uint(out, ns / 1000);
  uint64_t fraction = ns % 1000;
  if (fraction == 0) return;
  char decimals[4] = {'.', static_cast<char>('0' + fraction / 100),
                      static_cast<char>('0' + fraction / 10 % 10),
                      static_cast<char>('0' + fraction % 10)};
  size_t length = 4;
  while (decimals[length - 1] == '0') --length;
  out.append(decimals, length);
}

std::string human_duration(uint64_t ns) {
  char text[32];
  const double value = static_cast<double>(ns);
  if (ns < 1000)
    std::snprintf(text, sizeof text, "%lluns", static_cast<unsigned long long>(ns));
  else if (ns < 999'950)
    std::snprintf(text, sizeof text, "%.1fus", value / 1e3);
  else if (ns < 999'995'000)
    std::snprintf(text, sizeof text, "%.2fms", value / 1e6);
  else if (ns < 999'999'500'000)
    std::snprintf(text, sizeof text, "%.3fs", value / 1e9);
  else
    std::snprintf(text, sizeof text, "%.0fs", value / 1e9);
  return text;
}

std::string seconds(uint64_t ns) {
  char text[40];
  std::snprintf(text, sizeof text, "%llu.%09llu",
                static_cast<unsigned long long>(ns / 1'000'000'000),
                static_cast<unsigned long long>(ns % 1'000'000'000));
  return text;
}

void append_json_string(std::string &out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  while (!text.empty()) {
    const size_t length = utf8_length(text);
    if (length == 0) {
      out.append("\\ufffd");
      text.remove_prefix(1);
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[0]);
    if (length > 1) {
      out.append(text.substr(0, length));
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == '<' || c == 0x7F) {
      out.append("\\u00");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
    text.remove_prefix(length);
  }
  out.push_back('"');
}

void append_html_text(std::string &out, std::string_view text) {
  for (const char c : printable(text)) {
    switch (c) {
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '&':
        out.append("&amp;");
        break;
      case '"':
        out.append("&quot;");
        break;
      default:
        out.push_back(c);
    }
  }
}

std::string printable(std::string_view text) {
  std::string shown;
  while (!text.empty()) {
    const size_t length = utf8_length(text);
    const unsigned char c = static_cast<unsigned char>(text[0]);
    const bool c1_control = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
    if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F)) || c1_control) {
      shown.push_back('?');
      text.remove_prefix(1);
      continue;
    }
    shown.append(text.substr(0, length));
    text.remove_prefix(length);
  }
  return shown;
}

std::vector<std::string> limit_notes(const Report &report) {
  std::vector<std::string> notes;
  const ReportOptions &options = report.options;
  const auto note = [&](uint64_t count, const char *what, size_t limit, const char *why) {
    if (count == 0) return;
    std::string text;
    append_uint(text, count);
    text.append(what);
    append_uint(text, limit);
    text.append(why);
    notes.push_back(std::move(text));
  };
  note(report.keys_not_followed, " keys were counted lost unfollowed: more than ",
       options.max_keys_in_flight, " were in flight");
  note(report.sessions_ended_early, " sessions were ended early: more than ",
       options.max_live_sessions, " were live at once");
  note(report.records_of_extra_sessions, " records belong to sessions beyond the first ",
       options.max_sessions, " and are not broken down by session");
  return notes;
}

}  // namespace vxtrace
