// What the build writes with vxtrace itself once it is linked, so that they
// follow the declared options: the man pages (--emit-man DIR) and the shell
// completion scripts (--emit-completion bash|zsh [FILE]). These modes are
// for the build and are left out of --help.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vxtrace {

// The exit status when words (the command line after the program's name)
// ask for one of these modes; nothing when they do not.
std::optional<int> run_build_output_mode(const CLI::App &tool,
                                         const std::vector<std::string> &words);

}  // namespace vxtrace
