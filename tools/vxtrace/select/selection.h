// What a reading command keeps of a trace: --event, the time window and the
// sessions, resolved from the command line and the opened inputs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/options.h"
#include "io/inputs.h"

namespace vxtrace {

struct Selection {
  std::vector<std::string> event_globs;
  uint64_t begin = 0;              // data records with begin <= timestamp < end
  uint64_t end = UINT64_MAX;       // are kept; end_given false: no end at all,
  bool end_given = false;          // so that the largest timestamp is kept too
  bool nothing = false;            // a window past the largest timestamp
  std::vector<uint32_t> sessions;  // empty: every record
  bool with_receiver = false;      // with sessions: keep records without one too
  // Set by the readers of this selection (its copies share it, on any
  // thread) once one of them keeps a record: whether the selection matched
  // anything at all.
  std::shared_ptr<std::atomic<bool>> kept_any = std::make_shared<std::atomic<bool>>(false);

  bool keeps_time(uint64_t timestamp) const {
    return !nothing && timestamp >= begin && (!end_given || timestamp < end);
  }
};

// Resolves the times of options; a "+" time counts from the first data
// record of the earliest input, a "-" time back from the last data record
// (in file order) of the latest input, both looked at through the inputs' own
// open files; finding the last record steps once over every record header.
// nullopt, reported, when --end comes before --begin, or a "+" or "-" time is
// given with an input that is not a regular file (which cannot be looked at
// ahead): a usage error.
std::optional<Selection> resolve_selection(const InputOptions &options,
                                           const std::vector<InputFile> &files);

// The selection as a person would type it again, for outputs that keep it
// ("--begin +1s --session 3"); "" when everything is kept.
std::string selection_text(const InputOptions &options);

}  // namespace vxtrace
