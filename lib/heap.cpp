#include "lib/heap.h"

#include <cstdlib>

namespace vx {

#ifdef VX_TESTING
namespace {
thread_local unsigned long fail_countdown = 0;
thread_local unsigned long request_count = 0;

// True when this request is the one a test asked to fail.
bool request_fails() {
  ++request_count;
  if (fail_countdown == 0) return false;
  return --fail_countdown == 0;
}
}  // namespace

void heap_fail_nth(unsigned long nth) { fail_countdown = nth; }
unsigned long heap_request_count() { return request_count; }
void heap_reset_count() { request_count = 0; }
#else
namespace {
constexpr bool request_fails() { return false; }
}  // namespace
#endif

void *heap_malloc(std::size_t size) { return request_fails() ? nullptr : std::malloc(size); }

void *heap_calloc(std::size_t count, std::size_t size) {
  return request_fails() ? nullptr : std::calloc(count, size);
}

void *heap_realloc(void *block, std::size_t size) {
  return request_fails() ? nullptr : std::realloc(block, size);
}

void heap_free(void *block) { std::free(block); }

}  // namespace vx
