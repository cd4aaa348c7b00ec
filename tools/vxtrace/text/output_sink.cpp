#include "text/output_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxtrace {

bool OutputSink::write_all(std::string_view text) {
  size_t written = 0;
  while (error_.empty() && written < text.size()) {
    const ssize_t result = ::write(fd_, text.data() + written, text.size() - written);
    if (result > 0)
      written += static_cast<size_t>(result);
    else if (result < 0 && errno != EINTR)
      error_ = std::strerror(errno);
  }
  return error_.empty();
}

bool OutputSink::flush() {
  write_all(buffer_);
  buffer_.clear();
  return error_.empty();
}

bool OutputSink::write(std::string_view text) {
  return flush() && write_all(text);
}

}  // namespace vxtrace
