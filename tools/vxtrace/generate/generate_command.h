// vxtrace generate: a synthetic but plausible recording.
#pragma once

#include <cstdint>
#include <string>

namespace vxtrace {

enum class EventMix { realistic, bench };

struct GenerateOptions {
  std::string output;
  uint64_t events = 0;
  uint64_t seed = 1;
  EventMix mix = EventMix::realistic;
  bool progress = true;
};

int run_generate(const GenerateOptions &options);

}  // namespace vxtrace
