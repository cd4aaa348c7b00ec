// The records of one or more inputs, merged by timestamp: what every reading
// command walks. Each input keeps its own iterator (ids are per buffer), and
// only the record at the head of each input is held, so memory does not grow
// with the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "io/diagnostics.h"
#include "io/inputs.h"
#include "io/progress.h"
#include "select/selected_records.h"
#include "select/selection.h"

namespace vxtrace {

class MergedRecords {
 public:
  // Construct before any session of opened has read a record. The progress
  // line covers the bytes of every input.
  MergedRecords(const OpenedInput &opened, const Selection &selection, bool progress_wanted);
  MergedRecords(const MergedRecords &) = delete;
  MergedRecords &operator=(const MergedRecords &) = delete;
  // Reports, once per input, the timestamps that went back within it.
  ~MergedRecords();

  // Moves to the next kept record: the earliest head of the inputs, the
  // first input on equal timestamps, each input in its own file order. A
  // record whose timestamp goes back within its input comes out as soon as
  // it is read: the order of one input is never changed. False when every
  // input has reached its end or its damage.
  bool next(EventView *event);

  // The input of the record that next returned, as an index into
  // opened.sources, and its session (to decode the record with).
  size_t source() const { return current_; }
  TraceSession *session() const { return inputs_[current_]->records.session(); }

  // Data records read so far over all inputs, kept or not.
  uint64_t records_read() const;
  // Times that an input's timestamp was below the one before it, by source.
  std::vector<uint64_t> backward_steps() const;

  // The progress line, for steps after the records.
  Progress &progress() { return progress_; }
  // Clears the progress line; done by the destructor too.
  void finish_progress() { progress_.finish(); }

 private:
  struct Input {
    Input(TraceSession *session, const Selection &selection, Progress *progress)
        : records(session, selection, progress) {}
    SelectedRecords records;
    EventView head;
    uint64_t last_timestamp = 0;
    uint64_t backward_steps = 0;
  };

  void pull(size_t index);
  bool heads_later(size_t a, size_t b) const;
  void update_progress();

  const OpenedInput &opened_;
  Progress progress_;
  std::vector<std::unique_ptr<Input>> inputs_;  // not movable: the heads point into them
  std::vector<size_t> heap_;                    // indices of the inputs that hold a head
  size_t current_ = 0;
  bool started_ = false;
  bool handed_out_ = false;  // current_'s head was handed out and not replaced
  uint64_t merged_ = 0;
};

// With several inputs: one line on standard error for each input whose
// timestamps went back steps[i] times.
void report_backward_steps(const OpenedInput &opened, const std::vector<uint64_t> &steps);

}  // namespace vxtrace
