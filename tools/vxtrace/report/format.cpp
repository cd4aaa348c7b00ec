#include "report/format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "report/report_writers.h"
#include "text/decimal.h"
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
  // Each format is used only below the value it would round up to a wider
  // text, so that no duration takes more than 7 characters.
  struct Format {
    double below_ns;
    double unit_ns;
    const char *format;
  };
  static constexpr Format kFormats[] = {
      {999.95e3, 1e3, "%.1fus"},  {99.995e6, 1e6, "%.2fms"}, {999.95e6, 1e6, "%.1fms"},
      {9.9995e9, 1e9, "%.3fs"},   {99.995e9, 1e9, "%.2fs"},  {999.95e9, 1e9, "%.1fs"},
      {999999.5e9, 1e9, "%.0fs"}, {1e30, 86400e9, "%.0fd"},
  };
  char text[32];
  if (ns < 1000) {
    std::snprintf(text, sizeof text, "%lluns", static_cast<unsigned long long>(ns));
    return text;
  }
  const double value = static_cast<double>(ns);
  for (const Format &format : kFormats)
    if (value < format.below_ns) {
      std::snprintf(text, sizeof text, format.format, value / format.unit_ns);
      break;
    }
  return text;
}

std::string compact_count(uint64_t value, size_t width) {
  std::string text;
  append_uint(text, value);
  if (text.size() <= width) return text;
  static constexpr char kSuffixes[] = "kMGTPE";
  double scaled = static_cast<double>(value);
  char buffer[32];
  for (const char suffix : std::string_view(kSuffixes)) {
    scaled /= 1000;
    std::snprintf(buffer, sizeof buffer, "%.0f%c", scaled, suffix);
    if (std::strlen(buffer) <= width) break;
  }
  return buffer;
}

std::string seconds(uint64_t ns) {
  char text[32];
  return std::string(text, write_seconds(text, ns));
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
