// What every command shares on its command line and in its result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/time_syntax.h"

namespace vxtrace {

enum ExitStatus { kExitSuccess = 0, kExitUsage = 1, kExitDamagedInput = 2 };

struct InputOptions {
  // Paths as given, "-" for standard input (at most once); several are
  // merged by timestamp.
  std::vector<std::string> inputs;
  std::string plugin;  // empty: beside the executable, then ../lib/
  bool progress = true;
  // The selection, as given: times parsed once on the command line (none:
  // open), session ids.
  std::optional<TimeOption> begin;
  std::optional<TimeOption> end;
  std::vector<uint32_t> sessions;
  bool with_receiver = false;
  std::vector<std::string> event_globs;  // --event, full or short names
};

}  // namespace vxtrace
