#include "schema/event_kind.h"

#include <algorithm>
#include <array>

namespace vxtrace {
namespace {

constexpr std::string_view kShortNames[] = {
#define VX_EVENT(short_name, payload_type) #short_name,
#include "events/catalogue.def"
};
static_assert(std::size(kShortNames) == kEventKindCount);

// Short names in byte order with their kinds, for a binary search.
struct NamedKind {
  std::string_view name;
  EventKind kind;
};

std::array<NamedKind, kEventKindCount> sorted_names() {
  std::array<NamedKind, kEventKindCount> sorted{};
  for (size_t i = 0; i < kEventKindCount; ++i)
    sorted[i] = {kShortNames[i], static_cast<EventKind>(i)};
  std::sort(sorted.begin(), sorted.end(),
            [](const NamedKind &a, const NamedKind &b) { return a.name < b.name; });
  return sorted;
}

}  // namespace

std::string_view short_name(EventKind kind) {
  return kShortNames[static_cast<size_t>(kind)];
}

std::optional<EventKind> event_kind_of(std::string_view full_name) {
  if (!full_name.starts_with(kEventNamePrefix)) return std::nullopt;
  const std::string_view name = full_name.substr(kEventNamePrefix.size());
  static const std::array<NamedKind, kEventKindCount> sorted = sorted_names();
  const auto found = std::lower_bound(
      sorted.begin(), sorted.end(), name,
      [](const NamedKind &entry, std::string_view wanted) { return entry.name < wanted; });
  if (found == sorted.end() || found->name != name) return std::nullopt;
  return found->kind;
}

}  // namespace vxtrace
