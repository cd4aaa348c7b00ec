// Writes a timeline in Perfetto's native trace format (a protobuf `Trace`:
// a sequence of TracePacket messages), packet by packet, into a sink. Memory
// stays constant: a packet is encoded in a buffer that is handed to the sink
// whenever it holds flush_size bytes; only tracks and interned strings are
// remembered.
//
// Model:
//   - tracks: a process track per process (name, sort rank), child tracks
//     under it (a pipeline stage), counter tracks under either. Declaring a
//     track writes its descriptor at once, so declare it before its first
//     event. Siblings are shown in the order of their ranks.
//   - events on a track: instants, slice begins and slice ends (a slice end
//     closes the track's most recent open slice, so slices must nest per
//     track), each with a timestamp in ns, an interned name and category, the
//     flows it takes part in and those it terminates, and arguments (debug
//     annotations: ints, uints, doubles, strings, bools and nested
//     dictionaries);
//   - counter values on counter tracks.
//
// Event names, categories and argument names are interned: intern_* returns
// a small id that events use from then on, and the string itself is written
// once, with the next packet. All packets belong to one sequence whose
// incremental state is cleared by the first packet and never again, so the
// ids stay valid to the end. A record with a few arguments then costs a few
// tens of bytes.
//
// Typical use, one record at a time:
//
//   PerfettoWriter writer([&](std::string_view bytes) { out.write(bytes); });
//   const TrackId session = writer.add_process_track("session 3", 4);
//   const TrackId decoder = writer.add_child_track(session, "video decoder", 6);
//   const EventNameId begin = writer.intern_event_name("video_decoder_update");
//   const ArgNameId queue = writer.intern_arg_name("queue_size");
//   writer.begin_event({TrackEventType::slice_begin, decoder, ts, begin});
//   writer.add_int(queue, 3);
//   writer.end_event();
//   ...
//   writer.finish();
//
// Strings that are not valid UTF-8 are written with each invalid byte
// replaced by U+FFFD, so that every reader accepts them; control characters
// are kept.
//
// The writer encodes what it is given: pairing slice begins with their ends
// per track, and choosing flow ids, is the caller's. Memory grows only with
// the number of tracks and distinct interned strings.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "timeline/protobuf_encoder.h"

namespace vxtrace {

// Handles; a default-constructed one means "none".
struct TrackId {
  uint64_t uuid = 0;
  explicit operator bool() const { return uuid != 0; }
};
// An interned event name, or, once the table is full, the name itself,
// which must then live until the event is begun.
struct EventNameId {
  uint64_t iid = 0;
  std::string_view text;  // when iid is 0
  explicit operator bool() const { return iid != 0 || !text.empty(); }
};
struct CategoryId {
  uint64_t iid = 0;
  explicit operator bool() const { return iid != 0; }
};
struct ArgNameId {
  uint64_t iid = 0;
  explicit operator bool() const { return iid != 0; }
};

// The values are the wire format's.
enum class TrackEventType : uint8_t { slice_begin = 1, slice_end = 2, instant = 3 };

// What an event is, apart from its arguments.
struct TrackEventHead {
  TrackEventHead(TrackEventType type_, TrackId track_, uint64_t timestamp_, EventNameId name_ = {},
                 CategoryId category_ = {}, std::span<const uint64_t> flow_ids_ = {},
                 std::span<const uint64_t> terminating_flow_ids_ = {})
      : type(type_),
        track(track_),
        timestamp(timestamp_),
        name(name_),
        category(category_),
        flow_ids(flow_ids_),
        terminating_flow_ids(terminating_flow_ids_) {}

  TrackEventType type;
  TrackId track;
  uint64_t timestamp;   // ns
  EventNameId name;     // may be none for a slice end
  CategoryId category;  // may be none
  // The flows the event takes part in (arrows to the flows' other events, in
  // time order), and those that end here, so that their ids may start new
  // flows later.
  std::span<const uint64_t> flow_ids;
  std::span<const uint64_t> terminating_flow_ids;
};

class PerfettoWriter {
 public:
  // Receives the trace in pieces, in order; their concatenation is the file.
  // It must not throw (the destructor may flush).
  using Sink = std::function<void(std::string_view bytes)>;

  static constexpr size_t kDefaultFlushSize = size_t{1} << 20;

  // Writes the packet that starts the sequence.
  explicit PerfettoWriter(Sink sink, size_t flush_size = kDefaultFlushSize);
  PerfettoWriter(const PerfettoWriter &) = delete;
  PerfettoWriter &operator=(const PerfettoWriter &) = delete;
  // Finishes if finish() was not called, so an interrupted run still leaves
  // a valid trace of what was written.
  ~PerfettoWriter();

  // ---- Tracks. A process track gets a pid of its own (1, 2, ...); its
  // descriptor carries the latest event timestamp written so far.
  TrackId add_process_track(std::string_view name, int32_t sort_rank);
  // A track under a process track (or under another child track).
  TrackId add_child_track(TrackId parent, std::string_view name, int32_t sort_rank);
  // A counter track under parent; unit_name (e.g. "us") may be empty.
  TrackId add_counter_track(TrackId parent, std::string_view name, std::string_view unit_name,
                            int32_t sort_rank);

  // ---- Interning. The same string always gives the same id. Event names
  // come from the trace, which may define any number of them: past
  // kMostInternedEventNames a new name is written out on each event instead,
  // so that memory stays bounded.
  static constexpr size_t kMostInternedEventNames = size_t{1} << 16;
  EventNameId intern_event_name(std::string_view name);
  CategoryId intern_category(std::string_view name);
  ArgNameId intern_arg_name(std::string_view name);

  // ---- Events. begin_event opens an event's packet; its arguments follow,
  // then end_event closes it (beginning another event, or finishing, closes
  // it too). Arguments outside an event are ignored.
  void begin_event(const TrackEventHead &head);
  void add_int(ArgNameId name, int64_t value);
  void add_uint(ArgNameId name, uint64_t value);
  void add_double(ArgNameId name, double value);  // NaN and infinities are kept
  void add_bool(ArgNameId name, bool value);
  void add_string(ArgNameId name, std::string_view value);
  // A nested dictionary: the arguments until end_dict are its entries.
  void begin_dict(ArgNameId name);
  void end_dict();
  void end_event();

  // An event kept aside: its body (everything but its type and time) goes to
  // *held instead of the trace, from here to its end_event, and
  // write_held_event writes it later with the type decided then. A begin is
  // held until its end shows whether it opens a slice or stays an instant.
  // The interned names it uses ride with the next packet written, so they
  // precede it.
  void begin_held_event(const TrackEventHead &head, std::string *held);
  void write_held_event(TrackEventType type, uint64_t timestamp, std::string_view held);

  // An event with no arguments.
  void write_event(const TrackEventHead &head) {
    begin_event(head);
    end_event();
  }

  // ---- Counters, on a counter track.
  void add_counter(TrackId counter_track, uint64_t timestamp, int64_t value);
  void add_double_counter(TrackId counter_track, uint64_t timestamp, double value);

  // Closes the open event and hands everything left to the sink. Nothing is
  // written after it; later calls do nothing.
  void finish();

  uint64_t packets() const { return packets_; }
  // Bytes handed to the sink or waiting in the buffer.
  uint64_t bytes() const { return flushed_bytes_ + out_.size(); }

 private:
  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using InternTable = std::unordered_map<std::string, uint64_t, StringHash, std::equal_to<>>;

  uint64_t intern(InternTable *table, uint32_t interned_data_field, std::string_view name);
  Encoder::Mark open_packet(uint64_t timestamp);
  void close_packet(Encoder::Mark packet, bool uses_interned);
  Encoder::Mark open_annotation(ArgNameId name);
  void string_field(Encoder *encoder, uint32_t field, std::string_view text);
  void write_counter_head(TrackId counter_track, uint64_t timestamp);
  TrackId add_track(std::string_view name, TrackId parent, int32_t sort_rank, int kind,
                    std::string_view unit_name);
  void flush_if_full();
  void write_event_body(const TrackEventHead &head, bool with_type);

  Sink sink_;
  size_t flush_size_;
  Encoder out_;
  // The interned entries not written yet (an InternedData message's body),
  // attached to the next packet.
  Encoder pending_interned_{256};
  InternTable event_names_;
  InternTable categories_;
  InternTable arg_names_;
  std::string sanitized_;  // a string being made valid UTF-8

  uint64_t next_track_uuid_ = 1;
  int32_t next_pid_ = 1;
  uint64_t latest_timestamp_ = 0;
  uint64_t packets_ = 0;
  uint64_t flushed_bytes_ = 0;
  bool finished_ = false;

  // The open event: its packet, its TrackEvent and its open dictionaries.
  bool event_open_ = false;
  std::string *held_ = nullptr;  // where the open event goes, when held
  size_t held_from_ = 0;
  bool event_uses_interned_ = false;
  Encoder::Mark event_packet_;
  Encoder::Mark track_event_;
  std::vector<Encoder::Mark> open_dicts_;
};

}  // namespace vxtrace
