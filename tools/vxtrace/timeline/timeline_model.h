// The timeline's model, shared by its formats: which process and stage track
// a record goes on, when a process or a track is first used, and which
// payload fields are plotted as counters. A TimelineFormat turns that into
// one file format (the Trace Event Format's JSON, Perfetto's protobuf), so
// the track logic exists once.
//
// Processes: one per receiver session ("session N") in order of appearance,
// and one for what has no session ("receiver"); in each, a track per
// pipeline stage. With several inputs each has its own processes, named
// after it ("a.vxt: session 3"), since ids and sessions are per buffer. Sessions after the first
// kSessionProcessLimit share one process, "other sessions", so that memory stays bounded whatever
// the session ids of the trace.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/decoded_record.h"
#include "schema/event_kind.h"
#include "text/fast_printer.h"
#include "timeline/timeline_stages.h"

namespace vxtrace {

// A stage track of a process. pids start at 1: some viewers take pid 0 for
// the idle process.
struct TrackRef {
  uint32_t pid;
  Stage stage;
};

struct ProcessInfo {
  uint32_t pid;
  std::string name;     // "session 3", "receiver", "other sessions"
  uint64_t sort_index;  // the receiver first, then sessions by id
};

// How a record shows: a point, or an end of a slice on its track. A begin is
// held (kept by the format under a slot) until its end comes, or not.
enum class RecordPhase : uint8_t { instant, slice_begin, slice_end, held_begin };

// A record's part in a flow (the arrows through one packet's or frame's
// stages): none, or the first, a middle or the last event of flow id.
enum class FlowStep : uint8_t { none, first, middle, last };

// One decoded record, placed.
struct RecordEvent {
  RecordPhase phase;
  uint32_t held_slot;  // for held_begin
  FlowStep flow_step;
  uint64_t flow_id;
  TrackRef track;
  uint64_t timestamp;  // ns
  std::string_view name;
  std::optional<EventKind> kind;  // none for names outside the catalogue
  const void *data;               // the decoded struct
  // The payload as dump renders it (a JSON object); empty unless the format
  // asked for it or the kind is not in the catalogue.
  std::string_view rendered;
};

class TimelineFormat {
 public:
  virtual ~TimelineFormat() = default;
  // Whether record() needs RecordEvent::rendered for every record.
  virtual bool needs_rendering() const = 0;
  // Called once per process and once per stage track, before their first use.
  virtual void declare_process(const ProcessInfo &process) = 0;
  virtual void declare_stage(const TrackRef &track) = 0;
  virtual void record(const RecordEvent &event) = 0;
  // Writes the begin held under slot, as a slice begin or an instant, and
  // frees the slot.
  virtual void release(uint32_t slot, RecordPhase phase) = 0;
  // A plotted field; value is a JSON number as dump renders it.
  virtual void counter(const TrackRef &track, const CounterRule &rule, uint64_t timestamp,
                       std::string_view value) = 0;
  // A record that could not be decoded, kept with its raw bytes.
  virtual void undecoded(const TrackRef &track, const EventView &event, std::string_view event_name,
                         DecodeProblem problem) = 0;
  // input_error, when not empty, says why the input ended early.
  virtual void finish(const std::string &input_name, const std::string &input_error,
                      uint64_t records) = 0;
};

class TimelineModel {
 public:
  static constexpr size_t kSessionProcessLimit = 1024;

  // format must outlive the model. source_names: how processes of each
  // input are named when there are several.
  explicit TimelineModel(TimelineFormat *format, std::vector<std::string> source_names = {});
  TimelineModel(const TimelineModel &) = delete;
  TimelineModel &operator=(const TimelineModel &) = delete;

  // source: the record's input, an index into the source names.
  void add(size_t source, const EventView &event, const DecodedRecord &record);
  // Ends what is still open (a begin never ended stays an instant) and the
  // document.
  void finish(const std::string &input_name, const std::string &input_error);

  uint64_t records() const { return records_; }
  // Whether more sessions came than kSessionProcessLimit.
  bool sessions_shared() const { return other_sessions_pid_ != 0; }
  uint64_t slices() const { return slices_; }
  // Begin and end records shown as instants: an end without a begin, a begin
  // never ended, replaced by another or crossing a slice of its track.
  uint64_t unpaired() const { return unpaired_; }
  // Packets or frames drawn without arrows because too many flows were open.
  uint64_t flows_not_drawn() const { return flows_not_drawn_; }

  // Bounds on what is remembered between records, whatever the input.
  static constexpr size_t kMaxOpenSpans = 4096;
  static constexpr size_t kMaxOpenFlows = size_t{1} << 18;

 private:
  // What an event name implies, kept per event id.
  struct EventPlacement {
    std::string name;
    Stage stage = Stage::other;
    std::optional<EventKind> kind;
    std::span<const CounterRule> counters;
  };
  struct Process {
    ProcessInfo info;
    std::bitset<kStageCount> declared_stages;
  };

  const EventPlacement &placement_of(const EventView &event);
  uint32_t receiver_pid() const;
  // The current input's session, or its receiver, as one number.
  uint64_t process_key(std::optional<uint32_t> session) const;
  uint32_t pid_of_session(uint32_t session_id);
  uint32_t pid_of_other_sessions();
  uint32_t new_process(std::string name, uint64_t sort_index);
  void declare(const TrackRef &track);
  void add_decoded(const EventView &event, const DecodedRecord &record,
                   const EventPlacement &placement);
  void add_counters(const EventView &event, const EventPlacement &placement, const TrackRef &track);

  // A begin waiting for its end, held by the format under slot.
  struct OpenSpan {
    uint32_t slot;
    TrackRef track;
  };
  // A packet's or a frame's flow: which flow kind, session and key value.
  struct FlowKey {
    uint32_t spec;
    uint64_t session;  // process_key
    uint64_t key;
    bool operator==(const FlowKey &) const = default;
  };
  struct FlowKeyHash {
    size_t operator()(const FlowKey &key) const {
      return std::hash<uint64_t>{}(key.key * 0x9e3779b97f4a7c15u ^ (key.session << 8) ^ key.spec);
    }
  };

  RecordPhase span_phase(EventKind kind, std::optional<uint32_t> session, const TrackRef &track,
                         uint32_t *slot);
  void close_span(uint64_t key, RecordPhase begin_phase);
  void end_session(uint32_t session_id);
  FlowStep flow_step(EventKind kind, std::optional<uint32_t> session, const void *data,
                     uint64_t *flow_id);

  TimelineFormat *format_;
  std::unordered_map<uint64_t, OpenSpan> open_spans_;                  // by session and span pair
  std::unordered_map<uint64_t, std::vector<uint32_t>> open_on_track_;  // slots, oldest first
  std::vector<uint32_t> free_slots_;
  uint32_t next_slot_ = 0;
  uint64_t slices_ = 0;
  uint64_t unpaired_ = 0;
  std::unordered_map<FlowKey, uint64_t, FlowKeyHash> flows_;
  uint64_t next_flow_id_ = 1;
  uint64_t flows_not_drawn_ = 0;
  TextBuffer payload_{4096};  // the current record as the plug-in renders it
  FastPrinter printer_{&payload_};
  uint64_t records_ = 0;
  std::vector<Process> processes_;                       // by pid - 1
  std::unordered_map<uint64_t, uint32_t> session_pids_;  // by process_key
  uint32_t other_sessions_pid_ = 0;
  std::unordered_map<uint64_t, EventPlacement> placements_;  // by source and id
  std::vector<std::string> source_names_;
  size_t current_source_ = 0;
  EventKindCache kinds_;
};

}  // namespace vxtrace
