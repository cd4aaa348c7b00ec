// vxtrace stats: per event name the count, the decode failures and the payload
// bytes, and totals over the whole trace.
#pragma once

#include "cli/command.h"
#include "core/options.h"

namespace vxtrace {

struct StatsOptions {
  InputOptions in;
  bool json = false;
};

int run_stats(const StatsOptions &options);

// The command as main.cpp lists it.
Command stats_command();

}  // namespace vxtrace
