// The keys open in one stage of one session, with the time each entered: an
// open-addressing table (linear probing, backward-shift removal) of 16 bytes
// per slot, so that memory follows the keys in flight and a lookup costs no
// allocation. An empty table holds no memory.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vxtrace {

class OpenKeys {
 public:
  // Opens the key at the time; if it was open already, the earlier entry is
  // replaced and its time returned.
  std::optional<uint64_t> open(uint64_t key, uint64_t entered_ns) {
    if ((size_ + 1) * 10 > slots_.size() * 7) rehash(std::max<size_t>(16, slots_.size() * 2));
    entered_ns = std::min(entered_ns, kEmpty - 1);
    for (size_t i = slot_of(key);; i = next(i)) {
      Slot &slot = slots_[i];
      if (slot.entered_ns == kEmpty) {
        slot = {key, entered_ns};
        ++size_;
        return std::nullopt;
      }
      if (slot.key == key) {
        const uint64_t earlier = slot.entered_ns;
        slot.entered_ns = entered_ns;
        return earlier;
      }
    }
  }

  bool contains(uint64_t key) const {
    if (size_ == 0) return false;
    for (size_t i = slot_of(key);; i = next(i)) {
      if (slots_[i].entered_ns == kEmpty) return false;
      if (slots_[i].key == key) return true;
    }
  }

  // Closes the key: its entry time, or nullopt when it was not open.
  std::optional<uint64_t> close(uint64_t key) {
    if (size_ == 0) return std::nullopt;
    for (size_t i = slot_of(key);; i = next(i)) {
      Slot &slot = slots_[i];
      if (slot.entered_ns == kEmpty) return std::nullopt;
      if (slot.key != key) continue;
      const uint64_t entered = slot.entered_ns;
      erase_at(i);
      return entered;
    }
  }

  // Removes the entries for which remove(key, entered_ns) is true and
  // returns how many; the table shrinks to fit the rest.
  template <class Remove>
  size_t remove_if(Remove &&remove) {
    if (size_ == 0) return 0;
    std::vector<Slot> kept;
    kept.reserve(size_);
    for (const Slot &slot : slots_)
      if (slot.entered_ns != kEmpty && !remove(slot.key, slot.entered_ns)) kept.push_back(slot);
    const size_t removed = size_ - kept.size();
    if (removed == 0) return 0;
    refill(kept);
    return removed;
  }

  size_t size() const { return size_; }
  size_t memory_bytes() const { return slots_.capacity() * sizeof(Slot); }

 private:
  struct Slot {
    uint64_t key = 0;
    uint64_t entered_ns = kEmpty;
  };
  static constexpr uint64_t kEmpty = UINT64_MAX;

  size_t slot_of(uint64_t key) const {
    // Fibonacci hashing: sequential ids and aligned addresses spread evenly.
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  size_t next(size_t i) const { return (i + 1) & (slots_.size() - 1); }

  void erase_at(size_t hole) {
    // Moves later entries of the probe run back so that no lookup stops early.
    for (size_t i = next(hole);; i = next(i)) {
      Slot &slot = slots_[i];
      if (slot.entered_ns == kEmpty) break;
      const size_t home = slot_of(slot.key);
      const bool stays = (i > hole) ? (home > hole && home <= i) : (home > hole || home <= i);
      if (stays) continue;
      slots_[hole] = slot;
      hole = i;
    }
    slots_[hole] = Slot{};
    --size_;
  }

  void rehash(size_t capacity) {
    std::vector<Slot> entries;
    entries.reserve(size_);
    for (const Slot &slot : slots_)
      if (slot.entered_ns != kEmpty) entries.push_back(slot);
    allocate(capacity);
    for (const Slot &slot : entries) place(slot);
  }

  void refill(const std::vector<Slot> &entries) {
    size_t capacity = 16;
    while (entries.size() * 10 > capacity * 7) capacity *= 2;
    if (entries.empty()) {
      slots_ = {};
      shift_ = 64;
    } else {
      allocate(capacity);
    }
    size_ = 0;
    for (const Slot &slot : entries) place(slot);
  }

  void allocate(size_t capacity) {
    slots_.assign(capacity, Slot{});
    shift_ = 64 - std::countr_zero(capacity);
    size_ = 0;
  }

  void place(const Slot &entry) {
    size_t i = slot_of(entry.key);
    while (slots_[i].entered_ns != kEmpty) i = next(i);
    slots_[i] = entry;
    ++size_;
  }

  std::vector<Slot> slots_;
  size_t size_ = 0;
  int shift_ = 64;
};

}  // namespace vxtrace
