// Windows implementation of the platform layer, on the kernel's own calls:
// QueryPerformanceFrequency/QueryPerformanceCounter as the high-resolution
// counter, GetSystemTimeAsFileTime as the system time (already a file time),
// SystemTimeToFileTime for 1970-01-01, and Sleep.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "lib/platform/platform.h"

namespace vx::platform {

namespace {
std::int64_t to_int64(const FILETIME &file_time) {
  ULARGE_INTEGER value;
  value.LowPart = file_time.dwLowDateTime;
  value.HighPart = file_time.dwHighDateTime;
  return static_cast<std::int64_t>(value.QuadPart);
}
}  // namespace

bool query_counter_frequency(std::int64_t *frequency) {
  LARGE_INTEGER value;
  if (!QueryPerformanceFrequency(&value) || value.QuadPart <= 0) return false;
  *frequency = value.QuadPart;
  return true;
}

std::int64_t read_counter() {
  LARGE_INTEGER value;
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

std::int64_t unix_epoch_file_time() {
  SYSTEMTIME epoch = {};
  epoch.wYear = 1970;
  epoch.wMonth = 1;
  epoch.wDay = 1;
  FILETIME file_time;
  if (!SystemTimeToFileTime(&epoch, &file_time)) return kUnixEpochFileTime;
  return to_int64(file_time);
}

std::int64_t system_time_as_file_time() {
  FILETIME file_time;
  GetSystemTimeAsFileTime(&file_time);
  return to_int64(file_time);
}

// Sleep is not cut short by anything a consumer could do (there are no
// signal handlers that interrupt it), so one call suffices.
void sleep_ms(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace vx::platform
