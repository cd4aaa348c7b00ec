#include "measure/histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace vxtrace {

uint32_t LogHistogram::bucket_of(uint64_t value_ns) {
  if (value_ns < kLinearLimit) return static_cast<uint32_t>(value_ns);
  const int exponent = std::bit_width(value_ns) - 1;
  if (exponent >= kTopExponent) return kBucketCount - 1;
  const uint64_t sub = (value_ns >> (exponent - kSubBits)) & ((1u << kSubBits) - 1);
  return static_cast<uint32_t>(
      kLinearLimit + static_cast<uint64_t>(exponent - kSubBits - 1) * (1u << kSubBits) + sub);
}

uint64_t LogHistogram::lower_bound(uint32_t bucket) {
  if (bucket < kLinearLimit) return bucket;
  const uint32_t above = bucket - static_cast<uint32_t>(kLinearLimit);
  const int exponent = kSubBits + 1 + static_cast<int>(above >> kSubBits);
  const uint64_t sub = above & ((1u << kSubBits) - 1);
  return ((uint64_t{1} << kSubBits) + sub) << (exponent - kSubBits);
}

uint64_t LogHistogram::upper_bound(uint32_t bucket) {
  if (bucket < kLinearLimit) return uint64_t{bucket} + 1;
  const uint32_t above = bucket - static_cast<uint32_t>(kLinearLimit);
  const int exponent = kSubBits + 1 + static_cast<int>(above >> kSubBits);
  return lower_bound(bucket) + (uint64_t{1} << (exponent - kSubBits));
}

void LogHistogram::cover(uint32_t bucket) {
  if (counts_.empty()) {
    first_bucket_ = bucket;
    counts_.assign(1, 0);
    return;
  }
  if (bucket < first_bucket_) {
    counts_.insert(counts_.begin(), first_bucket_ - bucket, 0);
    first_bucket_ = bucket;
  } else if (bucket - first_bucket_ >= counts_.size()) {
    counts_.resize(bucket - first_bucket_ + 1, 0);
  }
}

void LogHistogram::add(uint64_t value_ns) {
  const uint32_t bucket = bucket_of(value_ns);
  cover(bucket);
  ++counts_[bucket - first_bucket_];
  ++count_;
  min_ = std::min(min_, value_ns);
  max_ = std::max(max_, value_ns);
}

void LogHistogram::merge(const LogHistogram &other) {
  if (other.count_ == 0) return;
  cover(other.first_bucket_);
  cover(other.first_bucket_ + static_cast<uint32_t>(other.counts_.size()) - 1);
  for (size_t i = 0; i < other.counts_.size(); ++i)
    counts_[other.first_bucket_ + i - first_bucket_] += other.counts_[i];
  count_ += other.count_;
  min_ = std::min(min_, other.min_);
  max_ = std::max(max_, other.max_);
}

uint64_t LogHistogram::quantile(double q) const {
  if (count_ == 0) return 0;
  const double wanted = std::ceil(std::clamp(q, 0.0, 1.0) * static_cast<double>(count_));
  const uint64_t rank = std::clamp<uint64_t>(static_cast<uint64_t>(wanted), 1, count_);
  uint64_t seen = 0;
  for (size_t i = 0; i < counts_.size(); ++i) {
    seen += counts_[i];
    if (seen < rank) continue;
    const uint32_t bucket = first_bucket_ + static_cast<uint32_t>(i);
    const uint64_t middle = (lower_bound(bucket) + upper_bound(bucket) - 1) / 2;
    return std::clamp(middle, min_, max_);
  }
  return max_;
}

}  // namespace vxtrace
