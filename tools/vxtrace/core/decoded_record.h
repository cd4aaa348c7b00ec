// Decoding of the current event through its descriptor, in the order the
// plug-in requires: decode, then print, then release before the iterator
// advances. The record is released when this object goes.
#pragma once

#include "core/record_allocator.h"
#include "core/trace_session.h"

namespace vxtrace {

enum class DecodeProblem { none, unknown_id, no_decoder, undecodable };

// The text that a dump line carries in "error"; null for none.
const char *decode_problem_text(DecodeProblem problem);

class DecodedRecord {
 public:
  DecodedRecord(const EventView &event, vx_buffer_iterator *iterator, RecordAllocator *allocator);
  DecodedRecord(const DecodedRecord &) = delete;
  DecodedRecord &operator=(const DecodedRecord &) = delete;
  ~DecodedRecord();

  DecodeProblem problem() const { return problem_; }
  // The decoded payload record (a struct of vexlo/velocast_payloads.h); null
  // when there is a problem.
  const void *data() const { return problem_ == DecodeProblem::none ? record_ : nullptr; }
  void print(const vx_printer &printer) const { descriptor_->print(record_, &printer); }

 private:
  const vx_event_descriptor *descriptor_;
  RecordAllocator *allocator_;
  void *record_ = nullptr;
  DecodeProblem problem_ = DecodeProblem::none;
};

}  // namespace vxtrace
