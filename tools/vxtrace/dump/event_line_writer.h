// Writes dump lines into a TextBuffer, as JSON or as text.
//
// A JSON line holds the event's timestamp, id and name, and its payload as
// the plug-in renders it through a FastPrinter, or null with the reason and
// the raw bytes:
//   {"timestamp": 37403812345, "id": 5, "event": "/velocast/...", "payload": {...}}
// A text line holds the time in seconds, the delta from the line before,
// the session, the name and the same payload:
//   [37.403812345] (+0.016667012) session 7 video_stream_frame_displayed: {...}
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/decoded_record.h"
#include "core/trace_session.h"
#include "schema/event_kind.h"
#include "text/decimal.h"
#include "text/fast_printer.h"
#include "text/text_buffer.h"

namespace vxtrace {

enum class LineFormat { json, text };

// Writes a text line's delta, "(+0.016667012) " with its space, from the
// record at from to the record at to ("(-...)" when time went back) at out
// (at most 34 bytes); returns the end.
inline char *write_time_delta(char *out, uint64_t from, uint64_t to) {
  std::memcpy(out, to >= from ? "(+" : "(-", 2);
  out = write_seconds(out + 2, to >= from ? to - from : from - to);
  std::memcpy(out, ") ", 2);
  return out + 2;
}

class EventLineWriter {
 public:
  // constant_text: read-only ranges of the plug-in (read_only_segments_of).
  EventLineWriter(TextBuffer *out, const std::vector<AddressRange> &constant_text,
                  LineFormat format = LineFormat::json);
  EventLineWriter(const EventLineWriter &) = delete;
  EventLineWriter &operator=(const EventLineWriter &) = delete;

  const vx_printer &printer() const { return printer_.printer(); }
  void set_output(TextBuffer *out);

  // Names the input on every line, for a dump of several inputs: first on a
  // JSON line ("source"), after the delta on a text line, as a JSON string.
  void set_source(std::string_view source);

  // Appends the line for event, newline included.
  void write(const EventView &event, const DecodedRecord &record);

  // Text lines: the next line's predecessor is not this writer's last line
  // (the next line starts a part of the file, or lines are merged by
  // someone else). Its delta is left out, and its place noted, for whoever
  // puts the lines in order to write there (write_time_delta).
  void forget_previous() {
    previous_known_ = false;
    left_out_delta_at_.reset();
  }
  // Text lines: the next line follows one at this timestamp, written by
  // another writer (another input's, in a merge on this thread).
  void set_previous(uint64_t timestamp) {
    previous_ = timestamp;
    any_written_ = true;
  }
  // The offset in the output of the last delta left out; nullopt when none
  // was left out since the last forget_previous.
  std::optional<size_t> left_out_delta_at() const { return left_out_delta_at_; }

 private:
  // The part of a line that depends only on the id and the name: for JSON
  // the text between the timestamp and the payload (", \"id\": 5,
  // \"event\": \"...\", \"payload\": "); for text the name and ": ".
  struct LineMiddle {
    const char *name = nullptr;
    std::optional<EventKind> kind;
    std::string text;
  };
  // Ids above this are quoted on every line; definitions bind at most 65535.
  static constexpr uint32_t kLargestCachedId = 65535;

  const LineMiddle &line_middle(const EventView &event);
  void write_middle(const EventView &event, LineMiddle *out);
  void write_json_start(const EventView &event, const LineMiddle &middle);
  void write_text_start(const EventView &event, const DecodedRecord &record,
                        const LineMiddle &middle);
  char *write_session(const DecodedRecord &record, const LineMiddle &middle, char *at);
  void write_problem(const EventView &event, const char *problem);

  TextBuffer *out_;
  FastPrinter printer_;
  LineFormat format_;
  std::string source_;          // JSON: "{\"source\": ..., \"timestamp\": "; text: "\"...\" "
  uint64_t previous_ = 0;       // the timestamp of the last line written
  bool previous_known_ = true;  // false: leave the next delta out
  bool any_written_ = false;
  std::optional<size_t> left_out_delta_at_;
  // Descriptor names are constants, so the middle of the line for the one
  // that an id was last seen with is kept, by id; names without a
  // descriptor are quoted on every line.
  std::vector<LineMiddle> middles_by_id_;
  LineMiddle scratch_;
  EventKindCache kinds_;
};

}  // namespace vxtrace
