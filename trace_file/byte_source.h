// Where the trace reader's bytes come from: a file read in windows, a stream
// read in chunks, or bytes already in memory. Each keeps only a bounded part
// of the input readable, so memory does not grow with the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vxtrace {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Makes the bytes [offset, offset + want) readable and returns their
  // address; *available is want, or fewer when the input ends first. offset
  // never goes back before an earlier call's offset. Invalidates every address
  // returned before.
  virtual const uint8_t *fetch(uint64_t offset, size_t want, size_t *available) = 0;

  // Like fetch, but *available may exceed want: it counts every byte from
  // offset on that is readable at the returned address without another
  // fetch, so a reader can take many small records from one call.
  virtual const uint8_t *fetch_ahead(uint64_t offset, size_t want, size_t *available) {
    return fetch(offset, want, available);
  }

  // Total size, 0 when unknown.
  virtual uint64_t size() const { return 0; }

  // Gives back the buffer early; fetch must not be called after.
  virtual void release() {}

  // How many bytes a read takes ahead at most. A record larger than that is
  // still read whole; the buffer shrinks back to this size after it.
  static constexpr size_t kDefaultWindowSize = size_t{1} << 20;
  static constexpr size_t kSmallestWindowSize = size_t{4} << 10;

  // Set when reading failed; the input then looks as if it ended there.
  const std::string &io_error() const { return io_error_; }

  // Set when the file ended before the size it had when the source was made
  // (another process shrank it); the input then looks as if it ended there.
  bool input_changed() const { return input_changed_; }

 protected:
  std::string io_error_;
  bool input_changed_ = false;
};

std::unique_ptr<ByteSource> make_memory_source(const void *data, size_t size);

// Reads a regular file of file_size bytes window by window with reads at an
// offset. Null, with file_io::error_text() telling why, when the first window
// cannot be read (the caller then streams instead).
std::unique_ptr<ByteSource> make_file_source(int fd, uint64_t file_size,
                                             size_t window_size = ByteSource::kDefaultWindowSize);

// Reads the bytes [begin, end) of a regular file; offsets stay those of the
// file, and the input looks as if it ended at end. Null, with
// file_io::error_text() telling why, when the first window cannot be read.
std::unique_ptr<ByteSource> make_file_range_source(
    int fd, uint64_t begin, uint64_t end, size_t window_size = ByteSource::kDefaultWindowSize);

std::unique_ptr<ByteSource> make_stream_source(int fd,
                                               size_t window_size = ByteSource::kDefaultWindowSize);

}  // namespace vxtrace
