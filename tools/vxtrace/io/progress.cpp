#include "io/progress.h"

#include <unistd.h>

#include <cstdio>

#include "io/diagnostics.h"

namespace vxtrace {

Progress::Progress(bool wanted, uint64_t total)
    : enabled_(wanted && !quiet() && isatty(STDERR_FILENO) == 1),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

void Progress::redraw(uint64_t done, uint64_t events) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < std::chrono::milliseconds(250)) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(events) / seconds : 0;
  if (total_ > 0 && done > 0 && done <= total_) {
    const double fraction = static_cast<double>(done) / static_cast<double>(total_);
    const double left = seconds * (1 - fraction) / fraction;
    std::fprintf(stderr, "\r%5.1f%%  %.0f events/s  %.0f s left   ", 100 * fraction, rate, left);
  } else {
    std::fprintf(stderr, "\r%llu events  %.0f events/s   ", static_cast<unsigned long long>(events),
                 rate);
  }
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::step(std::string_view name) {
  if (!enabled_) return;
  step_ = name;
  step_start_ = std::chrono::steady_clock::now();
  draw_step();
}

void Progress::step_working() {
  if (!enabled_ || step_.empty()) return;
  if (std::chrono::steady_clock::now() - last_draw_ >= std::chrono::milliseconds(250)) draw_step();
}

void Progress::draw_step() {
  last_draw_ = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(last_draw_ - step_start_).count();
  std::fprintf(stderr, "\r%s  %.0f s\033[K", step_.c_str(), seconds);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::finish() {
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
}

}  // namespace vxtrace
