// vxtrace generate: a synthetic but plausible recording.
#pragma once

#include <cstdint>
#include <string>

namespace vxtrace {

enum class EventMix { realistic, bench };

struct GenerateOptions {
  std::string output;  // "-": standard output
  uint64_t events = 0;
  uint64_t seed = 1;
  EventMix mix = EventMix::realistic;
  bool progress = true;
  bool force = false;  // replace an existing file; skip the free space check
};

int run_generate(const GenerateOptions &options);

}  // namespace vxtrace
