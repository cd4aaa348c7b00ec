// A session's figures once it has ended (or the trace has): its live state
// fixed into SessionFigures, and its plots kept when it is among the busiest.
#pragma once

#include "report/live_session.h"
#include "report/report.h"

namespace vxtrace {

// Fixes session's figures into the report, and its plots when it is busy
// enough to be plotted.
void fix_figures(const LiveSession &session, Report *report);

}  // namespace vxtrace
