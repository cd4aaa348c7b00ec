// vxtrace dump: every data record as one line, a JSON object or text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/options.h"
#include "dump/event_line_writer.h"
#include "select/selection.h"

namespace vxtrace {

struct DumpOptions {
  InputOptions in;
  std::optional<uint64_t> limit;
  std::string output;  // empty (no -o) or "-": standard output
  LineFormat format = LineFormat::json;
  unsigned jobs = 0;         // worker threads; 0: one per core
  uint64_t chunk_bytes = 0;  // input bytes per worker task; 0: chosen from jobs
  Selection selection;       // resolved by run_dump from in
};

int run_dump(const DumpOptions &options);

// The command as main.cpp lists it.
Command dump_command();

}  // namespace vxtrace
