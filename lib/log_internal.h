// Test hooks of the logging service. The test build can forget the default
// logger's first-line time and give the default logger a fake clock. None of
// this exists in the shared library.
#pragma once

#ifdef VX_TESTING

#include <cstdint>

#include "vexlo/log.h"

namespace vx {

// Forgets the time of the default logger's first line: the next default line
// is a first line again. Call it only while no other thread logs.
void log_reset_first_line_for_testing();

// Makes the default logger take its times from source instead of
// vx_get_timestamp; nullptr restores vx_get_timestamp.
void log_set_timestamp_source_for_testing(std::uint64_t (*source)());

// The default logger record (the one vx_get_logger installs).
vx_logger *default_logger_for_testing();

}  // namespace vx

#endif
