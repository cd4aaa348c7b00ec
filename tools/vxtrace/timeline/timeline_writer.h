// Writes a trace as one Trace Event Format document, the JSON that Perfetto
// and chrome://tracing open, one event at a time: nothing but the tracks
// seen so far is kept in memory.
//
// Layout: a process per receiver session ("session N") and one for what has
// no session ("receiver"); in each, a thread per pipeline stage. Every record
// becomes an instant event whose args are its payload as the plug-in renders
// it; the plotted fields also become counter events. Sessions after the
// first kSessionProcessLimit share one process, "other sessions", so that
// memory stays bounded whatever the session ids of the trace.
#pragma once

#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/decoded_record.h"
#include "text/fast_printer.h"
#include "text/output_sink.h"
#include "timeline/timeline_stages.h"

namespace vxtrace {

class TimelineWriter {
 public:
  static constexpr size_t kSessionProcessLimit = 1024;

  // Writes the document's opening to sink, which must outlive the writer.
  explicit TimelineWriter(OutputSink *sink);
  TimelineWriter(const TimelineWriter &) = delete;
  TimelineWriter &operator=(const TimelineWriter &) = delete;

  // Writes the events for one record.
  void add(const EventView &event, const DecodedRecord &record);

  // Closes the document and hands the rest to the sink. input_error, when not empty, says why the
  // input ended early; the document records it and stays valid JSON.
  void finish(const std::string &input_name, const std::string &input_error);

  uint64_t records() const { return records_; }
  // Whether more sessions came than kSessionProcessLimit.
  bool sessions_shared() const { return other_sessions_pid_ != 0; }

 private:
  struct Track {
    uint32_t pid;
    Stage stage;
  };
  // What an event name implies, kept per event id.
  struct EventPlacement {
    std::string name;
    Stage stage = Stage::other;
    std::span<const CounterRule> counters;
  };
  // A process of the document: the receiver's, a session's, or the one the
  // sessions beyond the limit share.
  enum class ProcessKind { receiver, session, other_sessions };
  struct Process {
    ProcessKind kind = ProcessKind::receiver;
    uint32_t session_id = 0;
    std::bitset<kStageCount> announced_threads;
  };

  const EventPlacement &placement_of(const EventView &event);
  uint32_t pid_of_payload();
  uint32_t pid_of_session(uint32_t session_id);
  uint32_t pid_of_other_sessions();
  void announce(const Track &track);
  static std::string process_name(const Process &process);
  static uint64_t process_sort_index(const Process &process);
  void open_event(std::string_view phase, const Track &track, uint64_t timestamp);
  void add_decoded(const EventView &event, const EventPlacement &placement);
  void add_undecoded(const EventView &event, DecodeProblem problem);
  void add_counters(const EventView &event, const EventPlacement &placement, const Track &track);

  void hand_over_if_large();

  OutputSink *sink_;
  std::string out_;           // written events not yet handed to the sink
  TextBuffer payload_{4096};  // the current record as the plug-in renders it
  FastPrinter printer_{&payload_};
  bool first_event_ = true;
  uint64_t records_ = 0;
  std::vector<Process> processes_;                       // by pid - 1
  std::unordered_map<uint32_t, uint32_t> session_pids_;  // at most kSessionProcessLimit
  uint32_t other_sessions_pid_ = 0;                      // 0 until needed
  std::unordered_map<uint32_t, EventPlacement> placements_;
};

}  // namespace vxtrace
