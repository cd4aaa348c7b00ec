// A file that appears under its final name only when it is complete: it is
// written under a temporary name in the same folder, then renamed. Destroyed
// before commit, it removes the temporary file, so an interrupted or failed
// run leaves nothing under the final name and no stray file beside it.
#pragma once

#include <string>

namespace vxtrace {

class TemporaryOutput {
 public:
  TemporaryOutput() = default;
  TemporaryOutput(const TemporaryOutput &) = delete;
  TemporaryOutput &operator=(const TemporaryOutput &) = delete;
  ~TemporaryOutput() { discard(); }

  // Creates an empty temporary file beside final_path. Refuses a final path
  // that exists, unless replace is set and it is a regular file (or a link
  // to one). False with error() set on failure.
  bool create(const std::string &final_path, bool replace);

  // Syncs the temporary file, renames it to the final name (refusing, without
  // replace, a file that appeared there meanwhile) and syncs the folder.
  bool commit();

  // Removes the temporary file and its journal, if any. Idempotent.
  void discard();

  const std::string &temporary_path() const { return temporary_path_; }
  const std::string &final_path() const { return final_path_; }
  const std::string &error() const { return error_; }

 private:
  bool fail(const std::string &what, int error_number);

  std::string final_path_;
  std::string temporary_path_;  // empty when there is nothing to remove
  bool replace_ = false;
  std::string error_;
};

}  // namespace vxtrace
