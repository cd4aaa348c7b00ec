// The generator's random numbers: splitmix64, so that a seed gives the same
// trace on every platform and library (std distributions differ).
#pragma once

#include <cstdint>

namespace vxtrace {

class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform in [0, bound) for bound > 0 (the bias is far below what matters here).
  uint64_t below(uint64_t bound) { return next() % bound; }

  // Uniform in [low, high].
  int64_t between(int64_t low, int64_t high) {
    return low + static_cast<int64_t>(below(static_cast<uint64_t>(high - low) + 1));
  }

  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  bool chance(double probability) { return unit() < probability; }

 private:
  uint64_t state_;
};

}  // namespace vxtrace
