// Writes dump lines into a TextBuffer: the event's timestamp, id and name,
// and its payload as the plug-in renders it through a FastPrinter, or null
// with the reason and the raw bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/decoded_record.h"
#include "core/trace_session.h"
#include "text/fast_printer.h"
#include "text/text_buffer.h"

namespace vxtrace {

class EventLineWriter {
 public:
  // constant_text: read-only ranges of the plug-in (read_only_segments_of).
  EventLineWriter(TextBuffer *out, const std::vector<AddressRange> &constant_text);
  EventLineWriter(const EventLineWriter &) = delete;
  EventLineWriter &operator=(const EventLineWriter &) = delete;

  const vx_printer &printer() const { return printer_.printer(); }
  void set_output(TextBuffer *out);

  // Makes every line start with "source": the input as given, for a dump
  // of several inputs.
  void set_source(std::string_view source);

  // Appends the line for event, newline included.
  void write(const EventView &event, const DecodedRecord &record);

 private:
  // The part of a line between the timestamp and the payload, which
  // depends only on the id and the name: ", \"id\": 5, \"event\": \"...\",
  // \"payload\": ".
  struct LineMiddle {
    const char *name = nullptr;
    std::string text;
  };
  // Ids above this are quoted on every line; definitions bind at most 65535.
  static constexpr uint32_t kLargestCachedId = 65535;

  const std::string &line_middle(const EventView &event);
  void write_middle(const EventView &event, std::string *out);
  void write_problem(const EventView &event, const char *problem);

  TextBuffer *out_;
  FastPrinter printer_;
  std::string line_start_;  // empty: "{\"timestamp\": " without a source
  // Descriptor names are constants, so the middle of the line for the one
  // that an id was last seen with is kept, by id; names without a
  // descriptor are quoted on every line.
  std::vector<LineMiddle> middles_by_id_;
  std::string scratch_;
};

}  // namespace vxtrace
