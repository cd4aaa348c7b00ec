#include "lib/buffer/iterator.h"

#include <cerrno>
#include <cstring>

#include "lib/heap.h"

namespace {

// Log records of the iterator name this file and fixed line numbers, which
// consumers that filter or count the iterator's messages rely on.
constexpr const char kSourceFile[] = "lib/buffer/iterator.cpp";
constexpr const char kModule[] = "buffer_iterator";
constexpr int kLineDuplicateRegistration = 70;
constexpr int kLineUnknownId = 129;
constexpr int kLineRedefinedId = 141;
constexpr int kLineIdTooLargeToBind = 77;
constexpr int kLineOutOfMemoryBinding = 93;
constexpr int kLineOutOfMemoryRegistering = 210;

constexpr size_t kInitialTableCapacity = 64;

// Ids above this are not bound: a damaged definition with an id near 2^32
// would otherwise make both tables grow to tens of gigabytes.
constexpr uint32_t kLargestBindableId = 1048575;

vx_buffer_iterator *as_iterator(void *object) {
  return static_cast<vx_buffer_iterator *>(object);
}

template <typename T>  // vx_id_map_read written out: a capacity check and a load, inlined
T read_slot(const vx_id_map *table, uint32_t id) {
  if (id >= table->capacity) return nullptr;
  const auto *slot = static_cast<const unsigned char *>(table->items) + id * table->item_size;
  T value;
  std::memcpy(&value, slot, sizeof value);
  return value;
}

template <typename T>
void write_slot(void *slot, T value) {
  std::memcpy(slot, &value, sizeof value);
}

const vx_event_descriptor *find_descriptor(vx_buffer_iterator *iterator, const char *name) {
  void *value = vx_radix_tree_find(
      iterator->event_index, reinterpret_cast<const unsigned char *>(name), std::strlen(name));
  if (value == vx_radix_tree_not_found) return nullptr;
  return static_cast<const vx_event_descriptor *>(value);
}

void clear_current_event(vx_buffer_iterator *iterator) {
  iterator->payload = nullptr;
  iterator->payload_size = 0;
  iterator->current_event = nullptr;
  iterator->current_name = nullptr;
  iterator->timestamp = 0;
}

void make_current(vx_buffer_iterator *iterator, const vx_event_data &data) {
  iterator->payload = data.payload;
  iterator->payload_size = data.payload_size;
  iterator->timestamp = data.timestamp;
  iterator->current_event =
      read_slot<const vx_event_descriptor *>(&iterator->events_by_id, data.id);
  iterator->current_name = iterator->current_event != nullptr
                               ? iterator->current_event->name
                               : read_slot<const char *>(&iterator->names_by_id, data.id);
  if (iterator->current_name == nullptr) {
    vx_do_log(iterator->logger, VX_LOG_ERROR, kModule, kSourceFile, "buffer_advance",
              kLineUnknownId, "got data for an event with an unknown id: %u", data.id);
  }
}

// Binds a definition's id to its name and to the descriptor registered under
// that name now. Both table slots are obtained before anything is stored, so a
// failed growth leaves the earlier binding of the id intact.
void bind_definition(vx_buffer_iterator *iterator, const vx_event_definition &definition) {
  // A reader that reports a definition without a name has nothing to bind.
  if (definition.name == nullptr) return;
  if (definition.id > kLargestBindableId) {
    vx_do_log(iterator->logger, VX_LOG_ERROR, kModule, kSourceFile, "buffer_advance",
              kLineIdTooLargeToBind, "event id %u for the '%s' event is too large to bind",
              definition.id, definition.name);
    return;
  }
  const char *previous_name = read_slot<const char *>(&iterator->names_by_id, definition.id);
  if (previous_name != nullptr) {
    vx_do_log(iterator->logger, VX_LOG_ERROR, kModule, kSourceFile, "buffer_advance",
              kLineRedefinedId,
              "got event id %u for the '%s' event, but the id was already assigned to '%s'",
              definition.id, definition.name, previous_name);
  }
  void *name_slot = vx_id_map_write(&iterator->names_by_id, definition.id);
  void *event_slot =
      name_slot != nullptr ? vx_id_map_write(&iterator->events_by_id, definition.id) : nullptr;
  if (event_slot == nullptr) {
    vx_do_log(iterator->logger, VX_LOG_ERROR, kModule, kSourceFile, "buffer_advance",
              kLineOutOfMemoryBinding, "out of memory binding event id %u for the '%s' event",
              definition.id, definition.name);
    return;
  }
  write_slot(name_slot, definition.name);
  write_slot(event_slot, find_descriptor(iterator, definition.name));
}

const char *buffer_kind_name(void *) {
  return "buffer";
}

const vx_event_descriptor *buffer_find_event(void *object, const char *name) {
  if (object == nullptr || name == nullptr) return nullptr;
  return find_descriptor(as_iterator(object), name);
}

// Consumes any number of definitions and stops at the next data record, which
// becomes the current event, or at the end of the buffer.
bool buffer_advance(void *object) {
  vx_buffer_iterator *iterator = as_iterator(object);
  if (iterator == nullptr) return false;
  const vx_buffer_reader &reader = iterator->reader;
  while (reader.has_more(reader.user_data)) {
    clear_current_event(iterator);
    vx_event_data data;
    std::memset(&data, 0, sizeof data);
    if (reader.read_event(reader.user_data, &data)) {
      make_current(iterator, data);
      return true;
    }
    vx_event_definition definition;
    std::memset(&definition, 0, sizeof definition);
    if (reader.read_definition(reader.user_data, &definition)) {
      bind_definition(iterator, definition);
    }
  }
  return false;
}

const char *buffer_current_name(void *object) {
  return object != nullptr ? as_iterator(object)->current_name : nullptr;
}

uint64_t buffer_current_timestamp(void *object) {
  return object != nullptr ? as_iterator(object)->timestamp : 0;
}

const vx_event_descriptor *buffer_current_event(void *object) {
  return object != nullptr ? as_iterator(object)->current_event : nullptr;
}

void release_iterator_memory(vx_buffer_iterator *iterator) {
  if (iterator->event_index != nullptr) vx_radix_tree_free(iterator->event_index);
  vx_id_map_cleanup(&iterator->events_by_id);
  vx_id_map_cleanup(&iterator->names_by_id);
  vx::heap_free(iterator);
}

// The reader is closed before anything is freed, so that it may still look at
// the iterator's state if it wants to.
void buffer_destroy(void *object) {
  vx_buffer_iterator *iterator = as_iterator(object);
  if (iterator == nullptr) return;
  if (iterator->reader.close != nullptr) iterator->reader.close(iterator->reader.user_data);
  release_iterator_memory(iterator);
}

vx_buffer_iterator *new_iterator(const vx_buffer_reader &reader) {
  auto *iterator =
      static_cast<vx_buffer_iterator *>(vx::heap_calloc(1, sizeof(vx_buffer_iterator)));
  if (iterator == nullptr) return nullptr;
  iterator->reader = reader;
  iterator->logger = vx_get_logger();
  iterator->event_index = vx_radix_tree_new();
  bool complete = iterator->event_index != nullptr &&
                  vx_id_map_init(&iterator->events_by_id, sizeof(void *), kInitialTableCapacity) &&
                  vx_id_map_init(&iterator->names_by_id, sizeof(void *), kInitialTableCapacity);
  if (!complete) {
    release_iterator_memory(iterator);
    return nullptr;
  }
  return iterator;
}

}  // namespace

extern "C" {

VX_API void vx_buffer_iterator_create(const vx_buffer_reader *reader, vx_iterator_ops *ops) {
  if (ops == nullptr) return;
  ops->iterator = reader != nullptr ? new_iterator(*reader) : nullptr;
  ops->kind_name = buffer_kind_name;
  ops->find_event = buffer_find_event;
  ops->advance = buffer_advance;
  ops->current_name = buffer_current_name;
  ops->current_timestamp = buffer_current_timestamp;
  ops->current_event = buffer_current_event;
  ops->destroy = buffer_destroy;
}

VX_API void vx_buffer_iterator_get_raw_data(vx_buffer_iterator *iterator, const void **payload,
                                            size_t *payload_size) {
  if (payload != nullptr) *payload = iterator != nullptr ? iterator->payload : nullptr;
  if (payload_size != nullptr) *payload_size = iterator != nullptr ? iterator->payload_size : 0;
}

VX_API void vx_buffer_iterator_register_event(vx_buffer_iterator *iterator,
                                              const vx_event_descriptor *descriptor) {
  if (iterator == nullptr || descriptor == nullptr || descriptor->name == nullptr) return;
  const char *name = descriptor->name;
  void *previous = nullptr;
  int added = vx_radix_tree_insert(iterator->event_index,
                                   reinterpret_cast<const unsigned char *>(name), std::strlen(name),
                                   const_cast<vx_event_descriptor *>(descriptor), &previous);
  if (added == 0 && errno == ENOMEM) {
    // There is no result to carry the failure; the log is the only way a
    // consumer learns why the event will have no descriptor.
    vx_do_log(iterator->logger, VX_LOG_ERROR, kModule, kSourceFile,
              "vx_buffer_iterator_register_event", kLineOutOfMemoryRegistering,
              "out of memory registering event '%s'", name);
    return;
  }
  if (added == 0 && previous != nullptr) {
    vx_do_log(iterator->logger, VX_LOG_ERROR, kModule, kSourceFile,
              "vx_buffer_iterator_register_event", kLineDuplicateRegistration,
              "attempting to register event '%s' with data %p, previously registered with %p", name,
              static_cast<const void *>(descriptor), previous);
  }
}

}  // extern "C"
