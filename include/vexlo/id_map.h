/* A growable array of fixed-size items indexed by an unsigned id. Reads and
 * clears never allocate; writes grow the array to the larger of twice the
 * capacity and id + 1, zero-filling the new items. Not thread-safe. */
#ifndef VEXLO_ID_MAP_H
#define VEXLO_ID_MAP_H

#include <stdbool.h>
#include <stddef.h>

#include "vexlo/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vx_id_map {
  void *items; /* capacity * item_size bytes, owned by the map */
  size_t item_size;
  size_t capacity;
} vx_id_map;

VX_API bool vx_id_map_init(vx_id_map *map, size_t item_size, size_t capacity);
VX_API void vx_id_map_cleanup(vx_id_map *map);
VX_API void vx_id_map_clear(vx_id_map *map, size_t id);
/* The item's address, or null when id >= capacity. */
VX_API void *vx_id_map_read(vx_id_map *map, size_t id);
/* The item's address after any growth, or null when the map cannot grow. */
VX_API void *vx_id_map_write(vx_id_map *map, size_t id);

#ifdef __cplusplus
}
#endif

#endif
