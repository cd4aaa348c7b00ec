#include "cli/command.h"

namespace vxtrace {

std::string command_names(std::span<const Command> commands) {
  std::string names;
  for (size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) names += i + 1 == commands.size() ? " and " : ", ";
    names += commands[i].name;
  }
  return names;
}

}  // namespace vxtrace
