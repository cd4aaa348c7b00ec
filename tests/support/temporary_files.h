// Files for the tests in a directory of their own, and whole-file reads and
// writes.
#pragma once

#include <string>

namespace vxtrace_test {

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory &) = delete;
  TemporaryDirectory &operator=(const TemporaryDirectory &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

}  // namespace vxtrace_test
