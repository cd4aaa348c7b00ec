// The event kinds and the typed payload walk generated from the catalogue.
#include <gtest/gtest.h>

#include <string>

#include "schema/payload_fields.h"

namespace vxtrace {
namespace {

TEST(EventKinds, EveryKindIsFoundByItsFullNameAndNothingElseIs) {
  for (size_t i = 0; i < kEventKindCount; ++i) {
    const auto kind = static_cast<EventKind>(i);
    const std::string full = std::string(kEventNamePrefix) + std::string(short_name(kind));
    ASSERT_EQ(event_kind_of(full), kind) << full;
  }
  for (const char *other : {"", "/velocast/", "audio_flush", "/velocast/audio_flushx",
                            "/velocast/audio_flus", "/other/audio_flush"})
    EXPECT_EQ(event_kind_of(other), std::nullopt) << other;
  EXPECT_EQ(kEventKindCount, 111u);
}

TEST(PayloadFields, SessionComesFromTheRecordOrItsNestedPacket) {
  audio_flush_payload flush{};
  flush.session_id = 7;
  EXPECT_EQ(session_of(EventKind::audio_flush, &flush), 7u);

  audio_packet_received_payload received{};
  received.packet.session_id = 0xFFFFFFFFu;
  EXPECT_EQ(session_of(EventKind::audio_packet_received, &received), 0xFFFFFFFFu);

  const audio_sink_write_payload sink{};
  EXPECT_EQ(session_of(EventKind::audio_sink_write_data, &sink), std::nullopt);
  EXPECT_TRUE(has_session(EventKind::media_audio_queue_push_packet));
  EXPECT_FALSE(has_session(EventKind::audio_queue_read));
}

// Keys and nesting as the walk reports them, for a type with a nested record.
struct KeyRecorder {
  std::string keys;
  template <class T>
  void field(const char *key, T) {
    keys += std::string(key) + ",";
  }
  void blob(const char *key, const byte_blob &) { keys += std::string(key) + "[blob],"; }
  void begin_record(const char *key) { keys += std::string(key) + "{"; }
  void end_record() { keys += "},"; }
};

TEST(PayloadFields, ShapeFollowsTheWireOrderWithNestedRecords) {
  KeyRecorder recorder;
  visit_payload_shape(EventKind::audio_packet_received, recorder);
  EXPECT_EQ(recorder.keys,
            "packet{session_id,id,rtp_timestamp,playback_timestamp_us,data_size,},"
            "velocast_system_time_us,");
}

}  // namespace
}  // namespace vxtrace
