#include "cli/build_outputs.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>

#include "cli/completion.h"
#include "cli/man_pages.h"
#include "cli/version.h"
#include "core/options.h"
#include "io/diagnostics.h"

namespace vxtrace {
namespace {

int refuse(const std::string &message) {
  report(message);
  return kExitUsage;
}

bool write_text(const std::string &path, const std::string &text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  return static_cast<bool>(file);
}

int emit_man(const CLI::App &tool, const std::string &directory) {
  for (const ManPage &page : man_pages(tool, tool_version()))
    if (!write_text(directory + "/" + page.file_name, page.roff))
      return refuse("--emit-man: cannot write " + directory + "/" + page.file_name);
  return kExitSuccess;
}

int emit_completion(const CLI::App &tool, const std::string &shell, const std::string &path) {
  const std::optional<std::string> script = completion_script(tool, shell);
  if (!script) return refuse("--emit-completion: '" + shell + "' is not bash or zsh");
  if (path.empty()) return std::fputs(script->c_str(), stdout) < 0 ? kExitUsage : kExitSuccess;
  return write_text(path, *script) ? kExitSuccess
                                   : refuse("--emit-completion: cannot write " + path);
}

}  // namespace

std::optional<int> run_build_output_mode(const CLI::App &tool,
                                         const std::vector<std::string> &words) {
  if (words.empty()) return std::nullopt;
  if (words[0] == "--emit-man")
    return words.size() == 2 ? emit_man(tool, words[1]) : refuse("usage: --emit-man DIR");
  if (words[0] == "--emit-completion")
    return words.size() == 2 || words.size() == 3
               ? emit_completion(tool, words[1], words.size() == 3 ? words[2] : "")
               : refuse("usage: --emit-completion bash|zsh [FILE]");
  return std::nullopt;
}

}  // namespace vxtrace
