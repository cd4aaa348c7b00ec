// Applies a FaultPlan while a trace is written, and keeps its account.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "generate/fault_plan.h"
#include "generate/generated_kinds.h"
#include "measure/display_cadence.h"

namespace vxtrace {

// Applies a FaultPlan while the trace is written and keeps the account of
// what each fault left behind, by the rules the report applies with its
// defaults: a session's stalls are those its display cadence yields (a
// session lasts to network_session_destroyed or to the end of the trace); a
// packet that never leaves its stage is flushed by its session's audio
// flushes within the horizon and lost otherwise; a stage of fixed latency is
// left that long after the entering record just before.
class FaultInjector {
 public:
  FaultInjector(const FaultPlan &plan, FaultAccount *account);
  // Settles the account: the sessions still open end with the trace.
  ~FaultInjector();
  FaultInjector(const FaultInjector &) = delete;
  FaultInjector &operator=(const FaultInjector &) = delete;

  // The timestamp of an event that would come at natural_ns.
  uint64_t timestamp_for(size_t kind, uint32_t session_id, uint64_t natural_ns) {
    if (const std::optional<uint64_t> fixed = fixed_exit_time(kind, session_id)) return *fixed;
    return natural_ns + pause_before(kind, natural_ns);
  }

  // Whether the last event entered a stage of fixed latency: nothing may come
  // between it and its leaving, whose time is fixed.
  bool holding_stage_open() const {
    for (const FaultPlan::Latency &latency : plan_.latencies)
      if (last_kind_ == kind_index(latency.stage->from)) return true;
    return false;
  }

  void after_emit(size_t kind, uint32_t session_id, uint64_t now_ns) {
    if (kind == kind_index(EventKind::video_stream_frame_displayed)) {
      cadences_.try_emplace(session_id).first->second.add(now_ns);
    } else if (kind == kind_index(EventKind::audio_sink_write_silence)) {
      ++account_->silence_writes;
    } else if (kind == kind_index(EventKind::audio_reorder_buffer_flush)) {
      flush(session_id, LossStage::reorder, now_ns);
    } else if (kind == kind_index(EventKind::audio_flush)) {
      flush(session_id, LossStage::reorder, now_ns);
      flush(session_id, LossStage::decoder, now_ns);
    } else if (kind == kind_index(EventKind::network_session_destroyed)) {
      end_session(session_id, now_ns);
    }
    last_kind_ = kind;
    last_session_id_ = session_id;
    last_ns_ = now_ns;
  }

  // Whether the packet that the last event put into stage is to stay there;
  // counts it.
  bool lose_packet(LossStage stage, uint32_t session_id);

  // Calls queue(fault, count) for every silence fault due at now_ns (its
  // index in the plan and its writes), once.
  template <class Queue>
  void take_due_silences(uint64_t now_ns, Queue &&queue) {
    for (size_t i = 0; i < plan_.silences.size(); ++i) {
      FaultPlan::Silence &silence = plan_.silences[i];
      if (silence.count == 0 || first_ns_ == 0 || now_ns - first_ns_ < silence.after_ns) continue;
      queue(i, silence.count);
      silence.count = 0;
    }
  }
  // A silence write of the fault went into the trace at now_ns: counted as
  // injected only then.
  void silence_written(size_t fault, uint64_t now_ns) {
    ++account_->silences_injected;
    FaultAccount::SilencesSeen &seen = account_->injected_silences[fault];
    if (seen.writes++ == 0) seen.first_ns = now_ns;
  }

 private:
  struct OpenLoss {
    uint32_t session_id;
    LossStage stage;
    size_t plan_index;
    size_t session_index;  // in the account's sessions of its loss
    uint64_t entered_ns;
  };

  // The pause to add before an event at now_ns.
  uint64_t pause_before(size_t kind, uint64_t now_ns) {
    if (first_ns_ == 0) first_ns_ = now_ns;
    if (kind != kind_index(EventKind::video_stream_frame_displayed) ||
        next_stall_ >= plan_.stalls.size() ||
        now_ns - first_ns_ < plan_.stalls[next_stall_].after_ns)
      return 0;
    return plan_.stalls[next_stall_++].pause_ns;
  }

  // The entry's time and the stage's latency when kind leaves a stage of
  // fixed latency that the session's last event entered, and counts it.
  std::optional<uint64_t> fixed_exit_time(size_t kind, uint32_t session_id) {
    if (session_id != last_session_id_) return std::nullopt;
    for (size_t i = 0; i < plan_.latencies.size(); ++i) {
      const TimedStage &stage = *plan_.latencies[i].stage;
      if (kind != kind_index(stage.to) || last_kind_ != kind_index(stage.from)) continue;
      ++account_->latencies[i].keys;
      return last_ns_ + plan_.latencies[i].latency_ns;
    }
    return std::nullopt;
  }

  // The session's lost packets in stage leave by a flush at now_ns.
  void flush(uint32_t session_id, LossStage stage, uint64_t now_ns);
  // network_session_destroyed: the session's audio stages are flushed, its
  // stalls fixed, and a later session of its id is a new one.
  void end_session(uint32_t session_id, uint64_t now_ns);
  void take_stalls(uint32_t session_id, const DisplayCadence &cadence);
  void count_loss(const OpenLoss &open, bool lost);
  size_t loss_session_index(size_t plan_index, uint32_t session_id);

  FaultPlan plan_;  // a copy, whose counts run down
  FaultAccount *account_;
  size_t next_stall_ = 0;
  uint64_t first_ns_ = 0;
  std::unordered_map<uint32_t, DisplayCadence> cadences_;  // of the live sessions
  std::vector<OpenLoss> open_losses_;
  // Of the live sessions: (plan index << 32 | session id) to the index in
  // the loss's sessions.
  std::unordered_map<uint64_t, size_t> loss_sessions_;
  size_t last_kind_ = kKindCount;  // none yet
  uint32_t last_session_id_ = 0;
  uint64_t last_ns_ = 0;
};

}  // namespace vxtrace
