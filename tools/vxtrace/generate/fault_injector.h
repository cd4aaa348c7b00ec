// Applies a FaultPlan while a trace is written, and keeps its account.
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "generate/fault_plan.h"
#include "generate/generated_kinds.h"

namespace vxtrace {

// Applies a FaultPlan while the trace is written and keeps the account of
// what each fault left behind, by the rules a reader applies: a stall shows
// in each session at its first displayed frame after the pause; a packet
// that never leaves its stage is flushed by its session's audio flushes and
// lost otherwise; a stage of fixed latency is left that long after the
// entering record just before.
class FaultInjector {
 public:
  FaultInjector(const FaultPlan &plan, FaultAccount *account) : plan_(plan), account_(account) {
    std::sort(plan_.stalls.begin(), plan_.stalls.end(),
              [](const auto &a, const auto &b) { return a.after_ns < b.after_ns; });
    account_->losses.clear();
    for (const FaultPlan::Loss &loss : plan_.losses) account_->losses.push_back({loss.stage});
    account_->latencies.clear();
    for (const FaultPlan::Latency &latency : plan_.latencies)
      account_->latencies.push_back({latency.stage, latency.latency_ns});
  }
  ~FaultInjector() {
    for (const OpenLoss &open : open_losses_) ++account_->losses[open.plan_index].lost;
  }

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
      auto previous = last_display_ns_.find(session_id);
      if (previous != last_display_ns_.end() && previous->second < last_pause_ns_)
        account_->stalls.push_back({session_id, now_ns, now_ns - previous->second});
      last_display_ns_[session_id] = now_ns;
    } else if (kind == kind_index(EventKind::audio_sink_write_silence)) {
      ++account_->silence_writes;
    } else if (kind == kind_index(EventKind::audio_reorder_buffer_flush)) {
      flush(session_id, LossStage::reorder);
    } else if (kind == kind_index(EventKind::audio_flush) ||
               kind == kind_index(EventKind::network_session_destroyed)) {
      flush(session_id, LossStage::reorder);
      flush(session_id, LossStage::decoder);
    }
    if (kind == kind_index(EventKind::network_session_destroyed))
      last_display_ns_.erase(session_id);
    last_kind_ = kind;
    last_session_id_ = session_id;
    last_ns_ = now_ns;
  }

  // Whether the packet that just entered stage is to stay there; counts it.
  bool lose_packet(LossStage stage, uint32_t session_id) {
    for (size_t i = 0; i < plan_.losses.size(); ++i) {
      if (plan_.losses[i].stage != stage || plan_.losses[i].count == 0) continue;
      --plan_.losses[i].count;
      open_losses_.push_back({session_id, stage, i});
      return true;
    }
    return false;
  }

  // Silence writes due at now_ns; they count as injected once written.
  uint64_t silences_due(uint64_t now_ns) {
    uint64_t due = 0;
    for (FaultPlan::Silence &silence : plan_.silences) {
      if (silence.count == 0 || now_ns - first_ns_ < silence.after_ns || first_ns_ == 0) continue;
      due += silence.count;
      silence.count = 0;
    }
    return due;
  }
  void silence_written() { ++account_->silences_injected; }

 private:
  struct OpenLoss {
    uint32_t session_id;
    LossStage stage;
    size_t plan_index;
  };

  // The pause to add before an event at now_ns.
  uint64_t pause_before(size_t kind, uint64_t now_ns) {
    if (first_ns_ == 0) first_ns_ = now_ns;
    if (kind != kind_index(EventKind::video_stream_frame_displayed) ||
        next_stall_ >= plan_.stalls.size() ||
        now_ns - first_ns_ < plan_.stalls[next_stall_].after_ns)
      return 0;
    last_pause_ns_ = now_ns;
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

  void flush(uint32_t session_id, LossStage stage) {
    auto flushed = [&](const OpenLoss &open) {
      if (open.session_id != session_id || open.stage != stage) return false;
      ++account_->losses[open.plan_index].flushed;
      return true;
    };
    open_losses_.erase(std::remove_if(open_losses_.begin(), open_losses_.end(), flushed),
                       open_losses_.end());
  }

  FaultPlan plan_;  // a copy, whose counts run down
  FaultAccount *account_;
  size_t next_stall_ = 0;
  uint64_t first_ns_ = 0;
  uint64_t last_pause_ns_ = 0;
  std::unordered_map<uint32_t, uint64_t> last_display_ns_;
  std::vector<OpenLoss> open_losses_;
  size_t last_kind_ = kKindCount;  // none yet
  uint32_t last_session_id_ = 0;
  uint64_t last_ns_ = 0;
};

}  // namespace vxtrace
