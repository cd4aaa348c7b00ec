// The operating system's file calls that the trace file library makes, over C
// runtime descriptors (the descriptors of its interface): POSIX calls, or on
// Windows the kernel's CreateFile/ReadFile/WriteFile on the descriptor's
// handle. A failed call returns -1 (false); error_text() then tells why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxtrace::file_io {

// Opens an existing file for reading. On Windows the file stays open to
// others for reading, writing and deletion, so that a trace being recorded
// can be read meanwhile.
int open_for_reading(const char *path);

// Creates or truncates a file for writing (mode 0644 on POSIX).
int create_for_writing(const char *path);

int close_file(int fd);

// Reads at most size bytes at offset, whatever the descriptor's position
// (pread; ReadFile with an OVERLAPPED offset on Windows, which leaves the
// position after the bytes read). 0 at the end of the file.
std::int64_t read_at(int fd, void *buffer, std::size_t size, std::uint64_t offset);

// Reads at most size bytes from the descriptor's position, for streams. 0 at
// the end of the input.
std::int64_t read_some(int fd, void *buffer, std::size_t size);

std::int64_t write_some(int fd, const void *buffer, std::size_t size);

// After a failed call: whether it was only interrupted by a signal handler
// and is to be made again.
bool interrupted();

// After a failed call: why it failed, as the system words it.
std::string error_text();

// The size of fd when it is a regular file that reports one, 0 for anything
// to be streamed (a pipe, a terminal, a file of /proc); false when fd is not
// an open descriptor.
bool regular_file_size(int fd, std::uint64_t *size);

}  // namespace vxtrace::file_io
