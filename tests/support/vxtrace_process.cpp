#include "support/vxtrace_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace vxtrace_test {

namespace {

std::string out_path(const std::string &directory) {
  return directory + "/.stdout";
}

std::string err_path(const std::string &directory) {
  return directory + "/.stderr";
}

// A pseudo-terminal in raw mode, the test holding both ends.
struct PseudoTerminal {
  PseudoTerminal() {
    controller = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (controller < 0 || grantpt(controller) != 0 || unlockpt(controller) != 0)
      throw std::runtime_error("cannot make a pseudo-terminal");
    name = ptsname(controller);
    terminal = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (terminal < 0 || tcgetattr(terminal, &mode) != 0)
      throw std::runtime_error("cannot open " + name);
    cfmakeraw(&mode);
    tcsetattr(terminal, TCSANOW, &mode);
    fcntl(controller, F_SETFL, O_NONBLOCK);
  }
  ~PseudoTerminal() {
    close(terminal);
    close(controller);
  }

  // Reads what is there; true while the terminal may still give more.
  bool take(std::string *text, int wait_ms) const {
    pollfd ready{controller, POLLIN, 0};
    if (poll(&ready, 1, wait_ms) <= 0) return false;
    char bytes[4096];
    ssize_t length = 0;
    while ((length = read(controller, bytes, sizeof bytes)) > 0)
      text->append(bytes, static_cast<size_t>(length));
    return true;
  }

  int controller = -1;
  int terminal = -1;
  std::string name;
};

void add_standard_streams(posix_spawn_file_actions_t *actions, const std::string &directory,
                          const std::string &stdin_path) {
  posix_spawn_file_actions_addopen(
      actions, STDIN_FILENO, stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY, 0);
  const std::string out = out_path(directory), err = err_path(directory);
  posix_spawn_file_actions_addopen(actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

// terminal_fd, when not -1, replaces the stream onto.
int spawn_vxtrace(const std::vector<std::string> &args, const std::string &directory,
                  const std::string &stdin_path, int terminal_fd, int onto) {
#ifdef VX_VXTRACE_PATH
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  add_standard_streams(&actions, directory, stdin_path);
  if (terminal_fd >= 0) posix_spawn_file_actions_adddup2(&actions, terminal_fd, onto);
  std::vector<std::string> argv_strings{VX_VXTRACE_PATH};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, VX_VXTRACE_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start vxtrace");
  return pid;
#else
  (void)args, (void)directory, (void)stdin_path, (void)terminal_fd, (void)onto;
  return -1;
#endif
}

}  // namespace

int start_vxtrace(const std::vector<std::string> &args, const std::string &directory,
                  const std::string &stdin_path) {
  return spawn_vxtrace(args, directory, stdin_path, -1, -1);
}

ProcessResult wait_for_vxtrace(int pid, const std::string &directory) {
  ProcessResult result;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peak_rss_kib = usage.ru_maxrss;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = read_file(out_path(directory));
  result.err = read_file(err_path(directory));
  return result;
}

ProcessResult run_vxtrace_on_terminal(const std::vector<std::string> &args,
                                      const std::string &directory, TerminalStream terminal,
                                      const std::string &stdin_path) {
  const PseudoTerminal pty;
  const int onto = terminal == TerminalStream::standard_output ? STDOUT_FILENO : STDERR_FILENO;
  const int pid = spawn_vxtrace(args, directory, stdin_path, pty.terminal, onto);
  // Read while the child writes, so that a full terminal never stops it;
  // then until the terminal has been quiet a while, for the last bytes.
  std::string shown;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) pty.take(&shown, 20);
  while (pty.take(&shown, 200)) {
  }
  ProcessResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = read_file(out_path(directory));
  result.err = read_file(err_path(directory));
  (terminal == TerminalStream::standard_output ? result.out : result.err) = shown;
  return result;
}

ProcessResult run_vxtrace(const std::vector<std::string> &args, const std::string &directory,
                          const std::string &stdin_path) {
#ifdef VX_VXTRACE_PATH
  return wait_for_vxtrace(start_vxtrace(args, directory, stdin_path), directory);
#else
  (void)args, (void)directory, (void)stdin_path;
  return {};
#endif
}

std::vector<std::string> files_in(const std::string &directory) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name != ".stdout" && name != ".stderr") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace vxtrace_test
