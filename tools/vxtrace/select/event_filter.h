// The --event selection: an event is kept when its name matches one of the
// globs (fnmatch), or always when there are none. The answer for a
// descriptor's name, a constant, is remembered; names without a descriptor
// are matched every time.
#pragma once

#include <fnmatch.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/trace_session.h"
#include "schema/event_kind.h"

namespace vxtrace {

// Whether glob matches the full name ("/velocast/audio_flush") or, for a
// name under the catalogue's prefix, its short name ("audio_flush"): so
// "audio_*" and "/velocast/audio_*" keep the same events.
inline bool event_name_matches(const std::string &glob, const char *name) {
  if (fnmatch(glob.c_str(), name, 0) == 0) return true;
  if (std::strncmp(name, kEventNamePrefix.data(), kEventNamePrefix.size()) != 0) return false;
  return fnmatch(glob.c_str(), name + kEventNamePrefix.size(), 0) == 0;
}

class EventFilter {
 public:
  explicit EventFilter(std::vector<std::string> globs) : globs_(std::move(globs)) {}

  bool selected(const EventView &event) {
    if (globs_.empty()) return true;
    if (event.name == nullptr) return false;
    if (event.descriptor == nullptr || event.descriptor->name != event.name)
      return matches(event.name);
    const auto known = by_name_.find(event.name);
    if (known != by_name_.end()) return known->second;
    return by_name_[event.name] = matches(event.name);
  }

 private:
  bool matches(const char *name) const {
    for (const std::string &glob : globs_)
      if (event_name_matches(glob, name)) return true;
    return false;
  }

  std::vector<std::string> globs_;
  std::unordered_map<const char *, bool> by_name_;
};

}  // namespace vxtrace
