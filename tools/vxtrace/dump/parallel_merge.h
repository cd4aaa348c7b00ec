// dump of several inputs on several threads: each input is read, decoded and
// rendered on a thread of its own into chunks of lines with their
// timestamps, and this thread merges the lines by timestamp exactly as the
// one-thread merge orders the records (the earliest first, the first input
// on a tie, each input in its own order). The output is the same, byte for
// byte; the plug-in's log lines of different inputs may come in another
// order.
#pragma once

#include "dump/dump_command.h"
#include "io/diagnostics.h"
#include "io/inputs.h"
#include "text/output_sink.h"

namespace vxtrace {

// One thread per input: only when there are at least two and no more than
// jobs.
bool can_merge_in_parallel(const OpenedInput &opened, unsigned jobs);

// Dumps opened's inputs merged; false when the output failed. The inputs'
// errors are left to input_exit_status, once this has returned.
bool merge_in_parallel(const DumpOptions &options, const OpenedInput &opened, OutputSink *sink);

}  // namespace vxtrace
