// Where a command's output goes. A file, new or replaced, is written under a
// temporary name beside it and renamed when complete, so that an
// interrupted or failed run leaves the previous file (or none) under its
// name, never half an output that could pass for a whole one. Standard
// output, devices and pipes, and links to them, are written in place, never
// replaced. A replaced file keeps its mode; a link that names the output
// keeps pointing at it, and the file it names (or will name) is written.
//
//   OutputFile page({.path = "r.html", .option = "--html"});
//   if (!prepare_outputs({&page, &text}, files_read)) return;  // nothing read yet
//   ... read ...
//   page.write([&](OutputSink *sink) { ...; return sink->flush(); });
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "text/output_sink.h"

namespace vxtrace {

struct OutputRequest {
  std::string path;           // "" or "-": standard output
  std::string option = "-o";  // how messages name the output
  // An existing file is a recording or a database someone made: it is
  // replaced only with --force. Without this, it is replaced at will (a
  // report or a dump is remade from its trace).
  bool existing_needs_force = false;
  bool force = false;
  // A database: never standard output, a device or a pipe.
  bool regular_file_only = false;
  // Bytes that a terminal would take for control sequences (a trace, a
  // protobuf timeline): never a terminal.
  bool binary = false;
};

class OutputFile {
 public:
  explicit OutputFile(OutputRequest request);
  OutputFile(OutputFile &&other) noexcept;
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  OutputFile &operator=(OutputFile &&) = delete;
  // Removes the temporary file unless it was committed.
  ~OutputFile();

  // Refuses, reported, a target that cannot take the output: a directory,
  // an existing file without --force where that is needed, a device or pipe
  // for a database, a file that cannot be written.
  bool acceptable() const;

  // Creates the temporary file beside the target, or opens standard output,
  // a device or a pipe in place (a terminal refused for binary output);
  // reported on failure. Once is enough.
  bool open();
  int fd() const { return fd_; }
  // The file being written before it gets its name; "" when in place.
  const std::string &temporary_path() const { return temporary_path_; }

  // Closes the output; a file is synced, given its name (replacing only
  // what may be replaced) and its folder synced. False, reported, when it
  // was not written whole: the temporary file is then removed.
  bool commit();
  // Removes the temporary file, if any.
  void discard();

  // Opens the output if need be, lets write fill it and commits; false,
  // reported, when it was not written whole.
  bool write(const std::function<bool(OutputSink *)> &write);

  // "standard output", or the option and the path: "--html r.html".
  std::string name() const;
  const OutputRequest &request() const { return request_; }
  // Standard output, a device or a pipe: written as it comes.
  bool in_place() const { return in_place_; }
  bool standard_output() const { return request_.path.empty() || request_.path == "-"; }

  // Whether this and other would write the same file, however spelled and
  // whether it exists yet (a character device such as /dev/null takes
  // both).
  bool same_target(const OutputFile &other) const;
  // The file read among files_read (paths, "-" for standard input) that
  // this output would overwrite, or null.
  const std::string *file_read_under(const std::vector<std::string> &files_read) const;

 private:
  bool fail(const std::string &what) const;
  bool open_in_place();
  bool refuse_terminal();
  bool create_temporary();
  bool move_into_place();

  OutputRequest request_;
  std::string target_;  // the path, or the file its links name
  bool exists_ = false;
  bool in_place_ = false;
  mode_t mode_ = 0;  // of the file replaced; 0 for a new file
  int fd_ = -1;
  std::string temporary_path_;
  bool watched_ = false;
};

// Checks all of a command's outputs before anything is read or written:
// each acceptable, none the same file as another or as a file read
// (however spelled, existing or not), and opens them all, so that a folder
// where no file can be made is refused now. False, reported: nothing was
// written.
bool prepare_outputs(const std::vector<OutputFile *> &outputs,
                     const std::vector<std::string> &files_read);

}  // namespace vxtrace
