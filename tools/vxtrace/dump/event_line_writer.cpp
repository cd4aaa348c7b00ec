#include "dump/event_line_writer.h"

#include <cstring>

#include "pipeline/record_fields.h"
#include "text/decimal.h"
#include "text/json_text.h"

namespace vxtrace {
namespace {

// Copies a string literal without its NUL; the compiler turns the fixed-size
// copy into a few moves.
template <size_t N>
char *put(char *at, const char (&text)[N]) {
  std::memcpy(at, text, N - 1);
  return at + N - 1;
}

char *put(char *at, const std::string &text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

// The longest text line start before the source and the name: "[", the
// seconds, "] ", the delta, "session ", the id and a space.
constexpr size_t kLongestTextStart = 1 + 30 + 2 + 34 + 8 + 10 + 1;
static_assert(kLongestTextStart <= TextBuffer::kSlack);

// A text line names a catalogue event by its short name, any other event by
// its full name as a JSON string, and an id that was never defined as "#id",
// so that the three never look alike.
void append_text_name(const EventView &event, const std::optional<EventKind> &kind,
                      std::string *out) {
  if (kind) {
    out->append(short_name(*kind));
  } else if (event.name != nullptr) {
    append_json_string(out, std::string_view(event.name, std::strlen(event.name)));
  } else {
    char digits[24];
    out->push_back('#');
    out->append(digits, write_unsigned(digits, event.id));
  }
  out->append(": ");
}

}  // namespace

EventLineWriter::EventLineWriter(TextBuffer *out, const std::vector<AddressRange> &constant_text,
                                 LineFormat format)
    : out_(out), printer_(out), format_(format) {
  for (const AddressRange &range : constant_text) printer_.add_constant_range(range);
}

void EventLineWriter::set_output(TextBuffer *out) {
  out_ = out;
  printer_.set_output(out);
}

void EventLineWriter::set_source(std::string_view source) {
  source_.clear();
  if (format_ == LineFormat::json) source_ = "{\"source\": ";
  append_json_string(&source_, source);
  source_ += format_ == LineFormat::json ? ", \"timestamp\": " : " ";
}

void EventLineWriter::write(const EventView &event, const DecodedRecord &record) {
  const LineMiddle &middle = line_middle(event);
  const char *problem = decode_problem_text(record.problem());
  if (format_ == LineFormat::json)
    write_json_start(event, middle);
  else
    write_text_start(event, record, middle);
  // A text line's payload is one JSON object either way: for a record that
  // was not decoded, the JSON line's tail in braces.
  const bool closing_brace = format_ == LineFormat::json || problem != nullptr;
  if (problem == nullptr) {
    record.print(printer_.printer());
  } else {
    if (format_ == LineFormat::text) out_->append("{\"payload\": ");
    write_problem(event, problem);
  }
  out_->make_room(2);
  out_->commit(closing_brace ? put(out_->end(), "}\n") : put(out_->end(), "\n"));
}

void EventLineWriter::write_json_start(const EventView &event, const LineMiddle &middle) {
  out_->make_room(TextBuffer::kSlack + source_.size() + middle.text.size());
  char *at = out_->end();
  at = source_.empty() ? put(at, "{\"timestamp\": ") : put(at, source_);
  at = write_unsigned(at, event.timestamp);
  out_->commit(put(at, middle.text));
}

void EventLineWriter::write_text_start(const EventView &event, const DecodedRecord &record,
                                       const LineMiddle &middle) {
  out_->make_room(TextBuffer::kSlack + source_.size() + middle.text.size());
  char *at = out_->end();
  *at++ = '[';
  at = write_seconds(at, event.timestamp);
  at = put(at, "] ");
  if (!previous_known_) {
    left_out_delta_at_ = static_cast<size_t>(at - out_->data());
    previous_known_ = true;
  } else {
    at = write_time_delta(at, any_written_ ? previous_ : event.timestamp, event.timestamp);
  }
  previous_ = event.timestamp;
  any_written_ = true;
  at = put(at, source_);
  at = write_session(record, middle, at);
  out_->commit(put(at, middle.text));
}

// "session 7 " for a record whose payload tells its session; "receiver "
// for the receiver's own records and for records that were not decoded,
// which tell none.
char *EventLineWriter::write_session(const DecodedRecord &record, const LineMiddle &middle,
                                     char *at) {
  if (middle.kind && record.data() != nullptr) {
    if (const std::optional<uint32_t> session = record_session(*middle.kind, record.data())) {
      at = put(at, "session ");
      at = write_unsigned(at, *session);
      *at++ = ' ';
      return at;
    }
  }
  return put(at, "receiver ");
}

const EventLineWriter::LineMiddle &EventLineWriter::line_middle(const EventView &event) {
  // Only a descriptor's own name is a constant; a name from the trace may be
  // freed and its address reused for another name.
  const bool constant =
      event.name != nullptr && event.descriptor != nullptr && event.descriptor->name == event.name;
  if (!constant || event.id > kLargestCachedId) {
    write_middle(event, &scratch_);
    return scratch_;
  }
  if (middles_by_id_.size() <= event.id) middles_by_id_.resize(size_t{event.id} + 1);
  LineMiddle &middle = middles_by_id_[event.id];
  if (middle.name != event.name) {
    write_middle(event, &middle);
    middle.name = event.name;
  }
  return middle;
}

void EventLineWriter::write_middle(const EventView &event, LineMiddle *out) {
  out->kind = kinds_.kind_of(event.descriptor);
  std::string &text = out->text;
  if (format_ == LineFormat::text) {
    text.clear();
    append_text_name(event, out->kind, &text);
    return;
  }
  text.assign(", \"id\": ");
  char digits[24];
  text.append(digits, write_unsigned(digits, event.id));
  text.append(", \"event\": ");
  if (event.name != nullptr)
    append_json_string(&text, std::string_view(event.name, std::strlen(event.name)));
  else
    text.append("null");
  text.append(", \"payload\": ");
}

void EventLineWriter::write_problem(const EventView &event, const char *problem) {
  std::string text = "null, \"error\": ";
  append_json_string(&text, problem);
  text.append(", \"raw\": \"");
  append_hex(&text, event.payload, event.payload_size);
  text.push_back('"');
  out_->append(text);
}

}  // namespace vxtrace
