#include "report/report_rows.h"

namespace vxtrace {

std::vector<StageRow> stage_rows(const SessionFigures &session, bool seen_only) {
  std::vector<StageRow> rows;
  for (size_t p = 0; p < session.stages.size(); ++p)
    if (!seen_only || seen(session.stages[p])) rows.push_back({p, &session.stages[p]});
  return rows;
}

std::vector<SpanRow> span_rows(const SessionFigures &session, bool seen_only) {
  std::vector<SpanRow> rows;
  for (size_t s = 0; s < session.spans.size(); ++s)
    if (!seen_only || seen(session.spans[s])) rows.push_back({s, &session.spans[s]});
  return rows;
}

}  // namespace vxtrace
