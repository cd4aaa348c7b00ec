#include "events/codec.hpp"

#include <cstring>

bool vx_cursor_read_bytes(vx_payload_cursor *cursor, void *destination, size_t n) {
  const size_t bytes_left = static_cast<size_t>(cursor->end - cursor->position);
  if (n > bytes_left) {
    cursor->position = cursor->end;
    return false;
  }
  // memcpy wants valid pointers even for zero bytes, and an empty blob's
  // buffer may be any block the consumer's allocator returned.
  if (n != 0) std::memcpy(destination, cursor->position, n);
  cursor->position += n;
  return true;
}
