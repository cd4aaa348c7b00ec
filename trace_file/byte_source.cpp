#include "byte_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "file_io.h"

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

// Reads a regular file a window at a time into one buffer that is reused, so
// memory stays about one window. A read at an offset (pread), unlike a
// mapping, cannot fault when another process shrinks the file: the read comes
// back short and the input ends there, marked as changed. Each read names its
// offset, so several sources can read one descriptor at once.
class FileSource final : public ByteSource {
 public:
  // Reads the bytes of fd up to end, its size when the source is made.
  FileSource(int fd, uint64_t end, size_t window_size)
      : fd_(fd), end_(end), window_size_(window_size) {}

  bool read_first_window(uint64_t offset) { return read_window(offset, 1); }

  const uint8_t *fetch(uint64_t offset, size_t want, size_t *available) override {
    *available = 0;
    if (offset >= end_) return nullptr;
    const uint64_t wanted_end = offset + std::min<uint64_t>(want, end_ - offset);
    if (offset < window_begin_ || wanted_end > window_end_)
      read_window(offset, wanted_end - offset);
    if (offset >= window_end_) return nullptr;
    *available = static_cast<size_t>(std::min(wanted_end, window_end_) - offset);
    return buffer_.get() + (offset - window_begin_);
  }

  const uint8_t *fetch_ahead(uint64_t offset, size_t want, size_t *available) override {
    const uint8_t *bytes = fetch(offset, want, available);
    if (bytes != nullptr) *available = static_cast<size_t>(window_end_ - offset);
    return bytes;
  }

  uint64_t size() const override { return end_; }

  void release() override {
    buffer_.reset();
    capacity_ = 0;
    window_begin_ = window_end_ = 0;
  }

 private:
  // Reads [offset, offset + length) and what follows up to a window; false
  // when not a byte could be read. A short read ends the input there.
  bool read_window(uint64_t offset, uint64_t length) {
    const auto size = static_cast<size_t>(
        std::min(end_, offset + std::max<uint64_t>(window_size_, length)) - offset);
    // Grown for a large record, the buffer goes back to a window after it, so
    // that one large record does not cost its size for the rest of the read.
    if (size > capacity_ || (capacity_ > window_size_ && size <= window_size_)) {
      buffer_.reset(new (std::nothrow) uint8_t[size]);
      capacity_ = buffer_ != nullptr ? size : 0;
    }
    window_begin_ = window_end_ = offset;
    if (buffer_ == nullptr) {
      io_error_ = "out of memory for a read buffer";
      end_ = offset;
      return false;
    }
    while (window_end_ - offset < size) {
      const size_t filled = static_cast<size_t>(window_end_ - offset);
      const std::int64_t got =
          file_io::read_at(fd_, buffer_.get() + filled, size - filled, window_end_);
      if (got > 0) {
        window_end_ += static_cast<uint64_t>(got);
      } else if (got == 0) {
        input_changed_ = true;
        break;
      } else if (!file_io::interrupted()) {
        io_error_ = "cannot read: " + file_io::error_text();
        break;
      }
    }
    if (window_end_ - offset < size) end_ = window_end_;
    return window_end_ > offset;
  }

  int fd_;
  uint64_t end_;
  size_t window_size_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  uint64_t window_begin_ = 0;  // file offset of buffer_[0]
  uint64_t window_end_ = 0;
};

// Keeps the unread tail of the stream in one buffer; bytes before the offset
// asked for are dropped when more must be read.
class StreamSource final : public ByteSource {
 public:
  StreamSource(int fd, size_t chunk_size) : fd_(fd), chunk_size_(chunk_size) {}

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
    const size_t size = std::max(want, chunk_size_);
    if (buffer_.size() < size) buffer_.resize(size);
    // Grown for a large record: back to a chunk once what is left fits one.
    if (buffer_.size() > chunk_size_ && want <= chunk_size_ && filled_ <= chunk_size_) {
      buffer_.resize(chunk_size_);
      buffer_.shrink_to_fit();
    }
    while (filled_ < want && !ended_) {
      const std::int64_t got =
          file_io::read_some(fd_, buffer_.data() + filled_, buffer_.size() - filled_);
      if (got > 0) {
        filled_ += static_cast<size_t>(got);
      } else if (got == 0) {
        ended_ = true;
      } else if (!file_io::interrupted()) {
        io_error_ = "cannot read: " + file_io::error_text();
        ended_ = true;
      }
    }
  }

  int fd_;
  size_t chunk_size_;
  std::vector<uint8_t> buffer_;
  uint64_t buffer_offset_ = 0;  // stream offset of buffer_[0]
  size_t filled_ = 0;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> make_memory_source(const void *data, size_t size) {
  return std::make_unique<MemorySource>(data, size);
}

std::unique_ptr<ByteSource> make_file_source(int fd, uint64_t file_size, size_t window_size) {
  return make_file_range_source(fd, 0, file_size, window_size);
}

std::unique_ptr<ByteSource> make_file_range_source(int fd, uint64_t begin, uint64_t end,
                                                   size_t window_size) {
  auto source =
      std::make_unique<FileSource>(fd, end, std::max(window_size, ByteSource::kSmallestWindowSize));
  if (begin < end && !source->read_first_window(begin) && !source->io_error().empty())
    return nullptr;
  return source;
}

std::unique_ptr<ByteSource> make_stream_source(int fd, size_t window_size) {
  return std::make_unique<StreamSource>(fd, std::max(window_size, ByteSource::kSmallestWindowSize));
}

}  // namespace vxtrace
