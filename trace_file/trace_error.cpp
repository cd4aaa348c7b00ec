#include "trace_error.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace vxtrace {

void set_error_v(vxt_error *error, vxt_status status, uint64_t offset, const char *format,
                 va_list args) {
  if (error == nullptr) return;
  error->status = status;
  error->offset = offset;
  std::vsnprintf(error->message, sizeof error->message, format, args);
}

void set_error(vxt_error *error, vxt_status status, uint64_t offset, const char *format, ...) {
  va_list args;
  va_start(args, format);
  set_error_v(error, status, offset, format, args);
  va_end(args);
}

void clear_error(vxt_error *error) {
  if (error != nullptr) *error = vxt_error{};
}

void name_error(vxt_error *error, const char *name) {
  if (error == nullptr || name == nullptr || name[0] == '\0') return;
  const std::string message = error->message;
  std::snprintf(error->message, sizeof error->message, "%s: %s", name, message.c_str());
}

}  // namespace vxtrace
