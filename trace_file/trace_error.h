// Filling a vxt_error: the one place where the reader and the writer format
// their messages.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "vexlo/vxtrace_file.h"

// The messages are formatted by the C++ library's printf family, which on
// Windows is mingw-w64's own (it knows %zu and %llu), not the system's.
#ifdef __MINGW_PRINTF_FORMAT
#define VXT_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define VXT_PRINTF_FORMAT printf
#endif

namespace vxtrace {

// Sets status, offset and the formatted message; nothing for a null error.
void set_error(vxt_error *error, vxt_status status, uint64_t offset, const char *format, ...)
    __attribute__((format(VXT_PRINTF_FORMAT, 4, 5)));
void set_error_v(vxt_error *error, vxt_status status, uint64_t offset, const char *format,
                 va_list args) __attribute__((format(VXT_PRINTF_FORMAT, 4, 0)));

// Status VXT_OK, no message; nothing for a null error.
void clear_error(vxt_error *error);

// Puts "name: " before the message, so that it names the input; nothing for a
// null or empty name.
void name_error(vxt_error *error, const char *name);

}  // namespace vxtrace
