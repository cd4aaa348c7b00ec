// The times of --begin and --end: a plain integer is an absolute timestamp in
// nanoseconds, as dump prints it; "+" and a duration ("+90s", "+37m12.5s",
// "+1h", "+250ms", "+40us", "+1500ns") counts from the first data record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vxtrace {

struct TimeSpec {
  uint64_t nanoseconds = 0;
  bool relative = false;  // to the first data record of the earliest input
};

// A time as given on the command line, for messages, and as parsed.
struct TimeOption {
  std::string text;
  TimeSpec time;
};

// nullopt, with *why filled, for text that is not a time.
std::optional<TimeSpec> parse_time(const std::string &text, std::string *why);

}  // namespace vxtrace
