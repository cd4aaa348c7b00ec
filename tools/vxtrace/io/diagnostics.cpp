#include "io/diagnostics.h"

#include <cstdio>

namespace vxtrace {

void report(const std::string &message) {
  std::fprintf(stderr, "vxtrace: %s\n", message.c_str());
}

}  // namespace vxtrace
