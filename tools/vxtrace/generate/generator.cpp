#include "generate/generator.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "generate/event_emitter.h"
#include "generate/fault_injector.h"
#include "generate/generated_kinds.h"
#include "generate/new_session.h"
#include "generate/realistic_scenario.h"
#include "io/progress.h"

namespace vxtrace {
namespace {

// The benchmark mix: in every block of 100 events each kind appears exactly
// its weight's number of times, in shuffled order, over a handful of sessions.
class BenchScenario {
 public:
  explicit BenchScenario(SplitMix64 *rng) : rng_(rng) {
    for (const BenchMixEntry &entry : kBenchMix)
      deck_.insert(deck_.end(), entry.per_hundred, kind_index(entry.kind));
    for (uint32_t id = 1; id <= 4; ++id) sessions_.push_back(new_session(*rng_, id));
  }

  bool emit_next(EventEmitter &emitter) {
    if (next_card_ >= deck_.size()) shuffle();
    return emitter.emit(deck_[next_card_++], sessions_[rng_->below(sessions_.size())]);
  }

 private:
  void shuffle() {
    for (size_t i = deck_.size() - 1; i > 0; --i) std::swap(deck_[i], deck_[rng_->below(i + 1)]);
    next_card_ = 0;
  }

  SplitMix64 *rng_;
  std::vector<size_t> deck_;
  size_t next_card_ = SIZE_MAX;
  std::vector<SessionState> sessions_;
};

template <class Scenario>
bool run_scenario(Scenario &scenario, EventEmitter &emitter, uint64_t events, Progress *progress) {
  for (uint64_t i = 0; i < events; ++i) {
    if (!scenario.emit_next(emitter)) return false;
    if (progress != nullptr) progress->update(i + 1, i + 1);
  }
  return true;
}

// Later events average within 0.1% of the first ones' size: the margin covers
// that and the file system's own blocks.
constexpr double kSizeMargin = 1.02;

// The bytes of a whole trace of `events` events, written nowhere; 0 when they
// cannot be counted.
double written_size(uint64_t events, uint64_t seed, EventMix mix) {
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink < 0) return 0;
  double size = 0;
  if (vxt_writer *writer = vxt_writer_open_fd(sink, nullptr)) {
    const bool written = write_synthetic_trace(writer, events, seed, mix, nullptr);
    const uint64_t bytes = vxt_writer_offset(writer);
    if (vxt_writer_close(writer, nullptr) && written) size = static_cast<double>(bytes);
  }
  close(sink);
  return size;
}

}  // namespace

bool write_synthetic_trace(vxt_writer *writer, uint64_t events, uint64_t seed, EventMix mix,
                           Progress *progress) {
  return write_synthetic_trace(writer, events, seed, mix, progress, FaultPlan{}, nullptr);
}

bool write_synthetic_trace(vxt_writer *writer, uint64_t events, uint64_t seed, EventMix mix,
                           Progress *progress, const FaultPlan &faults, FaultAccount *account) {
  SplitMix64 rng(seed);
  std::optional<FaultInjector> injector;
  if (!faults.empty() && account != nullptr) injector.emplace(faults, account);
  FaultInjector *injecting = injector ? &*injector : nullptr;
  EventEmitter emitter(writer, &rng, injecting);
  if (mix == EventMix::bench) {
    BenchScenario scenario(&rng);
    return run_scenario(scenario, emitter, events, progress);
  }
  RealisticScenario scenario(events, &rng, injecting);
  return run_scenario(scenario, emitter, events, progress);
}

double estimated_trace_size(uint64_t events, uint64_t seed, EventMix mix) {
  const uint64_t sample = std::min(events, kSizeSampleEvents);
  const double sample_size = written_size(sample, seed, mix);
  if (sample == 0) return sample_size;
  return sample_size / static_cast<double>(sample) * static_cast<double>(events) * kSizeMargin;
}

size_t synthetic_event_kind_count() {
  return kKindCount;
}

}  // namespace vxtrace
