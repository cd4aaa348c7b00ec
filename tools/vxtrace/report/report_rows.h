// What every rendering of a report shows of a session, in one place so that
// the text, the JSON and the page cannot drift apart: the columns of a set of
// durations, and the stage and span rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "report/report.h"

namespace vxtrace {

// The percentiles and maximum of a set of durations, in the order shown.
struct DurationColumn {
  std::string_view name;  // "p50"; the JSON adds "_us"
  uint64_t Durations::*value;
};
inline constexpr DurationColumn kDurationColumns[] = {
    {"p50", &Durations::p50_ns},
    {"p90", &Durations::p90_ns},
    {"p99", &Durations::p99_ns},
    {"max", &Durations::max_ns},
};

// A row of a session's stages: one pair of kStagePairs.
struct StageRow {
  size_t pair;
  const StageFigures *figures;
};

// A row of a session's spans: one pair of kSpanPairs.
struct SpanRow {
  size_t span;
  const SpanFigures *figures;
};

inline bool seen(const StageFigures &stage) {
  return stage.latency.count != 0 || stage.lost != 0 || stage.flushed != 0;
}
inline bool seen(const SpanFigures &span) {
  return span.duration.count != 0 || span.unfinished != 0;
}

// The rows in model order; seen_only leaves out those that saw nothing.
std::vector<StageRow> stage_rows(const SessionFigures &session, bool seen_only);
std::vector<SpanRow> span_rows(const SessionFigures &session, bool seen_only);

}  // namespace vxtrace
