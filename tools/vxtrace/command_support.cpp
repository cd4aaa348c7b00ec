#include "command_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vxtrace {
namespace {

int exit_status_for(const vxt_error &error) {
  return error.status == VXT_IO_ERROR ? kExitUsage : kExitDamagedInput;
}

}  // namespace

void report(const std::string &message) {
  std::fprintf(stderr, "vxtrace: %s\n", message.c_str());
}

void open_input(const InputOptions &options, OpenedInput *opened) {
  opened->display_name = input_display_name(options.input);
  std::string error;
  if (!opened->plugin.load(options.plugin, &error)) {
    report(error);
    opened->exit_status = kExitUsage;
    return;
  }
  if (options.quiet) silence_plugin_logs(opened->plugin.api());
  vxt_error open_error{};
  vxt_reader *reader = open_trace(options.input, &open_error);
  if (reader == nullptr) {
    report(opened->display_name + ": " + open_error.message);
    opened->exit_status = exit_status_for(open_error);
    return;
  }
  opened->session = std::make_unique<TraceSession>(opened->plugin.api(), reader);
  if (!opened->session->ok()) {
    report("the plug-in could not create a buffer iterator");
    opened->session.reset();
    opened->exit_status = kExitUsage;
  }
}

int open_output_file(const std::string &path) {
  if (path.empty() || path == "-") return STDOUT_FILENO;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) report(path + ": cannot create: " + std::strerror(errno));
  return fd;
}

bool close_output_file(int fd, const std::string &path, bool written) {
  if (fd == STDOUT_FILENO || close(fd) == 0 || !written) return written;
  report(path + ": " + std::strerror(errno));
  return false;
}

int input_exit_status(const OpenedInput &opened) {
  const vxt_error &error = *vxt_reader_error(opened.session->reader());
  if (error.status == VXT_OK) return kExitSuccess;
  return report_input_error(opened, error);
}

int report_input_error(const OpenedInput &opened, const vxt_error &error) {
  report(opened.display_name + ": " + error.message);
  return exit_status_for(error);
}

}  // namespace vxtrace
