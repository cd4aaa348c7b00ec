// The inputs of a reading command: the plug-in, every input file opened
// once, and a session over each input whose header could be read.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/plugin_loader.h"
#include "core/trace_session.h"

namespace vxtrace {

// Sees every event definition as it is read, with the index of its source.
using SourceDefinitionObserver = std::function<void(size_t source, uint32_t id, const char *name)>;

// One input as given, open from the start to the end of the run: a pipe
// cannot be opened twice, and a path may name another file by the time it
// is opened again.
class InputFile {
 public:
  InputFile(std::string path, int fd, bool owned, const struct stat &status);
  InputFile(InputFile &&other) noexcept;
  InputFile &operator=(InputFile &&) = delete;
  ~InputFile();

  const std::string &path() const { return path_; }  // as given, "-" for standard input
  const std::string &display_name() const { return display_name_; }
  int fd() const { return fd_; }
  // A regular file with a size: it can be looked at ahead and read in parts.
  // Anything else is a stream, read once from where it stands.
  bool seekable() const { return S_ISREG(status_.st_mode) && status_.st_size > 0; }
  bool same_file(const InputFile &other) const {
    return status_.st_dev == other.status_.st_dev && status_.st_ino == other.status_.st_ino;
  }

 private:
  std::string path_;
  std::string display_name_;
  int fd_;
  bool owned_;
  struct stat status_;
};

// One input whose header was read, and its session.
struct OpenedSource {
  std::string path;  // as given on the command line
  std::string display_name;
  std::unique_ptr<TraceSession> session;
  int fd = -1;  // the input's file, which stays the InputFile's
};

// The plug-in, the files and the sessions, in command-line order. An input
// whose header is damaged is reported, named in refusals and left out; the
// others are read, and exit_status then says so (2). With no source at all,
// exit_status tells why nothing can be read.
struct OpenedInput {
  Plugin plugin;
  std::vector<InputFile> files;  // every input given; outlives the sessions
  std::vector<OpenedSource> sources;
  // Why each refused input was refused: the reader's message, which names it.
  std::vector<std::string> refusals;
  int exit_status = kExitSuccess;
  SourceDefinitionObserver definition_observer;  // what the sessions report to

  // For the paths that read a single input.
  const OpenedSource &sole() const { return sources.front(); }
  // The readable inputs as given, and as messages name them.
  std::vector<std::string> paths() const;
  std::vector<std::string> display_names() const;
  // Every input given, as messages name them.
  std::vector<std::string> given_display_names() const;
};

// Loads the plug-in of options and routes its log lines; false, reported,
// when it cannot be loaded.
bool load_plugin(const InputOptions &options, OpenedInput *opened);

// Opens every input once. False, reported, when one cannot be opened (nothing
// is read then) or when one stream (a pipe, a terminal) is given twice under
// any names: its bytes would be shared between the two readers.
bool open_input_files(const InputOptions &options, OpenedInput *opened);

// A session over each file. An input refused at its header is reported and
// recorded; an input that cannot be read stops everything (no sources).
void open_sessions(OpenedInput *opened, SourceDefinitionObserver on_definition = {});

// The three steps above, for callers without outputs or a selection to check
// in between.
void open_input(const InputOptions &options, OpenedInput *opened,
                SourceDefinitionObserver on_definition = {});

// The files that a command reads while it writes: the traces and the
// plug-in, which is mapped and would fault if it were truncated.
std::vector<std::string> files_read(const InputOptions &options, const OpenedInput &opened);

// Why inputs were refused or ended early, or "" when every input given was
// read to its end: the messages (which name their input), joined by "; ".
std::string input_errors(const OpenedInput &opened);

// After the event loop: reports damage or a read failure of each input and
// returns the exit status for all of them, refused ones included: 1 when one
// could not be read, 2 when one is damaged.
int input_exit_status(const OpenedInput &opened);

// Reports error, met by a reader of a range of opened's sole input (whose
// messages do not name the input), and returns the exit status for it.
int report_input_error(const OpenedInput &opened, const vxt_error &error);

}  // namespace vxtrace
