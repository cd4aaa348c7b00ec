#include "core/record_allocator.h"

#include <algorithm>
#include <cstdlib>

namespace vxtrace {
namespace {

// Under AddressSanitizer every block comes from the heap, so that a decoder
// that writes past its record is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUseArena = false;
#else
constexpr bool kUseArena = true;
#endif

}  // namespace

RecordAllocator::RecordAllocator()
    : allocator_{this, &RecordAllocator::alloc, &RecordAllocator::free},
      arena_(new std::byte[kArenaSize]) {}

RecordAllocator::~RecordAllocator() {
  reset();
}

void RecordAllocator::reset() {
  for (void *block : heap_blocks_) std::free(block);
  heap_blocks_.clear();
  arena_used_ = 0;
}

void *RecordAllocator::alloc(void *user_data, size_t size) {
  auto *self = static_cast<RecordAllocator *>(user_data);
  constexpr size_t kAlignment = alignof(std::max_align_t);
  constexpr size_t kLargestBlock = size_t{1} << 40;
  const size_t rounded = (std::max<size_t>(size, 1) + kAlignment - 1) / kAlignment * kAlignment;
  if (size > kLargestBlock) return nullptr;
  void *block = nullptr;
  if (kUseArena && rounded <= kArenaSize - self->arena_used_) {
    block = self->arena_.get() + self->arena_used_;
    self->arena_used_ += rounded;
  } else {
    block = std::malloc(rounded);
    if (block == nullptr) return nullptr;
    self->heap_blocks_.push_back(block);
  }
  ++self->live_blocks_;
  return block;
}

// Blocks go back to the arena as a whole at reset; freeing only counts.
void RecordAllocator::free(void *user_data, void *block) {
  auto *self = static_cast<RecordAllocator *>(user_data);
  if (block != nullptr && self->live_blocks_ > 0) --self->live_blocks_;
}

}  // namespace vxtrace
