// The library's own objects (iterator, name index nodes, id tables, long log
// messages) come from the process heap through these calls, so that the test
// build can make any one of them fail.
#pragma once

#include <cstddef>

namespace vx {

void *heap_malloc(std::size_t size);
void *heap_calloc(std::size_t count, std::size_t size);
void *heap_realloc(void *block, std::size_t size);
void heap_free(void *block);

#ifdef VX_TESTING
// Makes the nth heap request from now on (1 = the next one) on this thread
// fail; 0 disarms. Requests are counted per thread so that tests do not see
// each other's allocations.
void heap_fail_nth(unsigned long nth);
// Heap requests made on this thread since the last heap_reset_count().
unsigned long heap_request_count();
void heap_reset_count();
#endif

}  // namespace vx
