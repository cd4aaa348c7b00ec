/* Everything a consumer of the velocast receiver plug-in needs. */
#ifndef VEXLO_VEXLO_H
#define VEXLO_VEXLO_H

#include "vexlo/buffer_iterator.h"
#include "vexlo/event.h"
#include "vexlo/id_map.h"
#include "vexlo/log.h"
#include "vexlo/velocast_payloads.h"

#endif
