// A log-bucketed histogram of durations in nanoseconds: percentiles within
// 0.8% of the exact sample (nearest rank), count and maximum exact.
//
// Values below 128 ns have a bucket each; above, every power of two is cut
// into 64 buckets, so a bucket spans at most 1/64 of its lower bound and its
// midpoint is within 1/128 of any value in it. Values from 2^42 ns (about 73
// minutes) share the last bucket. The counts cover only the range of buckets
// seen so far, at most kBucketCount of them: a stage whose latencies span three
// octaves holds about 200 counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxtrace {

class LogHistogram {
 public:
  static constexpr int kSubBits = 6;
  static constexpr uint64_t kLinearLimit = uint64_t{2} << kSubBits;  // 128
  static constexpr int kTopExponent = 42;
  static constexpr uint32_t kBucketCount =
      static_cast<uint32_t>(kLinearLimit + (kTopExponent - kSubBits - 1) * (1u << kSubBits));

  void add(uint64_t value_ns);
  void merge(const LogHistogram &other);

  uint64_t count() const { return count_; }
  uint64_t max() const { return max_; }
  uint64_t min() const { return count_ == 0 ? 0 : min_; }

  // The value at the quantile q (0 < q <= 1) by nearest rank, as the midpoint
  // of its bucket kept within [min, max]; 0 when empty.
  uint64_t quantile(double q) const;

  // The buckets with their counts in value order, for plots: calls
  // visit(lower_ns, upper_ns, count) for every non-empty bucket.
  template <class Visit>
  void for_each_bucket(Visit &&visit) const {
    for (size_t i = 0; i < counts_.size(); ++i)
      if (counts_[i] != 0) {
        const uint32_t bucket = first_bucket_ + static_cast<uint32_t>(i);
        visit(lower_bound(bucket), upper_bound(bucket), counts_[i]);
      }
  }

  static uint32_t bucket_of(uint64_t value_ns);
  static uint64_t lower_bound(uint32_t bucket);
  static uint64_t upper_bound(uint32_t bucket);  // exclusive

 private:
  void cover(uint32_t bucket);

  std::vector<uint64_t> counts_;  // buckets first_bucket_ .. first_bucket_ + size - 1
  uint32_t first_bucket_ = 0;
  uint64_t count_ = 0;
  uint64_t min_ = UINT64_MAX;
  uint64_t max_ = 0;
};

}  // namespace vxtrace
