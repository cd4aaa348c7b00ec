// Installs a logger that keeps every record, for the lifetime of the object,
// and puts the previous logger back afterwards.
#pragma once

#include <string>
#include <vector>

#include "vexlo/log.h"

namespace vx_test {

struct CapturedLog {
  int severity;
  std::string module;
  std::string file;
  std::string function;
  int line;
  std::string message;
};

class LogCapture {
 public:
  LogCapture() : logger_{this, &LogCapture::log, nullptr} { previous_ = vx_set_logger(&logger_); }
  ~LogCapture() { vx_set_logger(previous_); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<CapturedLog> records;

 private:
  static void log(void *self, const vx_log_record *record) {
    static_cast<LogCapture *>(self)->records.push_back(CapturedLog{
        record->severity, record->module, record->file, record->function, record->line,
        record->message});
  }

  vx_logger logger_;
  vx_logger *previous_ = nullptr;
};

}  // namespace vx_test
