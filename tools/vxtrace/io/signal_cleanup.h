// Temporary files that SIGINT, SIGTERM and SIGHUP remove before they end the
// process as they would have: an interrupted command leaves neither half an
// output under its name nor a stray file beside it. A command may have
// several outputs pending at once (a page and a report, a trace and its
// manifest); each is watched while it exists.
#pragma once

#include <signal.h>

#include <string>

namespace vxtrace {

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

// Starts and stops watching path, which must stay unchanged in between. A
// signal the process ignores (nohup, a background job) stays ignored. False
// when too many files are watched at once (the file is then not watched).
bool watch_for_signals(const std::string &path);
void stop_watching(const std::string &path);

}  // namespace vxtrace
