// The shell completion scripts, written from the declared commands: every
// command, and every option of the command being typed.
#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace vxtrace {

// The script for shell ("bash" or "zsh"); nothing for another shell.
std::optional<std::string> completion_script(const CLI::App &tool, const std::string &shell);

}  // namespace vxtrace
