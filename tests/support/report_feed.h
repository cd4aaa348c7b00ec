// Synthetic records for the report's builder: payloads of the pipeline's
// events and a feed that hands them over in timestamp order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "report/report_builder.h"
#include "vexlo/velocast_payloads.h"

namespace vxtrace_test {

using vxtrace::EventKind;
using vxtrace::ReportBuilder;

inline constexpr uint64_t kMs = 1'000'000;
inline constexpr uint64_t kUs = 1'000;
inline constexpr uint64_t kSecond = 1'000'000'000;

// Records to feed in timestamp order (ties keep the order they were added).
class Feed {
 public:
  template <class Payload>
  void add(uint64_t t, EventKind kind, const Payload &payload) {
    records_.push_back({t, kind, std::make_shared<Payload>(payload)});
  }
  void into(ReportBuilder &builder) {
    std::stable_sort(records_.begin(), records_.end(),
                     [](const Record &a, const Record &b) { return a.t < b.t; });
    for (const Record &record : records_) builder.add(record.t, record.kind, record.payload.get());
  }

 private:
  struct Record {
    uint64_t t;
    EventKind kind;
    std::shared_ptr<void> payload;
  };
  std::vector<Record> records_;
};

inline audio_packet_payload audio_packet(uint32_t session, int64_t id) {
  audio_packet_payload packet{};
  packet.session_id = session;
  packet.id = id;
  return packet;
}

inline void add_audio(Feed &feed, uint64_t t, EventKind kind, uint32_t session, int64_t id) {
  if (kind == EventKind::audio_packet_received) {
    audio_packet_received_payload received{};
    received.packet = audio_packet(session, id);
    feed.add(t, kind, received);
  } else {
    feed.add(t, kind, audio_packet(session, id));
  }
}

inline video_frame_payload frame_of(uint32_t session, int64_t timestamp, uint64_t address) {
  video_frame_payload frame{};
  frame.session_id = session;
  frame.timestamp = timestamp;
  frame.physical_address = address;
  return frame;
}

}  // namespace vxtrace_test
