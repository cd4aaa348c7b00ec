#include "report/finding_rules.h"

namespace vxtrace {
namespace {

Finding session_finding(FindingKind kind, const SessionFigures &figures) {
  Finding finding;
  finding.kind = kind;
  finding.source = figures.source;
  finding.session_id = figures.session_id;
  return finding;
}

// Offers a finding of the session, which remembers its most severe.
void offer(LiveSession &session, const Finding &finding, FindingsCollector *findings) {
  session.worst_finding = std::max(session.worst_finding, finding.severity_ns + 1);
  findings->offer(finding);
}

void find_stalls(LiveSession &session, const SessionFigures &figures, FindingsCollector *findings) {
  for (const Stall &stall : figures.display.stalls) {
    Finding finding = session_finding(FindingKind::stall, figures);
    finding.severity_ns = stall.gap_ns;
    finding.begin_ns = stall.at_ns - std::min(stall.gap_ns, stall.at_ns);  // the frame before
    finding.end_ns = stall.at_ns;
    finding.count = 1;
    finding.gap_ns = stall.gap_ns;
    finding.median_gap_ns = figures.display.interval.p50_ns;
    set_window(&finding);
    offer(session, finding, findings);
  }
}

void find_stage_incidents(LiveSession &session, const SessionFigures &figures,
                          FindingsCollector *findings) {
  for (size_t stage = 0; stage < session.incidents.size(); ++stage) {
    const StageIncidents &incidents = session.incidents[stage];
    const size_t pair = stages()[stage].primary_pair;
    if (incidents.held != 0) {
      Finding finding = session_finding(FindingKind::held, figures);
      finding.severity_ns = incidents.held_max_ns;
      finding.begin_ns = incidents.held_first_ns;
      finding.end_ns = incidents.held_last_ns;
      finding.count = incidents.held;
      finding.pair = pair;
      finding.held_max_ns = incidents.held_max_ns;
      set_window(&finding);
      offer(session, finding, findings);
    }
    if (incidents.lost != 0) {
      Finding finding = session_finding(FindingKind::lost, figures);
      finding.severity_ns = incidents.lost_last_ns - incidents.lost_first_ns;
      finding.begin_ns = incidents.lost_first_ns;
      finding.end_ns = incidents.lost_last_ns;
      finding.count = incidents.lost;
      finding.pair = pair;
      set_window(&finding);
      offer(session, finding, findings);
    }
  }
}

}  // namespace

void take_drop_burst(LiveSession &session, size_t drop, const SessionFigures &figures,
                     FindingsCollector *findings) {
  DropBurst &burst = session.drop_bursts[drop];
  if (burst.dense) {
    Finding finding = session_finding(FindingKind::drops, figures);
    finding.severity_ns = burst.last_ns - burst.first_ns;
    finding.begin_ns = burst.first_ns;
    finding.end_ns = burst.last_ns;
    finding.count = burst.count;
    finding.drop = drop;
    set_window(&finding);
    offer(session, finding, findings);
  }
  burst = DropBurst{};
}

void find_in_session(LiveSession &session, const SessionFigures &figures,
                     FindingsCollector *findings) {
  find_stalls(session, figures, findings);
  find_stage_incidents(session, figures, findings);
  for (size_t d = 0; d < session.drop_bursts.size(); ++d)
    take_drop_burst(session, d, figures, findings);
}

SilenceRuns::Run &SilenceRuns::run_of(uint32_t source) {
  if (runs_.size() <= source) runs_.resize(size_t{source} + 1);
  return runs_[source];
}

void SilenceRuns::silence(uint32_t source, uint64_t now) {
  Run &run = run_of(source);
  if (run.writes++ == 0) run.first_ns = now;
  run.last_ns = now;
}

void SilenceRuns::data(uint32_t source, uint64_t now) {
  Run &run = run_of(source);
  if (run.writes != 0) end_run(source, run, now);
  run.data_before_ns = now;
}

void SilenceRuns::finish() {
  for (size_t source = 0; source < runs_.size(); ++source)
    if (runs_[source].writes != 0)
      end_run(static_cast<uint32_t>(source), runs_[source], runs_[source].last_ns);
}

void SilenceRuns::end_run(uint32_t source, Run &run, uint64_t end_ns) {
  if (run.writes >= run_) {
    Finding finding;
    finding.kind = FindingKind::silence;
    finding.source = source;
    finding.severity_ns = elapsed(run.first_ns, end_ns);
    finding.begin_ns = run.first_ns;
    finding.end_ns = end_ns;
    finding.count = run.writes;
    set_window(&finding,
               run.data_before_ns != kNone ? std::optional(run.data_before_ns) : std::nullopt);
    findings_->offer(finding);
  }
  const uint64_t data_before = run.data_before_ns;
  run = Run{};
  run.data_before_ns = data_before;
}

}  // namespace vxtrace
