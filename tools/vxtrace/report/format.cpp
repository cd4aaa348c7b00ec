#include "report/format.h"

#include <charconv>
#include <cstdio>

#include "report/report_writers.h"
#include "text/json_text.h"

namespace vxtrace {

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
