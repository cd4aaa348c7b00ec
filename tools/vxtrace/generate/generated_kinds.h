// The event kinds as the generator writes them: name, payload writer and
// whether the kind reports video, indexed by EventKind.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <vector>

#include "generate/payload_writer.h"
#include "schema/event_kind.h"

namespace vxtrace {

// How each kind is written, in the catalogue's order (indexed by EventKind).
struct KindWriter {
  std::string_view name;
  void (*write)(ValueModel &, PayloadBuffer &);
  bool video;  // reports video times and sizes
};

constexpr bool concerns_video(std::string_view name) {
  return name.find("video") != std::string_view::npos ||
         name.find("cursor") != std::string_view::npos;
}

inline constexpr KindWriter kKinds[] = {
#define VX_EVENT(short_name, payload_type) \
  {"/velocast/" #short_name, &write_payload<payload_type>, concerns_video(#short_name)},
#include "events/catalogue.def"
};
inline constexpr size_t kKindCount = std::size(kKinds);
static_assert(kKindCount == kEventKindCount);

constexpr size_t kind_index(EventKind kind) {
  return static_cast<size_t>(kind);
}

inline std::vector<size_t> kind_indexes(std::initializer_list<EventKind> kinds) {
  std::vector<size_t> indexes;
  for (EventKind kind : kinds) indexes.push_back(kind_index(kind));
  return indexes;
}

}  // namespace vxtrace
