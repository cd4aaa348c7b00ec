// Decimal text of integers, as printf's %u/%llu/%i/%lli write them: the
// length first (from the highest set bit), then two digits per step from
// the right.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vxtrace {

namespace decimal_detail {

inline constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr uint64_t kPowersOfTen[20] = {1ull,
                                              10ull,
                                              100ull,
                                              1000ull,
                                              10000ull,
                                              100000ull,
                                              1000000ull,
                                              10000000ull,
                                              100000000ull,
                                              1000000000ull,
                                              10000000000ull,
                                              100000000000ull,
                                              1000000000000ull,
                                              10000000000000ull,
                                              100000000000000ull,
                                              1000000000000000ull,
                                              10000000000000000ull,
                                              100000000000000000ull,
                                              1000000000000000000ull,
                                              10000000000000000000ull};

// Number of decimal digits of value (1 for 0).
inline unsigned digit_count(uint64_t value) {
  // 1233 / 4096 approximates log10(2); the estimate is exact or one too big.
  const unsigned estimate = (64 - std::countl_zero(value | 1)) * 1233 >> 12;
  return estimate + ((value | 1) >= kPowersOfTen[estimate] ? 1 : 0);
}

}  // namespace decimal_detail

// Writes value at out (at most 20 bytes) and returns the end.
inline char *write_unsigned(char *out, uint64_t value) {
  using namespace decimal_detail;
  // Small numbers (flags, ids, counts) are the common case.
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  if (value < 100) {
    std::memcpy(out, kDigitPairs + 2 * value, 2);
    return out + 2;
  }
  const unsigned length = digit_count(value);
  char *end = out + length;
  char *at = end;
  while (value >= 100) {
    const uint64_t pair = value % 100;
    value /= 100;
    at -= 2;
    std::memcpy(at, kDigitPairs + 2 * pair, 2);
  }
  if (value >= 10) {
    std::memcpy(at - 2, kDigitPairs + 2 * value, 2);
  } else {
    at[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// Writes value at out (at most 20 bytes) and returns the end.
inline char *write_signed(char *out, int64_t value) {
  if (value < 0) {
    *out++ = '-';
    // Negating in unsigned arithmetic also covers the smallest value.
    return write_unsigned(out, 0 - static_cast<uint64_t>(value));
  }
  return write_unsigned(out, static_cast<uint64_t>(value));
}

// Writes ns as seconds with nine decimals ("37.403812345", "0.000000012"),
// the form that --begin/--end read back with an "s", at out (at most 30
// bytes) and returns the end.
inline char *write_seconds(char *out, uint64_t ns) {
  constexpr uint64_t kNanosecondsPerSecond = 1'000'000'000;
  out = write_unsigned(out, ns / kNanosecondsPerSecond);
  *out++ = '.';
  // Two digits per step from the right, as write_unsigned does, but always
  // nine of them.
  auto fraction = static_cast<uint32_t>(ns % kNanosecondsPerSecond);
  for (char *pair = out + 7; pair > out; pair -= 2) {
    std::memcpy(pair, decimal_detail::kDigitPairs + 2 * (fraction % 100), 2);
    fraction /= 100;
  }
  *out = static_cast<char>('0' + fraction);
  return out + 9;
}

}  // namespace vxtrace
