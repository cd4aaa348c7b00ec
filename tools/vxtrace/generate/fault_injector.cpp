#include "generate/fault_injector.h"

#include <algorithm>
#include <tuple>

#include "measure/horizon.h"

namespace vxtrace {

FaultInjector::FaultInjector(const FaultPlan &plan, FaultAccount *account)
    : plan_(plan), account_(account) {
  std::sort(plan_.stalls.begin(), plan_.stalls.end(),
            [](const auto &a, const auto &b) { return a.after_ns < b.after_ns; });
  account_->losses.clear();
  for (const FaultPlan::Loss &loss : plan_.losses)
    account_->losses.push_back({loss.stage, 0, 0, {}});
  account_->latencies.clear();
  for (const FaultPlan::Latency &latency : plan_.latencies)
    account_->latencies.push_back({latency.stage, latency.latency_ns});
  account_->injected_silences.assign(plan_.silences.size(), {});
}

// The report ends every session still open with the trace: its lost packets
// stay lost, its stalls are those of its frames so far. The stalls go in
// time order, whichever session ended first.
FaultInjector::~FaultInjector() {
  for (const OpenLoss &open : open_losses_) count_loss(open, true);
  std::vector<uint32_t> open_sessions;
  for (const auto &[id, cadence] : cadences_) open_sessions.push_back(id);
  std::sort(open_sessions.begin(), open_sessions.end());
  for (uint32_t id : open_sessions) take_stalls(id, cadences_.at(id));
  std::sort(account_->stalls.begin(), account_->stalls.end(),
            [](const FaultAccount::StallSeen &a, const FaultAccount::StallSeen &b) {
              return std::tie(a.at_ns, a.session_id) < std::tie(b.at_ns, b.session_id);
            });
}

bool FaultInjector::lose_packet(LossStage stage, uint32_t session_id) {
  for (size_t i = 0; i < plan_.losses.size(); ++i) {
    if (plan_.losses[i].stage != stage || plan_.losses[i].count == 0) continue;
    --plan_.losses[i].count;
    const size_t session_index = loss_session_index(i, session_id);
    FaultAccount::LossInSession &session = account_->losses[i].sessions[session_index];
    ++session.count;
    session.last_entered_ns = last_ns_;
    open_losses_.push_back({session_id, stage, i, session_index, last_ns_});
    return true;
  }
  return false;
}

// The live session's entry in the loss's sessions, made at its first lost
// packet.
size_t FaultInjector::loss_session_index(size_t plan_index, uint32_t session_id) {
  std::vector<FaultAccount::LossInSession> &sessions = account_->losses[plan_index].sessions;
  const uint64_t key = (uint64_t{plan_index} << 32) | session_id;
  const auto [found, added] = loss_sessions_.try_emplace(key, sessions.size());
  if (added) sessions.push_back({session_id, last_ns_, last_ns_});
  return found->second;
}

void FaultInjector::flush(uint32_t session_id, LossStage stage, uint64_t now_ns) {
  auto flushed = [&](const OpenLoss &open) {
    if (open.session_id != session_id || open.stage != stage) return false;
    count_loss(open, past_horizon(open.entered_ns, now_ns, kDefaultHorizonNs));
    return true;
  };
  open_losses_.erase(std::remove_if(open_losses_.begin(), open_losses_.end(), flushed),
                     open_losses_.end());
}

void FaultInjector::end_session(uint32_t session_id, uint64_t now_ns) {
  flush(session_id, LossStage::reorder, now_ns);
  flush(session_id, LossStage::decoder, now_ns);
  for (size_t i = 0; i < plan_.losses.size(); ++i)
    loss_sessions_.erase((uint64_t{i} << 32) | session_id);
  const auto cadence = cadences_.find(session_id);
  if (cadence == cadences_.end()) return;
  take_stalls(session_id, cadence->second);
  cadences_.erase(cadence);
}

void FaultInjector::take_stalls(uint32_t session_id, const DisplayCadence &cadence) {
  for (const Stall &stall : cadence.stalls().stalls)
    account_->stalls.push_back({session_id, stall.at_ns, stall.gap_ns});
}

void FaultInjector::count_loss(const OpenLoss &open, bool lost) {
  FaultAccount::LossSeen &loss = account_->losses[open.plan_index];
  FaultAccount::LossInSession &session = loss.sessions[open.session_index];
  ++(lost ? loss.lost : loss.flushed);
  ++(lost ? session.lost : session.flushed);
}

}  // namespace vxtrace
