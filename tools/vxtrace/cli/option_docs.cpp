#include "cli/option_docs.h"

#include <CLI/CLI.hpp>

namespace vxtrace {
namespace {

bool shown_in_help(const CLI::Option *option) {
  return !option->get_group().empty();
}

OptionDoc document(const CLI::Option &option) {
  OptionDoc doc;
  for (const std::string &name : option.get_snames()) doc.names.push_back("-" + name);
  for (const std::string &name : option.get_lnames()) doc.names.push_back("--" + name);
  if (option.get_items_expected_max() != 0) doc.value = option.get_type_name();
  doc.description = option.get_description();
  doc.repeatable = option.get_expected_max() > 1;
  return doc;
}

}  // namespace

std::vector<OptionDoc> documented_options(const CLI::App &command) {
  std::vector<OptionDoc> named;
  std::vector<OptionDoc> positional;
  for (const CLI::Option *option : command.get_options(shown_in_help))
    (option->nonpositional() ? named : positional).push_back(document(*option));
  named.insert(named.end(), positional.begin(), positional.end());
  return named;
}

std::string positional_synopsis(const CLI::App &command) {
  std::string synopsis;
  for (const CLI::Option *option : command.get_options(shown_in_help)) {
    if (option->nonpositional()) continue;
    std::string word = option->get_type_name() + (option->get_expected_max() > 1 ? "..." : "");
    synopsis += (synopsis.empty() ? "" : " ") + (option->get_required() ? word : "[" + word + "]");
  }
  return synopsis;
}

}  // namespace vxtrace
