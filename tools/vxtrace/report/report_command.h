// vxtrace report: per session the stage latencies, the keys lost in a stage,
// the explicit drops, the display cadence with its stalls and the spans; for
// the receiver the audio sink. One pass; written as text, JSON or a page.
#pragma once

#include <cstdint>
#include <string>

#include "cli/command.h"
#include "core/options.h"
#include "measure/display_cadence.h"
#include "measure/finding_limits.h"

namespace vxtrace {

struct ReportCommandOptions {
  InputOptions in;
  bool json = false;
  std::string html;    // the page's file; empty for none
  std::string output;  // the text or JSON; empty or "-" for standard output
  uint64_t stall_ms = kDefaultStallFloorNs / 1'000'000;
  uint64_t horizon_s = kDefaultHorizonNs / 1'000'000'000;
  uint64_t hold_ms = kDefaultHoldNs / 1'000'000;
  uint64_t silence_run = kDefaultSilenceRun;
  uint64_t findings = 20;  // shown in the text; 0 for all
  bool all_sessions = false;
};

int run_report(const ReportCommandOptions &options);

// The command as main.cpp lists it.
Command report_command();

}  // namespace vxtrace
