// Pieces every fuzz target shares: a logger that drops records (the default
// one would write to stderr at every damaged record and slow the run down),
// and a hard check that aborts so that libFuzzer records the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/recording.hpp"
#include "vexlo/log.h"

namespace vx_fuzz {

inline void install_quiet_logger() {
  static vx_logger quiet = {nullptr, [](void *, const vx_log_record *) {}, nullptr};
  vx_set_logger(&quiet);
}

[[noreturn]] inline void fail(const char *what, const char *file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

// The rendering as text, with every non-finite float (which "%g" writes as
// inf or nan, and JSON cannot hold) replaced by 0.
std::string json_text_of(const vx_test::RecordingPrinter &printer);

// True when text is exactly one JSON object.
bool is_json_object(const std::string &text);

}  // namespace vx_fuzz

#define VX_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : vx_fuzz::fail(#condition, __FILE__, __LINE__))
