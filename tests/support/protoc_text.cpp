#include "support/protoc_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vxtrace_test {
namespace {

std::string unescape(const std::string &quoted) {
  std::string out;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] != '\\') {
      out += quoted[i];
      continue;
    }
    const char c = quoted[++i];
    if (c >= '0' && c <= '7') {
      int value = 0;
      for (int digits = 0; digits < 3 && quoted[i] >= '0' && quoted[i] <= '7'; ++digits)
        value = value * 8 + (quoted[i++] - '0');
      --i;
      out += static_cast<char>(value);
    } else {
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
  }
  return out;
}

}  // namespace

Node parse_text_format(const std::string &text) {
  Node root;
  std::vector<Node *> open{&root};
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line.erase(0, line.find_first_not_of(' '));
    if (line.empty()) continue;
    if (line == "}") {
      open.pop_back();
    } else if (line.ends_with(" {")) {
      open.back()->children.push_back({line.substr(0, line.size() - 2), "", {}});
      open.push_back(&open.back()->children.back());
    } else {
      const size_t colon = line.find(": ");
      std::string value = line.substr(colon + 2);
      if (value.starts_with('"')) value = unescape(value);
      open.back()->children.push_back({line.substr(0, colon), value, {}});
    }
  }
  return root;
}

// The trace decoded by protoc; nullopt (with the test skipped) without it.
std::optional<Node> decode_with_protoc(const std::string &trace) {
  if (std::system("command -v protoc >/dev/null 2>&1") != 0) return std::nullopt;
  char path[] = "/tmp/vx_perfetto_XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, trace.data(), trace.size()), static_cast<ssize_t>(trace.size()));
  close(fd);
  const std::string base = path;
  const std::string command = "protoc --decode=perfetto.protos.Trace --proto_path=" VX_SOURCE_DIR
                              "/tools/vxtrace/timeline perfetto_subset.proto < " +
                              base + " > " + base + ".txt 2> " + base + ".err";
  const int status = std::system(command.c_str());
  std::ifstream decoded(base + ".txt"), errors(base + ".err");
  const std::string text{std::istreambuf_iterator<char>(decoded), {}};
  const std::string error{std::istreambuf_iterator<char>(errors), {}};
  for (const std::string &file : {base, base + ".txt", base + ".err"}) std::remove(file.c_str());
  EXPECT_EQ(status, 0) << error;
  return parse_text_format(text);
}

}  // namespace vxtrace_test
