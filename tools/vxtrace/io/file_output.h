// Where a command's output goes. A file, new or replaced, is written under a
// temporary name beside it and renamed when complete, so that an
// interrupted or failed run leaves the previous file (or none) under its
// name, never half an output that could pass for a whole one. Standard
// output, devices and pipes are written in place. An existing file is
// replaced (keeping its mode, and the link that names it): an output is
// remade from its trace at will.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/pending_file.h"
#include "text/output_sink.h"

namespace vxtrace {

class FileOutput {
 public:
  // path "" or "-" is standard output; inputs are the files being read.
  FileOutput(std::string path, std::vector<std::string> inputs);

  // Refuses, reported, an output that is one of the inputs, a directory, or
  // a file that open(2) could not write either.
  bool acceptable() const;

  // Creates the temporary file of a file output (nothing for one written in
  // place). A process watches one temporary file at a time for signals, so
  // outputs are opened one after the other, each once the one before was
  // written. False, reported, on failure.
  bool open();

  // Opens the output if need be, lets write fill it and gives a file its
  // name; false, reported, when it was not written whole.
  bool write(const std::function<bool(OutputSink *)> &write);

 private:
  std::string path_;
  std::vector<std::string> inputs_;
  std::string file_;  // the file to replace: path_, or the file a link names
  bool in_place_ = false;
  mode_t mode_ = 0;  // of the file replaced; 0 for a new file
  std::unique_ptr<PendingFile> pending_;
};

// Reports and returns true when the output path ("" and "-": standard
// output) is one of the inputs ("-" for standard input), which writing would
// destroy; nothing should then be opened.
bool output_is_an_input(const std::string &path, const std::vector<std::string> &inputs);

// Writes one output whole through FileOutput: nullopt, reported, when it was
// refused or could not be created (nothing was written); otherwise whether
// everything was written (a failed close or rename loses data too). The
// output is refused when it is one of the inputs ("-" for standard input),
// before anything is opened, since truncating it would destroy the trace
// being read.
std::optional<bool> write_output(const std::string &path, const std::vector<std::string> &inputs,
                                 const std::function<bool(OutputSink *)> &write);

}  // namespace vxtrace
