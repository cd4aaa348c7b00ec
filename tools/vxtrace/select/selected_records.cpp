#include "select/selected_records.h"

namespace vxtrace {

SelectedRecords::SelectedRecords(TraceSession *session, std::vector<std::string> event_globs,
                                 Progress *progress)
    : session_(session), filter_(std::move(event_globs)), progress_(progress) {}

bool SelectedRecords::next(EventView *event) {
  while (session_->next(event)) {
    ++records_read_;
    if (progress_ != nullptr)
      progress_->update(vxt_reader_offset(session_->reader()), records_read_);
    if (filter_.selected(*event)) return true;
  }
  return false;
}

}  // namespace vxtrace
