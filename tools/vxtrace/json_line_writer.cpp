#include "json_line_writer.h"

#include <cstring>

#include "json_text.h"

namespace vxtrace {

void append_event_line(std::string *out, const EventView &event, const DecodedRecord &record,
                       const vx_printer &printer) {
  out->append("{\"timestamp\": ");
  append_decimal(out, event.timestamp);
  out->append(", \"id\": ");
  append_decimal(out, event.id);
  out->append(", \"event\": ");
  if (event.name != nullptr)
    append_json_string(out, std::string_view(event.name, std::strlen(event.name)));
  else
    out->append("null");
  out->append(", \"payload\": ");
  const char *problem = decode_problem_text(record.problem());
  if (problem == nullptr) {
    record.print(printer);
  } else {
    out->append("null, \"error\": ");
    append_json_string(out, problem);
    out->append(", \"raw\": \"");
    append_hex(out, event.payload, event.payload_size);
    out->push_back('"');
  }
  out->append("}\n");
}

}  // namespace vxtrace
