#include "json_printer.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vxtrace {
namespace {

void append_formatted(std::string *out, const char *format, va_list args) {
  char small[64];
  va_list retry;
  va_copy(retry, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  if (length < 0) {
    va_end(retry);
    return;
  }
  if (static_cast<size_t>(length) < sizeof small) {
    out->append(small, static_cast<size_t>(length));
  } else {
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(length) + 1);
    std::vsnprintf(out->data() + at, static_cast<size_t>(length) + 1, format, retry);
    out->resize(at + static_cast<size_t>(length));
  }
  va_end(retry);
}

void append_real(std::string *out, double value) {
  if (!std::isfinite(value)) {
    out->append("null");
    return;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%g", value);
  out->append(text, static_cast<size_t>(length));
}

int print_piece(void *user_data, const char *format, ...) {
  auto *out = static_cast<std::string *>(user_data);
  // Literal pieces ("{", ", ", key texts) carry no conversion.
  if (std::strchr(format, '%') == nullptr) {
    out->append(format);
    return 0;
  }
  va_list args;
  va_start(args, format);
  if (std::strcmp(format, "%g") == 0)
    append_real(out, va_arg(args, double));
  else
    append_formatted(out, format, args);
  va_end(args);
  return 0;
}

}  // namespace

vx_printer make_json_printer(std::string *out) {
  return vx_printer{out, print_piece};
}

}  // namespace vxtrace
