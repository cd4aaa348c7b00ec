// vxtrace: the command-line consumer of recorded velocast trace buffers.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "cli/build_outputs.h"
#include "cli/version.h"
#include "commands.h"
#include "io/diagnostics.h"

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
  vxtrace::report(std::string("unknown ") + (option ? "option" : "command") + " '" + word +
                  "'; the commands are " + vxtrace::command_names(commands()) + " (see --help)");
  return vxtrace::kExitUsage;
}

// A sentence begun as the tool's messages begin, in lower case; a first
// word in capitals ("INPUT") is a name and is kept.
std::string lower_first_letter(std::string message) {
  const auto first = static_cast<unsigned char>(message.empty() ? ' ' : message[0]);
  const auto second = static_cast<unsigned char>(message.size() > 1 ? message[1] : ' ');
  if (std::isupper(first) && !std::isupper(second))
    message[0] = static_cast<char>(std::tolower(first));
  return message;
}

// CLI11's own message ("The following argument was not expected: x"), in
// the tool's voice: one line through report, and the help of the command
// that was being parsed.
int report_usage_error(const CLI::App &app, const CLI::ParseError &error) {
  const std::string message = lower_first_letter(error.what());
  const auto parsed = app.get_subcommands();
  const std::string help =
      parsed.empty() ? "vxtrace --help" : "vxtrace " + parsed[0]->get_name() + " --help";
  vxtrace::report(message + " (see " + help + ")");
  return vxtrace::kExitUsage;
}

bool is_command(const std::string &word) {
  for (const Command &command : commands())
    if (word == command.name) return true;
  return false;
}

// "help" and "help COMMAND" are "--help" and "COMMAND --help" in other words,
// so that their output is the same by construction. Returns the words to
// parse, or nothing when the help of an unknown command was asked for.
std::optional<std::vector<std::string>> without_help_word(std::vector<std::string> words) {
  if (words.empty() || words[0] != "help") return words;
  if (words.size() == 1) return std::vector<std::string>{"--help"};
  if (!is_command(words[1])) return std::nullopt;
  words.erase(words.begin());
  words.insert(words.begin() + 1, "--help");
  return words;
}

// "vxtrace -q dump" and "vxtrace --plugin P report" are how many tools are
// called: options written before the command move behind it, where the
// command declares them (and judges them). --help and --version keep their
// place, since they are the tool's own.
std::vector<std::string> with_leading_options_after_command(std::vector<std::string> words) {
  size_t command = 0;
  while (command < words.size() && !words[command].empty() && words[command][0] == '-') {
    const std::string &word = words[command];
    if (word == "-h" || word == "--help" || word == "-V" || word == "--version") return words;
    command += word == "--plugin" ? 2 : 1;
  }
  if (command == 0 || command >= words.size() || !is_command(words[command])) return words;
  std::rotate(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(command),
              words.begin() + static_cast<std::ptrdiff_t>(command) + 1);
  return words;
}

int parse_and_run(CLI::App &app, const std::string &program, std::vector<std::string> words,
                  const std::vector<std::pair<CLI::App *, CommandRun>> &declared) {
  std::vector<const char *> argv{program.c_str()};
  for (const std::string &word : words) argv.push_back(word.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError &error) {
    if (app.get_subcommands().empty() && !app.remaining().empty())
      return report_unknown_word(app.remaining().front());
    // --help and --version end the parse with a status of 0.
    if (error.get_exit_code() != 0) return report_usage_error(app, error);
    return app.exit(error) == 0 ? vxtrace::kExitSuccess : vxtrace::kExitUsage;
  }
  for (const auto &[sub, run] : declared)
    if (sub->parsed()) return run();
  return vxtrace::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"vxtrace: read recorded velocast trace buffers through the vexlo plug-in"};
  app.require_subcommand(1);
  std::string plugin;
  vxtrace::add_version_options(&app, &plugin);
  std::vector<std::pair<CLI::App *, CommandRun>> declared;
  for (const Command &command : commands()) {
    CLI::App *sub = app.add_subcommand(command.name, command.summary);
    declared.emplace_back(sub, command.declare(sub));
  }
  // After the commands: CLI11 would copy it into theirs.
  app.footer("vxtrace help [COMMAND] is vxtrace [COMMAND] --help.");
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (const std::optional<int> status = vxtrace::run_build_output_mode(app, words)) return *status;
  const std::optional<std::vector<std::string>> parsed_words = without_help_word(words);
  if (!parsed_words) return report_unknown_word(words[1]);
  return parse_and_run(app, argc > 0 ? argv[0] : "vxtrace",
                       with_leading_options_after_command(*parsed_words), declared);
}
