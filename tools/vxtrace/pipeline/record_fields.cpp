#include "pipeline/record_fields.h"

#include <array>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "schema/payload_fields.h"

namespace vxtrace {
namespace {

constexpr FieldOrdinal kAbsent = -1;

// Walks a shape and finds the ordinal of one integer field by its path.
class OrdinalFinder {
 public:
  explicit OrdinalFinder(std::string_view path) : path_(path) {}

  template <class T>
  void field(const char *key, T) {
    if constexpr (std::is_integral_v<T>) {
      if (found_ == kAbsent && prefix_ + key == path_) found_ = at_;
    }
    ++at_;
  }
  void blob(const char *, const byte_blob &) { ++at_; }
  void begin_record(const char *key) {
    outer_.push_back(prefix_.size());
    prefix_ += key;
    prefix_ += '.';
  }
  void end_record() {
    prefix_.resize(outer_.back());
    outer_.pop_back();
  }
  FieldOrdinal found() const { return found_; }

 private:
  std::string_view path_;
  std::string prefix_;
  std::vector<size_t> outer_;
  FieldOrdinal at_ = 0;
  FieldOrdinal found_ = kAbsent;
};

// Where an integer field sits in its decoded record.
struct FieldPlace {
  uint8_t offset = 0;
  uint8_t size = 0;  // 0: not an integer field
  bool is_signed = false;
};

// The offsets come from the walk itself: the probe record holds at each byte
// its own offset, so the first byte of every field's value is its offset.
#define VX_EVENT(short_name, payload_type) \
  static_assert(sizeof(payload_type) <= 256, "offsets must fit in a byte");
#include "events/catalogue.def"

class PlaceFinder {
 public:
  template <class T>
  void field(const char *, T value) {
    FieldPlace place;
    if constexpr (std::is_integral_v<T>) {
      unsigned char bytes[sizeof(T)];
      std::memcpy(bytes, &value, sizeof(T));
      place = {bytes[0], static_cast<uint8_t>(sizeof(T)), std::is_signed_v<T>};
    }
    places_.push_back(place);
  }
  void blob(const char *, const byte_blob &) { places_.push_back({}); }
  void begin_record(const char *) {}
  void end_record() {}
  std::vector<FieldPlace> &places() { return places_; }

 private:
  std::vector<FieldPlace> places_;
};

template <class Payload>
std::vector<FieldPlace> places_in(EventKind kind) {
  Payload probe;
  unsigned char pattern[sizeof(Payload)];
  for (size_t i = 0; i < sizeof pattern; ++i) pattern[i] = static_cast<unsigned char>(i);
  std::memcpy(static_cast<void *>(&probe), pattern, sizeof probe);
  PlaceFinder finder;
  visit_payload(kind, &probe, finder);
  return std::move(finder.places());
}

std::vector<FieldPlace> find_places(EventKind kind) {
  switch (kind) {
#define VX_EVENT(short_name, payload_type) \
  case EventKind::short_name:              \
    return places_in<payload_type>(kind);
#include "events/catalogue.def"
  }
  return {};
}

int64_t read_place(const void *record, FieldPlace place) {
  const auto *at = static_cast<const unsigned char *>(record) + place.offset;
  const auto read = [at](auto value) {
    std::memcpy(&value, at, sizeof value);
    return static_cast<int64_t>(value);
  };
  switch (place.size) {
    case 1:
      return place.is_signed ? read(int8_t{}) : read(uint8_t{});
    case 2:
      return place.is_signed ? read(int16_t{}) : read(uint16_t{});
    case 4:
      return place.is_signed ? read(int32_t{}) : read(uint32_t{});
    default:
      return place.is_signed ? read(int64_t{}) : read(uint64_t{});
  }
}

FieldOrdinal ordinal_or_absent(EventKind kind, std::string_view path) {
  return find_integer_field(kind, path).value_or(kAbsent);
}

// The field at the top level, else in the nested packet.
FieldOrdinal top_or_packet(EventKind kind, std::string_view key) {
  const FieldOrdinal top = ordinal_or_absent(kind, key);
  return top != kAbsent ? top : ordinal_or_absent(kind, "packet." + std::string(key));
}

struct KindFields {
  std::vector<FieldPlace> places;  // by ordinal
  FieldPlace session;
  std::array<FieldPlace, kKeyKindCount> keys{};
};

KindFields find_fields(EventKind kind) {
  KindFields fields;
  fields.places = find_places(kind);
  const auto place_of = [&](FieldOrdinal ordinal) {
    return ordinal == kAbsent ? FieldPlace{} : fields.places[static_cast<size_t>(ordinal)];
  };
  fields.session = place_of(top_or_packet(kind, "session_id"));
  for (size_t key = 0; key < kKeyKindCount; ++key)
    fields.keys[key] = place_of(top_or_packet(kind, key_name(static_cast<KeyKind>(key))));
  return fields;
}

std::array<KindFields, kEventKindCount> find_all_fields() {
  std::array<KindFields, kEventKindCount> all{};
  for (size_t k = 0; k < kEventKindCount; ++k) all[k] = find_fields(static_cast<EventKind>(k));
  return all;
}

const KindFields &fields_of(EventKind kind) {
  static const std::array<KindFields, kEventKindCount> all = find_all_fields();
  return all[static_cast<size_t>(kind)];
}

}  // namespace

std::optional<FieldOrdinal> find_integer_field(EventKind kind, std::string_view path) {
  OrdinalFinder finder(path);
  visit_payload_shape(kind, finder);
  if (finder.found() == kAbsent) return std::nullopt;
  return finder.found();
}

std::optional<int64_t> read_integer_field(EventKind kind, FieldOrdinal ordinal,
                                          const void *record) {
  const std::vector<FieldPlace> &places = fields_of(kind).places;
  if (ordinal < 0 || static_cast<size_t>(ordinal) >= places.size()) return std::nullopt;
  const FieldPlace place = places[static_cast<size_t>(ordinal)];
  if (place.size == 0) return std::nullopt;
  return read_place(record, place);
}

std::optional<uint32_t> record_session(EventKind kind, const void *record) {
  const FieldPlace session = fields_of(kind).session;
  if (session.size == 0) return std::nullopt;
  return static_cast<uint32_t>(read_place(record, session));
}

RecordKeys record_keys(EventKind kind, const void *record) {
  const KindFields &fields = fields_of(kind);
  RecordKeys read;
  if (fields.session.size != 0)
    read.session = static_cast<uint32_t>(read_place(record, fields.session));
  for (size_t key = 0; key < kKeyKindCount; ++key)
    if (fields.keys[key].size != 0)
      read.keys[key] = static_cast<uint64_t>(read_place(record, fields.keys[key]));
  return read;
}

bool has_key(EventKind kind, KeyKind key) {
  return fields_of(kind).keys[static_cast<size_t>(key)].size != 0;
}

}  // namespace vxtrace
