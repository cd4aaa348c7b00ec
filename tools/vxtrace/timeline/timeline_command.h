// vxtrace timeline: the trace as a timeline for trace viewers.
#pragma once

#include <string>
#include <vector>

#include "cli/command.h"
#include "core/options.h"

namespace vxtrace {

struct TimelineOptions {
  InputOptions in;
  std::string output;  // empty (no -o) or "-": standard output
  // "json", "perfetto", or empty: perfetto when output ends in ".pftrace" or
  // ".perfetto-trace", else json.
  std::string format;
  // false: records without their arguments (the payload), for a smaller
  // file that still shows every record, slice, flow and counter.
  bool with_args = true;
};

// Whether the options ask for Perfetto's native format.
bool wants_perfetto(const TimelineOptions &options);

int run_timeline(const TimelineOptions &options);

// The command as main.cpp lists it.
Command timeline_command();

}  // namespace vxtrace
