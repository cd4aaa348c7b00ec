// vxtrace: the command-line consumer of recorded velocast trace buffers.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <vector>

#include "commands.h"

namespace {

using vxtrace::Command;
using vxtrace::CommandRun;

// The commands in the order that --help lists them.
const std::vector<Command> &commands() {
  static const std::vector<Command> table{
      vxtrace::dump_command(),   vxtrace::stats_command(),  vxtrace::timeline_command(),
      vxtrace::report_command(), vxtrace::sqlite_command(), vxtrace::generate_command(),
  };
  return table;
}

// CLI11 checks that a command was given before it looks at what it could not
// place, so "vxtrace frobnicate" would only hear that a command is required.
int report_unknown_word(const std::string &word) {
  const bool option = !word.empty() && word.front() == '-';
  std::fprintf(stderr, "vxtrace: unknown %s '%s'; the commands are %s (see --help)\n",
               option ? "option" : "command", word.c_str(),
               vxtrace::command_names(commands()).c_str());
  return vxtrace::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"vxtrace: read recorded velocast trace buffers through the vexlo plug-in"};
  app.require_subcommand(1);
  std::vector<std::pair<CLI::App *, CommandRun>> declared;
  for (const Command &command : commands()) {
    CLI::App *sub = app.add_subcommand(command.name, command.summary);
    declared.emplace_back(sub, command.declare(sub));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    if (app.get_subcommands().empty() && !app.remaining().empty())
      return report_unknown_word(app.remaining().front());
    return app.exit(error) == 0 ? vxtrace::kExitSuccess : vxtrace::kExitUsage;
  }
  for (const auto &[sub, run] : declared)
    if (sub->parsed()) return run();
  return vxtrace::kExitUsage;
}
