// protoc's text format as a tree, for tests that decode a native timeline
// with protoc and the project's .proto.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vxtrace_test {

struct Node {
  std::string name;
  std::string value;  // unquoted and unescaped for strings
  std::vector<Node> children;

  const Node *child(const std::string &wanted) const {
    for (const Node &node : children)
      if (node.name == wanted) return &node;
    return nullptr;
  }
  std::string get(const std::string &wanted) const {
    const Node *node = child(wanted);
    return node ? node->value : "";
  }
  std::vector<const Node *> all(const std::string &wanted) const {
    std::vector<const Node *> found;
    for (const Node &node : children)
      if (node.name == wanted) found.push_back(&node);
    return found;
  }
};

// Parses the text that protoc --decode prints.
Node parse_text_format(const std::string &text);

// The trace decoded by protoc as perfetto.protos.Trace; records a failure
// when protoc fails, nullopt when protoc is not installed.
std::optional<Node> decode_with_protoc(const std::string &trace);

}  // namespace vxtrace_test
