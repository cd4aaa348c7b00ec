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

}  // namespace

std::optional<uint64_t> parse_duration(std::string_view text, std::string *why) {
  uint64_t total = 0;
  size_t at = 0;
  if (text.empty()) {
    *why = "a duration is needed";
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

namespace {

// "+" or "-" and a duration; a bare number after "-" would read as a negative
// timestamp, which no record has.
std::optional<TimeSpec> parse_signed(std::string_view text, std::string *why) {
  const char sign = text.front();
  const std::string_view rest = text.substr(1);
  if (rest.empty()) {
    *why = std::string("a duration is needed after '") + sign + "'";
    return std::nullopt;
  }
  if (sign == '-' && rest.find_first_not_of("0123456789") == std::string_view::npos) {
    *why = "a timestamp cannot be negative; before the last record, give a unit (-60s)";
    return std::nullopt;
  }
  const std::optional<uint64_t> duration = parse_duration(rest, why);
  if (!duration) return std::nullopt;
  return TimeSpec{*duration, sign == '+' ? TimeOrigin::first_record : TimeOrigin::last_record};
}

}  // namespace

std::optional<TimeSpec> parse_time(const std::string &text, std::string *why) {
  if (text.empty()) {
    *why = "empty: expected a time such as 37.4s, 37400000000, +90s or -60s";
    return std::nullopt;
  }
  if (text.front() == '+' || text.front() == '-') return parse_signed(text, why);
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    uint64_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) {
      *why = "too large";
      return std::nullopt;
    }
    return TimeSpec{value, TimeOrigin::clock_zero};
  }
  std::string problem;
  const std::optional<uint64_t> since_zero = parse_duration(text, &problem);
  if (!since_zero) {
    *why = "not a time (" + problem +
           "): a timestamp in ns, a time with a unit (37.4s), + a duration from the first "
           "record or - a duration before the last";
    return std::nullopt;
  }
  return TimeSpec{*since_zero, TimeOrigin::clock_zero};
}

}  // namespace vxtrace
