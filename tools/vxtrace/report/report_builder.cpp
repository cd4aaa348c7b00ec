#include "report/report_builder.h"

#include <algorithm>
#include <bit>
#include <unordered_map>

#include "pipeline/record_fields.h"
#include "report/finding_rules.h"
#include "report/live_session.h"
#include "report/session_figures.h"
#include "report/sink_tracker.h"
#include "report/stage_tracker.h"

namespace vxtrace {

class ReportBuilder::State {
 public:
  explicit State(ReportOptions options)
      : stages_(with_a_horizon(options)),
        findings_(options.max_findings),
        silence_runs_(std::max<uint64_t>(options.silence_run, 1), &findings_) {
    report_.options = with_a_horizon(options);
  }

  void add(uint64_t timestamp_ns, EventKind kind, const void *record) {
    note_time(timestamp_ns);
    const RecordKeys keys = record_keys(kind, record);
    if (!keys.session) {
      sink_.add(kind, record, source_, &report_);
      if (kind == EventKind::audio_sink_write_silence) {
        silence_runs_.silence(source_, timestamp_ns);
        ++receiver_series_.at(timestamp_ns).silence_writes;
      } else if (kind == EventKind::audio_sink_write_data) {
        silence_runs_.data(source_, timestamp_ns);
        ++receiver_series_.at(timestamp_ns).data_writes;
      }
    } else if (LiveSession *session = session_of(*keys.session, timestamp_ns)) {
      ++session->events;
      session->last_ns = std::max(session->last_ns, timestamp_ns);
      const KindRoles &roles = roles_of(kind);
      if (roles.any()) apply_roles(*session, roles, keys, timestamp_ns);
    } else {
      ++report_.records_of_extra_sessions;
    }
    if (next_sweep_ns_ != kNone && now_ns_ >= next_sweep_ns_) sweep();
  }

  void add_frame_before_window(uint64_t timestamp_ns, uint32_t session_id) {
    const uint64_t key = session_key(session_id);
    // Bounded like the live sessions: damaged input cannot grow it further.
    if (frames_before_window_.size() < report_.options.max_live_sessions ||
        frames_before_window_.contains(key))
      frames_before_window_[key] = timestamp_ns;
  }

  void add_undecoded(uint64_t timestamp_ns) {
    note_time(timestamp_ns);
    ++report_.undecoded;
  }

  size_t keys_in_flight() const { return stages_.keys_in_flight(); }

  Report finish() {
    std::vector<LiveSession *> remaining;
    for (auto &[id, session] : live_) remaining.push_back(session.get());
    std::sort(remaining.begin(), remaining.end(), [](const LiveSession *a, const LiveSession *b) {
      return a->figures_index < b->figures_index;
    });
    for (LiveSession *session : remaining) {
      stages_.lose_open_keys(*session, report_.last_ns);
      fix_session(*session);
    }
    live_.clear();
    cached_ = nullptr;
    report_.keys_not_followed = stages_.keys_not_followed();
    silence_runs_.finish();
    fix_receiver_plot();
    report_.findings = findings_.take();
    report_.findings_not_kept = findings_.dropped();
    std::sort(report_.plots.begin(), report_.plots.end(),
              [](const SessionPlots &a, const SessionPlots &b) { return a.session < b.session; });
    return std::move(report_);
  }

  void set_source(uint32_t source) { source_ = source; }

 private:
  static ReportOptions with_a_horizon(ReportOptions options) {
    options.horizon_ns = std::max<uint64_t>(options.horizon_ns, 1);
    return options;
  }

  void fix_receiver_plot() {
    const auto &cells = receiver_series_.cells();
    for (size_t i = 0; i < cells.size(); ++i)
      report_.receiver_plot.push_back(
          {receiver_series_.origin_ns() + i * receiver_series_.width_ns(), cells[i].data_writes,
           cells[i].silence_writes, cells[i].drops});
    report_.receiver_window_ns = receiver_series_.width_ns();
  }

  void note_time(uint64_t timestamp_ns) {
    if (report_.events++ == 0) {
      receiver_series_ = WindowSeries<ReceiverCell>(timestamp_ns);
      report_.first_ns = report_.last_ns = timestamp_ns;
      next_sweep_ns_ = sweep_after(timestamp_ns);
    }
    report_.first_ns = std::min(report_.first_ns, timestamp_ns);
    report_.last_ns = std::max(report_.last_ns, timestamp_ns);
    now_ns_ = report_.last_ns;
  }

  // kNone once time can go no further: nothing can expire any more.
  uint64_t sweep_after(uint64_t time_ns) const {
    const uint64_t step = std::max<uint64_t>(report_.options.horizon_ns / 2, 1);
    return time_ns >= kNone - step ? kNone : time_ns + step;
  }

  uint64_t horizon_ns() const { return report_.options.horizon_ns; }

  // Sessions of different inputs are different sessions.
  uint64_t session_key(uint32_t id) const { return (uint64_t{source_} << 32) | id; }

  // Null when the session would be one too many.
  LiveSession *session_of(uint32_t id, uint64_t timestamp_ns) {
    const uint64_t key = session_key(id);
    if (cached_ != nullptr && cached_->key == key) return cached_;
    auto found = live_.find(key);
    if (found == live_.end()) {
      if (report_.sessions.size() >= report_.options.max_sessions) return nullptr;
      if (live_.size() >= std::max<size_t>(report_.options.max_live_sessions, 1))
        end_longest_silent_session();
      report_.sessions.emplace_back();
      report_.sessions.back().session_id = id;
      report_.sessions.back().source = source_;
      auto session = std::make_unique<LiveSession>(key, timestamp_ns, report_.sessions.size() - 1,
                                                   report_.options.stall_floor_ns);
      if (auto before = frames_before_window_.find(key); before != frames_before_window_.end()) {
        session->display.frame_before(before->second);
        frames_before_window_.erase(before);
      }
      found = live_.emplace(key, std::move(session)).first;
    }
    cached_ = found->second.get();
    return cached_;
  }

  void end_longest_silent_session() {
    LiveSession *silent = nullptr;
    const auto quieter = [](const LiveSession &a, const LiveSession &b) {
      return a.last_ns != b.last_ns ? a.last_ns < b.last_ns : a.figures_index < b.figures_index;
    };
    for (auto &[id, session] : live_)
      if (silent == nullptr || quieter(*session, *silent)) silent = session.get();
    ++report_.sessions_ended_early;
    end_session(*silent);
  }

  void apply_roles(LiveSession &session, const KindRoles &roles, const RecordKeys &keys,
                   uint64_t now) {
    for (size_t i = 0; i < roles.left_count; ++i)
      stages_.leave(session, roles.left_pairs[i], keys, now);
    for (size_t i = 0; i < roles.entered_count; ++i)
      stages_.enter(session, roles.entered_stages[i], keys, now);
    if (roles.flushed_stages != 0) stages_.flush(session, roles.flushed_stages, now);
    if (roles.span_end >= 0)
      end_span(session.spans[static_cast<size_t>(roles.span_end)], now, horizon_ns());
    if (roles.span_begin >= 0)
      begin_span(session.spans[static_cast<size_t>(roles.span_begin)], now);
    if (roles.drop >= 0) note_drop(session, static_cast<size_t>(roles.drop), now);
    if (roles.display) note_display(session, now);
    if (roles.ends_session) end_session(session);
  }

  void note_drop(LiveSession &session, size_t drop, uint64_t now) {
    ++session.drops[drop];
    ++session.drop_series.at(now).drops[drop];
    ++receiver_series_.at(now).drops;
    DropBurst &burst = session.drop_bursts[drop];
    if (!burst.continues(now))
      take_drop_burst(session, drop, report_.sessions[session.figures_index], &findings_);
    burst.add(now);
  }

  void fix_session(LiveSession &session) {
    fix_figures(session, &report_);
    find_in_session(session, report_.sessions[session.figures_index], &findings_);
    keep_plots(session, &report_);
  }

  // Every open key and span older than the horizon is lost and forgotten.
  void sweep() {
    for (auto &[id, session] : live_) {
      stages_.expire(*session, now_ns_);
      for (SpanState &span : session->spans) expire_span(span, now_ns_, horizon_ns());
    }
    next_sweep_ns_ = sweep_after(now_ns_);
  }

  // The session's end flushed its keys; whatever the model left open is lost.
  void end_session(LiveSession &session) {
    stages_.lose_open_keys(session, now_ns_);
    fix_session(session);
    cached_ = nullptr;
    live_.erase(session.key);  // destroys the session
  }

  Report report_;
  SinkTracker sink_;
  StageTracker stages_;
  FindingsCollector findings_;
  SilenceRuns silence_runs_;
  struct ReceiverCell {
    uint64_t data_writes = 0;
    uint64_t silence_writes = 0;
    uint64_t drops = 0;
    void merge(const ReceiverCell &other) {
      data_writes += other.data_writes;
      silence_writes += other.silence_writes;
      drops += other.drops;
    }
  };
  WindowSeries<ReceiverCell> receiver_series_;
  std::unordered_map<uint64_t, uint64_t> frames_before_window_;      // by session key
  std::unordered_map<uint64_t, std::unique_ptr<LiveSession>> live_;  // by key
  uint32_t source_ = 0;
  LiveSession *cached_ = nullptr;
  uint64_t now_ns_ = 0;
  uint64_t next_sweep_ns_ = kNone;
};

ReportBuilder::ReportBuilder(ReportOptions options) : state_(std::make_unique<State>(options)) {}

ReportBuilder::~ReportBuilder() = default;

void ReportBuilder::add(uint64_t timestamp_ns, EventKind kind, const void *record) {
  state_->add(timestamp_ns, kind, record);
}

void ReportBuilder::set_source(uint32_t source) {
  state_->set_source(source);
}

void ReportBuilder::add_frame_before_window(uint64_t timestamp_ns, uint32_t session_id) {
  state_->add_frame_before_window(timestamp_ns, session_id);
}

void ReportBuilder::add_undecoded(uint64_t timestamp_ns) {
  state_->add_undecoded(timestamp_ns);
}

size_t ReportBuilder::keys_in_flight() const {
  return state_->keys_in_flight();
}

Report ReportBuilder::finish() {
  Report report = state_->finish();
  state_ = std::make_unique<State>(report.options);
  return report;
}

}  // namespace vxtrace
