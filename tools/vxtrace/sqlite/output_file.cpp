#include "sqlite/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vxtrace {
namespace {

std::string folder_of(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string file_name_of(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Unique per process and per call, so that outputs made at the same time in
// one folder (threads, or other runs) never share a temporary name.
std::string temporary_name(const std::string &final_path) {
  static std::atomic<unsigned> counter{0};
  // Short enough that the name stays within the file system's limit.
  const std::string base = file_name_of(final_path).substr(0, 160);
  return folder_of(final_path) + "/." + base + ".tmp-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++);
}

// Renames without replacing what is at to; where the file system cannot do
// that in one step, links and unlinks, which fails the same way.
bool rename_no_replace(const char *from, const char *to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from, to) != 0) return false;
  unlink(from);
  return true;
}

bool sync_file(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  const int error_number = errno;
  close(fd);
  errno = error_number;
  return synced;
}

// Makes a rename durable; file systems that cannot sync a folder are let be.
void sync_folder(const std::string &folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool TemporaryOutput::fail(const std::string &what, int error_number) {
  error_ = final_path_ + ": " + what;
  if (error_number != 0) error_ += std::string(": ") + std::strerror(error_number);
  return false;
}

bool TemporaryOutput::create(const std::string &final_path, bool replace) {
  discard();
  final_path_ = final_path;
  replace_ = replace;
  if (final_path.empty()) return fail("the output path is empty", 0);
  struct stat existing;
  if (lstat(final_path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return fail("is a directory", 0);
    if (!replace) return fail("already exists (--force replaces it)", 0);
  } else if (errno != ENOENT) {
    return fail("cannot be used", errno);
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporary_name(final_path);
    const int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      temporary_path_ = name;
      return true;
    }
    if (errno != EEXIST)
      return fail("cannot create a temporary file in " + folder_of(final_path), errno);
  }
  return fail("cannot find a free temporary name in " + folder_of(final_path), 0);
}

bool TemporaryOutput::commit() {
  if (temporary_path_.empty()) return fail("nothing to rename", 0);
  // The contents reach the disk before the name does, so that a crash never
  // leaves a partial file under the final name.
  if (!sync_file(temporary_path_)) {
    const int error_number = errno;
    discard();
    return fail("cannot write the finished file to disk", error_number);
  }
  const bool renamed = replace_ ? std::rename(temporary_path_.c_str(), final_path_.c_str()) == 0
                                : rename_no_replace(temporary_path_.c_str(), final_path_.c_str());
  if (!renamed) {
    const int error_number = errno;
    discard();
    if (error_number == EEXIST)
      return fail("appeared while it was written (--force replaces it)", 0);
    return fail("cannot rename the finished file to its name", error_number);
  }
  temporary_path_.clear();
  sync_folder(folder_of(final_path_));
  return true;
}

void TemporaryOutput::discard() {
  if (temporary_path_.empty()) return;
  for (const char *suffix : {"", "-journal", "-wal", "-shm"})
    unlink((temporary_path_ + suffix).c_str());
  temporary_path_.clear();
}

}  // namespace vxtrace
