#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "io/diagnostics.h"
#include "io/inputs.h"
#include "io/signal_cleanup.h"

namespace vxtrace {
namespace {

std::string folder_of(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string file_name_of(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that path names through its links. An existing file is found as
// the kernel finds it; a chain of links that ends in no file yet is followed
// by hand, so that the file it will name is written and the links stay.
std::string resolve_links(const std::string &path) {
  char resolved[PATH_MAX];
  struct stat status {};
  if (stat(path.c_str(), &status) == 0)
    return S_ISREG(status.st_mode) && realpath(path.c_str(), resolved) != nullptr
               ? std::string(resolved)
               : path;
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    const ssize_t length = readlink(current.c_str(), resolved, sizeof resolved - 1);
    if (length <= 0) return current;
    const std::string next(resolved, static_cast<size_t>(length));
    current = next.front() == '/' ? next : folder_of(current) + "/" + next;
  }
  return current;
}

// What a path will write: an existing file by its device and inode, a file
// not there yet by its folder's and its name.
struct Identity {
  bool known = false;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  std::string name;

  bool operator==(const Identity &other) const {
    return known && other.known && exists == other.exists && device == other.device &&
           inode == other.inode && name == other.name;
  }
};

Identity identity_of_status(const struct stat &status) {
  return {true, true, status.st_dev, status.st_ino, status.st_mode, ""};
}

Identity identity_of(const std::string &target, bool standard_output) {
  struct stat status {};
  if (standard_output ? fstat(STDOUT_FILENO, &status) == 0 : stat(target.c_str(), &status) == 0)
    return identity_of_status(status);
  if (stat(folder_of(target).c_str(), &status) != 0) return {};
  return {true, false, status.st_dev, status.st_ino, 0, file_name_of(target)};
}

Identity identity_of_input(const std::string &input) {
  struct stat status {};
  const int found = input == "-" ? fstat(STDIN_FILENO, &status) : stat(input.c_str(), &status);
  return found == 0 ? identity_of_status(status) : Identity{};
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

// Makes a rename durable; file systems that cannot sync a folder are let be.
void sync_folder(const std::string &folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The mode that open(2) would give a new file.
mode_t default_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(OutputRequest request) : request_(std::move(request)) {
  if (standard_output()) {
    in_place_ = true;
    exists_ = true;
    return;
  }
  target_ = resolve_links(request_.path);
  struct stat existing {};
  exists_ = stat(target_.c_str(), &existing) == 0;
  // Devices and pipes have no contents to protect, and cannot be renamed over.
  in_place_ = exists_ && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode);
  if (exists_) mode_ = existing.st_mode & 07777;
}

OutputFile::OutputFile(OutputFile &&other) noexcept
    : request_(std::move(other.request_)),
      target_(std::move(other.target_)),
      exists_(other.exists_),
      in_place_(other.in_place_),
      mode_(other.mode_),
      fd_(std::exchange(other.fd_, -1)) {
  // A watched path must not move: the new object watches its own copy.
  if (other.watched_) stop_watching(other.temporary_path_);
  other.watched_ = false;
  temporary_path_ = std::move(other.temporary_path_);
  other.temporary_path_.clear();
  if (!temporary_path_.empty()) watched_ = watch_for_signals(temporary_path_);
}

OutputFile::~OutputFile() {
  discard();
}

std::string OutputFile::name() const {
  return standard_output() ? "standard output" : request_.option + " " + request_.path;
}

bool OutputFile::fail(const std::string &what) const {
  report((standard_output() ? std::string("standard output") : request_.path) + ": " + what);
  return false;
}

bool OutputFile::acceptable() const {
  struct stat existing {};
  const bool found = !standard_output() && stat(target_.c_str(), &existing) == 0;
  if (found && S_ISDIR(existing.st_mode)) return fail("is a directory");
  if (request_.regular_file_only && (standard_output() || in_place_))
    return fail("a database needs a regular file: name one with " + request_.option);
  if (!found || in_place_) return true;
  if (request_.existing_needs_force && !request_.force)
    return fail("the file exists (--force replaces it)");
  // A rename would replace a file that its mode keeps from being written.
  if (access(target_.c_str(), W_OK) == 0) return true;
  return fail(std::string("cannot create: ") + std::strerror(errno));
}

bool OutputFile::open() {
  if (fd_ >= 0) return true;
  return in_place_ ? open_in_place() : create_temporary();
}

bool OutputFile::open_in_place() {
  fd_ = standard_output() ? STDOUT_FILENO : ::open(request_.path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) return fail(std::string("cannot open: ") + std::strerror(errno));
  return !(request_.binary && isatty(fd_)) || refuse_terminal();
}

// Checked on the opened descriptor, so that "-o /dev/tty" is caught as well
// as standard output, and before a byte is written.
bool OutputFile::refuse_terminal() {
  const bool named = !standard_output();
  if (named) close(fd_);
  fd_ = -1;
  report((named ? request_.path : std::string("standard output")) + " is a terminal; " +
         (named ? "" : "redirect it, or ") + "name a file with " + request_.option);
  return false;
}

// ".name.XXXXXX" in the target's folder: hidden, and on the same file system,
// so that the final rename is atomic.
bool OutputFile::create_temporary() {
  const SignalsHeld held;
  std::string name = folder_of(target_) + "/." + file_name_of(target_).substr(0, 160) + ".XXXXXX";
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0)
    return fail("cannot create a temporary file in " + folder_of(target_) + ": " +
                std::strerror(errno));
  temporary_path_ = std::move(name);
  watched_ = watch_for_signals(temporary_path_);
  // mkostemp makes the file its owner's only; a replaced file's mode, which a
  // private output may depend on, or else the mode open(2) would give.
  fchmod(fd_, mode_ != 0 ? mode_ : default_mode());
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return fail("nothing was written");
  if (in_place_) {
    const bool closed = fd_ == STDOUT_FILENO || close(fd_) == 0;
    fd_ = -1;
    return closed || fail(std::strerror(errno));
  }
  // The contents reach the disk before the name does, so that a crash never
  // leaves a partial file under the final name.
  const bool synced = fsync(fd_) == 0;
  const int sync_error = errno;
  const bool closed = close(fd_) == 0;
  fd_ = -1;
  if (!synced || !closed) {
    fail(std::strerror(synced ? errno : sync_error));
    discard();
    return false;
  }
  if (!move_into_place()) {
    discard();
    return false;
  }
  if (watched_) stop_watching(temporary_path_);
  watched_ = false;
  temporary_path_.clear();
  sync_folder(folder_of(target_));
  return true;
}

bool OutputFile::move_into_place() {
  const bool replace = !request_.existing_needs_force || request_.force;
  const char *from = temporary_path_.c_str();
  const char *to = target_.c_str();
  // Without replace the rename is atomic: a file that appeared under the
  // final name while the output was written is not replaced either.
  if (replace ? std::rename(from, to) == 0 : rename_no_replace(from, to)) return true;
  if (errno == EEXIST) return fail("the file appeared while it was written (--force replaces it)");
  return fail(std::string("cannot give the file its name: ") + std::strerror(errno));
}

void OutputFile::discard() {
  const SignalsHeld held;
  if (fd_ >= 0 && fd_ != STDOUT_FILENO) close(fd_);
  fd_ = -1;
  if (temporary_path_.empty()) return;
  unlink(temporary_path_.c_str());
  if (watched_) stop_watching(temporary_path_);
  watched_ = false;
  temporary_path_.clear();
}

bool OutputFile::write(const std::function<bool(OutputSink *)> &write) {
  if (!open()) return false;
  bool written = false;
  {
    OutputSink sink(fd_);
    written = write(&sink);
    if (!written) report("cannot write the output " + name() + ": " + sink.error());
  }
  if (written) return commit();
  discard();
  return false;
}

bool OutputFile::same_target(const OutputFile &other) const {
  if (standard_output() && other.standard_output()) return true;
  const Identity mine = identity_of(target_, standard_output());
  const Identity theirs = identity_of(other.target_, other.standard_output());
  // A character device (/dev/null, a terminal) may well take both.
  return mine == theirs && !(mine.exists && S_ISCHR(mine.mode));
}

const std::string *OutputFile::file_read_under(const std::vector<std::string> &files_read) const {
  const Identity mine = identity_of(target_, standard_output());
  // Regular files only: a terminal or a pipe may well be input and output at
  // once, and writing to one destroys nothing.
  if (!mine.exists || !S_ISREG(mine.mode)) return nullptr;
  for (const std::string &file : files_read)
    if (identity_of_input(file) == mine) return &file;
  return nullptr;
}

bool prepare_outputs(const std::vector<OutputFile *> &outputs,
                     const std::vector<std::string> &files_read) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    const OutputFile &output = *outputs[i];
    if (const std::string *input = output.file_read_under(files_read)) {
      report("cannot write to " +
             (output.standard_output() ? std::string("standard output") : output.request().path) +
             ": it is the same file as the input " + input_display_name(*input) +
             "; nothing was written");
      return false;
    }
    for (size_t j = 0; j < i; ++j)
      if (outputs[j]->same_target(output)) {
        report(outputs[j]->name() + " and " + output.name() +
               " name the same file; nothing was written");
        return false;
      }
    if (!output.acceptable()) return false;
  }
  for (OutputFile *output : outputs)
    if (!output->open()) return false;
  return true;
}

}  // namespace vxtrace
