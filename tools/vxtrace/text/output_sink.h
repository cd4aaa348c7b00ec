// Buffered output for the tool's text: pieces are gathered in memory and
// written with large writes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vxtrace {

class OutputSink {
 public:
  // Writes to fd, which stays the caller's.
  explicit OutputSink(int fd) : fd_(fd) { buffer_.reserve(kFlushSize * 2); }
  OutputSink(const OutputSink &) = delete;
  OutputSink &operator=(const OutputSink &) = delete;
  ~OutputSink() { flush(); }

  void append(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kFlushSize) flush();
  }
  void append(char c) { buffer_.push_back(c); }

  // The buffer, for writers that format in place; call flush_if_full after.
  std::string &buffer() { return buffer_; }
  void flush_if_full() {
    if (buffer_.size() >= kFlushSize) flush();
  }

  // Flushes what is buffered, then writes text straight to the descriptor
  // (for writers that gather large blocks of their own).
  bool write(std::string_view text);

  // False once a write has failed; later output is dropped.
  bool flush();
  bool failed() const { return !error_.empty(); }
  const std::string &error() const { return error_; }

 private:
  bool write_all(std::string_view text);

  static constexpr size_t kFlushSize = size_t{1} << 20;

  int fd_;
  std::string buffer_;
  std::string error_;
};

}  // namespace vxtrace
