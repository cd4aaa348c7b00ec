#include "byte_source.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vxtrace {
namespace {

class MemorySource final : public ByteSource {
 public:
  MemorySource(const void *data, size_t size)
      : data_(static_cast<const uint8_t *>(data)), size_(size) {}

  const uint8_t *fetch(uint64_t offset, size_t want, size_t *available) override {
    *available =
        offset >= size_ ? 0 : static_cast<size_t>(std::min<uint64_t>(want, size_ - offset));
    return *available == 0 ? nullptr : data_ + offset;
  }

  const uint8_t *fetch_ahead(uint64_t offset, size_t, size_t *available) override {
    return fetch(offset, SIZE_MAX, available);
  }

  uint64_t size() const override { return size_; }

 private:
  const uint8_t *data_;
  uint64_t size_;
};

// A window of the file stays mapped until a record needs bytes beyond it; the
// window behind is unmapped then, so resident memory stays about one window.
class MappedSource final : public ByteSource {
 public:
  static constexpr size_t kWindowSize = size_t{8} << 20;

  MappedSource(int fd, uint64_t file_size)
      : fd_(fd), file_size_(file_size), page_size_(static_cast<uint64_t>(sysconf(_SC_PAGESIZE))) {}
  ~MappedSource() override { release(); }

  bool map_first_window(uint64_t offset = 0) { return map_window(offset, 1); }

  const uint8_t *fetch(uint64_t offset, size_t want, size_t *available) override {
    *available = 0;
    if (offset >= file_size_) return nullptr;
    const uint64_t wanted_end = offset + std::min<uint64_t>(want, file_size_ - offset);
    if (offset < window_begin_ || wanted_end > window_end_) {
      if (!map_window(offset, wanted_end - offset)) return nullptr;
    }
    *available = static_cast<size_t>(wanted_end - offset);
    return window_ + (offset - window_begin_);
  }

  const uint8_t *fetch_ahead(uint64_t offset, size_t want, size_t *available) override {
    const uint8_t *bytes = fetch(offset, want, available);
    if (bytes != nullptr) *available = static_cast<size_t>(window_end_ - offset);
    return bytes;
  }

  uint64_t size() const override { return file_size_; }

  void release() override {
    if (window_ != nullptr) munmap(const_cast<uint8_t *>(window_), window_end_ - window_begin_);
    window_ = nullptr;
    window_begin_ = window_end_ = 0;
  }

 private:
  bool map_window(uint64_t offset, uint64_t length) {
    release();
    const uint64_t begin = offset - offset % page_size_;
    const uint64_t end = std::min(file_size_, std::max(begin + kWindowSize, offset + length));
    void *window =
        mmap(nullptr, end - begin, PROT_READ, MAP_PRIVATE, fd_, static_cast<off_t>(begin));
    if (window == MAP_FAILED) {
      io_error_ = std::string("cannot map the file: ") + std::strerror(errno);
      return false;
    }
    madvise(window, end - begin, MADV_SEQUENTIAL);
    window_ = static_cast<const uint8_t *>(window);
    window_begin_ = begin;
    window_end_ = end;
    return true;
  }

  int fd_;
  uint64_t file_size_;
  uint64_t page_size_;
  const uint8_t *window_ = nullptr;
  uint64_t window_begin_ = 0;
  uint64_t window_end_ = 0;
};

// Keeps the unread tail of the stream in one buffer; bytes before the offset
// asked for are dropped when more must be read.
class StreamSource final : public ByteSource {
 public:
  static constexpr size_t kChunkSize = size_t{1} << 20;

  explicit StreamSource(int fd) : fd_(fd) {}

  const uint8_t *fetch(uint64_t offset, size_t want, size_t *available) override {
    size_t skip = static_cast<size_t>(std::min<uint64_t>(offset - buffer_offset_, filled_));
    if (filled_ - skip < want && !ended_) {
      drop_front(skip);
      skip = 0;
      fill_to(want);
    }
    *available = std::min(want, filled_ - skip);
    return buffer_.data() + skip;
  }

  const uint8_t *fetch_ahead(uint64_t offset, size_t want, size_t *available) override {
    const uint8_t *bytes = fetch(offset, want, available);
    if (*available == want) *available = filled_ - static_cast<size_t>(offset - buffer_offset_);
    return bytes;
  }

  void release() override { std::vector<uint8_t>().swap(buffer_); }

 private:
  void drop_front(size_t count) {
    if (count == 0) return;
    std::memmove(buffer_.data(), buffer_.data() + count, filled_ - count);
    filled_ -= count;
    buffer_offset_ += count;
  }

  void fill_to(size_t want) {
    if (buffer_.size() < std::max(want, kChunkSize)) buffer_.resize(std::max(want, kChunkSize));
    while (filled_ < want && !ended_) {
      const ssize_t got = read(fd_, buffer_.data() + filled_, buffer_.size() - filled_);
      if (got > 0) {
        filled_ += static_cast<size_t>(got);
      } else if (got == 0) {
        ended_ = true;
      } else if (errno != EINTR) {
        io_error_ = std::string("cannot read: ") + std::strerror(errno);
        ended_ = true;
      }
    }
  }

  int fd_;
  std::vector<uint8_t> buffer_;
  uint64_t buffer_offset_ = 0;  // stream offset of buffer_[0]
  size_t filled_ = 0;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> make_memory_source(const void *data, size_t size) {
  return std::make_unique<MemorySource>(data, size);
}

std::unique_ptr<ByteSource> make_mapped_source(int fd, uint64_t file_size) {
  auto source = std::make_unique<MappedSource>(fd, file_size);
  if (!source->map_first_window()) return nullptr;
  return source;
}

std::unique_ptr<ByteSource> make_mapped_range_source(int fd, uint64_t begin, uint64_t end) {
  auto source = std::make_unique<MappedSource>(fd, end);
  if (begin < end && !source->map_first_window(begin)) return nullptr;
  return source;
}

std::unique_ptr<ByteSource> make_stream_source(int fd) {
  return std::make_unique<StreamSource>(fd);
}

}  // namespace vxtrace
