#include "pipeline/pipeline_model.h"

#include <array>
#include <vector>

namespace vxtrace {
namespace {

struct Model {
  std::vector<KeyStage> stages;
  std::array<size_t, kStagePairCount> stage_of_pair{};
  std::array<std::optional<size_t>, kChainCount> whole_path{};
  std::array<KindRoles, kEventKindCount> roles{};
};

size_t index_of(EventKind kind) {
  return static_cast<size_t>(kind);
}

// A step's alternatives join the stage that the step opened.
size_t find_or_add_stage(Model &model, size_t pair_index) {
  const StagePair &pair = kStagePairs[pair_index];
  const bool whole = pair.role == PairRole::whole_path;
  for (size_t s = 0; s < model.stages.size(); ++s) {
    const KeyStage &stage = model.stages[s];
    if (stage.from == pair.from && stage.chain == pair.chain && stage.whole_path == whole) return s;
  }
  model.stages.push_back({pair.from, pair.key, pair.chain, whole, pair_index});
  if (whole) model.whole_path[static_cast<size_t>(pair.chain)] = model.stages.size() - 1;
  return model.stages.size() - 1;
}

void add_flush_rule(Model &model, const FlushRule &rule) {
  KindRoles &roles = model.roles[index_of(rule.event)];
  for (size_t s = 0; s < model.stages.size(); ++s) {
    const KeyStage &stage = model.stages[s];
    if (stage.chain != rule.chain) continue;
    if (rule.stage && (stage.whole_path || stage.from != *rule.stage)) continue;
    roles.flushed_stages |= uint32_t{1} << s;
  }
}

Model build_model() {
  Model model;
  for (size_t p = 0; p < kStagePairCount; ++p) {
    const size_t stage = find_or_add_stage(model, p);
    model.stage_of_pair[p] = stage;
    KindRoles &leaving = model.roles[index_of(kStagePairs[p].to)];
    leaving.left_pairs[leaving.left_count++] = static_cast<uint8_t>(p);
    KindRoles &entering = model.roles[index_of(kStagePairs[p].from)];
    bool known = false;
    for (size_t i = 0; i < entering.entered_count; ++i)
      known = known || entering.entered_stages[i] == stage;
    if (!known) entering.entered_stages[entering.entered_count++] = static_cast<uint8_t>(stage);
  }
  for (const FlushRule &rule : kFlushRules) add_flush_rule(model, rule);
  for (size_t i = 0; i < kSpanPairCount; ++i) {
    model.roles[index_of(kSpanPairs[i].begin)].span_begin = static_cast<int8_t>(i);
    model.roles[index_of(kSpanPairs[i].end)].span_end = static_cast<int8_t>(i);
  }
  for (size_t i = 0; i < kSessionDropCount; ++i)
    model.roles[index_of(kSessionDropEvents[i])].drop = static_cast<int8_t>(i);
  model.roles[index_of(kDisplayEvent)].display = true;
  model.roles[index_of(kSessionEndEvent)].ends_session = true;
  return model;
}

const Model &model() {
  static const Model built = build_model();
  return built;
}

}  // namespace

std::string_view key_name(KeyKind key) {
  static constexpr std::string_view kNames[] = {"id", "timestamp_us", "timestamp",
                                                "physical_address"};
  return kNames[static_cast<size_t>(key)];
}

std::string_view chain_name(Chain chain) {
  static constexpr std::string_view kNames[] = {"audio packets", "video packets", "video frames",
                                                "displayed frame buffers", "frame buffers"};
  return kNames[static_cast<size_t>(chain)];
}

std::span<const KeyStage> stages() {
  return model().stages;
}

size_t stage_of_pair(size_t pair) {
  return model().stage_of_pair[pair];
}

std::optional<size_t> whole_path_stage(Chain chain) {
  return model().whole_path[static_cast<size_t>(chain)];
}

const KindRoles &roles_of(EventKind kind) {
  return model().roles[index_of(kind)];
}

}  // namespace vxtrace
