// Writes the generated events into a trace.
#pragma once

#include <array>
#include <cstdint>

#include "generate/fault_injector.h"
#include "generate/generated_kinds.h"
#include "generate/payload_writer.h"
#include "generate/splitmix64.h"
#include "generate/value_model.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace {

// Writes events: each kind's definition before its first record, rising
// timestamps, and the state changes that a kind implies.
class EventEmitter {
 public:
  EventEmitter(vxt_writer *writer, SplitMix64 *rng, FaultInjector *faults)
      : writer_(writer), rng_(rng), model_(rng), faults_(faults) {}

  bool emit(size_t kind, SessionState &session) {
    if (ids_[kind] == 0 && !define(kind)) return false;
    now_ns_ += static_cast<uint64_t>(rng_->between(1000, 99000));
    if (faults_ != nullptr) now_ns_ = faults_->timestamp_for(kind, session.id, now_ns_);
    update_state(kind, session);
    model_.set_event(&session, now_ns_, kKinds[kind].video);
    payload_.clear();
    kKinds[kind].write(model_, payload_);
    const bool written = vxt_writer_write_event(writer_, ids_[kind], now_ns_, payload_.data(),
                                                static_cast<uint32_t>(payload_.size()));
    if (faults_ != nullptr) faults_->after_emit(kind, session.id, now_ns_);
    return written;
  }

  bool seen(size_t kind) const { return ids_[kind] != 0; }
  uint64_t now_ns() const { return now_ns_; }

 private:
  bool define(size_t kind) {
    ids_[kind] = next_id_++;
    const std::string name(kKinds[kind].name);
    return vxt_writer_define(writer_, ids_[kind], name.c_str());
  }

  void update_state(size_t kind, SessionState &s);

  vxt_writer *writer_;
  SplitMix64 *rng_;
  ValueModel model_;
  PayloadBuffer payload_;
  FaultInjector *faults_;
  std::array<uint32_t, kKindCount> ids_{};
  uint32_t next_id_ = 1;
  uint64_t now_ns_ = 1'000'000'000;
};

}  // namespace vxtrace
