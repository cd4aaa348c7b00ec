// The replaceable logger, vx_do_log, the default logger and the severity
// names.
#include "vexlo/log.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "lib/heap.h"
#include "lib/log_internal.h"

namespace vx {
namespace {

constexpr int kStackBufferSize = 1024;

// Time of the default logger's first line, with its "taken" flag in bit 0 of
// the same word so that checking and taking stay one compare-exchange. 0 means
// not taken. Timestamps are multiples of 1000 ns, so bit 0 of a time never
// carries information (a fake test clock may lose 1 ns there, no more).
constexpr std::uint64_t kFirstLineTaken = 1;
std::atomic<std::uint64_t> first_line_word{0};

std::atomic<vx_logger *> current_logger{nullptr};

#ifdef VX_TESTING
std::atomic<std::uint64_t (*)()> timestamp_source{nullptr};

std::uint64_t default_log_timestamp() {
  std::uint64_t (*source)() = timestamp_source.load();
  return source != nullptr ? source() : vx_get_timestamp();
}
#else
std::uint64_t default_log_timestamp() {
  return vx_get_timestamp();
}
#endif

// The first-line time: the stored one, or t when this line is the first.
std::uint64_t first_line_time(std::uint64_t t) {
  std::uint64_t word = first_line_word.load();
  if (word == 0) {
    const std::uint64_t mine = (t & ~kFirstLineTaken) | kFirstLineTaken;
    // On failure word receives the time another thread stored first.
    if (first_line_word.compare_exchange_strong(word, mine)) word = mine;
  }
  return word & ~kFirstLineTaken;
}

void default_log(void * /*user_data*/, const vx_log_record *record) {
  const std::uint64_t t = default_log_timestamp();
  const std::uint64_t first = first_line_time(t);
  // A thread whose time is earlier than the one another thread stored as the
  // first line shows 0 instead of wrapping around.
  const std::uint64_t elapsed_ms = t > first ? (t - first) / 1000 / 1000 : 0;
  const double seconds = static_cast<double>(elapsed_ms) / 1000.0;
  const char *module = record->module != nullptr ? record->module : "(null)";
  const char *message = record->message != nullptr ? record->message : "(null)";
  std::fprintf(stderr, "%.3lf [%s/%s]: %s\n", seconds, vx_log_severity_name(record->severity),
               module, message);
}

void default_reserved() {}

vx_logger default_logger = {nullptr, default_log, default_reserved};

}  // namespace

#ifdef VX_TESTING
void log_reset_first_line_for_testing() {
  first_line_word.store(0);
}

void log_set_timestamp_source_for_testing(std::uint64_t (*source)()) {
  timestamp_source.store(source);
}

vx_logger *default_logger_for_testing() {
  return &default_logger;
}
#endif

}  // namespace vx

vx_logger *vx_set_logger(vx_logger *logger) {
  return vx::current_logger.exchange(logger);
}

vx_logger *vx_get_logger(void) {
  vx_logger *logger = vx::current_logger.load();
  if (logger != nullptr) return logger;
  // On failure logger receives the one another thread installed first.
  if (vx::current_logger.compare_exchange_strong(logger, &vx::default_logger)) {
    return &vx::default_logger;
  }
  return logger;
}

void vx_do_log(const vx_logger *logger, int severity, const char *module, const char *file,
               const char *function, int line, const char *format, ...) {
  // No logger to hand the record to: a caller's mistake, not worth a crash.
  if (logger == nullptr || logger->log == nullptr) return;

  vx_log_record record = {severity, module, file, function, line, nullptr};
  char stack_buffer[vx::kStackBufferSize];

  va_list args;
  va_start(args, format);
  va_list args_again;
  va_copy(args_again, args);
  const int length = std::vsnprintf(stack_buffer, sizeof stack_buffer, format, args);
  va_end(args);

  if (length < 0 || length >= INT_MAX) {
    std::snprintf(stack_buffer, sizeof stack_buffer, "Can't log message with format: %s", format);
    va_end(args_again);
    record.message = stack_buffer;
    logger->log(logger->user_data, &record);
    return;
  }

  if (length < vx::kStackBufferSize) {
    va_end(args_again);
    record.message = stack_buffer;
    logger->log(logger->user_data, &record);
    return;
  }

  const std::size_t heap_size = static_cast<std::size_t>(length) + 1;
  char *heap_buffer = static_cast<char *>(vx::heap_malloc(heap_size));
  // Without the heap buffer, the message goes out cut to the stack buffer's
  // 1023 characters (vsnprintf has terminated it there).
  record.message = stack_buffer;
  if (heap_buffer != nullptr && std::vsnprintf(heap_buffer, heap_size, format, args_again) >= 0) {
    record.message = heap_buffer;
  }
  va_end(args_again);
  logger->log(logger->user_data, &record);
  vx::heap_free(heap_buffer);
}

const char *vx_log_severity_name(int severity) {
  switch (static_cast<unsigned>(severity)) {
    case VX_LOG_DEBUG:
      return "debug";
    case VX_LOG_INFO:
      return "info";
    case VX_LOG_WARNING:
      return "warning";
    default:
      return "error";
  }
}
