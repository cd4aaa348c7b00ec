// A file written under a temporary name beside its final one and renamed
// when it is complete, so that an interrupted run never leaves a partial file
// under the final name. SIGINT, SIGTERM and SIGHUP remove the temporary file,
// then end the process as the signal would have.
#pragma once

#include <signal.h>

#include <string>

namespace vxtrace {

inline constexpr int kWatchedSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the watched signals while a temporary file comes into being or
// goes, so that a handler never sees a half-made state: a signal that
// arrives meanwhile is delivered when this goes.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;

 private:
  sigset_t previous_;
};

// While watching, SIGINT, SIGTERM and SIGHUP remove the file at a path, then
// end the process as the signal would have; for files written under a
// temporary name by other means than PendingFile. One watch at a time in a
// process.
class RemovedOnSignal {
 public:
  RemovedOnSignal() = default;
  RemovedOnSignal(const RemovedOnSignal &) = delete;
  RemovedOnSignal &operator=(const RemovedOnSignal &) = delete;
  ~RemovedOnSignal() { release(); }

  // path must stay unchanged until release.
  void watch(const std::string &path);
  // Stops watching: the file got its final name or was removed.
  void release();

 private:
  bool watched_ = false;
  struct sigaction previous_[3]{};
};

class PendingFile {
 public:
  // Creates the temporary file in the directory of path; check opened().
  // Failures are reported.
  explicit PendingFile(const std::string &path);
  PendingFile(const PendingFile &) = delete;
  PendingFile &operator=(const PendingFile &) = delete;
  // Removes the temporary file unless it was committed.
  ~PendingFile();

  bool opened() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Syncs and closes the file and gives it its final name, replacing an
  // existing file only when replace is set. False, reported, on failure; the
  // temporary file is then removed.
  bool commit(bool replace);

 private:
  bool move_into_place(bool replace);
  void discard();

  std::string path_;
  std::string temporary_path_;
  int fd_ = -1;
  RemovedOnSignal removal_;
};

}  // namespace vxtrace
