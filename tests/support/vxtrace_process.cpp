#include "support/vxtrace_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

}  // namespace

int start_vxtrace(const std::vector<std::string> &args, const std::string &directory,
                  const std::string &stdin_path) {
#ifdef VX_VXTRACE_PATH
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(
      &actions, STDIN_FILENO, stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY, 0);
  const std::string out = out_path(directory), err = err_path(directory);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
  (void)args, (void)directory, (void)stdin_path;
  return -1;
#endif
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
