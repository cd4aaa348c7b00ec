// The one syntax of times on the command line (--begin, --end, and the
// times of generate --inject):
//   1000076458           a timestamp in nanoseconds, as dump prints it
//   37.4038s, 1h2m3.5s   the same with a unit (h, m, s, ms, us, ns): time since
//                        the clock's zero, as the report prints it
//   +90s, +37m12.5s      a duration after the first data record
//   -60s, -1m30s         a duration before the last data record
// Fractions are exact: "37.403812345s" is 37403812345 ns, and a fraction finer
// than a nanosecond is refused rather than rounded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vxtrace {

enum class TimeOrigin {
  clock_zero,    // an absolute timestamp
  first_record,  // "+": the first data record of the earliest input
  last_record,   // "-": counted back from the last data record of the inputs
};

struct TimeSpec {
  uint64_t nanoseconds = 0;
  TimeOrigin origin = TimeOrigin::clock_zero;
};

// A time as given on the command line, for messages, and as parsed.
struct TimeOption {
  std::string text;
  TimeSpec time;
};

// nullopt, with *why filled, for text that is not a time.
std::optional<TimeSpec> parse_time(const std::string &text, std::string *why);

// A duration with units ("400ms", "1m30.5s"), in nanoseconds; nullopt, with
// *why filled, for anything else (a bare number included).
std::optional<uint64_t> parse_duration(std::string_view text, std::string *why);

}  // namespace vxtrace
