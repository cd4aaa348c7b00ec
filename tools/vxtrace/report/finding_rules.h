// The rules that turn what the builder saw into findings: a session's
// stalls, held and lost keys and drop bursts when it ends, and the runs of
// silence of each input's audio sink as they end.
#pragma once

#include <cstdint>
#include <vector>

#include "report/findings.h"
#include "report/live_session.h"
#include "report/report.h"

namespace vxtrace {

// The findings of a session whose figures were just fixed.
void find_in_session(LiveSession &session, const SessionFigures &figures,
                     FindingsCollector *findings);

// The session's burst of drops of kSessionDropEvents[drop] ended; a finding
// when it was dense.
void take_drop_burst(LiveSession &session, size_t drop, const SessionFigures &figures,
                     FindingsCollector *findings);

// Runs of consecutive silence writes of each input's audio sink, with no
// data write between them: a run of at least `run` writes is a finding.
class SilenceRuns {
 public:
  SilenceRuns(uint64_t run, FindingsCollector *findings) : run_(run), findings_(findings) {}
  void silence(uint32_t source, uint64_t now);
  void data(uint32_t source, uint64_t now);
  // The trace ended: runs still open end at their last silence write.
  void finish();

 private:
  struct Run {
    uint64_t first_ns = 0;
    uint64_t last_ns = 0;
    uint64_t writes = 0;
    uint64_t data_before_ns = kNone;  // the last data write before the run
  };
  Run &run_of(uint32_t source);
  void end_run(uint32_t source, Run &run, uint64_t end_ns);

  uint64_t run_;
  FindingsCollector *findings_;
  std::vector<Run> runs_;  // by input
};

}  // namespace vxtrace
