// POSIX implementation of the platform layer: CLOCK_MONOTONIC as the
// high-resolution counter (one tick per nanosecond), CLOCK_REALTIME converted
// to file time as the system time, nanosleep for the sleep.
#include <cerrno>
#include <ctime>

#include "lib/platform/platform.h"

namespace vx::platform {

namespace {
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;  // 100 ns units
}  // namespace

bool query_counter_frequency(std::int64_t *frequency) {
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *frequency = kNanosecondsPerSecond;
  return true;
}

std::int64_t read_counter() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * kNanosecondsPerSecond + ts.tv_nsec;
}

std::int64_t unix_epoch_file_time() {
  return kUnixEpochFileTime;
}

std::int64_t system_time_as_file_time() {
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return kUnixEpochFileTime;
  return kUnixEpochFileTime + static_cast<std::int64_t>(ts.tv_sec) * kFileTimeUnitsPerSecond +
         ts.tv_nsec / 100;
}

void sleep_ms(std::uint32_t milliseconds) {
  timespec request;
  request.tv_sec = static_cast<time_t>(milliseconds / 1000);
  request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  timespec remaining;
  // nanosleep stores the time still to sleep when a signal handler interrupts
  // it; sleep on for that rest.
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace vx::platform
