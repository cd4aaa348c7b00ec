#include "core/decoded_record.h"

namespace vxtrace {

const char *decode_problem_text(DecodeProblem problem) {
  switch (problem) {
    case DecodeProblem::unknown_id:
      return "unknown event id";
    case DecodeProblem::no_decoder:
      return "no decoder for this event";
    case DecodeProblem::undecodable:
      return "payload could not be decoded";
    case DecodeProblem::none:
      break;
  }
  return nullptr;
}

DecodedRecord::DecodedRecord(const EventView &event, vx_buffer_iterator *iterator,
                             RecordAllocator *allocator)
    : descriptor_(event.descriptor), allocator_(allocator) {
  if (event.name == nullptr) {
    problem_ = DecodeProblem::unknown_id;
  } else if (descriptor_ == nullptr || descriptor_->decode == nullptr) {
    problem_ = DecodeProblem::no_decoder;
  } else {
    record_ = descriptor_->decode(iterator, allocator_->allocator());
    if (record_ == nullptr) problem_ = DecodeProblem::undecodable;
  }
}

DecodedRecord::~DecodedRecord() {
  if (record_ != nullptr && descriptor_->release != nullptr)
    descriptor_->release(record_, allocator_->allocator());
  allocator_->reset();
}

}  // namespace vxtrace
