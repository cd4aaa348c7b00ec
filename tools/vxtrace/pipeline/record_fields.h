// Typed reads of a decoded record's session and key fields, found through the
// walk of schema/payload_fields.h. Once per kind, a walk over a probe record
// finds where each field lies (its offset, width and signedness) and a field
// by its path ("id", "packet.id"); afterwards a read is a copy from that
// place: no walk, no names compared, nothing rendered.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "pipeline/pipeline_model.h"
#include "schema/event_kind.h"

namespace vxtrace {

// The place of a field in the walk of its kind's payload, counting every
// scalar and blob in wire order (a nested record's fields count in place).
using FieldOrdinal = int16_t;

// The ordinal of a scalar field by its path: "key" at the top level or
// "outer.key" inside a nested record. nullopt when the kind has no such
// integer field (floats and blobs are not found).
std::optional<FieldOrdinal> find_integer_field(EventKind kind, std::string_view path);

// The value of the integer field at that ordinal. Unsigned 64-bit values
// above INT64_MAX keep their bits (they read as negative); narrower values
// convert exactly. nullopt when the ordinal is not an integer field.
std::optional<int64_t> read_integer_field(EventKind kind, FieldOrdinal ordinal, const void *record);

// The session ("session_id" or "packet.session_id") of a record; nullopt for
// the receiver's own events. Same result as schema's session_of, faster.
std::optional<uint32_t> record_session(EventKind kind, const void *record);

// A record's session and every key field its payload has, read in one walk:
// "packet.id" for an arrived audio packet, "id" for the other audio packet
// events, and so on.
struct RecordKeys {
  std::optional<uint32_t> session;
  std::array<std::optional<uint64_t>, kKeyKindCount> keys;  // i64 keys as two's complement

  const std::optional<uint64_t> &key(KeyKind kind) const { return keys[static_cast<size_t>(kind)]; }
};

RecordKeys record_keys(EventKind kind, const void *record);

// Whether the kind's payload carries the key field.
bool has_key(EventKind kind, KeyKind key);

}  // namespace vxtrace
