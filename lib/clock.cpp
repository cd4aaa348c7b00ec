// vx_get_timestamp and vx_sleep_ms, on top of the platform layer.
#include "lib/clock.h"

#include <atomic>
#include <cstdint>
#include <thread>

#include "lib/platform/platform.h"
#include "vexlo/log.h"

namespace vx {
namespace {

// Set-up state of the clock: kUnset until the first vx_get_timestamp, which
// moves it to kSettingUp while it fills the values below and then to kReady.
// Other threads arriving during the set-up wait for kReady; afterwards the
// values are only read.
enum : int { kUnset = 0, kSettingUp = 1, kReady = 2 };
std::atomic<int> clock_state{kUnset};
bool counter_available = false;
std::int64_t clock_start = 0;
double ticks_per_microsecond = 0.0;

#ifdef VX_TESTING
const clock_source platform_source = {
    platform::query_counter_frequency,
    platform::read_counter,
    platform::unix_epoch_file_time,
    platform::system_time_as_file_time,
};
std::atomic<const clock_source *> current_source{&platform_source};
std::atomic<bool> force_no_counter{false};

bool source_query_counter_frequency(std::int64_t *frequency) {
  if (force_no_counter.load()) return false;
  return current_source.load()->query_counter_frequency(frequency);
}
std::int64_t source_read_counter() {
  return current_source.load()->read_counter();
}
std::int64_t source_unix_epoch_file_time() {
  return current_source.load()->unix_epoch_file_time();
}
std::int64_t source_system_time_as_file_time() {
  return current_source.load()->system_time_as_file_time();
}
#else
bool source_query_counter_frequency(std::int64_t *frequency) {
  return platform::query_counter_frequency(frequency);
}
std::int64_t source_read_counter() {
  return platform::read_counter();
}
std::int64_t source_unix_epoch_file_time() {
  return platform::unix_epoch_file_time();
}
std::int64_t source_system_time_as_file_time() {
  return platform::system_time_as_file_time();
}
#endif

void set_up_clock() {
  std::int64_t frequency = 0;
  if (source_query_counter_frequency(&frequency) && frequency > 0) {
    counter_available = true;
    clock_start = source_read_counter();
    ticks_per_microsecond = static_cast<double>(frequency) / 1000000.0;
  } else {
    counter_available = false;
    clock_start = source_unix_epoch_file_time();
    ticks_per_microsecond = 10.0;
  }
}

// Runs the set-up exactly once, even when the first calls come from several
// threads at the same moment.
void ensure_clock_set_up() {
  int state = clock_state.load();
  if (state == kReady) return;
  if (state == kUnset && clock_state.compare_exchange_strong(state, kSettingUp)) {
    set_up_clock();
    clock_state.store(kReady);
    return;
  }
  while (clock_state.load() != kReady) std::this_thread::yield();
}

// The double-to-integer conversion truncates toward zero; values outside the
// signed 64-bit range (possible only with a counter slower than 1 MHz running
// for ages) are clamped instead of being undefined.
std::int64_t to_microseconds(double value) {
  constexpr double kLimit = 9223372036854775807.0;  // rounds to 2^63
  if (value >= kLimit) return INT64_MAX;
  if (value <= -kLimit) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

}  // namespace

#ifdef VX_TESTING
void clock_set_source_for_testing(const clock_source *source) {
  current_source.store(source != nullptr ? source : &platform_source);
}

void clock_force_no_counter_for_testing(bool force) {
  force_no_counter.store(force);
}

void clock_reset_for_testing() {
  clock_state.store(kUnset);
}
#endif

}  // namespace vx

uint64_t vx_get_timestamp(void) {
  vx::ensure_clock_set_up();
  const std::int64_t now =
      vx::counter_available ? vx::source_read_counter() : vx::source_system_time_as_file_time();
  // Two's-complement difference; a wrap would need values ~292 years apart.
  const std::int64_t elapsed = static_cast<std::int64_t>(
      static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(vx::clock_start));
  const std::int64_t microseconds =
      vx::to_microseconds(static_cast<double>(elapsed) / vx::ticks_per_microsecond);
  // Whole seconds stay 64-bit (a 32-bit count would overflow in 2038 on the
  // path without counter); the rest has the sign of the microseconds.
  const std::int64_t whole_seconds = microseconds / 1000000;
  const std::int64_t rest = microseconds - whole_seconds * 1000000;
  // Unsigned arithmetic: the result is the signed value taken modulo 2^64.
  return static_cast<std::uint64_t>(whole_seconds) * 1000000000u +
         static_cast<std::uint64_t>(rest) * 1000u;
}

void vx_sleep_ms(uint32_t milliseconds) {
  vx::platform::sleep_ms(milliseconds);
}
