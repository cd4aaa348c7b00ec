#include "report/live_session.h"

namespace vxtrace {

void begin_span(SpanState &span, uint64_t now) {
  if (span.open_since != kNone) ++span.unfinished;
  span.open_since = std::min(now, kNone - 1);
}

void end_span(SpanState &span, uint64_t now, uint64_t horizon_ns) {
  if (span.open_since == kNone) return;
  if (elapsed(span.open_since, now) > horizon_ns)
    ++span.unfinished;
  else
    span.durations.add(elapsed(span.open_since, now));
  span.open_since = kNone;
}

void expire_span(SpanState &span, uint64_t now, uint64_t horizon_ns) {
  if (span.open_since == kNone || elapsed(span.open_since, now) <= horizon_ns) return;
  ++span.unfinished;
  span.open_since = kNone;
}

}  // namespace vxtrace
