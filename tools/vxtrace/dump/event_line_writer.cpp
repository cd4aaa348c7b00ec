#include "dump/event_line_writer.h"

#include <cstring>

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

}  // namespace

EventLineWriter::EventLineWriter(TextBuffer *out, const std::vector<AddressRange> &constant_text)
    : out_(out), printer_(out) {
  for (const AddressRange &range : constant_text) printer_.add_constant_range(range);
}

void EventLineWriter::set_output(TextBuffer *out) {
  out_ = out;
  printer_.set_output(out);
}

void EventLineWriter::set_source(std::string_view source) {
  line_start_ = "{\"source\": ";
  append_json_string(&line_start_, source);
  line_start_ += ", \"timestamp\": ";
}

void EventLineWriter::write(const EventView &event, const DecodedRecord &record) {
  const std::string &middle = line_middle(event);
  out_->make_room(TextBuffer::kSlack + line_start_.size() + middle.size());
  char *at = out_->end();
  if (line_start_.empty()) {
    at = put(at, "{\"timestamp\": ");
  } else {
    std::memcpy(at, line_start_.data(), line_start_.size());
    at += line_start_.size();
  }
  at = write_unsigned(at, event.timestamp);
  std::memcpy(at, middle.data(), middle.size());
  out_->commit(at + middle.size());
  const char *problem = decode_problem_text(record.problem());
  if (problem == nullptr)
    record.print(printer_.printer());
  else
    write_problem(event, problem);
  out_->make_room(2);
  out_->commit(put(out_->end(), "}\n"));
}

const std::string &EventLineWriter::line_middle(const EventView &event) {
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
    write_middle(event, &middle.text);
    middle.name = event.name;
  }
  return middle.text;
}

void EventLineWriter::write_middle(const EventView &event, std::string *out) {
  out->assign(", \"id\": ");
  char digits[24];
  out->append(digits, write_unsigned(digits, event.id));
  out->append(", \"event\": ");
  if (event.name != nullptr)
    append_json_string(out, std::string_view(event.name, std::strlen(event.name)));
  else
    out->append("null");
  out->append(", \"payload\": ");
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
