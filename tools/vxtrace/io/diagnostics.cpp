#include "io/diagnostics.h"

#include <cstdio>

#include "text/terminal_text.h"

namespace vxtrace {

void report(const std::string &message) {
  std::fprintf(stderr, "vxtrace: %s\n", printable(message).c_str());
}

}  // namespace vxtrace
