// Faults that `vxtrace generate --inject` writes into the realistic mix, and
// the account of what they did, so that a reader of the trace knows exactly
// what to expect:
//   stall@+<S>s:<D>ms     the receiver pauses D ms just before the first
//                         displayed video frame at least S s into the trace
//   lose@<stage>:<N>      the next N audio packets entering the stage
//                         (reorder or decoder) never leave it
//   silence[@+<S>s]:<N>   the audio sink runs dry N times in a row, S s in
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vxtrace {

enum class LossStage { reorder, decoder };

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

  bool empty() const { return stalls.empty() && losses.empty() && silences.empty(); }
};

// Adds one --inject text to plan; the reason when it does not parse.
std::optional<std::string> add_fault(const std::string &text, FaultPlan *plan);

// What the faults left in the trace, as a reader must find it.
struct FaultAccount {
  struct StallSeen {
    uint32_t session_id;
    uint64_t at_ns;   // the displayed frame after the pause
    uint64_t gap_ns;  // since the session's previous displayed frame
  };
  std::vector<StallSeen> stalls;
  struct LossSeen {
    LossStage stage;
    uint64_t lost = 0;     // still open at the end of the trace
    uint64_t flushed = 0;  // ended by a flush of their session
  };
  std::vector<LossSeen> losses;  // one per planned loss
  uint64_t silences_injected = 0;
  uint64_t silence_writes = 0;  // audio_sink_write_silence records, the mix's own too
};

const char *loss_stage_name(LossStage stage);

// The account as one JSON document.
std::string fault_account_json(const FaultAccount &account);

}  // namespace vxtrace
