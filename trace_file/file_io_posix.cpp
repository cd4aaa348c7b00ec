#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_io.h"

namespace vxtrace::file_io {

int open_for_reading(const char *path) {
  return open(path, O_RDONLY | O_CLOEXEC);
}

int create_for_writing(const char *path) {
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int close_file(int fd) {
  return close(fd);
}

std::int64_t read_at(int fd, void *buffer, std::size_t size, std::uint64_t offset) {
  return pread(fd, buffer, size, static_cast<off_t>(offset));
}

std::int64_t read_some(int fd, void *buffer, std::size_t size) {
  return read(fd, buffer, size);
}

std::int64_t write_some(int fd, const void *buffer, std::size_t size) {
  return write(fd, buffer, size);
}

bool interrupted() {
  return errno == EINTR;
}

std::string error_text() {
  return std::strerror(errno);
}

bool regular_file_size(int fd, std::uint64_t *size) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return false;
  *size = S_ISREG(status.st_mode) && status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size)
                                                        : 0;
  return true;
}

}  // namespace vxtrace::file_io
