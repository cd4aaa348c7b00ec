// The plug-in's log lines as vxtrace writes them on standard error. Messages
// carry event names straight from the trace, so a crafted trace could send
// terminal escape sequences through them; vxtrace writes the lines itself,
// in the shape of the plug-in's default logger, with such bytes escaped.
#pragma once

#include <string>
#include <string_view>

#include "core/plugin_loader.h"

namespace vxtrace {

// Appends text with C0 controls, DEL, C1 controls (U+0080 to U+009F) and
// bytes that are not valid UTF-8 written as \xHH; everything else is kept.
void append_terminal_safe(std::string *out, std::string_view text);

// Installs the escaping logger; call before sessions are created, since an
// iterator keeps the logger it found at creation. Lines look like the
// default logger's: "S.mmm [severity/module]: message", S.mmm being the
// seconds since the first line.
void write_plugin_logs_escaped(const PluginApi &api);

}  // namespace vxtrace
