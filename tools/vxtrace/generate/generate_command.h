// vxtrace generate: a synthetic but plausible recording.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/command.h"

namespace vxtrace {

enum class EventMix { realistic, bench };

struct GenerateOptions {
  std::string output;  // "-": standard output
  uint64_t events = 0;
  uint64_t seed = 1;
  EventMix mix = EventMix::realistic;
  bool progress = true;
  bool force = false;               // replace an existing file; skip the free space check
  std::vector<std::string> inject;  // faults, as fault_plan.h reads them
  std::string manifest;             // where the account of the faults goes; empty for none
};

int run_generate(const GenerateOptions &options);

// The command as main.cpp lists it.
Command generate_command();

}  // namespace vxtrace
