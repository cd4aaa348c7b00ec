// The members of every decoded payload, generated from the payload
// descriptions: one template walks a record's members in wire order and hands
// each to a visitor with its key and its C type, so that commands which need
// typed values (session ids, latency keys, table columns, trace arguments)
// never parse rendered JSON and never list fields by hand.
//
// A visitor has:
//   void field(const char *key, T value);      T one of uint8_t, uint16_t,
//                                              int16_t, uint32_t, int32_t,
//                                              uint64_t, int64_t, float
//   void blob(const char *key, const byte_blob &blob);
//   void begin_record(const char *key);        a nested record follows,
//   void end_record();                         then ends
#pragma once

#include <cstdint>
#include <optional>

#include "schema/event_kind.h"
#include "vexlo/velocast_payloads.h"

namespace vxtrace {

#define VX_PAYLOAD(T)      \
  template <class Visitor> \
  void visit_fields(const T &record, Visitor &visitor) {
#define VX_FIELD(type, key) visitor.field(#key, record.key);
#define VX_RECORD(T, key)            \
  visitor.begin_record(#key);        \
  visit_fields(record.key, visitor); \
  visitor.end_record();
#define VX_BLOB(key) visitor.blob(#key, record.key);
#define VX_END(T) }
#include "vexlo/payloads/all.def"

// Walks the decoded record of an event of this kind (as its descriptor's
// decode returned it).
template <class Visitor>
void visit_payload(EventKind kind, const void *record, Visitor &visitor) {
  switch (kind) {
#define VX_EVENT(short_name, payload_type)                             \
  case EventKind::short_name:                                          \
    visit_fields(*static_cast<const payload_type *>(record), visitor); \
    return;
#include "events/catalogue.def"
  }
}

// Walks the members of the kind's payload type with zero values: the shape of
// its record, for schemas.
template <class Visitor>
void visit_payload_shape(EventKind kind, Visitor &visitor) {
  switch (kind) {
#define VX_EVENT(short_name, payload_type) \
  case EventKind::short_name: {            \
    const payload_type record{};           \
    visit_fields(record, visitor);         \
    return;                                \
  }
#include "events/catalogue.def"
  }
}

// The network session a record belongs to: its "session_id", or its nested
// packet's ("packet.session_id"); nullopt for the receiver's own events (the
// audio sink's, the audio queue's reads, ...).
std::optional<uint32_t> session_of(EventKind kind, const void *record);

// Whether the kind's payload carries a session at all.
bool has_session(EventKind kind);

}  // namespace vxtrace
