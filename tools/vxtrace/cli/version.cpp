#include "cli/version.h"

#include <CLI/CLI.hpp>

#include "cli/options.h"
#include "core/plugin_loader.h"

#ifndef VXTRACE_VERSION
#error "VXTRACE_VERSION comes from the project's version in CMake"
#endif

namespace vxtrace {
namespace {

// The plug-in exports no function that tells its version.
std::string plugin_line(const std::string &plugin_path) {
  Plugin plugin;
  std::string error;
  const bool loaded = plugin.load(plugin_path, &error);
  if (plugin.path().empty()) return "plug-in: none found: " + error;
  std::string line = "plug-in: " + plugin.path();
  const std::string file = plugin.file();
  if (!file.empty() && file != plugin.path()) line += " (" + file + ")";
  if (!loaded) return line + ", not usable: " + error;
  return line + ", version unknown (the plug-in exports no version)";
}

}  // namespace

const char *tool_version() {
  return VXTRACE_VERSION;
}

std::string version_text(const std::string &plugin_path) {
  return std::string("vxtrace ") + tool_version() + "\n" + plugin_line(plugin_path);
}

void add_version_options(CLI::App *tool, std::string *plugin_path) {
  // Declared before the version flag: CLI11 stores an option's value in
  // declaration order, so the flag's callback sees --plugin however ordered.
  CLI::Option *plugin = add_path(tool, "--plugin", plugin_path, "PATH",
                                 "With --version: the plug-in to report (default: the one that "
                                 "the commands load, beside vxtrace, then ../lib/); before a "
                                 "command: the plug-in it loads");
  CLI::Option *version = tool->set_version_flag(
      "-V,--version", [plugin_path] { return version_text(*plugin_path); },
      "Print vxtrace's version and the plug-in that it loads, then exit");
  plugin->needs(version);
}

}  // namespace vxtrace
