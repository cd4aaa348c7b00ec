#include "report/report_builder.h"

#include <algorithm>
#include <bit>
#include <unordered_map>

#include "pipeline/record_fields.h"
#include "report/histogram.h"
#include "report/open_keys.h"
#include "report/window_series.h"

namespace vxtrace {


namespace {

constexpr uint64_t kNone = UINT64_MAX;
// Stall candidates kept per session: the stalls are the longest intervals, so
// keeping the longest candidates keeps every stall while they are fewer.
constexpr size_t kMaxStallCandidates = 1000;

uint64_t elapsed(uint64_t from_ns, uint64_t to_ns) {
  return to_ns > from_ns ? to_ns - from_ns : 0;
}

Durations durations_of(const LogHistogram &histogram) {
  Durations d;
  d.count = histogram.count();
  if (d.count == 0) return d;
  d.p50_ns = histogram.quantile(0.50);
  d.p90_ns = histogram.quantile(0.90);
  d.p99_ns = histogram.quantile(0.99);
  d.max_ns = histogram.max();
  return d;
}

struct DisplayCell {
  uint64_t longest_ns = 0;
  uint32_t frames = 0;
  void merge(const DisplayCell &other) {
    longest_ns = std::max(longest_ns, other.longest_ns);
    frames += other.frames;
  }
};

struct DropCell {
  std::array<uint32_t, kSessionDropCount> drops{};
  void merge(const DropCell &other) {
    for (size_t i = 0; i < drops.size(); ++i) drops[i] += other.drops[i];
  }
};

struct PairState {
  LogHistogram latency;
  uint64_t lost = 0;
  uint64_t flushed = 0;
};

struct SpanState {
  uint64_t open_since = kNone;
  LogHistogram durations;
  uint64_t unfinished = 0;
};

bool longer(const Stall &a, const Stall &b) {
  return a.gap_ns > b.gap_ns;
}

struct DisplayState {
  uint64_t last_ns = kNone;
  uint64_t frames = 0;
  LogHistogram intervals;
  std::vector<Stall> candidates;  // a min-heap by gap once full
  bool candidates_dropped = false;

  void offer(Stall stall) {
    if (candidates.size() < kMaxStallCandidates) {
      candidates.push_back(stall);
      if (candidates.size() == kMaxStallCandidates)
        std::make_heap(candidates.begin(), candidates.end(), longer);
      return;
    }
    candidates_dropped = true;
    if (stall.gap_ns <= candidates.front().gap_ns) return;
    std::pop_heap(candidates.begin(), candidates.end(), longer);
    candidates.back() = stall;
    std::push_heap(candidates.begin(), candidates.end(), longer);
  }
};

// A session still receiving records.
struct LiveSession {
  LiveSession(uint64_t session_key, uint64_t first_record_ns, size_t index)
      : key(session_key),
        first_ns(first_record_ns),
        figures_index(index),
        display_series(first_record_ns),
        drop_series(first_record_ns) {}

  uint64_t key;  // the input and the session id
  uint64_t first_ns;
  size_t figures_index;
  uint64_t events = 0;
  uint64_t last_ns = 0;
  std::vector<OpenKeys> open = std::vector<OpenKeys>(stages().size());
  std::array<PairState, kStagePairCount> pairs;
  std::array<SpanState, kSpanPairCount> spans;
  std::array<uint64_t, kSessionDropCount> drops{};
  DisplayState display;
  WindowSeries<DisplayCell> display_series;
  WindowSeries<DropCell> drop_series;
};

// The field ordinals of the receiver's audio sink records.
struct SinkFields {
  std::optional<FieldOrdinal> dropped_samples = find_integer_field(
      EventKind::audio_sink_dropped_samples, "dropped_samples_per_channel");
  std::optional<FieldOrdinal> clock_lead =
      find_integer_field(EventKind::audio_sink_clock_drift_update, "alsa_clock_lead_ns");
};

// Quarter-octave bars of a latency histogram.
std::vector<SessionPlots::Bar> bars_of(const LogHistogram &histogram) {
  std::vector<SessionPlots::Bar> bars;
  histogram.for_each_bucket([&](uint64_t lower, uint64_t upper, uint64_t count) {
    const int octave = std::bit_width(lower);
    const int quarter = octave <= 2 ? 0 : static_cast<int>((lower >> (octave - 3)) & 3);
    const uint64_t bar_lower =
        octave <= 2 ? lower : ((uint64_t{4} + static_cast<uint64_t>(quarter)) << (octave - 3));
    if (!bars.empty() && bars.back().lower_ns == bar_lower) {
      bars.back().upper_ns = upper;
      bars.back().count += count;
    } else {
      bars.push_back({bar_lower, upper, count});
    }
  });
  return bars;
}

}  // namespace

class ReportBuilder::State {
 public:
  explicit State(ReportOptions options) {
    options.horizon_ns = std::max<uint64_t>(options.horizon_ns, 1);
    report_.options = options;
  }

  void add(uint64_t timestamp_ns, EventKind kind, const void *record) {
    note_time(timestamp_ns);
    const RecordKeys keys = record_keys(kind, record);
    if (!keys.session) {
      add_receiver_record(kind, record);
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

  void add_undecoded(uint64_t timestamp_ns) {
    note_time(timestamp_ns);
    ++report_.undecoded;
  }

  size_t keys_in_flight() const { return keys_in_flight_; }

  Report finish() {
    std::vector<LiveSession *> remaining;
    for (auto &[id, session] : live_) remaining.push_back(session.get());
    std::sort(remaining.begin(), remaining.end(), [](const LiveSession *a, const LiveSession *b) {
      return a->figures_index < b->figures_index;
    });
    for (LiveSession *session : remaining) {
      lose_open_keys(*session);
      fix_figures(*session);
    }
    live_.clear();
    cached_ = nullptr;
    std::sort(report_.plots.begin(), report_.plots.end(),
              [](const SessionPlots &a, const SessionPlots &b) { return a.session < b.session; });
    return std::move(report_);
  }

  void set_source(uint32_t source) { source_ = source; }

 private:
  void note_time(uint64_t timestamp_ns) {
    if (report_.events++ == 0) {
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

  bool expired(uint64_t entered_ns, uint64_t at_ns) const {
    return elapsed(entered_ns, at_ns) > report_.options.horizon_ns;
  }

  void add_receiver_record(EventKind kind, const void *record) {
    ++report_.receiver_events;
    if (kind == EventKind::audio_queue_read) ++report_.audio_queue_reads;
    // The sink is counted over all inputs and for its own input: each buffer
    // is one receiver, whose sink may run dry on its own.
    std::vector<AudioSinkFigures> &by_input = report_.audio_sink_by_input;
    if (by_input.size() <= source_) by_input.resize(size_t{source_} + 1);
    add_sink_record(kind, record, &report_.audio_sink);
    add_sink_record(kind, record, &by_input[source_]);
  }

  void add_sink_record(EventKind kind, const void *record, AudioSinkFigures *sink) const {
    switch (kind) {
      case EventKind::audio_sink_write_data:
        ++sink->writes;
        break;
      case EventKind::audio_sink_write_silence:
        ++sink->silence_writes;
        break;
      case EventKind::audio_sink_dropped_samples:
        sink->dropped_samples +=
            static_cast<uint64_t>(read(kind, sink_fields_.dropped_samples, record).value_or(0));
        break;
      case EventKind::audio_sink_clock_drift_update:
        note_clock_lead(read(kind, sink_fields_.clock_lead, record), sink);
        break;
      default:
        break;
    }
  }

  static std::optional<int64_t> read(EventKind kind, std::optional<FieldOrdinal> field,
                                     const void *record) {
    if (!field) return std::nullopt;
    return read_integer_field(kind, *field, record);
  }

  static void note_clock_lead(std::optional<int64_t> lead, AudioSinkFigures *sink) {
    if (!lead) return;
    if (sink->clock_drift_updates++ == 0) sink->clock_lead_min_ns = sink->clock_lead_max_ns = *lead;
    sink->clock_lead_min_ns = std::min(sink->clock_lead_min_ns, *lead);
    sink->clock_lead_max_ns = std::max(sink->clock_lead_max_ns, *lead);
  }

  // Null when the session would be one too many.
  LiveSession *session_of(uint32_t id, uint64_t timestamp_ns) {
    // Sessions of different inputs are different sessions.
    const uint64_t key = (uint64_t{source_} << 32) | id;
    if (cached_ != nullptr && cached_->key == key) return cached_;
    auto found = live_.find(key);
    if (found == live_.end()) {
      if (report_.sessions.size() >= report_.options.max_sessions) return nullptr;
      if (live_.size() >= std::max<size_t>(report_.options.max_live_sessions, 1))
        end_longest_silent_session();
      report_.sessions.emplace_back();
      report_.sessions.back().session_id = id;
      report_.sessions.back().source = source_;
      auto session = std::make_unique<LiveSession>(key, timestamp_ns, report_.sessions.size() - 1);
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

  void apply_roles(LiveSession &session, const KindRoles &roles,
                   const RecordKeys &keys, uint64_t now) {
    for (size_t i = 0; i < roles.left_count; ++i) leave(session, roles.left_pairs[i], keys, now);
    for (size_t i = 0; i < roles.entered_count; ++i)
      enter(session, roles.entered_stages[i], keys, now);
    if (roles.flushed_stages != 0) flush(session, roles.flushed_stages);
    if (roles.span_end >= 0) end_span(session.spans[static_cast<size_t>(roles.span_end)], now);
    if (roles.span_begin >= 0)
      begin_span(session.spans[static_cast<size_t>(roles.span_begin)], now);
    if (roles.drop >= 0) {
      ++session.drops[static_cast<size_t>(roles.drop)];
      ++session.drop_series.at(now).drops[static_cast<size_t>(roles.drop)];
    }
    if (roles.display) display(session, now);
    if (roles.ends_session) end_session(session);
  }

  void leave(LiveSession &session, size_t pair_index, const RecordKeys &keys,
             uint64_t now) {
    const StagePair &pair = kStagePairs[pair_index];
    const std::optional<uint64_t> &key = keys.key(pair.key);
    if (!key) return;
    const size_t stage = stage_of_pair(pair_index);
    const std::optional<uint64_t> entered = session.open[stage].close(*key);
    if (!entered) return;  // entered before the trace began, or already ended
    --keys_in_flight_;
    if (expired(*entered, now)) {
      ++primary(session, stage).lost;
      return;
    }
    session.pairs[pair_index].latency.add(elapsed(*entered, now));
  }

  void enter(LiveSession &session, size_t stage, const RecordKeys &keys, uint64_t now) {
    const std::optional<uint64_t> &key = keys.key(stages()[stage].key);
    if (!key) return;
    OpenKeys &open = session.open[stage];
    if (keys_in_flight_ >= report_.options.max_keys_in_flight && !open.contains(*key)) {
      ++primary(session, stage).lost;
      ++report_.keys_not_followed;
      return;
    }
    // The same key entering again before it left: the earlier one never left.
    if (open.open(*key, now))
      ++primary(session, stage).lost;
    else
      ++keys_in_flight_;
  }

  static PairState &primary(LiveSession &session, size_t stage) {
    return session.pairs[stages()[stage].primary_pair];
  }

  void flush(LiveSession &session, uint32_t stage_bits) {
    for (size_t stage = 0; stage_bits != 0; ++stage, stage_bits >>= 1)
      if ((stage_bits & 1) != 0) flush_stage(session, stage);
  }

  // A key flushed from a step has left its chain: its whole path ends too.
  void flush_stage(LiveSession &session, size_t stage) {
    const KeyStage &flushed = stages()[stage];
    const std::optional<size_t> whole = whole_path_stage(flushed.chain);
    const bool propagate = whole && !flushed.whole_path;
    const size_t flushed_keys = session.open[stage].remove_if([&](uint64_t key, uint64_t) {
      if (propagate && session.open[*whole].close(key)) {
        ++primary(session, *whole).flushed;
        --keys_in_flight_;
      }
      return true;
    });
    primary(session, stage).flushed += flushed_keys;
    keys_in_flight_ -= flushed_keys;
  }

  void begin_span(SpanState &span, uint64_t now) {
    if (span.open_since != kNone) ++span.unfinished;
    span.open_since = std::min(now, kNone - 1);
  }

  void end_span(SpanState &span, uint64_t now) {
    if (span.open_since == kNone) return;
    if (expired(span.open_since, now))
      ++span.unfinished;
    else
      span.durations.add(elapsed(span.open_since, now));
    span.open_since = kNone;
  }

  void display(LiveSession &session, uint64_t now) {
    DisplayState &display = session.display;
    ++display.frames;
    DisplayCell &cell = session.display_series.at(now);
    ++cell.frames;
    if (display.last_ns != kNone) {
      const uint64_t gap = elapsed(display.last_ns, now);
      display.intervals.add(gap);
      cell.longest_ns = std::max(cell.longest_ns, gap);
      if (gap >= report_.options.stall_floor_ns) display.offer({now, gap});
    }
    display.last_ns = std::min(now, kNone - 1);
  }

  // Every open key and span older than the horizon is lost and forgotten.
  void sweep() {
    const uint64_t now = now_ns_;
    for (auto &[id, session] : live_) {
      for (size_t stage = 0; stage < session->open.size(); ++stage) {
        const size_t expired_keys = session->open[stage].remove_if(
            [&](uint64_t, uint64_t entered) { return expired(entered, now); });
        primary(*session, stage).lost += expired_keys;
        keys_in_flight_ -= expired_keys;
      }
      for (SpanState &span : session->spans)
        if (span.open_since != kNone && expired(span.open_since, now)) {
          ++span.unfinished;
          span.open_since = kNone;
        }
    }
    next_sweep_ns_ = sweep_after(now);
  }

  void lose_open_keys(LiveSession &session) {
    for (size_t stage = 0; stage < session.open.size(); ++stage) {
      const size_t lost_keys =
          session.open[stage].remove_if([](uint64_t, uint64_t) { return true; });
      primary(session, stage).lost += lost_keys;
      keys_in_flight_ -= lost_keys;
    }
  }

  // The session's end flushed its keys; whatever the model left open is lost.
  void end_session(LiveSession &session) {
    lose_open_keys(session);
    fix_figures(session);
    cached_ = nullptr;
    live_.erase(session.key);  // destroys the session
  }

  void fix_figures(LiveSession &session) {
    SessionFigures &figures = report_.sessions[session.figures_index];
    figures.events = session.events;
    figures.first_ns = session.first_ns;
    figures.last_ns = session.last_ns;
    for (size_t p = 0; p < kStagePairCount; ++p) {
      figures.stages[p].latency = durations_of(session.pairs[p].latency);
      figures.stages[p].lost = session.pairs[p].lost;
      figures.stages[p].flushed = session.pairs[p].flushed;
    }
    figures.drops = session.drops;
    for (size_t s = 0; s < kSpanPairCount; ++s) {
      SpanState &span = session.spans[s];
      figures.spans[s].duration = durations_of(span.durations);
      figures.spans[s].unfinished = span.unfinished + (span.open_since != kNone ? 1 : 0);
    }
    fix_display(session.display, figures.display);
    keep_plots_if_busy(session);
  }

  // The stalls are the candidates longer than twice the median interval; as
  // long as fewer stalls than candidates were kept, none is missing.
  static void fix_display(const DisplayState &display, DisplayFigures &figures) {
    figures.frames = display.frames;
    figures.interval = durations_of(display.intervals);
    const uint64_t median = figures.interval.p50_ns;
    const uint64_t threshold = median > UINT64_MAX / 2 ? UINT64_MAX : 2 * median;
    for (const Stall &candidate : display.candidates)
      if (candidate.gap_ns > threshold) figures.stalls.push_back(candidate);
    std::sort(figures.stalls.begin(), figures.stalls.end(),
              [](const Stall &a, const Stall &b) { return a.at_ns < b.at_ns; });
    figures.stalls_incomplete =
        display.candidates_dropped && figures.stalls.size() == display.candidates.size();
  }

  void keep_plots_if_busy(const LiveSession &session) {
    const size_t limit = report_.options.plotted_sessions;
    if (limit == 0) return;
    auto quieter = [&](const SessionPlots &a, const SessionPlots &b) {
      return report_.sessions[a.session].events < report_.sessions[b.session].events;
    };
    std::vector<SessionPlots> &plots = report_.plots;
    if (plots.size() >= limit) {
      auto quietest = std::min_element(plots.begin(), plots.end(), quieter);
      if (report_.sessions[quietest->session].events >= session.events) return;
      *quietest = plots_of(session);
      return;
    }
    plots.push_back(plots_of(session));
  }

  static SessionPlots plots_of(const LiveSession &session) {
    SessionPlots plots;
    plots.session = session.figures_index;
    for (size_t p = 0; p < kStagePairCount; ++p)
      plots.latency[p] = bars_of(session.pairs[p].latency);
    const auto &display = session.display_series;
    for (size_t i = 0; i < display.cells().size(); ++i)
      if (display.cells()[i].frames != 0)
        plots.display.push_back(
            {display.origin_ns() + i * display.width_ns(), display.cells()[i].longest_ns});
    const auto &drops = session.drop_series;
    for (size_t i = 0; i < drops.cells().size(); ++i) {
      const auto &counts = drops.cells()[i].drops;
      if (std::any_of(counts.begin(), counts.end(), [](uint32_t n) { return n != 0; }))
        plots.drops.push_back({drops.origin_ns() + i * drops.width_ns(), counts});
    }
    plots.display_window_ns = display.width_ns();
    plots.drop_window_ns = drops.width_ns();
    return plots;
  }

  Report report_;
  SinkFields sink_fields_;
  std::unordered_map<uint64_t, std::unique_ptr<LiveSession>> live_;  // by key
  uint32_t source_ = 0;
  LiveSession *cached_ = nullptr;
  uint64_t now_ns_ = 0;
  uint64_t next_sweep_ns_ = kNone;
  size_t keys_in_flight_ = 0;
};

ReportBuilder::ReportBuilder(ReportOptions options) : state_(std::make_unique<State>(options)) {}

ReportBuilder::~ReportBuilder() = default;

void ReportBuilder::add(uint64_t timestamp_ns, EventKind kind, const void *record) {
  state_->add(timestamp_ns, kind, record);
}

void ReportBuilder::set_source(uint32_t source) {
  state_->set_source(source);
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
