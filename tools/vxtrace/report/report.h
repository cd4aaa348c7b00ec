// The figures of a report, as the builder leaves them for the writers: per
// session the stage latencies with lost and flushed keys, the explicit drops,
// the display cadence with its stalls and the spans; for the receiver the
// audio sink; for the busiest sessions the series their plots need. All
// durations are in nanoseconds.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "measure/display_cadence.h"
#include "measure/finding_limits.h"
#include "pipeline/pipeline_model.h"
#include "report/findings.h"

namespace vxtrace {

struct ReportOptions {
  uint64_t horizon_ns = kDefaultHorizonNs;         // a key open longer is lost and forgotten
  uint64_t stall_floor_ns = kDefaultStallFloorNs;  // the shortest display interval that can stall
  size_t plotted_sessions = 16;                    // sessions with plots in the page
  uint64_t hold_ns = kDefaultHoldNs;               // a key flushed after waiting longer was held
  uint64_t silence_run = kDefaultSilenceRun;       // consecutive silence writes that make a finding
  // How the text shows them:
  size_t findings_shown = 20;  // the first findings; 0 for all
  bool all_sessions = false;   // every session, not only those with findings
  // Bounds that only damaged or hostile input reaches, so that memory stays
  // bounded whatever the records hold:
  size_t max_keys_in_flight = size_t{1} << 21;  // further keys are lost at once
  size_t max_live_sessions = 4096;              // beyond, the longest silent one ends early
  size_t max_sessions = 65536;    // beyond, records of new sessions are not broken down
  size_t max_findings = 100'000;  // beyond, the least severe are only counted
};

// Percentiles and maximum of a set of durations; all zero when count is 0.
struct Durations {
  uint64_t count = 0;
  uint64_t p50_ns = 0;
  uint64_t p90_ns = 0;
  uint64_t p99_ns = 0;
  uint64_t max_ns = 0;
};

// One pair of kStagePairs. A step and its alternatives share their
// open keys; lost and flushed keys are counted on the step.
struct StageFigures {
  Durations latency;     // keys that left by this pair's leaving event in time
  uint64_t lost = 0;     // never left, left after the horizon, or entered again first
  uint64_t flushed = 0;  // ended by a flush event
};

// One pair of kSpanPairs.
struct SpanFigures {
  Durations duration;
  uint64_t unfinished = 0;  // begun and never ended (or replaced by a new begin)
};

struct DisplayFigures {
  uint64_t frames = 0;
  Durations interval;              // between consecutive displayed frames
  std::vector<Stall> stalls;       // in time order
  bool stalls_incomplete = false;  // more stalls than kept: these are the longest
};

struct SessionFigures {
  uint32_t session_id = 0;
  uint32_t source = 0;  // index in Report::inputs
  uint64_t events = 0;
  uint64_t first_ns = 0;
  uint64_t last_ns = 0;
  std::array<StageFigures, kStagePairCount> stages{};
  std::array<uint64_t, kSessionDropCount> drops{};
  DisplayFigures display;
  std::array<SpanFigures, kSpanPairCount> spans{};
};

struct AudioSinkFigures {
  uint64_t writes = 0;           // audio_sink_write_data records
  uint64_t silence_writes = 0;   // audio_sink_write_silence records: the sink ran dry
  uint64_t dropped_samples = 0;  // sum of dropped_samples_per_channel
  uint64_t clock_drift_updates = 0;
  int64_t clock_lead_min_ns = 0;  // of alsa_clock_lead_ns; 0 without updates
  int64_t clock_lead_max_ns = 0;
};

// What a session's plots show, bounded: a few dozen points per stage, at most
// kWindowCount windows per series.
struct SessionPlots {
  size_t session = 0;          // index in Report::sessions
  uint64_t worst_finding = 0;  // as LiveSession keeps it
  struct Bar {
    uint64_t lower_ns;
    uint64_t upper_ns;
    uint64_t count;
  };
  std::array<std::vector<Bar>, kStagePairCount> latency;  // quarter octaves
  struct DisplayWindow {
    uint64_t start_ns;
    uint64_t longest_interval_ns;
  };
  std::vector<DisplayWindow> display;
  struct DropWindow {
    uint64_t start_ns;
    std::array<uint32_t, kSessionDropCount> drops;
  };
  std::vector<DropWindow> drops;
  uint64_t display_window_ns = 0;  // the widths of the series' windows
  uint64_t drop_window_ns = 0;
};

// The receiver over time, for its plot: per window the audio sink's data and
// silence writes and the drops of all sessions.
struct ReceiverWindow {
  uint64_t start_ns = 0;
  uint64_t data_writes = 0;
  uint64_t silence_writes = 0;
  uint64_t drops = 0;
};

// The audio sink of input i of report, zero when it had no receiver record.
struct Report;
const AudioSinkFigures &audio_sink_of_input(const Report &report, size_t i);

struct Report {
  ReportOptions options;
  std::vector<std::string> inputs;       // as the caller names them
  std::vector<std::string> input_paths;  // as given, for the findings' commands
  std::string plugin;                    // --plugin as given, or empty
  std::string damage;                    // empty, or why the input ended early
  uint64_t events = 0;                   // data records, undecoded ones included
  uint64_t undecoded = 0;
  uint64_t first_ns = 0;  // smallest and largest record timestamp; 0 without records
  uint64_t last_ns = 0;
  uint64_t receiver_events = 0;  // decoded records without a session
  // What the bounds of ReportOptions cost; zero for any sound trace.
  uint64_t keys_not_followed = 0;          // lost because too many keys were in flight
  uint64_t sessions_ended_early = 0;       // too many sessions were live
  uint64_t records_of_extra_sessions = 0;  // of sessions beyond max_sessions
  uint64_t audio_queue_reads = 0;
  // In order of first appearance; a deque, so that thousands of sessions
  // grow without copies.
  std::deque<SessionFigures> sessions;
  AudioSinkFigures audio_sink;  // over all inputs
  // By input (index in inputs); shorter when the last inputs had no receiver
  // record.
  std::vector<AudioSinkFigures> audio_sink_by_input;
  std::vector<SessionPlots> plots;            // in session order
  std::vector<ReceiverWindow> receiver_plot;  // every window from the first record's
  uint64_t receiver_window_ns = 0;
  std::vector<Finding> findings;   // ranked, the most severe first
  uint64_t findings_not_kept = 0;  // beyond max_findings, the least severe
};

inline const AudioSinkFigures &audio_sink_of_input(const Report &report, size_t i) {
  static const AudioSinkFigures kNone;
  return i < report.audio_sink_by_input.size() ? report.audio_sink_by_input[i] : kNone;
}

}  // namespace vxtrace
