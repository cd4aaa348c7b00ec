/* Event descriptors and the consumer callbacks through which a descriptor
 * decodes, prints and releases one event payload. */
#ifndef VEXLO_EVENT_H
#define VEXLO_EVENT_H

#include <stddef.h>

#include "vexlo/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vx_buffer_iterator vx_buffer_iterator;

/* Every decoded record is obtained through alloc and given back through free.
 * alloc must return memory aligned as malloc's is (or null): decoders store
 * typed fields, 64-bit integers and pointers among them, straight into it. */
typedef struct vx_allocator {
  void *user_data;
  void *(*alloc)(void *user_data, size_t size);
  void (*free)(void *user_data, void *block);
} vx_allocator;

/* printf-like output; its result is never examined. */
typedef struct vx_printer {
  void *user_data;
  int (*print)(void *user_data, const char *format, ...);
} vx_printer;

/* Constant, static lifetime; held by pointer, never copied or freed. */
typedef struct vx_event_descriptor {
  const char *name;
  /* Decodes the iterator's current payload; null when it is missing, too
   * short, or its record cannot be allocated. */
  void *(*decode)(vx_buffer_iterator *iterator, const vx_allocator *allocator);
  /* Gives a decoded record back; a null record is accepted. */
  void (*release)(void *record, const vx_allocator *allocator);
  /* Writes the record as one JSON object through the printer. */
  void (*print)(const void *record, const vx_printer *printer);
} vx_event_descriptor;

/* Registers the receiver's event catalogue into a buffer iterator. kind must
 * be exactly "buffer" (the iterator's kind_name); anything else is ignored. */
VX_API void vexlo_register_events(void *iterator, const char *kind);

#ifdef __cplusplus
}
#endif

#endif
