// A record's payload as the arguments of a native timeline event: the fields
// of its decoded struct, walked with visit_payload, become debug annotations
// under the keys of the JSON rendering, and nested records become nested
// dictionaries, so that audio_packet_received gives
// {"packet": {"session_id": 1, "id": 7, ...}, "velocast_system_time_us": 2}.
//
// Values:
//   - integers are int values, except a u64 above the int64 range, which is
//     a uint value (an all-ones physical_address shows as 18446744073709551615,
//     as in dump);
//   - floats are doubles; NaN and infinities are kept as they are, as dump
//     passes them to "%g" unchecked;
//   - a byte blob (the url) is a string of its bytes when they are valid
//     UTF-8; otherwise it is a dictionary {"hex": "<two lowercase digits per
//     byte>"}, so that no byte is lost or changed and no reader meets invalid
//     text. (dump renders it as {"size": N, "data": [bytes]}; a viewer shows
//     the text instead.)
//
// The argument names of a kind are interned the first time the kind is seen
// and then reused in walk order, so the walk costs no lookup per field.
#pragma once

#include <array>
#include <bitset>
#include <string>
#include <vector>

#include "schema/event_kind.h"
#include "timeline/perfetto_writer.h"

namespace vxtrace {

class PayloadAnnotations {
 public:
  // writer must outlive this.
  explicit PayloadAnnotations(PerfettoWriter *writer) : writer_(writer) {}

  // Adds the payload of record (the decoded struct of an event of this kind)
  // to the writer's open event.
  void add(EventKind kind, const void *record);

 private:
  const std::vector<ArgNameId> &names_of(EventKind kind);

  PerfettoWriter *writer_;
  // Per kind: the ids of the keys of its fields, nested records and blobs, in
  // walk order.
  std::array<std::vector<ArgNameId>, kEventKindCount> names_;
  std::bitset<kEventKindCount> named_;
  ArgNameId hex_name_;
  std::string hex_;  // a blob's bytes in hex, reused
};

}  // namespace vxtrace
