// A vxtrace command as main.cpp lists it: its name, its one-line summary, and
// the function that declares its options and returns its run. The help, the
// unknown-command message and every other listing of the commands come from
// this table, so a command is added in one place.
#pragma once

#include <functional>
#include <span>
#include <string>

namespace CLI {
class App;
}

namespace vxtrace {

// A command's run, bound to the options that the command line was parsed
// into; returns the exit status.
using CommandRun = std::function<int()>;

struct Command {
  const char *name;
  const char *summary;
  // Declares the options on the command's own CLI::App, in the order that
  // cli/options.h documents, and returns the run that reads them.
  CommandRun (*declare)(CLI::App *command);
};

// "dump, stats and sqlite": the names of commands, for messages.
std::string command_names(std::span<const Command> commands);

}  // namespace vxtrace
