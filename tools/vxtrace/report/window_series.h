// A series over time in at most kWindowCount windows of one width from an
// origin. When a time falls past the last window, neighbouring windows merge
// in pairs and the width doubles, so a series of any length keeps its shape
// in bounded memory. An unused series holds no memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxtrace {

inline constexpr size_t kWindowCount = 256;
inline constexpr uint64_t kFirstWindowNs = 100'000'000;  // 0.1 s

// Cell: default-constructible, with void merge(const Cell &).
template <class Cell>
class WindowSeries {
 public:
  explicit WindowSeries(uint64_t origin_ns = 0) : origin_ns_(origin_ns) {}

  // The window of the time (times before the origin count in the first).
  Cell &at(uint64_t time_ns) {
    const uint64_t offset = time_ns > origin_ns_ ? time_ns - origin_ns_ : 0;
    while (offset / width_ns_ >= kWindowCount) halve_resolution();
    const size_t index = static_cast<size_t>(offset / width_ns_);
    if (index >= cells_.size()) cells_.resize(index + 1);
    return cells_[index];
  }

  uint64_t origin_ns() const { return origin_ns_; }
  uint64_t width_ns() const { return width_ns_; }
  const std::vector<Cell> &cells() const { return cells_; }

 private:
  void halve_resolution() {
    std::vector<Cell> merged((cells_.size() + 1) / 2);
    for (size_t i = 0; i < cells_.size(); ++i) merged[i / 2].merge(cells_[i]);
    cells_ = std::move(merged);
    width_ns_ = width_ns_ > UINT64_MAX / 2 ? UINT64_MAX : width_ns_ * 2;
  }

  uint64_t origin_ns_;
  uint64_t width_ns_ = kFirstWindowNs;
  std::vector<Cell> cells_;
};

}  // namespace vxtrace
