// Runs the vxtrace executable as a child process for the command-line tests,
// and writes small trace files for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/temporary_files.h"

namespace vxtrace_test {

struct ProcessResult {
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;        // the signal that ended the child, 0 when it exited
  std::string out;
  std::string err;
  long peak_rss_kib = 0;  // the child's largest resident set
};

// Runs vxtrace with args; stdin_path (when not empty) becomes its standard
// input. Output and errors are collected through files in directory.
ProcessResult run_vxtrace(const std::vector<std::string> &args, const std::string &directory,
                          const std::string &stdin_path = "");

// Which of the child's streams is a terminal.
enum class TerminalStream { standard_output, standard_error };

// Runs vxtrace with one stream on a pseudo-terminal, as a user at a
// terminal runs it; what reached the terminal is in out or err, the other
// stream is collected as run_vxtrace collects it. The terminal is raw: the
// text is the bytes written.
ProcessResult run_vxtrace_on_terminal(const std::vector<std::string> &args,
                                      const std::string &directory, TerminalStream terminal,
                                      const std::string &stdin_path = "");

// The same in two steps, for tests that act on the running child.
int start_vxtrace(const std::vector<std::string> &args, const std::string &directory,
                  const std::string &stdin_path = "");
ProcessResult wait_for_vxtrace(int pid, const std::string &directory);

// The names in directory, sorted, but for the runner's own output files.
std::vector<std::string> files_in(const std::string &directory);

std::vector<std::string> split_lines(const std::string &text);

}  // namespace vxtrace_test
