#include "io/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/diagnostics.h"
#include "io/inputs.h"

namespace vxtrace {
namespace {

// The temporary file that a signal must remove; null when there is none. The
// handler may only read it, and only async-signal-safe calls are made there.
const char *volatile temporary_to_remove = nullptr;

void remove_temporary_and_die(int signal_number) {
  if (const char *path = temporary_to_remove) unlink(path);
  // SA_RESETHAND restored the default action: the signal, raised again, ends
  // the process once the handler returns.
  raise(signal_number);
}

// ".name.XXXXXX" in the directory of path: hidden, and on the same file
// system, so that the final rename is atomic.
std::string temporary_name_for(const std::string &path) {
  const size_t slash = path.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base) + ".XXXXXX";
}

// mkstemp creates the file for its owner only; a finished file gets the mode
// that open(2) would have given it.
void give_default_mode(int fd) {
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
}

}  // namespace

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal_number : kWatchedSignals) sigaddset(&held, signal_number);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

PendingFile::PendingFile(const std::string &path)
    : path_(path), temporary_path_(temporary_name_for(path)) {
  const SignalsHeld held;
  fd_ = mkostemp(temporary_path_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    report(path_ + ": cannot create a temporary file beside it: " + std::strerror(errno));
    return;
  }
  give_default_mode(fd_);
  removal_.watch(temporary_path_);
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) discard();
}

bool PendingFile::commit(bool replace) {
  const bool synced = fsync(fd_) == 0;
  const int sync_error = errno;
  const bool closed = close(fd_) == 0;
  fd_ = -1;
  if (!synced || !closed) {
    report(path_ + ": " + std::strerror(synced ? errno : sync_error));
    discard();
    return false;
  }
  if (move_into_place(replace)) {
    removal_.release();
    return true;
  }
  discard();
  return false;
}

bool PendingFile::move_into_place(bool replace) {
  const char *from = temporary_path_.c_str();
  const char *to = path_.c_str();
  // Without replace the rename is atomic: a file that appeared under the
  // final name while the trace was written is not replaced either.
  int result =
      replace ? rename(from, to) : renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
  // A file system without RENAME_NOREPLACE: a last look, then a plain rename.
  struct stat existing {};
  if (result != 0 && !replace && errno == EINVAL)
    result = lstat(to, &existing) == 0 ? (errno = EEXIST, -1) : rename(from, to);
  if (result == 0) return true;
  if (errno == EEXIST)
    report(path_ + ": the file exists (--force replaces it)");
  else
    report(path_ + ": cannot give the file its name: " + std::strerror(errno));
  return false;
}

void PendingFile::discard() {
  const SignalsHeld held;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  unlink(temporary_path_.c_str());
  removal_.release();
}

void RemovedOnSignal::watch(const std::string &path) {
  const SignalsHeld held;
  release();
  temporary_to_remove = path.c_str();
  struct sigaction action {};
  action.sa_handler = remove_temporary_and_die;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : kWatchedSignals) sigaddset(&action.sa_mask, signal_number);
  for (int i = 0; i < 3; ++i) {
    sigaction(kWatchedSignals[i], nullptr, &previous_[i]);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (previous_[i].sa_handler != SIG_IGN) sigaction(kWatchedSignals[i], &action, nullptr);
  }
  watched_ = true;
}

void RemovedOnSignal::release() {
  if (!watched_) return;
  const SignalsHeld held;
  temporary_to_remove = nullptr;
  for (int i = 0; i < 3; ++i) sigaction(kWatchedSignals[i], &previous_[i], nullptr);
  watched_ = false;
}

}  // namespace vxtrace
