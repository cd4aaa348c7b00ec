// The reading loop that every command shares: it walks one session's data
// records, keeps the progress line current, and hands out the records that
// the selection keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/trace_session.h"
#include "io/progress.h"
#include "select/event_filter.h"

namespace vxtrace {

class SelectedRecords {
 public:
  // progress may be null, for callers that report progress their own way.
  SelectedRecords(TraceSession *session, std::vector<std::string> event_globs, Progress *progress);

  // Moves to the next kept record; false at the end of the input or at
  // damage (the session's reader tells which).
  bool next(EventView *event);

  TraceSession *session() const { return session_; }

  // Data records read so far, kept or not.
  uint64_t records_read() const { return records_read_; }

 private:
  TraceSession *session_;
  EventFilter filter_;
  Progress *progress_;
  uint64_t records_read_ = 0;
};

}  // namespace vxtrace
