#include "cli/man_pages.h"

#include <CLI/CLI.hpp>

#include "cli/option_docs.h"

namespace vxtrace {
namespace {

const char *const kTool = "vxtrace";

std::string upper(std::string text) {
  for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string bold(const std::string &text) {
  return "\\fB" + roff_text(text) + "\\fR";
}
std::string italic(const std::string &text) {
  return "\\fI" + roff_text(text) + "\\fR";
}

// The date is left out so that a rebuild writes the same page.
std::string title(const std::string &page, const std::string &version) {
  return ".TH " + roff_text(upper(page)) + " 1 \"\" \"" + kTool + " " + version +
         "\" \"User Commands\"\n";
}

std::string section(const std::string &name) {
  return ".SH " + name + "\n";
}

// A tagged paragraph: ".TP", the tag, then the body.
std::string tagged(const std::string &tag, const std::string &body) {
  return ".TP\n" + tag + "\n" + roff_text(body) + "\n";
}

std::string option_tag(const OptionDoc &option) {
  std::string tag;
  for (const std::string &name : option.names) tag += (tag.empty() ? "" : ", ") + bold(name);
  if (option.value.empty()) return tag;
  const std::string value = italic(option.value) + (option.repeatable ? "..." : "");
  return tag.empty() ? value : tag + " " + value;
}

std::string options_section(const CLI::App &command) {
  std::string text = section("OPTIONS");
  for (const OptionDoc &option : documented_options(command))
    text += tagged(option_tag(option), option.description);
  return text;
}

// "vxtrace: read ..." names the tool in the help's first line; NAME names
// it already.
std::string without_tool_prefix(const std::string &description) {
  const std::string prefix = std::string(kTool) + ": ";
  return description.rfind(prefix, 0) == 0 ? description.substr(prefix.size()) : description;
}

std::string paragraphs(const std::string &text) {
  std::string roff;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) roff += roff_text(text.substr(start, end - start)) + "\n";
    start = end + 1;
  }
  return roff;
}

std::string page_reference(const std::string &page) {
  return bold(page) + "(1)";
}

std::string command_page(const CLI::App &command, const std::string &version) {
  const std::string page = std::string(kTool) + "-" + command.get_name();
  std::string synopsis = ".B " + roff_text(std::string(kTool) + " " + command.get_name()) + "\n[" +
                         italic("OPTIONS") + "]";
  const std::string positionals = positional_synopsis(command);
  if (!positionals.empty()) synopsis += " " + italic(positionals);
  std::string description = paragraphs(command.get_description());
  if (!command.get_footer().empty()) description += ".PP\n" + paragraphs(command.get_footer());
  return title(page, version) + section("NAME") + roff_text(page) + " \\- " +
         roff_text(command.get_description()) + "\n" + section("SYNOPSIS") + synopsis + "\n" +
         section("DESCRIPTION") + description + options_section(command) + section("SEE ALSO") +
         page_reference(kTool) + "\n";
}

std::string tool_page(const CLI::App &tool, const std::vector<const CLI::App *> &commands,
                      const std::string &version) {
  std::string synopsis = ".B " + std::string(kTool) + "\n" + italic("COMMAND") + " [" +
                         italic("OPTIONS") + "]\n.br\n.B " + kTool + " help\n[" +
                         italic("COMMAND") + "]\n.br\n.B " + kTool + "\n" + bold("--version") +
                         " [" + bold("--plugin") + " " + italic("PATH") + "]\n";
  std::string command_list = section("COMMANDS");
  std::string see_also;
  for (const CLI::App *command : commands) {
    const std::string page = std::string(kTool) + "-" + command->get_name();
    command_list +=
        tagged(bold(command->get_name()), command->get_description() + " (" + page + "(1))");
    see_also += (see_also.empty() ? "" : ",\n") + page_reference(page);
  }
  const std::string description = without_tool_prefix(tool.get_description());
  return title(kTool, version) + section("NAME") + kTool + " \\- " + roff_text(description) + "\n" +
         section("SYNOPSIS") + synopsis + section("DESCRIPTION") + paragraphs(tool.get_footer()) +
         command_list + options_section(tool) + section("SEE ALSO") + see_also + "\n";
}

}  // namespace

std::string roff_text(const std::string &text) {
  std::string roff;
  for (char c : text) {
    if (c == '\\')
      roff += "\\e";
    else if (c == '-')
      roff += "\\-";
    else
      roff += c;
  }
  if (!roff.empty() && (roff.front() == '.' || roff.front() == '\'')) roff.insert(0, "\\&");
  return roff;
}

std::vector<ManPage> man_pages(const CLI::App &tool, const std::string &version) {
  const std::vector<const CLI::App *> commands =
      tool.get_subcommands([](const CLI::App *) { return true; });
  std::vector<ManPage> pages{{std::string(kTool) + ".1", tool_page(tool, commands, version)}};
  for (const CLI::App *command : commands)
    pages.push_back(
        {std::string(kTool) + "-" + command->get_name() + ".1", command_page(*command, version)});
  return pages;
}

}  // namespace vxtrace
