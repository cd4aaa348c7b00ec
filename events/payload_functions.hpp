// The operations of every payload type, declared from the payload
// descriptions. Event payload types have all five; nested record types
// (VX_NESTED) have only read, print and free_inner, since no descriptor
// decodes or releases them on their own.
//
//   read_T        fills a caller's record from a cursor (zero-fills it first)
//   free_inner_T  gives back the inner buffers a record owns, not the record
//   decode_T      the descriptor's decode: a new record from the current payload
//   release_T     the descriptor's release: inner buffers, then the record
//   print_T       the descriptor's print: the record as one JSON object
#pragma once

#include "events/codec.hpp"
#include "vexlo/event.h"
#include "vexlo/velocast_payloads.h"

// byte_blob is written by hand: its read takes the allocator for its buffer.
bool read_byte_blob(vx_payload_cursor *cursor, const vx_allocator *allocator, byte_blob *blob);
void free_inner_byte_blob(byte_blob *blob, const vx_allocator *allocator);
void print_byte_blob(const void *blob, const vx_printer *printer);

#define VX_DECLARE_RECORD_OPERATIONS(T)                                               \
  bool read_##T(vx_payload_cursor *cursor, const vx_allocator *allocator, T *record); \
  void free_inner_##T(T *record, const vx_allocator *allocator);                      \
  void print_##T(const void *record, const vx_printer *printer);

#define VX_PAYLOAD(T)                                                            \
  VX_DECLARE_RECORD_OPERATIONS(T)                                                \
  void *decode_##T(vx_buffer_iterator *iterator, const vx_allocator *allocator); \
  void release_##T(void *record, const vx_allocator *allocator);
#define VX_NESTED(T) VX_DECLARE_RECORD_OPERATIONS(T)

#include "vexlo/payloads/all.def"
#undef VX_DECLARE_RECORD_OPERATIONS
