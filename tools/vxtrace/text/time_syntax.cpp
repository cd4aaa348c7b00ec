#include "text/time_syntax.h"

#include <charconv>
#include <string_view>

namespace vxtrace {
namespace {

struct Unit {
  std::string_view name;
  uint64_t nanoseconds;
};

// Longer names first, so that "ms" is not read as "m" followed by "s".
constexpr Unit kUnits[] = {{"ms", 1'000'000},        {"us", 1'000},         {"ns", 1},
                           {"h", 3'600'000'000'000}, {"m", 60'000'000'000}, {"s", 1'000'000'000}};

size_t digits_at(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return end - at;
}

bool add_checked(uint64_t *total, uint64_t value) {
  if (value > UINT64_MAX - *total) return false;
  *total += value;
  return true;
}

// whole.fraction units, in nanoseconds; false when it overflows or is not a
// whole number of nanoseconds.
bool amount_in_nanoseconds(std::string_view whole, std::string_view fraction, uint64_t unit,
                           uint64_t *out, std::string *why) {
  uint64_t count = 0;
  if (std::from_chars(whole.data(), whole.data() + whole.size(), count).ec != std::errc() ||
      (count != 0 && unit > UINT64_MAX / count)) {
    *why = "too large";
    return false;
  }
  *out = count * unit;
  uint64_t scale = unit;
  for (char digit : fraction) {
    const uint64_t value = static_cast<uint64_t>(digit - '0');
    // A digit past the nanosecond (scale 1, then 0) must be a zero.
    if (value != 0 && (scale % 10 != 0 || scale == 0)) {
      *why = "finer than a nanosecond";
      return false;
    }
    scale /= 10;
    if (!add_checked(out, value * scale)) {
      *why = "too large";
      return false;
    }
  }
  return true;
}

std::optional<uint64_t> parse_duration(std::string_view text, std::string *why) {
  uint64_t total = 0;
  size_t at = 0;
  if (text.empty()) {
    *why = "a duration is needed after '+'";
    return std::nullopt;
  }
  while (at < text.size()) {
    const size_t whole = digits_at(text, at);
    size_t fraction = 0;
    if (whole > 0 && at + whole < text.size() && text[at + whole] == '.')
      fraction = digits_at(text, at + whole + 1);
    if (whole == 0 || (at + whole < text.size() && text[at + whole] == '.' && fraction == 0)) {
      *why = "expected a number at '" + std::string(text.substr(at)) + "'";
      return std::nullopt;
    }
    const size_t unit_at = at + whole + (fraction > 0 ? fraction + 1 : 0);
    const Unit *unit = nullptr;
    for (const Unit &candidate : kUnits)
      if (text.substr(unit_at, candidate.name.size()) == candidate.name) {
        unit = &candidate;
        break;
      }
    if (unit == nullptr) {
      *why = "expected a unit (h, m, s, ms, us, ns) at '" + std::string(text.substr(unit_at)) + "'";
      return std::nullopt;
    }
    uint64_t amount = 0;
    if (!amount_in_nanoseconds(text.substr(at, whole), text.substr(at + whole + 1, fraction),
                               unit->nanoseconds, &amount, why))
      return std::nullopt;
    if (!add_checked(&total, amount)) {
      *why = "too large";
      return std::nullopt;
    }
    at = unit_at + unit->name.size();
  }
  return total;
}

}  // namespace

std::optional<TimeSpec> parse_time(const std::string &text, std::string *why) {
  if (!text.empty() && text.front() == '+') {
    const std::optional<uint64_t> duration = parse_duration(std::string_view(text).substr(1), why);
    if (!duration) return std::nullopt;
    return TimeSpec{*duration, true};
  }
  uint64_t value = 0;
  const bool digits_only =
      !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits_only) {
    *why = "not a time: a timestamp in nanoseconds, or + and a duration such as +37m12.5s";
    return std::nullopt;
  }
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) {
    *why = "too large";
    return std::nullopt;
  }
  return TimeSpec{value, false};
}

}  // namespace vxtrace
