// The options of a CLI11 command as --help lists them, in a plain form that
// the man pages and the completion scripts are written from: both are made
// from the declared options at build time, so neither can drift from --help.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vxtrace {

struct OptionDoc {
  std::vector<std::string> names;  // "-o", "--output"; empty for a positional
  std::string value;               // "FILE", "N"; empty for a flag
  std::string description;
  bool repeatable = false;  // may be given more than once, each time with a value
};

// The options that --help shows (hidden ones left out), positionals after them.
std::vector<OptionDoc> documented_options(const CLI::App &command);

// The positionals as a synopsis shows them: "FILE..." or "FILE".
std::string positional_synopsis(const CLI::App &command);

}  // namespace vxtrace
