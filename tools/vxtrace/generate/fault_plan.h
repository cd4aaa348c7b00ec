// Faults that `vxtrace generate --inject` writes into the realistic mix, and
// the account of what they did, so that a reader of the trace knows exactly
// what to expect. T and D are durations in the command line's time syntax
// (text/time_syntax.h: 5.25s, 400ms, 1m30s):
//   stall@+<T>:<D>        the receiver pauses D just before the first
//                         displayed video frame at least T into the trace
//   lose@<stage>:<N>      the next N audio packets entering the stage
//                         (reorder or decoder) never leave it
//   silence[@+<T>]:<N>    the audio sink runs dry N times in a row, T in
//   latency@<stage>:<D>   every key that leaves the stage (reorder, decoder,
//                         display or return, see kTimedStages) leaves it
//                         exactly D (1us to 60000ms) after it entered
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "schema/event_kind.h"

namespace vxtrace {

enum class LossStage { reorder, decoder };

// A stage whose latency --inject can fix: the events where a key enters and
// leaves it, consecutive steps of one of the mix's chains.
struct TimedStage {
  const char *name;
  EventKind from;
  EventKind to;
};
inline constexpr TimedStage kTimedStages[] = {
    {"reorder", EventKind::audio_reorder_buffer_packet_received,
     EventKind::audio_reorder_buffer_packet_sent},
    {"decoder", EventKind::audio_decoder_packet_received, EventKind::audio_decoder_packet_sent},
    {"display", EventKind::video_stream_frame_received, EventKind::video_stream_frame_displayed},
    {"return", EventKind::video_stream_displayed_frame_consumed,
     EventKind::video_decoder_frame_returned},
};

struct FaultPlan {
  struct Stall {
    uint64_t after_ns;
    uint64_t pause_ns;
  };
  struct Loss {
    LossStage stage;
    uint64_t count;
  };
  struct Silence {
    uint64_t after_ns;
    uint64_t count;
  };
  std::vector<Stall> stalls;
  std::vector<Loss> losses;
  std::vector<Silence> silences;
  struct Latency {
    const TimedStage *stage;
    uint64_t latency_ns;
  };
  std::vector<Latency> latencies;

  bool empty() const {
    return stalls.empty() && losses.empty() && silences.empty() && latencies.empty();
  }
};

// The longest latency that --inject takes.
inline constexpr uint64_t kLongestInjectedLatencyNs = 60'000'000'000;

// Adds one --inject text to plan; the reason when it does not parse or
// contradicts a fault already in the plan.
std::optional<std::string> add_fault(const std::string &text, FaultPlan *plan);

// What the faults left in the trace, as a reader must find it.
struct FaultAccount {
  struct StallSeen {
    uint32_t session_id;
    uint64_t at_ns;   // the displayed frame that ended the interval
    uint64_t gap_ns;  // since the session's previous displayed frame
  };
  // The stalls of every session by the report's rule and default floor
  // (DisplayCadence), whatever made them: a pause or a fixed latency.
  std::vector<StallSeen> stalls;
  struct LossInSession {
    uint32_t session_id;
    uint64_t first_entered_ns;  // the first and last lost packet's entering record
    uint64_t last_entered_ns;
    uint64_t count = 0;  // lost + flushed
    uint64_t lost = 0;
    uint64_t flushed = 0;
  };
  struct LossSeen {
    LossStage stage;
    uint64_t lost = 0;     // open at the end of the trace, or flushed past the horizon
    uint64_t flushed = 0;  // ended by a flush of their session within the horizon
    std::vector<LossInSession> sessions;  // in order of their first lost packet
  };
  std::vector<LossSeen> losses;  // one per planned loss
  uint64_t silences_injected = 0;
  uint64_t silence_writes = 0;  // audio_sink_write_silence records, the mix's own too
  struct LatencySeen {
    const TimedStage *stage;
    uint64_t latency_ns;
    uint64_t keys = 0;  // that left the stage exactly latency_ns after entering
  };
  std::vector<LatencySeen> latencies;  // one per planned latency
  struct SilencesSeen {
    uint64_t first_ns = 0;  // the first injected write; 0 when none was written
    uint64_t writes = 0;    // those written before the trace ended
  };
  std::vector<SilencesSeen> injected_silences;  // one per planned silence
};

// Why the faults of plan do not fit a trace of events data records, or
// nullopt when they do: every timestamp must stay within 2^62 ns with the
// longest step and every stall's pause, and the injected silence writes
// must be records of the trace.
std::optional<std::string> does_not_fit(const FaultPlan &plan, uint64_t events);

const char *loss_stage_name(LossStage stage);

// The account as one JSON document.
std::string fault_account_json(const FaultAccount &account);

}  // namespace vxtrace
