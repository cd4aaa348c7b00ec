/* Runtime services shared by every vexlo component: the replaceable logger,
 * the nanosecond clock and the sleep call. All of them may be called from any
 * thread. */
#ifndef VEXLO_LOG_H
#define VEXLO_LOG_H

#include <stdint.h>

#include "vexlo/export.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  VX_LOG_DEBUG = 0,
  VX_LOG_INFO = 1,
  VX_LOG_WARNING = 2,
  VX_LOG_ERROR = 3
};

/* One message, built on the stack of vx_do_log; valid only during the call
 * of the logger's log callback. */
typedef struct vx_log_record {
  int32_t severity;
  const char *module;
  const char *file;
  const char *function;
  int32_t line;
  const char *message;
} vx_log_record;

typedef struct vx_logger {
  void *user_data;
  void (*log)(void *user_data, const vx_log_record *record);
  /* Never called by the library. */
  void (*reserved)(void);
} vx_logger;

/* Atomically installs logger and returns the previous one (null when none was
 * installed). A null logger makes the next vx_get_logger install the default
 * logger again. */
VX_API vx_logger *vx_set_logger(vx_logger *logger);

/* The current logger; installs the default one (stderr) when none is set.
 * Never null. */
VX_API vx_logger *vx_get_logger(void);

/* Formats the message printf-style and hands one record to logger->log. */
VX_API void vx_do_log(const vx_logger *logger, int severity, const char *module, const char *file,
                      const char *function, int line, const char *format, ...) VX_PRINTF_LIKE(7, 8);

/* "debug", "info", "warning" or "error" (every other value). */
VX_API const char *vx_log_severity_name(int severity);

/* Nanoseconds with microsecond resolution: since the process's first call
 * when a monotonic counter exists, since 1970-01-01 UTC otherwise. */
VX_API uint64_t vx_get_timestamp(void);

VX_API void vx_sleep_ms(uint32_t milliseconds);

#ifdef __cplusplus
}
#endif

#endif
