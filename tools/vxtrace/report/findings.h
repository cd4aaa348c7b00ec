// The findings: what disturbed playback, ranked by how long, each with the
// dump command that shows its records. They are gathered during the pass
// (FindingsCollector keeps the most severe, so that memory stays bounded
// whatever the trace holds) and read by every rendering of the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vxtrace {

enum class FindingKind { stall, held, lost, silence, drops };

const char *finding_kind_name(FindingKind kind);

struct Finding {
  FindingKind kind = FindingKind::stall;
  uint64_t severity_ns = 0;            // how long playback was disturbed
  uint32_t source = 0;                 // index in Report::inputs
  std::optional<uint32_t> session_id;  // none for the receiver's own (silence)
  uint64_t begin_ns = 0;               // the first record of the finding
  uint64_t end_ns = 0;                 // its last
  // The window the dump command shows: the finding with a margin each side.
  uint64_t window_begin_ns = 0;
  uint64_t window_end_ns = 0;
  uint64_t count = 0;          // stall: 1; held and lost: keys; silence: writes; drops: drops
  uint64_t gap_ns = 0;         // stall: the display interval
  uint64_t median_gap_ns = 0;  // stall: the session's median display interval
  size_t pair = 0;             // held and lost: the index in kStagePairs
  uint64_t held_max_ns = 0;    // held: the longest hold
  size_t drop = 0;             // drops: the index in kSessionDropEvents
};

// Ranked: the most severe first, ties by time, then by input and session.
bool ranks_before(const Finding &a, const Finding &b);

// The margin each side of a finding in its dump command's window.
inline constexpr uint64_t kFindingMarginNs = 100'000'000;

// The window of a finding from begin to end, with the margin each side,
// widened to whole milliseconds; `before_ns`, when known, is a record just
// before the finding (the data write before a silence run), which the window
// then covers too.
void set_window(Finding *finding, std::optional<uint64_t> before_ns = std::nullopt);

// Keeps the `limit` most severe findings offered and counts the rest.
class FindingsCollector {
 public:
  explicit FindingsCollector(size_t limit) : limit_(limit) {}
  void offer(const Finding &finding);
  // Ranked; the collector is empty afterwards.
  std::vector<Finding> take();
  uint64_t dropped() const { return dropped_; }

 private:
  size_t limit_;
  std::vector<Finding> kept_;  // a heap whose top ranks last, once full
  uint64_t dropped_ = 0;
};

// How a finding reads and how to see it, for every rendering. `inputs` are
// the inputs as the caller named them; `plugin` the --plugin given, or empty.
std::string finding_summary(const Finding &finding);
std::string finding_command(const Finding &finding, const std::vector<std::string> &inputs,
                            const std::string &plugin);

// A timestamp as --begin and --end take it: absolute seconds with a unit,
// trailing zeros dropped ("37.403s", "12s").
std::string seconds_option(uint64_t ns);

// A word as a POSIX shell reads it back unchanged.
std::string shell_word(const std::string &word);

}  // namespace vxtrace
