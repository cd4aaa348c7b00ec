// A progress line on standard error for long runs: percentage, events per
// second and time left. Shown only when standard error is a terminal and the
// run is not quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vxtrace {

class Progress {
 public:
  // total is the amount of work in the units given to update, 0 when unknown.
  Progress(bool wanted, uint64_t total);
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;
  ~Progress() { finish(); }

  // Cheap enough to call for every event.
  void update(uint64_t done, uint64_t events) {
    if (enabled_ && (++calls_ & 0x3FF) == 0) redraw(done, events);
  }

  // For callers that report large steps (a finished part of the file) rather
  // than single events: every call may redraw.
  void update_step(uint64_t done, uint64_t events) {
    if (enabled_) redraw(done, events);
  }

  // After the records, for work that has no measure of its own (building
  // indexes): the line shows the step and the seconds it has taken so far.
  void step(std::string_view name);
  // Keeps the step's seconds current; cheap enough to call often.
  void step_working();

  // Clears the line.
  void finish();

 private:
  void redraw(uint64_t done, uint64_t events);
  void draw_step();

  bool enabled_;
  bool drawn_ = false;
  uint64_t total_;
  uint64_t calls_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  std::string step_;
  std::chrono::steady_clock::time_point step_start_;
};

}  // namespace vxtrace
