// dump on several threads. The trace file is cut into parts at record
// boundaries; each worker reads its part with an iterator of its own (the
// definitions in force before the part are replayed to it first) and renders
// the lines into a buffer of its own; the buffers, and the plug-in's log
// records gathered with them, are written in file order. The output is the
// same as one thread's, byte for byte.
#pragma once

#include <vector>

#include "dump/dump_command.h"
#include "io/diagnostics.h"
#include "io/inputs.h"
#include "text/fast_printer.h"
#include "text/output_sink.h"

namespace vxtrace {

// --jobs, or the number of cores.
unsigned dump_job_count(const DumpOptions &options);

// Regular files can be cut into parts; streams are read on one thread.
bool can_dump_in_parallel(const OpenedInput &opened);

struct ParallelDumpResult {
  bool written = false;        // false when the output failed
  bool limit_reached = false;  // --limit stopped the dump before the end
  bool input_failed = false;   // a part could not be opened (reported)
  // Damage or a read failure that a part met although the session's reader
  // had found the part whole: the file changed meanwhile. Not yet reported;
  // the output holds everything before it.
  vxt_error read_error{};
};

// Dumps opened's sole input with jobs workers. The session's reader serves to
// find the parts, so its error afterwards is what one thread would have met.
ParallelDumpResult dump_in_parallel(const DumpOptions &options, unsigned jobs,
                                    const OpenedInput &opened, OutputSink *sink);

// The plug-in's read-only segments, whose format texts the printer may
// remember by address.
std::vector<AddressRange> plugin_constant_text(const PluginApi &api);

}  // namespace vxtrace
