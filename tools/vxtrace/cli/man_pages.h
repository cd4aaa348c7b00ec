// The manual pages, written from the declared commands: vxtrace(1) for the
// tool and vxtrace-COMMAND(1) for each of its commands.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vxtrace {

struct ManPage {
  std::string file_name;  // "vxtrace-dump.1"
  std::string roff;
};

// The pages of tool (the top-level app, named "vxtrace") and of each of its
// commands, the tool's page first.
std::vector<ManPage> man_pages(const CLI::App &tool, const std::string &version);

// Text as roff shows it literally: backslashes, dashes and a leading control
// character escaped.
std::string roff_text(const std::string &text);

}  // namespace vxtrace
