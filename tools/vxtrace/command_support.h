// What the commands that read a trace share: loading the plug-in, opening the
// input, and reporting damage once the records before it are out.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "plugin_loader.h"
#include "trace_session.h"

namespace vxtrace {

// Writes "vxtrace: message" to standard error.
void report(const std::string &message);

// A loaded plug-in and a session over the opened input. On failure session
// is null and exit_status tells why.
struct OpenedInput {
  Plugin plugin;
  std::unique_ptr<TraceSession> session;
  std::string display_name;
  int exit_status = kExitSuccess;
};

void open_input(const InputOptions &options, OpenedInput *opened);

// Creates the output file; standard output for "" and "-". -1, reported,
// when it cannot be created.
int open_output_file(const std::string &path);

// Closes what open_output_file opened. A failed close loses written data, so
// it is reported and turns a successful write into a failed one.
bool close_output_file(int fd, const std::string &path, bool written);

// After the event loop: reports damage or a read failure of the input and
// returns the exit status for it.
int input_exit_status(const OpenedInput &opened);

// Reports error, met by another reader of opened's input, and returns the
// exit status for it.
int report_input_error(const OpenedInput &opened, const vxt_error &error);

}  // namespace vxtrace
