// What every command shares on its command line and in its result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vxtrace {

enum ExitStatus { kExitSuccess = 0, kExitUsage = 1, kExitDamagedInput = 2 };

struct InputOptions {
  // Paths as given, "-" for standard input (at most once); several are
  // merged by timestamp.
  std::vector<std::string> inputs;
  std::string plugin;  // empty: beside the executable, then ../lib/
  bool quiet = false;
  bool progress = true;
  // The selection, as given: times unparsed (empty: open), session ids.
  std::string begin;
  std::string end;
  std::vector<uint32_t> sessions;
  bool with_receiver = false;
};

}  // namespace vxtrace
