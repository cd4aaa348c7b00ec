// vxtrace --version: the tool's version (the project's, from CMake) and the
// plug-in that the commands would load.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace vxtrace {

// The version that --version prints and that sqlite records.
const char *tool_version();

// "vxtrace 1.0.0" and a line on the plug-in that loading plugin_path (empty:
// the default search) finds, or why none is found.
std::string version_text(const std::string &plugin_path);

// -V/--version on the tool, and --plugin beside it to name the plug-in that
// --version reports; --plugin means nothing without --version.
void add_version_options(CLI::App *tool, std::string *plugin_path);

}  // namespace vxtrace
