// Test hooks of the clock (vx_get_timestamp). The test build can replace the
// platform's counter and system time with a fake source, force the path
// without a high-resolution counter, and undo the clock's one-time set-up so
// that the next vx_get_timestamp sets it up again. None of this exists in the
// shared library.
#pragma once

#ifdef VX_TESTING

#include <cstdint>

namespace vx {

// The platform operations the clock uses (see lib/platform/platform.h).
struct clock_source {
  bool (*query_counter_frequency)(std::int64_t *frequency);
  std::int64_t (*read_counter)();
  std::int64_t (*unix_epoch_file_time)();
  std::int64_t (*system_time_as_file_time)();
};

// Uses source for the following clock set-ups and readings; nullptr restores
// the platform's operations. Call it only while no other thread uses the
// clock, and keep *source alive while it is installed.
void clock_set_source_for_testing(const clock_source *source);

// While forced, the clock's set-up behaves as if no high-resolution counter
// existed (system time since 1970-01-01). Takes effect at the next set-up.
void clock_force_no_counter_for_testing(bool force);

// Forgets the clock's one-time set-up: the next vx_get_timestamp sets up the
// clock again and becomes its new zero point. Call it only while no other
// thread uses the clock.
void clock_reset_for_testing();

}  // namespace vx

#endif
