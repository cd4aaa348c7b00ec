// The decode and release that every event payload type shares; the generated
// operations of each type instantiate them with the type's read and
// free_inner.
#pragma once

#include <cstddef>

#include "events/codec.hpp"
#include "vexlo/buffer_iterator.h"
#include "vexlo/event.h"

template <typename T>
using vx_record_reader = bool (*)(vx_payload_cursor *, const vx_allocator *, T *);
template <typename T>
using vx_inner_releaser = void (*)(T *, const vx_allocator *);

// One block from the consumer's allocator, filled from the iterator's current
// payload. A payload that is missing costs no allocator call; one that does
// not hold the whole record gives back every block obtained so far (inner
// buffers first, then the record) and yields null.
template <typename T, vx_record_reader<T> read, vx_inner_releaser<T> free_inner>
void *vx_decode_record(vx_buffer_iterator *iterator, const vx_allocator *allocator) {
  const void *payload = nullptr;
  size_t payload_size = 0;
  vx_buffer_iterator_get_raw_data(iterator, &payload, &payload_size);
  if (payload == nullptr || payload_size == 0) return nullptr;

  T *record = static_cast<T *>(allocator->alloc(allocator->user_data, sizeof(T)));
  if (record == nullptr) return nullptr;

  vx_payload_cursor cursor = vx_cursor_over(payload, payload_size);
  if (read(&cursor, allocator, record)) return record;

  free_inner(record, allocator);
  allocator->free(allocator->user_data, record);
  return nullptr;
}

template <typename T, vx_inner_releaser<T> free_inner>
void vx_release_record(void *record, const vx_allocator *allocator) {
  if (record == nullptr) return;
  free_inner(static_cast<T *>(record), allocator);
  allocator->free(allocator->user_data, record);
}
