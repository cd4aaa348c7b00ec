#include "io/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "io/diagnostics.h"
#include "io/inputs.h"

namespace vxtrace {
namespace {

bool is_standard_stream(const std::string &path) {
  return path.empty() || path == "-";
}

// Regular files only: a terminal or a pipe may well be input and output at
// once, and writing to one destroys nothing.
bool same_regular_file(const struct stat &a, const struct stat &b) {
  return S_ISREG(a.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The input that the output would overwrite, or null. Links of either kind
// resolve to the same device and inode.
const std::string *input_under_output(const std::string &output,
                                      const std::vector<std::string> &inputs) {
  struct stat out {};
  const int found =
      is_standard_stream(output) ? fstat(STDOUT_FILENO, &out) : stat(output.c_str(), &out);
  if (found != 0) return nullptr;  // not there yet: it cannot be an input
  for (const std::string &input : inputs) {
    struct stat in {};
    const int opened = input == "-" ? fstat(STDIN_FILENO, &in) : stat(input.c_str(), &in);
    if (opened == 0 && same_regular_file(out, in)) return &input;
  }
  return nullptr;
}

bool is_standard_output(const std::string &path) {
  return path.empty() || path == "-";
}

// The file that a link names, so that the link stays and its file is
// replaced; the path itself when it names no link or cannot be resolved.
std::string file_named_by(const std::string &path) {
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

int open_in_place(const std::string &path, const std::vector<std::string> &inputs) {
  if (output_is_an_input(path, inputs)) return -1;
  if (is_standard_output(path)) return STDOUT_FILENO;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) report(path + ": cannot create: " + std::strerror(errno));
  return fd;
}

bool close_in_place(int fd, const std::string &path, bool written) {
  if (fd == STDOUT_FILENO || close(fd) == 0 || !written) return written;
  report(path + ": " + std::strerror(errno));
  return false;
}

// Standard output, a device or a pipe: written as it comes.
bool write_in_place(const std::string &path, const std::vector<std::string> &inputs,
                    const std::function<bool(OutputSink *)> &write) {
  const int fd = open_in_place(path, inputs);
  if (fd < 0) return false;
  bool written = false;
  {
    OutputSink sink(fd);
    written = write(&sink);
    if (!written) report("cannot write the output: " + sink.error());
  }
  return close_in_place(fd, path, written);
}

}  // namespace

FileOutput::FileOutput(std::string path, std::vector<std::string> inputs)
    : path_(std::move(path)), inputs_(std::move(inputs)) {
  if (is_standard_output(path_)) {
    in_place_ = true;
    return;
  }
  struct stat existing {};
  if (stat(path_.c_str(), &existing) != 0) {
    // A link to no file yet is written through, as open(2) would.
    struct stat link {};
    in_place_ = lstat(path_.c_str(), &link) == 0;
    file_ = path_;
    return;
  }
  // Devices and pipes have no contents to protect, and cannot be renamed over.
  in_place_ = !S_ISREG(existing.st_mode);
  file_ = file_named_by(path_);
  mode_ = existing.st_mode & 07777;
}

bool FileOutput::acceptable() const {
  if (output_is_an_input(path_, inputs_)) return false;
  struct stat existing {};
  if (is_standard_output(path_) || stat(path_.c_str(), &existing) != 0) return true;
  if (S_ISDIR(existing.st_mode)) {
    report(path_ + ": is a directory");
    return false;
  }
  // A rename would replace a file that its mode keeps from being written.
  if (in_place_ || access(file_.c_str(), W_OK) == 0) return true;
  report(path_ + ": cannot create: " + std::strerror(errno));
  return false;
}

bool FileOutput::open() {
  if (in_place_ || pending_ != nullptr) return true;
  pending_ = std::make_unique<PendingFile>(file_);
  if (!pending_->opened()) {
    pending_.reset();
    return false;
  }
  // The replaced file's mode, which a private report may depend on.
  if (mode_ != 0) fchmod(pending_->fd(), mode_);
  return true;
}

bool FileOutput::write(const std::function<bool(OutputSink *)> &write) {
  if (in_place_) return write_in_place(path_, inputs_, write);
  if (!open()) return false;
  bool written = false;
  {
    OutputSink sink(pending_->fd());
    written = write(&sink);
    if (!written) report(path_ + ": cannot write: " + sink.error());
  }
  written = written && pending_->commit(true);
  pending_.reset();  // a file not committed goes
  return written;
}

std::optional<bool> write_output(const std::string &path, const std::vector<std::string> &inputs,
                                 const std::function<bool(OutputSink *)> &write) {
  FileOutput output(path, inputs);
  if (!output.acceptable() || !output.open()) return std::nullopt;
  return output.write(write);
}

bool output_is_an_input(const std::string &path, const std::vector<std::string> &inputs) {
  const std::string *input = input_under_output(path, inputs);
  if (input == nullptr) return false;
  const std::string output = is_standard_stream(path) ? "standard output" : path;
  report("cannot write to " + output + ": it is the same file as the input " +
         input_display_name(*input) + "; nothing was written");
  return true;
}

}  // namespace vxtrace
