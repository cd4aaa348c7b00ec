// The allocator through which the plug-in obtains decoded records. A record
// lives from decode to release, one event at a time, so blocks come from a
// small arena that is reused for every event; big blocks (a long url) go to
// the heap.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "vexlo/event.h"

namespace vxtrace {

class RecordAllocator {
 public:
  RecordAllocator();
  RecordAllocator(const RecordAllocator &) = delete;
  RecordAllocator &operator=(const RecordAllocator &) = delete;
  ~RecordAllocator();

  const vx_allocator *allocator() const { return &allocator_; }

  // Blocks handed out and not yet freed; 0 after every balanced
  // decode/release pair.
  size_t live_blocks() const { return live_blocks_; }

  // Makes the arena reusable; call once the event's record is released.
  void reset();

 private:
  static void *alloc(void *user_data, size_t size);
  static void free(void *user_data, void *block);

  static constexpr size_t kArenaSize = 4096;

  vx_allocator allocator_;
  std::unique_ptr<std::byte[]> arena_;
  size_t arena_used_ = 0;
  std::vector<void *> heap_blocks_;
  size_t live_blocks_ = 0;
};

}  // namespace vxtrace
