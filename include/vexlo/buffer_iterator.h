/* The buffer iterator: walks one trace buffer through the consumer's reader
 * callbacks, binds event ids to names and registered descriptors, and exposes
 * the current event. Names, payloads and descriptors are held by pointer. */
#ifndef VEXLO_BUFFER_ITERATOR_H
#define VEXLO_BUFFER_ITERATOR_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "vexlo/event.h"
#include "vexlo/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Filled by read_definition; cleared to zero by the iterator before each call. */
typedef struct vx_event_definition {
  uint32_t id;
  const char *name; /* must stay valid for the iterator's whole life */
  void *reserved;
} vx_event_definition;

/* Filled by read_event; cleared to zero by the iterator before each call. */
typedef struct vx_event_data {
  uint32_t id;
  uint64_t timestamp;
  const void *payload; /* must stay valid until the next advance */
  size_t payload_size;
} vx_event_data;

typedef struct vx_buffer_reader {
  void *user_data;
  bool (*has_more)(void *user_data);
  /* True when the next record is a definition, written to out and consumed. */
  bool (*read_definition)(void *user_data, vx_event_definition *out);
  /* True when the next record is a data record, written to out and consumed;
   * false without consuming anything otherwise. */
  bool (*read_event)(void *user_data, vx_event_data *out);
  /* Called exactly once, as the first step of destroy. */
  void (*close)(void *user_data);
} vx_buffer_reader;

typedef struct vx_iterator_ops {
  void *iterator;
  const char *(*kind_name)(void *iterator);
  const vx_event_descriptor *(*find_event)(void *iterator, const char *name);
  bool (*advance)(void *iterator);
  const char *(*current_name)(void *iterator);
  uint64_t (*current_timestamp)(void *iterator);
  const vx_event_descriptor *(*current_event)(void *iterator);
  void (*destroy)(void *iterator);
} vx_iterator_ops;

/* Creates an iterator over reader and fills all eight slots of ops. When the
 * iterator cannot be allocated, ops->iterator is left null and the reader's
 * close callback is not called: the reader is still the caller's to close.
 *
 * Definitions bind ids up to 1048575; a definition with a larger id is logged
 * and not bound, so the id's data records count as unknown.
 *
 * The iterator logs at VX_LOG_ERROR with module "buffer_iterator" and file
 * "lib/buffer/iterator.cpp", at fixed line numbers that consumers may filter
 * on: 129 data record with an unknown id; 141 an id bound again to another
 * name; 77 an id too large to bind; 93 out of memory binding an id; 70 a name
 * registered twice; 210 out of memory registering a descriptor. */
VX_API void vx_buffer_iterator_create(const vx_buffer_reader *reader, vx_iterator_ops *ops);

/* The current event's payload address and size (null and 0 without a current
 * event); either out-pointer may be null. */
VX_API void vx_buffer_iterator_get_raw_data(vx_buffer_iterator *iterator, const void **payload,
                                            size_t *payload_size);

/* Registers descriptor under its name; a later registration of the same name
 * replaces the earlier one and is logged. */
VX_API void vx_buffer_iterator_register_event(vx_buffer_iterator *iterator,
                                              const vx_event_descriptor *descriptor);

#ifdef __cplusplus
}
#endif

#endif
