// The timeline in Perfetto's native format: a process track per process of
// the model, a child track per stage, instants and slices whose debug
// annotations are the payload, counter tracks under the processes and flows
// through the stages of a packet or a frame. Events carry no category: it
// would repeat the name of their stage's track, two bytes per record.
#pragma once

#include <array>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "timeline/payload_annotations.h"
#include "timeline/perfetto_writer.h"
#include "timeline/timeline_model.h"

namespace vxtrace {

class PerfettoTimeline final : public TimelineFormat {
 public:
  // Without with_args, records carry no debug annotations.
  explicit PerfettoTimeline(PerfettoWriter::Sink sink, bool with_args = true);

  bool needs_rendering() const override { return false; }
  void declare_process(const ProcessInfo &process) override;
  void declare_stage(const TrackRef &track) override;
  void record(const RecordEvent &event) override;
  void release(uint32_t slot, RecordPhase phase) override;
  void counter(const TrackRef &track, const CounterRule &rule, uint64_t timestamp,
               std::string_view value) override;
  void undecoded(const TrackRef &track, const EventView &event, std::string_view event_name,
                 DecodeProblem problem) override;
  void finish(const std::string &input_name, const std::string &input_error,
              uint64_t records) override;

 private:
  struct Held {
    uint64_t timestamp = 0;
    std::string body;
  };
  void add_arguments(const RecordEvent &event);
  TrackId stage_track(const TrackRef &track) const {
    return stage_tracks_[track.pid - 1][static_cast<size_t>(track.stage)];
  }

  PerfettoWriter writer_;
  bool with_args_;
  PayloadAnnotations annotations_{&writer_};
  std::vector<TrackId> process_tracks_;  // by pid - 1
  std::vector<std::array<TrackId, kStageCount>> stage_tracks_;
  // By pid, counter and series (the rules' names live as long as the program).
  std::map<std::tuple<uint32_t, std::string_view, std::string_view>, TrackId> counter_tracks_;
  std::vector<Held> held_;  // by slot
  ArgNameId payload_name_, id_name_, error_name_, raw_name_;
  uint64_t last_timestamp_ = 0;  // of the records written
};

}  // namespace vxtrace
