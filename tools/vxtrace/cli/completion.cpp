#include "cli/completion.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <vector>

#include "cli/option_docs.h"
#include "cli/options.h"

namespace vxtrace {
namespace {

// "vxtrace help COMMAND" is taken apart before the command line is parsed
// (main.cpp), so it is no CLI11 command; the scripts offer it all the same.
const char *const kHelpWord = "help";
const char *const kHelpSummary = "Show the help of vxtrace or of one command";

std::vector<const CLI::App *> commands_of(const CLI::App &tool) {
  return tool.get_subcommands([](const CLI::App *) { return true; });
}

// Values that name files complete as file names; numbers, times, ids, globs
// and choices ("realistic|bench") are typed.
bool value_is_a_file(const std::string &value) {
  return std::find(kPathPlaceholders.begin(), kPathPlaceholders.end(), value) !=
         kPathPlaceholders.end();
}

std::string joined(const std::vector<std::string> &words, const std::string &separator = " ") {
  std::string text;
  for (const std::string &word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

enum class Takes { kAnything, kValue, kTypedValue };

// The names of the options that --help shows, those that take a value, or
// those whose value is typed rather than completed as a file name.
std::vector<std::string> named_options(const CLI::App &command, Takes takes) {
  std::vector<std::string> names;
  for (const OptionDoc &option : documented_options(command)) {
    const bool wanted =
        takes == Takes::kAnything ||
        (!option.value.empty() && (takes == Takes::kValue || !value_is_a_file(option.value)));
    if (wanted) names.insert(names.end(), option.names.begin(), option.names.end());
  }
  return names;
}

std::string command_words(const CLI::App &tool) {
  std::vector<std::string> words;
  for (const CLI::App *command : commands_of(tool)) words.push_back(command->get_name());
  words.push_back(kHelpWord);
  return joined(words);
}

// One "case" arm per level: its options, those that take a value (the next
// word is that value, not a command or an input) and those whose value is
// typed (a number, a time, an id).
std::string bash_case_arm(const std::string &pattern, const CLI::App &command) {
  return "    " + pattern + ")\n      options='" +
         joined(named_options(command, Takes::kAnything)) + "'\n      valued=' " +
         joined(named_options(command, Takes::kValue)) + " '\n      typed=' " +
         joined(named_options(command, Takes::kTypedValue)) + " ' ;;\n";
}

std::string bash_script(const CLI::App &tool) {
  std::string arms = bash_case_arm("''", tool);
  for (const CLI::App *command : commands_of(tool))
    arms += bash_case_arm(command->get_name(), *command);
  return "# bash completion for vxtrace: every command, and every option of the command being\n"
         "# typed. Written by `vxtrace --emit-completion bash` when vxtrace is built.\n"
         "_vxtrace() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  local commands='" +
         command_words(tool) +
         "'\n"
         "  local top_valued=' " +
         joined(named_options(tool, Takes::kValue)) +
         " '\n"
         "  local command='' options='' valued='' typed='' i word\n"
         "  # The command is the first word that is neither an option nor an option's value.\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    if [[ $word == -* ]]; then\n"
         "      [[ $top_valued == *\" $word \"* ]] && ((i++))\n"
         "      continue\n"
         "    fi\n"
         "    command=$word\n"
         "    break\n"
         "  done\n"
         "  case $command in\n" +
         arms +
         "    help)\n"
         "      ((COMP_CWORD == i + 1)) && COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
         "      return ;;\n"
         "    *) return ;;\n"
         "  esac\n"
         "  if [[ $valued == *\" $prev \"* ]]; then\n"
         "    [[ $typed == *\" $prev \"* ]] && return\n"
         "    compopt -o filenames 2>/dev/null\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  elif [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "  elif [[ -z $command ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
         "  else\n"
         "    compopt -o filenames 2>/dev/null\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -F _vxtrace vxtrace\n";
}

// Inside single quotes, as _arguments and _describe read it: a quote closes
// and reopens the string; brackets end a description, and colons separate the
// parts of a spec or of a "name:description" (not a description's own).
std::string zsh_quoted(const std::string &text, bool colons_too) {
  std::string quoted;
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else if (c == '[' || c == ']' || c == '\\' || (colons_too && c == ':'))
      quoted += std::string("\\") + c;
    else
      quoted += c;
  }
  return quoted;
}

std::string zsh_description(const std::string &text) {
  return zsh_quoted(text, false);
}
std::string zsh_name(const std::string &text) {
  return zsh_quoted(text, true);
}

std::string zsh_value_action(const std::string &value) {
  std::string choices = value;
  std::replace(choices.begin(), choices.end(), '|', ' ');
  const std::string action = value_is_a_file(value)                 ? "_files"
                             : value.find('|') != std::string::npos ? "(" + choices + ")"
                                                                    : "";
  return ":" + zsh_name(value) + ":" + zsh_name(action);
}

// One _arguments spec per option: the names exclude each other unless the
// option may be repeated.
std::string zsh_option_spec(const OptionDoc &option) {
  const std::string description = "[" + zsh_description(option.description) + "]";
  const std::string action = option.value.empty() ? "" : zsh_value_action(option.value);
  if (option.names.empty()) return "'" + std::string(option.repeatable ? "*" : "") + action + "'";
  if (option.repeatable) {
    std::string specs;
    for (const std::string &name : option.names)
      specs += (specs.empty() ? "" : " ") + ("'*" + name + description + action + "'");
    return specs;
  }
  const std::string exclusions = "'(" + joined(option.names) + ")'";
  if (option.names.size() == 1)
    return exclusions + "'" + option.names[0] + description + action + "'";
  return exclusions + "{" + joined(option.names, ",") + "}'" + description + action + "'";
}

std::string zsh_arguments(const CLI::App &command, const std::string &indent) {
  std::string specs;
  for (const OptionDoc &option : documented_options(command))
    specs += " \\\n" + indent + "  " + zsh_option_spec(option);
  return specs;
}

std::string zsh_script(const CLI::App &tool) {
  std::string described;
  std::string arms;
  for (const CLI::App *command : commands_of(tool)) {
    described += "    '" + zsh_name(command->get_name()) + ":" +
                 zsh_description(command->get_description()) + "'\n";
    arms += "        " + command->get_name() + ")\n          _arguments -s" +
            zsh_arguments(*command, "          ") + " ;;\n";
  }
  described += std::string("    '") + kHelpWord + ":" + kHelpSummary + "'\n";
  return "#compdef vxtrace\n"
         "# zsh completion for vxtrace: every command, and every option of the command being\n"
         "# typed. Written by `vxtrace --emit-completion zsh` when vxtrace is built.\n"
         "_vxtrace() {\n"
         "  local curcontext=$curcontext state line\n"
         "  local -a commands\n"
         "  commands=(\n" +
         described +
         "  )\n"
         "  _arguments -C -s" +
         zsh_arguments(tool, "  ") +
         " \\\n"
         "    '1: :->command' \\\n"
         "    '*:: :->argument'\n"
         "  case $state in\n"
         "    command) _describe -t commands 'vxtrace command' commands ;;\n"
         "    argument)\n"
         "      case $words[1] in\n" +
         arms +
         "        help) (( CURRENT == 2 )) && _describe -t commands 'vxtrace command' commands "
         ";;\n"
         "      esac ;;\n"
         "  esac\n"
         "}\n"
         "_vxtrace \"$@\"\n";
}

}  // namespace

std::optional<std::string> completion_script(const CLI::App &tool, const std::string &shell) {
  if (shell == "bash") return bash_script(tool);
  if (shell == "zsh") return zsh_script(tool);
  return std::nullopt;
}

}  // namespace vxtrace
