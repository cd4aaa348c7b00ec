// What a reading command keeps of a trace: --event, the time window and the
// sessions, resolved from the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/options.h"

namespace vxtrace {

struct Selection {
  std::vector<std::string> event_globs;
  uint64_t begin = 0;              // data records with begin <= timestamp < end
  uint64_t end = UINT64_MAX;       // are kept
  std::vector<uint32_t> sessions;  // empty: every record
  bool with_receiver = false;      // with sessions: keep records without one too
};

// Resolves the times of options (a "+" time from the first data record of
// the earliest input). nullopt, reported, when a time is malformed, --end comes before
// --begin, or a "+" time is given for standard input (whose first record
// cannot be looked at ahead): a usage error.
std::optional<Selection> resolve_selection(const InputOptions &options,
                                           std::vector<std::string> event_globs);

}  // namespace vxtrace
