// The catalogue's constant descriptors and their registration into a buffer
// iterator's event name index.
#include <cstring>

#include "events/catalogue.hpp"
#include "events/payload_functions.hpp"
#include "vexlo/buffer_iterator.h"
#include "vexlo/event.h"

namespace {

// One descriptor per event; all operations but the name come from the event's
// payload type.
#define VX_EVENT(short_name, T)                                                          \
  constexpr vx_event_descriptor short_name##_event{"/velocast/" #short_name, decode_##T, \
                                                   release_##T, print_##T};
#include "events/catalogue.def"

constexpr const vx_event_descriptor *registration_order[] = {
#define VX_EVENT(short_name, T) &short_name##_event,
#include "events/catalogue.def"
};

constexpr size_t catalogue_size = sizeof registration_order / sizeof registration_order[0];
static_assert(catalogue_size == 111, "the receiver records 111 kinds of events");

// The catalogue registers only into iterators of its own kind; the kind must
// match byte for byte, terminating NUL included.
bool is_buffer_kind(const char *kind) {
  return kind != nullptr && std::strcmp(kind, "buffer") == 0;
}

}  // namespace

const vx_event_descriptor *const *vx_catalogue(size_t *count) {
  if (count != nullptr) *count = catalogue_size;
  return registration_order;
}

void vexlo_register_events(void *iterator, const char *kind) {
  if (iterator == nullptr || !is_buffer_kind(kind)) return;
  // Each descriptor goes in exactly as a consumer's own registration would,
  // so a name that is already present is replaced and logged the same way.
  vx_buffer_iterator *buffer_iterator = static_cast<vx_buffer_iterator *>(iterator);
  for (const vx_event_descriptor *descriptor : registration_order) {
    vx_buffer_iterator_register_event(buffer_iterator, descriptor);
  }
}
