#include "report/findings.h"

#include <algorithm>
#include <tuple>

#include "pipeline/pipeline_model.h"
#include "report/format.h"
#include "schema/event_kind.h"

namespace vxtrace {
namespace {

constexpr uint64_t kNsPerMs = 1'000'000;

std::string number(uint64_t value) {
  std::string text;
  append_uint(text, value);
  return text;
}

std::string stage_text(size_t pair) {
  std::string text(short_name(kStagePairs[pair].from));
  return text.append(" -> ").append(short_name(kStagePairs[pair].to));
}

std::string keys_text(uint64_t count) {
  return number(count) + (count == 1 ? " key" : " keys");
}

}  // namespace

const char *finding_kind_name(FindingKind kind) {
  switch (kind) {
    case FindingKind::stall:
      return "stall";
    case FindingKind::held:
      return "held";
    case FindingKind::lost:
      return "lost";
    case FindingKind::silence:
      return "silence";
    case FindingKind::drops:
      return "drops";
  }
  return "?";
}

bool ranks_before(const Finding &a, const Finding &b) {
  const auto rank = [](const Finding &f) {
    return std::make_tuple(~f.severity_ns, f.begin_ns, f.source, f.session_id.value_or(0),
                           static_cast<int>(f.kind), f.pair, f.drop);
  };
  return rank(a) < rank(b);
}

void set_window(Finding *finding, std::optional<uint64_t> before_ns) {
  uint64_t begin = finding->begin_ns;
  if (before_ns) begin = std::min(begin, *before_ns);
  begin = begin > kFindingMarginNs ? begin - kFindingMarginNs : 0;
  uint64_t end = finding->end_ns;
  end = end < UINT64_MAX - 2 * kFindingMarginNs ? end + kFindingMarginNs : UINT64_MAX - kNsPerMs;
  finding->window_begin_ns = begin / kNsPerMs * kNsPerMs;
  finding->window_end_ns = (end + kNsPerMs - 1) / kNsPerMs * kNsPerMs;
}

void FindingsCollector::offer(const Finding &finding) {
  if (limit_ == 0) {
    ++dropped_;
    return;
  }
  if (kept_.size() < limit_) {
    kept_.push_back(finding);
    if (kept_.size() == limit_) std::make_heap(kept_.begin(), kept_.end(), ranks_before);
    return;
  }
  ++dropped_;
  if (!ranks_before(finding, kept_.front())) return;
  std::pop_heap(kept_.begin(), kept_.end(), ranks_before);
  kept_.back() = finding;
  std::push_heap(kept_.begin(), kept_.end(), ranks_before);
}

std::vector<Finding> FindingsCollector::take() {
  std::vector<Finding> ranked = std::move(kept_);
  kept_.clear();
  std::sort(ranked.begin(), ranked.end(), ranks_before);
  return ranked;
}

std::string finding_summary(const Finding &finding) {
  switch (finding.kind) {
    case FindingKind::stall:
      return "display stalled " + human_duration(finding.gap_ns) + " between frames (median " +
             human_duration(finding.median_gap_ns) + ")";
    case FindingKind::held:
      return keys_text(finding.count) + " held up to " + human_duration(finding.held_max_ns) +
             " in " + stage_text(finding.pair) + ", then flushed";
    case FindingKind::lost:
      return keys_text(finding.count) + " never left " + stage_text(finding.pair);
    case FindingKind::silence:
      return "audio sink ran dry: " + number(finding.count) + " silence writes in a row over " +
             human_duration(finding.severity_ns);
    case FindingKind::drops:
      return number(finding.count) + " " +
             std::string(short_name(kSessionDropEvents[finding.drop])) + " within " +
             human_duration(finding.severity_ns);
  }
  return {};
}

std::string seconds_option(uint64_t ns) {
  std::string text = seconds(ns);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + "s";
}

std::string shell_word(const std::string &word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_./:=@%+,-").find(c) != std::string_view::npos;
  });
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word) quoted.append(c == '\'' ? "'\\''" : std::string(1, c));
  return quoted + "'";
}

std::string finding_command(const Finding &finding, const std::vector<std::string> &inputs,
                            const std::string &plugin) {
  std::string command = "vxtrace dump";
  if (!plugin.empty()) command.append(" --plugin ").append(shell_word(plugin));
  command.append(" --begin ").append(seconds_option(finding.window_begin_ns));
  command.append(" --end ").append(seconds_option(finding.window_end_ns));
  if (finding.session_id) command.append(" --session ").append(number(*finding.session_id));
  if (finding.source < inputs.size()) {
    // A word that starts with '-' would read as an option: "-" is standard
    // input, anything else is a file that needs "./".
    const std::string &input = inputs[finding.source];
    const bool option_like = input.size() > 1 && input[0] == '-';
    command.append(" ").append(shell_word(option_like ? "./" + input : input));
  }
  return command;
}

}  // namespace vxtrace
