// dump's --event selection: an event is kept when its name matches one of the
// globs (fnmatch), or always when there are none. The answer for a
// descriptor's name, a constant, is remembered; names without a descriptor
// are matched every time.
#pragma once

#include <fnmatch.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "core/trace_session.h"

namespace vxtrace {

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
      if (fnmatch(glob.c_str(), name, 0) == 0) return true;
    return false;
  }

  std::vector<std::string> globs_;
  std::unordered_map<const char *, bool> by_name_;
};

}  // namespace vxtrace
