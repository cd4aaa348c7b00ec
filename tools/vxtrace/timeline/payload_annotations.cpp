#include "timeline/payload_annotations.h"

#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "schema/payload_fields.h"
#include "text/utf8.h"

namespace vxtrace {
namespace {

// Collects the keys of a payload's shape in the order visit_payload walks
// them.
struct KeyCollector {
  PerfettoWriter *writer;
  std::vector<ArgNameId> *names;

  template <class T>
  void field(const char *key, T) {
    names->push_back(writer->intern_arg_name(key));
  }
  void blob(const char *key, const byte_blob &) { names->push_back(writer->intern_arg_name(key)); }
  void begin_record(const char *key) { names->push_back(writer->intern_arg_name(key)); }
  void end_record() {}
};

void assign_hex(std::string *out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out->resize(bytes.size() * 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<uint8_t>(bytes[i]);
    (*out)[2 * i] = kDigits[byte >> 4];
    (*out)[2 * i + 1] = kDigits[byte & 0xF];
  }
}

// Writes the values; the names come from the kind's list, in the same order.
struct AnnotationWriter {
  PerfettoWriter *writer;
  const ArgNameId *name;
  ArgNameId *hex_name;  // interned when first needed
  std::string *hex;

  template <class T>
  void field(const char *, T value) {
    if constexpr (std::is_floating_point_v<T>) {
      writer->add_double(*name++, static_cast<double>(value));
    } else if constexpr (std::is_same_v<T, uint64_t>) {
      if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        writer->add_uint(*name++, value);
      else
        writer->add_int(*name++, static_cast<int64_t>(value));
    } else {
      writer->add_int(*name++, static_cast<int64_t>(value));
    }
  }
  void blob(const char *, const byte_blob &blob) {
    const std::string_view bytes =
        blob.data == nullptr
            ? std::string_view{}
            : std::string_view(reinterpret_cast<const char *>(blob.data), blob.size);
    if (is_valid_utf8(bytes)) {
      writer->add_string(*name++, bytes);
      return;
    }
    assign_hex(hex, bytes);
    if (!*hex_name) *hex_name = writer->intern_arg_name("hex");
    writer->begin_dict(*name++);
    writer->add_string(*hex_name, *hex);
    writer->end_dict();
  }
  void begin_record(const char *) { writer->begin_dict(*name++); }
  void end_record() { writer->end_dict(); }
};

}  // namespace

const std::vector<ArgNameId> &PayloadAnnotations::names_of(EventKind kind) {
  const auto index = static_cast<size_t>(kind);
  if (!named_.test(index)) {
    KeyCollector collector{writer_, &names_[index]};
    visit_payload_shape(kind, collector);
    named_.set(index);
  }
  return names_[index];
}

void PayloadAnnotations::add(EventKind kind, const void *record) {
  if (record == nullptr || static_cast<size_t>(kind) >= kEventKindCount) return;
  AnnotationWriter visitor{writer_, names_of(kind).data(), &hex_name_, &hex_};
  visit_payload(kind, record, visitor);
}

}  // namespace vxtrace
