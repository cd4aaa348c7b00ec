#include "io/signal_cleanup.h"

#include <unistd.h>

#include <iterator>

namespace vxtrace {
namespace {

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The files a signal must remove. The handler only reads the slots and makes
// async-signal-safe calls; the slots change only with the signals held.
const char *volatile watched[8] = {};
struct sigaction previous_actions[std::size(kWatchedSignals)];
int watched_count = 0;

void remove_watched_and_die(int signal_number) {
  for (const char *path : watched)
    if (path != nullptr) unlink(path);
  // SA_RESETHAND restored the default action: the signal, raised again, ends
  // the process once the handler returns.
  raise(signal_number);
}

void install_handler() {
  struct sigaction action {};
  action.sa_handler = remove_watched_and_die;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : kWatchedSignals) sigaddset(&action.sa_mask, signal_number);
  for (size_t i = 0; i < std::size(kWatchedSignals); ++i) {
    sigaction(kWatchedSignals[i], nullptr, &previous_actions[i]);
    if (previous_actions[i].sa_handler != SIG_IGN) sigaction(kWatchedSignals[i], &action, nullptr);
  }
}

void restore_handlers() {
  for (size_t i = 0; i < std::size(kWatchedSignals); ++i)
    sigaction(kWatchedSignals[i], &previous_actions[i], nullptr);
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

bool watch_for_signals(const std::string &path) {
  const SignalsHeld held;
  for (const char *volatile &slot : watched) {
    if (slot != nullptr) continue;
    if (watched_count++ == 0) install_handler();
    slot = path.c_str();
    return true;
  }
  return false;
}

void stop_watching(const std::string &path) {
  const SignalsHeld held;
  for (const char *volatile &slot : watched) {
    if (slot != path.c_str()) continue;
    slot = nullptr;
    if (--watched_count == 0) restore_handlers();
    return;
  }
}

}  // namespace vxtrace
