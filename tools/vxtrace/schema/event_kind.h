// The receiver's event kinds as an enum generated from the catalogue, so that
// code naming a kind is checked by the compiler, and the lookups from an
// event's name or descriptor to its kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "vexlo/event.h"

namespace vxtrace {

// In registration order.
enum class EventKind : uint8_t {
#define VX_EVENT(short_name, payload_type) short_name,
#include "events/catalogue.def"
};

inline constexpr size_t kEventKindCount = 0
#define VX_EVENT(short_name, payload_type) +1
#include "events/catalogue.def"
    ;

// Every full event name starts with this.
inline constexpr std::string_view kEventNamePrefix = "/velocast/";

// "audio_packet_received" for EventKind::audio_packet_received.
std::string_view short_name(EventKind kind);

// The kind of a full event name ("/velocast/audio_flush"); nullopt for names
// outside the catalogue.
std::optional<EventKind> event_kind_of(std::string_view full_name);

// The kind of an event by its descriptor, remembered per descriptor: the
// descriptors are constants of the plug-in, so a pointer identifies a kind
// for the whole run.
class EventKindCache {
 public:
  std::optional<EventKind> kind_of(const vx_event_descriptor *descriptor) {
    if (descriptor == nullptr || descriptor->name == nullptr) return std::nullopt;
    if (descriptor == last_descriptor_) return last_kind_;
    const auto known = kinds_.find(descriptor);
    const std::optional<EventKind> kind =
        known != kinds_.end() ? known->second
                              : (kinds_[descriptor] = event_kind_of(descriptor->name));
    last_descriptor_ = descriptor;
    last_kind_ = kind;
    return kind;
  }

 private:
  std::unordered_map<const vx_event_descriptor *, std::optional<EventKind>> kinds_;
  const vx_event_descriptor *last_descriptor_ = nullptr;
  std::optional<EventKind> last_kind_;
};

}  // namespace vxtrace
