// One dump line: the event's timestamp, id and name, and its payload as the
// plug-in renders it, or null with the reason and the raw bytes.
#pragma once

#include <string>

#include "decoded_record.h"

namespace vxtrace {

// Appends the line for event, newline included, to *out; printer must append
// to the same string.
void append_event_line(std::string *out, const EventView &event, const DecodedRecord &record,
                       const vx_printer &printer);

}  // namespace vxtrace
