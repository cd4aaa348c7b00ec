// The receiver's event catalogue as the library holds it: constant
// descriptors in registration order. Internal; consumers reach the catalogue
// only through vexlo_register_events.
#pragma once

#include <cstddef>

#include "vexlo/event.h"

// The registration-order table of the catalogue's descriptors; *count gets its
// length (count may be null).
const vx_event_descriptor *const *vx_catalogue(size_t *count);
