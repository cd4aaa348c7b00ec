// Messages on standard error, each as one line "vxtrace: message". Every
// line vxtrace writes there (but the plug-in's own log lines and the
// progress line) goes through here, so that none lacks the prefix.
#pragma once

#include <string>

namespace vxtrace {

// An error: written whatever --quiet says. Messages quote input and output
// names, which come from the command line or a file, so control bytes and
// invalid UTF-8 are shown as '?' rather than sent to the terminal.
void report(const std::string &message);

// A note: what the run found worth saying that is not an error (a pattern
// that matches no event, a selection that kept nothing, counts). Written
// like report, unless the run is quiet.
void note(const std::string &message);

// --quiet: notes, the progress line and the plug-in's log lines are left
// out for the rest of the run. Set while the command line is parsed, before
// anything is read.
void set_quiet(bool quiet);
bool quiet();

}  // namespace vxtrace
