// The reading loop that every command shares: it walks one session's data
// records, keeps the progress line current, and hands out the records that
// the selection keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/record_allocator.h"
#include "core/trace_session.h"
#include "io/progress.h"
#include "schema/event_kind.h"
#include "select/event_filter.h"
#include "select/selection.h"

namespace vxtrace {

class SelectedRecords {
 public:
  // progress may be null, for callers that report progress their own way.
  // The time window is handed to the session's reader, which steps over the
  // records outside it by their headers: construct this before the session
  // has read anything.
  SelectedRecords(TraceSession *session, Selection selection, Progress *progress);
  SelectedRecords(TraceSession *session, std::vector<std::string> event_globs, Progress *progress);

  // Moves to the next kept record; false at the end of the input or at
  // damage (the session's reader tells which).
  bool next(EventView *event);

  TraceSession *session() const { return session_; }

  // Data records read so far, kept or not, those outside the time window
  // included.
  uint64_t records_read() const {
    return records_read_ + vxt_reader_skipped_count(session_->reader());
  }

 private:
  bool session_selected(const EventView &event);
  void note_kept();

  TraceSession *session_;
  Selection selection_;
  EventFilter filter_;
  Progress *progress_;
  uint64_t records_read_ = 0;
  bool kept_any_ = false;
  EventKindCache kinds_;
  RecordAllocator allocator_;
};

}  // namespace vxtrace
