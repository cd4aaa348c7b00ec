// The printer handed to the plug-in: printf-like pieces of one JSON object,
// appended to a text buffer.
#pragma once

#include <string>

#include "vexlo/event.h"

namespace vxtrace {

// A printer that appends to *out. A "%g" value that is NaN or infinite is
// written as null: JSON has no such numbers.
vx_printer make_json_printer(std::string *out);

}  // namespace vxtrace
