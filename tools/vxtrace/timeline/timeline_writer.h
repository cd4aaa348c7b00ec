// The timeline as one Trace Event Format document, the JSON that Perfetto
// and chrome://tracing open, written one event at a time: a process per
// process of the model, a thread per stage track, an instant event per record
// whose args are its payload as the plug-in renders it ("B"/"E" for the two
// ends of a slice), flow events ("s"/"t"/"f", bound to the record's event)
// and counter events for the plotted fields.
#pragma once

#include <string>
#include <vector>

#include "text/output_sink.h"
#include "timeline/timeline_model.h"

namespace vxtrace {

class JsonTimeline final : public TimelineFormat {
 public:
  // Writes the document's opening to sink, which must outlive the writer.
  // Without with_args, records carry no "args".
  explicit JsonTimeline(OutputSink *sink, bool with_args = true);

  bool needs_rendering() const override { return with_args_; }
  void declare_process(const ProcessInfo &process) override;
  void declare_stage(const TrackRef &track) override;
  void record(const RecordEvent &event) override;
  void release(uint32_t slot, RecordPhase phase) override;
  void counter(const TrackRef &track, const CounterRule &rule, uint64_t timestamp,
               std::string_view value) override;
  void undecoded(const TrackRef &track, const EventView &event, std::string_view event_name,
                 DecodeProblem problem) override;
  // Closes the document, which records input_error and stays valid JSON.
  void finish(const std::string &input_name, const std::string &input_error,
              uint64_t records) override;

 private:
  void open_event(std::string_view phase, const TrackRef &track, uint64_t timestamp);
  void open_object(std::string_view phase);
  void append_place(const TrackRef &track, uint64_t timestamp);
  void append_flow(const RecordEvent &event);
  void hand_over_if_large();

  OutputSink *sink_;
  bool with_args_;
  std::string out_;  // written events not yet handed to the sink
  bool first_event_ = true;
  // Held begins by slot: their text after the phase.
  std::vector<std::string> held_;
};

}  // namespace vxtrace
