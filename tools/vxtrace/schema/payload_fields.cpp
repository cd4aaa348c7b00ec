#include "schema/payload_fields.h"

#include <cstring>

namespace vxtrace {
namespace {

// Finds "session_id" at the top level or in the nested "packet".
class SessionFinder {
 public:
  template <class T>
  void field(const char *key, T value) {
    if constexpr (std::is_same_v<T, uint32_t>) {
      if (std::strcmp(key, "session_id") == 0 && (depth_ == 0 || in_packet_)) session_ = value;
    }
  }
  void blob(const char *, const byte_blob &) {}
  void begin_record(const char *key) {
    ++depth_;
    in_packet_ = depth_ == 1 && std::strcmp(key, "packet") == 0;
  }
  void end_record() {
    --depth_;
    in_packet_ = false;
  }
  std::optional<uint32_t> session() const { return session_; }

 private:
  int depth_ = 0;
  bool in_packet_ = false;
  std::optional<uint32_t> session_;
};

}  // namespace

std::optional<uint32_t> session_of(EventKind kind, const void *record) {
  SessionFinder finder;
  visit_payload(kind, record, finder);
  return finder.session();
}

bool has_session(EventKind kind) {
  SessionFinder finder;
  visit_payload_shape(kind, finder);
  return finder.session().has_value();
}

}  // namespace vxtrace
