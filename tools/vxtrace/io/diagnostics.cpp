#include "io/diagnostics.h"

#include <atomic>
#include <cstdio>

#include "text/terminal_text.h"

namespace vxtrace {
namespace {

// Read by worker threads that note what they find; set before they start.
std::atomic<bool> quiet_run{false};

}  // namespace

void report(const std::string &message) {
  std::fprintf(stderr, "vxtrace: %s\n", printable(message).c_str());
}

void note(const std::string &message) {
  if (!quiet()) report(message);
}

void set_quiet(bool quiet) {
  quiet_run.store(quiet, std::memory_order_relaxed);
}

bool quiet() {
  return quiet_run.load(std::memory_order_relaxed);
}

}  // namespace vxtrace
