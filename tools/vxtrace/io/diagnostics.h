// Messages on standard error, each as one line "vxtrace: message".
#pragma once

#include <string>

namespace vxtrace {

// Writes "vxtrace: message" to standard error. Messages quote input and
// output names, which come from the command line or a file, so control
// bytes and invalid UTF-8 are shown as '?' rather than sent to the terminal.
void report(const std::string &message);

}  // namespace vxtrace
