#include "report/session_figures.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace vxtrace {
namespace {

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

void fix_display(const DisplayCadence &display, DisplayFigures &figures) {
  figures.frames = display.frames();
  figures.interval = durations_of(display.intervals());
  FoundStalls found = display.stalls();
  figures.stalls = std::move(found.stalls);
  figures.stalls_incomplete = found.incomplete;
}

SessionPlots plots_of(const LiveSession &session) {
  SessionPlots plots;
  plots.session = session.figures_index;
  for (size_t p = 0; p < kStagePairCount; ++p) plots.latency[p] = bars_of(session.pairs[p].latency);
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

}  // namespace

void keep_plots(const LiveSession &session, Report *report) {
  const size_t limit = report->options.plotted_sessions;
  if (limit == 0) return;
  // Sessions with the most severe findings first, then the busiest.
  const auto weight = [&](const SessionPlots &plots) {
    return std::pair{plots.worst_finding, report->sessions[plots.session].events};
  };
  std::vector<SessionPlots> &plots = report->plots;
  if (plots.size() >= limit) {
    auto lightest = std::min_element(plots.begin(), plots.end(), [&](const auto &a, const auto &b) {
      return weight(a) < weight(b);
    });
    if (weight(*lightest) >= std::pair{session.worst_finding, session.events}) return;
    *lightest = plots_of(session);
    lightest->worst_finding = session.worst_finding;
    return;
  }
  plots.push_back(plots_of(session));
  plots.back().worst_finding = session.worst_finding;
}

void fix_figures(const LiveSession &session, Report *report) {
  SessionFigures &figures = report->sessions[session.figures_index];
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
    const SpanState &span = session.spans[s];
    figures.spans[s].duration = durations_of(span.durations);
    figures.spans[s].unfinished = span.unfinished + (span.open_since != kNone ? 1 : 0);
  }
  fix_display(session.display, figures.display);
}

}  // namespace vxtrace
