#include "report/report_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "io/command_support.h"

namespace vxtrace {
namespace {

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

}  // namespace

ReportOutput::ReportOutput(std::string path, std::vector<std::string> inputs)
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

bool ReportOutput::acceptable() const {
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

bool ReportOutput::open() {
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

bool ReportOutput::write(const std::function<bool(OutputSink *)> &write) {
  if (in_place_) return write_output(path_, inputs_, write).value_or(false);
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

}  // namespace vxtrace
