#include "core/plugin_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "text/json_text.h"

namespace vxtrace {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex_escape(std::string *out, unsigned char byte) {
  out->append("\\x");
  out->push_back(kHexDigits[byte >> 4]);
  out->push_back(kHexDigits[byte & 0xF]);
}

bool is_control(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

// U+0080 to U+009F: 0xC2 followed by 0x80 to 0x9F. Terminals that honour
// them read U+009B as the start of an escape sequence.
bool is_c1_control(std::string_view sequence) {
  return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
         static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

// The plug-in's own names of severities, so that lines read as its own
// logger writes them; set before the logger is installed.
decltype(&vx_log_severity_name) severity_name = nullptr;

// Lines may come from several threads; each goes out whole, and the first
// one fixes the time that the others count from.
std::mutex line_mutex;
std::chrono::steady_clock::time_point first_line_time;
bool first_line_written = false;

// Seconds since the first line, in whole milliseconds like the default
// logger's.
double seconds_since_first_line() {
  const auto now = std::chrono::steady_clock::now();
  if (!first_line_written) {
    first_line_time = now;
    first_line_written = true;
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - first_line_time).count();
  return static_cast<double>(elapsed) / 1000.0;
}

void write_escaped_line(void * /*user_data*/, const vx_log_record *record) {
  std::lock_guard<std::mutex> lock(line_mutex);
  char time[32];
  std::snprintf(time, sizeof time, "%.3lf [", seconds_since_first_line());
  std::string line = time;
  line.append(severity_name(record->severity));
  line.push_back('/');
  append_terminal_safe(&line, record->module != nullptr ? record->module : "(null)");
  line.append("]: ");
  append_terminal_safe(&line, record->message != nullptr ? record->message : "(null)");
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

vx_logger escaping_logger{nullptr, write_escaped_line, nullptr};

}  // namespace

void append_terminal_safe(std::string *out, std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte < 0x80 ? 1 : utf8_sequence_length(text.substr(i));
    const std::string_view piece = text.substr(i, std::max<size_t>(length, 1));
    if (length == 0 || is_control(byte) || is_c1_control(piece)) {
      for (const char c : piece) append_hex_escape(out, static_cast<unsigned char>(c));
    } else {
      out->append(piece);
    }
    i += piece.size();
  }
}

void write_plugin_logs_escaped(const PluginApi &api) {
  severity_name = api.severity_name;
  api.set_logger(&escaping_logger);
}

}  // namespace vxtrace
