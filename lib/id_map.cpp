// vx_id_map: a growable array of fixed-size items indexed by id.
#include "vexlo/id_map.h"

#include <cstdint>
#include <cstring>

#include "lib/heap.h"

bool vx_id_map_init(vx_id_map *map, size_t item_size, size_t capacity) {
  if (item_size == 0 || capacity == 0) return false;
  // A count times size that does not fit a size_t fails like an exhausted
  // heap; it is checked here rather than left to calloc, which a sanitizer
  // runtime may turn into an abort.
  std::size_t bytes;
  if (__builtin_mul_overflow(capacity, item_size, &bytes)) {
    map->items = nullptr;
    return false;
  }
  map->items = vx::heap_calloc(capacity, item_size);
  if (map->items == nullptr) return false;
  map->item_size = item_size;
  map->capacity = capacity;
  return true;
}

void vx_id_map_cleanup(vx_id_map *map) {
  vx::heap_free(map->items);
  map->items = nullptr;
  map->item_size = 0;
  map->capacity = 0;
}

void vx_id_map_clear(vx_id_map *map, size_t id) {
  if (id < map->capacity) {
    std::memset(static_cast<unsigned char *>(map->items) + id * map->item_size, 0, map->item_size);
  }
}

void *vx_id_map_read(vx_id_map *map, size_t id) {
  if (id >= map->capacity) return nullptr;
  return static_cast<unsigned char *>(map->items) + id * map->item_size;
}

void *vx_id_map_write(vx_id_map *map, size_t id) {
  if (id >= map->capacity) {
    // New capacity: twice the old one when that covers id, else id + 1. A new
    // capacity, or its size in bytes, that does not fit a size_t fails like an
    // exhausted heap: null, map unchanged.
    std::size_t doubled;
    if (__builtin_mul_overflow(map->capacity, std::size_t{2}, &doubled)) return nullptr;
    std::size_t new_capacity;
    if (id < doubled) {
      new_capacity = doubled;
    } else if (id == SIZE_MAX) {
      return nullptr;
    } else {
      new_capacity = id + 1;
    }
    const std::size_t old_bytes = map->capacity * map->item_size;
    std::size_t new_bytes;
    if (__builtin_mul_overflow(new_capacity, map->item_size, &new_bytes)) return nullptr;
    void *items = vx::heap_realloc(map->items, new_bytes);
    if (items == nullptr) return nullptr;
    std::memset(static_cast<unsigned char *>(items) + old_bytes, 0, new_bytes - old_bytes);
    map->items = items;
    map->capacity = new_capacity;
  }
  return static_cast<unsigned char *>(map->items) + id * map->item_size;
}
