#include "select/selected_records.h"

#include <algorithm>

#include "core/decoded_record.h"
#include "schema/payload_fields.h"

namespace vxtrace {
namespace {

Selection selection_of(std::vector<std::string> event_globs) {
  Selection selection;
  selection.event_globs = std::move(event_globs);
  return selection;
}

}  // namespace

SelectedRecords::SelectedRecords(TraceSession *session, Selection selection, Progress *progress)
    : session_(session),
      selection_(std::move(selection)),
      filter_(selection_.event_globs),
      progress_(progress) {
  vxt_reader_set_window(session_->reader(), selection_.begin, selection_.end);
}

SelectedRecords::SelectedRecords(TraceSession *session, std::vector<std::string> event_globs,
                                 Progress *progress)
    : SelectedRecords(session, selection_of(std::move(event_globs)), progress) {}

bool SelectedRecords::next(EventView *event) {
  while (session_->next(event)) {
    ++records_read_;
    if (progress_ != nullptr)
      progress_->update(vxt_reader_offset(session_->reader()), records_read());
    // The reader's window cannot tell "before 2^64-1" from no end, nor
    // express a window past the largest timestamp: the edges are kept here.
    if (!selection_.keeps_time(event->timestamp)) continue;
    if (filter_.selected(*event) && session_selected(*event)) {
      note_kept();
      return true;
    }
  }
  return false;
}

// Told once per reader, so that readers on several threads do not write
// the shared flag at every record.
void SelectedRecords::note_kept() {
  if (kept_any_) return;
  kept_any_ = true;
  selection_.kept_any->store(true, std::memory_order_relaxed);
}

// The session is in the decoded payload; the record is decoded once more
// by the caller, which is the price of --session only. A record that cannot
// be decoded has no session that could be told, and is dropped.
bool SelectedRecords::session_selected(const EventView &event) {
  if (selection_.sessions.empty()) return true;
  const std::optional<EventKind> kind = kinds_.kind_of(event.descriptor);
  if (!kind) return false;
  if (!has_session(*kind)) return selection_.with_receiver;
  const DecodedRecord record(event, session_->iterator(), &allocator_);
  if (record.data() == nullptr) return false;
  const std::optional<uint32_t> id = session_of(*kind, record.data());
  if (!id) return selection_.with_receiver;
  return std::find(selection_.sessions.begin(), selection_.sessions.end(), *id) !=
         selection_.sessions.end();
}

}  // namespace vxtrace
