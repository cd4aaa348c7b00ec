// What the commands that read a trace share: loading the plug-in, opening the
// input, and reporting damage once the records before it are out.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/plugin_loader.h"
#include "core/trace_session.h"
#include "text/output_sink.h"

namespace vxtrace {

// Writes "vxtrace: message" to standard error.
void report(const std::string &message);

// Sees every event definition as it is read, with the index of its source.
using SourceDefinitionObserver = std::function<void(size_t source, uint32_t id, const char *name)>;

// One input and its session.
struct OpenedSource {
  std::string path;  // as given on the command line
  std::string display_name;
  std::unique_ptr<TraceSession> session;
};

// A loaded plug-in and a session over each input that could be opened, in
// command-line order. An input whose header is damaged is reported and left
// out, and the others are read; exit_status then says so (2). With no source
// at all, exit_status tells why nothing can be read.
struct OpenedInput {
  Plugin plugin;
  std::vector<OpenedSource> sources;
  int exit_status = kExitSuccess;
  SourceDefinitionObserver definition_observer;  // what the sessions report to

  // For the paths that read a single input.
  const OpenedSource &sole() const { return sources.front(); }
  // The inputs as given on the command line, and as messages name them.
  std::vector<std::string> paths() const;
  std::vector<std::string> display_names() const;
};

// Opens every input of options. An input that cannot be read at all (no
// such file, a read error) stops everything: nothing is opened.
void open_input(const InputOptions &options, OpenedInput *opened,
                SourceDefinitionObserver on_definition = {});

// The files that a command reads while it writes: the traces and the
// plug-in, which is mapped and would fault if it were truncated.
std::vector<std::string> files_read(const InputOptions &options, const OpenedInput &opened);

// Reports and returns true when the output path ("" and "-": standard
// output) is one of the inputs ("-" for standard input), which writing would
// destroy; nothing should then be opened.
bool output_is_an_input(const std::string &path, const std::vector<std::string> &inputs);

// Why inputs ended early, or "" when every input was read to its end: the
// readers' messages (which name their input), joined by "; ".
std::string input_errors(const OpenedInput &opened);

// After the event loop: reports damage or a read failure of each input and
// returns the exit status for all of them: 1 when one could not be read, 2
// when one is damaged.
int input_exit_status(const OpenedInput &opened);

// The exit status of a command that turned its input into an output. A
// failed output is 1 whatever the input: 2 promises that everything before
// the damage was written.
int run_exit_status(bool output_written, int input_status);

// Reports error, met by a reader of a range of opened's sole input (whose
// messages do not name the input), and returns the exit status for it.
int report_input_error(const OpenedInput &opened, const vxt_error &error);

}  // namespace vxtrace
