// A session's figures once it has ended (or the trace has): its live state
// fixed into SessionFigures, and its plots kept when it is among those plotted.
#pragma once

#include "report/live_session.h"
#include "report/report.h"

namespace vxtrace {

// Fixes session's figures into the report.
void fix_figures(const LiveSession &session, Report *report);

// Keeps the session's plots when it is among the sessions to plot: those
// with the most severe findings first, then the busiest.
void keep_plots(const LiveSession &session, Report *report);

}  // namespace vxtrace
