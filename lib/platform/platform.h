// The few operating-system services that the runtime services need: a
// high-resolution counter with its frequency, the system time in 100 ns units
// since 1601-01-01, and a sleep. The clock's algorithm runs unchanged on top
// of them, whatever the operating system.
#pragma once

#include <cstdint>

namespace vx::platform {

// Number of 100-nanosecond units from 1601-01-01 00:00:00 UTC (the origin of a
// "file time") to 1970-01-01 00:00:00 UTC: 134774 days.
inline constexpr std::int64_t kUnixEpochFileTime = 134774LL * 86400LL * 10000000LL;
static_assert(kUnixEpochFileTime == 116444736000000000LL);

// Reports whether a high-resolution monotonic counter exists; when it does,
// stores its ticks per second in *frequency (never 0) and returns true.
bool query_counter_frequency(std::int64_t *frequency);

// The counter's current value in ticks; only meaningful when
// query_counter_frequency returned true.
std::int64_t read_counter();

// The calendar time 1970-01-01 00:00:00.000 UTC as a file time
// (kUnixEpochFileTime).
std::int64_t unix_epoch_file_time();

// The current system (wall-clock) time as a file time: 100-nanosecond units
// since 1601-01-01 00:00:00 UTC.
std::int64_t system_time_as_file_time();

// Suspends the calling thread for at least that many milliseconds, resuming
// after interruptions by signal handlers.
void sleep_ms(std::uint32_t milliseconds);

}  // namespace vx::platform
