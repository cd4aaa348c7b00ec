#include "output_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxtrace {

bool OutputSink::flush() {
  size_t written = 0;
  while (error_.empty() && written < buffer_.size()) {
    const ssize_t result = write(fd_, buffer_.data() + written, buffer_.size() - written);
    if (result > 0)
      written += static_cast<size_t>(result);
    else if (result < 0 && errno != EINTR)
      error_ = std::strerror(errno);
  }
  buffer_.clear();
  return error_.empty();
}

}  // namespace vxtrace
