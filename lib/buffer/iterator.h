// The buffer iterator object. Consumers see it only as the opaque pointer in
// the operations table; the catalogue's decoders read the current payload
// through vx_buffer_iterator_get_raw_data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/buffer/radix_tree.h"
#include "vexlo/buffer_iterator.h"
#include "vexlo/id_map.h"
#include "vexlo/log.h"

struct vx_buffer_iterator {
  vx_buffer_reader reader;
  vx_logger *logger;
  vx_radix_tree *event_index;
  vx_id_map events_by_id;  // id -> const vx_event_descriptor *
  vx_id_map names_by_id;   // id -> const char *
  const void *payload;
  size_t payload_size;
  const vx_event_descriptor *current_event;
  const char *current_name;
  uint64_t timestamp;
};
