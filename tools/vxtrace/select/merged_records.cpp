#include "select/merged_records.h"

#include <algorithm>

#include "io/diagnostics.h"

namespace vxtrace {
namespace {

uint64_t total_size(const OpenedInput &opened) {
  uint64_t total = 0;
  for (const OpenedSource &source : opened.sources)
    total += vxt_reader_size(source.session->reader());
  return total;
}

}  // namespace

MergedRecords::MergedRecords(const OpenedInput &opened, const Selection &selection,
                             bool progress_wanted)
    : opened_(opened), progress_(progress_wanted, total_size(opened)) {
  inputs_.reserve(opened.sources.size());
  // One input reports its own progress at no cost; several are summed here.
  Progress *own_progress = opened.sources.size() == 1 ? &progress_ : nullptr;
  for (const OpenedSource &source : opened.sources)
    inputs_.push_back(std::make_unique<Input>(source.session.get(), selection, own_progress));
  heap_.reserve(inputs_.size());
}

MergedRecords::~MergedRecords() {
  progress_.finish();
  report_backward_steps(opened_, backward_steps());
}

bool MergedRecords::next(EventView *event) {
  if (inputs_.size() == 1) return inputs_.front()->records.next(event);
  if (!started_) {
    for (size_t index = 0; index < inputs_.size(); ++index) pull(index);
    started_ = true;
  } else if (handed_out_) {
    // The record handed out last is done with: its input moves on.
    pull(current_);
  }
  handed_out_ = !heap_.empty();
  if (!handed_out_) return false;
  const auto later = [this](size_t a, size_t b) { return heads_later(a, b); };
  std::pop_heap(heap_.begin(), heap_.end(), later);
  current_ = heap_.back();
  heap_.pop_back();
  *event = inputs_[current_]->head;
  if ((++merged_ & 0x3FF) == 0) update_progress();
  return true;
}

// Reads the next head of an input; an input at its end leaves the merge.
void MergedRecords::pull(size_t index) {
  Input &input = *inputs_[index];
  if (!input.records.next(&input.head)) return;
  if (input.head.timestamp < input.last_timestamp) ++input.backward_steps;
  input.last_timestamp = input.head.timestamp;
  heap_.push_back(index);
  std::push_heap(heap_.begin(), heap_.end(),
                 [this](size_t a, size_t b) { return heads_later(a, b); });
}

// Orders the heap so that the earliest head, the first input on a tie, is
// on top: the merge is stable.
bool MergedRecords::heads_later(size_t a, size_t b) const {
  const uint64_t time_a = inputs_[a]->head.timestamp;
  const uint64_t time_b = inputs_[b]->head.timestamp;
  return time_a != time_b ? time_a > time_b : a > b;
}

void MergedRecords::update_progress() {
  uint64_t done = 0;
  for (const std::unique_ptr<Input> &input : inputs_)
    done += vxt_reader_offset(input->records.session()->reader());
  progress_.update_step(done, records_read());
}

uint64_t MergedRecords::records_read() const {
  uint64_t read = 0;
  for (const std::unique_ptr<Input> &input : inputs_) read += input->records.records_read();
  return read;
}

std::vector<uint64_t> MergedRecords::backward_steps() const {
  std::vector<uint64_t> steps;
  for (const std::unique_ptr<Input> &input : inputs_) steps.push_back(input->backward_steps);
  return steps;
}

void report_backward_steps(const OpenedInput &opened, const std::vector<uint64_t> &steps) {
  if (opened.sources.size() < 2) return;
  for (size_t i = 0; i < steps.size() && i < opened.sources.size(); ++i)
    if (steps[i] > 0)
      note(opened.sources[i].display_name + ": the timestamps went back " +
           (steps[i] == 1 ? std::string("once") : std::to_string(steps[i]) + " times") +
           "; the merge keeps this input's own order there");
}

}  // namespace vxtrace
