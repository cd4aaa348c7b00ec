// The native timeline writer's output, decoded by protoc with the project's
// .proto: what the trace viewers would read, checked against what was
// written.
#include "timeline/perfetto_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/protoc_text.h"
#include "timeline/payload_annotations.h"
#include "vexlo/velocast_payloads.h"

namespace vxtrace {
namespace {

using vxtrace_test::decode_with_protoc;
using vxtrace_test::Node;

// ---- The trace as a viewer reads it ----

// Arguments as "name=i:1,dict={inner=s:"x"}" with the value's type.
std::string render_args(const std::vector<const Node *> &annotations,
                        const std::map<std::string, std::string> &names) {
  std::string out;
  for (const Node *annotation : annotations) {
    if (!out.empty()) out += ',';
    const auto name = names.find(annotation->get("name_iid"));
    out += name == names.end() ? "?" : name->second;
    out += '=';
    if (!annotation->all("dict_entries").empty())
      out += '{' + render_args(annotation->all("dict_entries"), names) + '}';
    for (const char *type : {"int_value", "uint_value", "double_value", "bool_value"})
      if (const Node *value = annotation->child(type)) out += type[0] + (':' + value->value);
    if (const Node *value = annotation->child("string_value")) out += "s:\"" + value->value + '"';
  }
  return out;
}

// Checks the sequence and interning rules while reading the packets, and
// renders each event as "timestamp type track name category flows args".
struct DecodedTrace {
  std::map<std::string, std::string> paths;   // uuid -> "parent name/name"
  std::map<std::string, std::string> tracks;  // uuid -> "path | kind | rank"
  std::vector<std::string> events;
  std::map<std::string, std::vector<std::string>> flows;  // id -> events' timestamps

  explicit DecodedTrace(const Node &trace) {
    std::map<std::string, std::map<std::string, std::string>> interned;  // by kind, then iid
    const std::vector<const Node *> packets = trace.all("packet");
    if (packets.empty()) {
      ADD_FAILURE() << "no packets";
      return;
    }
    EXPECT_EQ(packets[0]->get("sequence_flags"), "3");
    EXPECT_EQ(packets[0]->get("first_packet_on_sequence"), "true");
    for (const Node *packet : packets) {
      EXPECT_EQ(packet->get("trusted_packet_sequence_id"), "1");
      if (const Node *data = packet->child("interned_data")) {
        for (const Node &entry : data->children) {
          const auto [_, added] = interned[entry.name].emplace(entry.get("iid"), entry.get("name"));
          EXPECT_TRUE(added) << "iid defined twice: " << entry.name << " " << entry.get("iid");
        }
      }
      if (const Node *track = packet->child("track_descriptor")) read_track(*track);
      if (const Node *event = packet->child("track_event")) {
        const bool uses_interned = event->child("name_iid") || event->child("category_iids") ||
                                   event->child("debug_annotations");
        const std::string flags = packet->get("sequence_flags");
        if (uses_interned || packet->child("interned_data")) {
          EXPECT_TRUE(flags == "2" || flags == "3") << "interned ids used without flag 2";
        }
        read_event(*packet, *event, interned);
      }
    }
  }

  void read_track(const Node &track) {
    const std::string uuid = track.get("uuid");
    EXPECT_EQ(tracks.count(uuid), 0u) << "track declared twice: " << uuid;
    const std::string parent = track.get("parent_uuid");
    EXPECT_TRUE(parent.empty() || paths.count(parent)) << "parent declared later: " << uuid;
    std::string kind = "child";
    if (track.child("process")) kind = "process " + track.child("process")->get("pid");
    if (const Node *counter = track.child("counter")) kind = "counter " + counter->get("unit_name");
    paths[uuid] = (parent.empty() ? "" : paths[parent] + "/") + track.get("name");
    tracks[uuid] = paths[uuid] + " | " + kind + " | rank " + track.get("sibling_order_rank");
  }

  void read_event(const Node &packet, const Node &event,
                  std::map<std::string, std::map<std::string, std::string>> &interned) {
    const std::string timestamp = packet.get("timestamp");
    const std::string track = event.get("track_uuid");
    EXPECT_EQ(paths.count(track), 1u) << "event before its track";
    std::string line = timestamp + " | " + event.get("type") + " | " + paths[track];
    if (event.child("name_iid")) line += " | " + interned["event_names"][event.get("name_iid")];
    if (event.child("name")) line += " | " + event.get("name");
    if (event.child("category_iids"))
      line += " [" + interned["event_categories"][event.get("category_iids")] + "]";
    for (const char *field : {"flow_ids", "terminating_flow_ids"}) {
      for (const Node *id : event.all(field)) {
        line += std::string(" | ") + field[0] + ":" + id->value;
        if (field[0] == 'f') flows[id->value].push_back(timestamp);
      }
    }
    for (const char *field : {"counter_value", "double_counter_value"})
      if (event.child(field)) line += " | = " + event.get(field);
    const auto annotations = event.all("debug_annotations");
    if (!annotations.empty())
      line += " | " + render_args(annotations, interned["debug_annotation_names"]);
    events.push_back(line);
  }
};

std::vector<std::string> split(const std::string &line) {
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    const size_t bar = line.find(" | ", at);
    parts.push_back(line.substr(at, bar - at));
    if (bar == std::string::npos) return parts;
    at = bar + 3;
  }
}

// Slices must nest on each track: every end closes the track's latest begin.
void expect_slices_nest(const std::vector<std::string> &events) {
  std::map<std::string, int> open;
  for (const std::string &event : events) {
    const std::vector<std::string> parts = split(event);
    if (parts[1] == "TYPE_SLICE_BEGIN") ++open[parts[2]];
    if (parts[1] == "TYPE_SLICE_END") {
      EXPECT_GT(open[parts[2]]--, 0) << "end without begin: " << event;
    }
  }
  for (const auto &[track, count] : open) EXPECT_EQ(count, 0) << "unclosed slice on " << track;
}

TEST(PerfettoWriter, TracksEventsFlowsCountersAndArgumentsDecodeAsWritten) {
  std::string trace;
  size_t pieces = 0;
  PerfettoWriter writer(
      [&](std::string_view bytes) {
        trace.append(bytes);
        ++pieces;
      },
      100);  // small, so that the trace reaches the sink in many pieces
  PayloadAnnotations payloads(&writer);

  const TrackId receiver = writer.add_process_track("receiver", 0);
  const TrackId session = writer.add_process_track("session 3", 4);
  const TrackId network = writer.add_child_track(session, "network", 0);
  const TrackId decoder = writer.add_child_track(session, "video decoder", 6);
  const TrackId delay = writer.add_counter_track(session, "audio sink delay", "frames", 100);
  const CategoryId audio = writer.intern_category("audio");
  const CategoryId video = writer.intern_category("video");
  const EventNameId received = writer.intern_event_name("audio_packet_received");
  EXPECT_EQ(writer.intern_event_name("audio_packet_received").iid, received.iid);
  const uint64_t flow = 0x0000000300000007;

  audio_packet_received_payload packet{{1, 7, 90000, -5, 1200}, 2};
  writer.begin_event({TrackEventType::instant, network, 1000, received, audio, {&flow, 1}});
  payloads.add(EventKind::audio_packet_received, &packet);
  writer.end_event();

  writer.begin_event({TrackEventType::slice_begin, decoder, 2000,
                      writer.intern_event_name("video_decoder_update"), video});
  writer.add_int(writer.intern_arg_name("queue_size"), 3);
  writer.end_event();
  writer.write_event(
      {TrackEventType::slice_begin, decoder, 2500, writer.intern_event_name("inner")});
  writer.write_event({TrackEventType::slice_end, decoder, 2600});
  video_decoder_update_end_payload end{3, 2, 0, 1, 1};
  writer.begin_event({TrackEventType::slice_end, decoder, 3000});
  payloads.add(EventKind::video_decoder_update_end, &end);
  writer.end_event();
  writer.write_event({TrackEventType::instant,
                      network,
                      3500,
                      writer.intern_event_name("audio_decoder_packet_received"),
                      audio,
                      {&flow, 1},
                      {&flow, 1}});
  writer.add_counter(delay, 4000, -5);
  writer.add_double_counter(delay, 4500, 0.25);

  // Values at the edges, a name that is not UTF-8, strings whose lengths
  // take two and three bytes, two levels of dictionaries; the event is left
  // open for finish to close.
  const std::string long_text(200, 'a'), longer_text(20000, 'b');
  writer.begin_event(
      {TrackEventType::instant, receiver, 5000, writer.intern_event_name("bad\xff")});
  writer.add_uint(writer.intern_arg_name("max"), std::numeric_limits<uint64_t>::max());
  writer.add_int(writer.intern_arg_name("min"), std::numeric_limits<int64_t>::min());
  writer.add_double(writer.intern_arg_name("nan"), std::nan(""));
  writer.add_bool(writer.intern_arg_name("yes"), true);
  writer.begin_dict(writer.intern_arg_name("outer"));
  writer.add_string(writer.intern_arg_name("long"), long_text);
  writer.begin_dict(writer.intern_arg_name("inner"));
  writer.add_string(writer.intern_arg_name("longer"), longer_text);
  writer.end_dict();
  writer.add_string(writer.intern_arg_name("after"), "x\x01\xc3");
  writer.finish();
  writer.finish();
  writer.add_int(writer.intern_arg_name("late"), 1);  // ignored: nothing after finish
  writer.write_event({TrackEventType::instant, receiver, 6000, received});

  EXPECT_EQ(writer.bytes(), trace.size());
  EXPECT_GT(pieces, 2u);
  const std::optional<Node> decoded = decode_with_protoc(trace);
  if (!decoded) GTEST_SKIP() << "protoc is not installed";
  const DecodedTrace read(*decoded);

  EXPECT_EQ(read.tracks, (std::map<std::string, std::string>{
                             {"1", "receiver | process 1 | rank 0"},
                             {"2", "session 3 | process 2 | rank 4"},
                             {"3", "session 3/network | child | rank 0"},
                             {"4", "session 3/video decoder | child | rank 6"},
                             {"5", "session 3/audio sink delay | counter frames | rank 100"},
                         }));
  EXPECT_EQ(
      read.events,
      (std::vector<std::string>{
          "1000 | TYPE_INSTANT | session 3/network | audio_packet_received [audio] | "
          "f:12884901895 | packet={session_id=i:1,id=i:7,rtp_timestamp=i:90000,"
          "playback_timestamp_us=i:-5,data_size=i:1200},velocast_system_time_us=i:2",
          "2000 | TYPE_SLICE_BEGIN | session 3/video decoder | video_decoder_update [video] | "
          "queue_size=i:3",
          "2500 | TYPE_SLICE_BEGIN | session 3/video decoder | inner",
          "2600 | TYPE_SLICE_END | session 3/video decoder",
          "3000 | TYPE_SLICE_END | session 3/video decoder | session_id=i:3,decoder_state=i:2,"
          "queue_size=i:0,had_output=i:1,can_decode=i:1",
          "3500 | TYPE_INSTANT | session 3/network | audio_decoder_packet_received [audio] | "
          "f:12884901895 | t:12884901895",
          "4000 | TYPE_COUNTER | session 3/audio sink delay | = -5",
          "4500 | TYPE_COUNTER | session 3/audio sink delay | = 0.25",
          "5000 | TYPE_INSTANT | receiver | bad\xEF\xBF\xBD | max=u:18446744073709551615,"
          "min=i:-9223372036854775808,nan=d:nan,yes=b:true,outer={long=s:\"" +
              long_text + "\",inner={longer=s:\"" + longer_text +
              "\"},after=s:\"x\x01\xEF\xBF\xBD\"}",
      }));
  expect_slices_nest(read.events);
  EXPECT_EQ(read.flows,
            (std::map<std::string, std::vector<std::string>>{{"12884901895", {"1000", "3500"}}}));
}

// A trace may define any number of event names: past the table's bound, new
// names are written out on their events, and the names already interned
// keep their ids, so memory stays bounded and every event keeps its name.
TEST(PerfettoWriter, EventNamesPastTheInternBoundAreWrittenOut) {
  constexpr size_t kBound = PerfettoWriter::kMostInternedEventNames;
  std::string trace;
  std::vector<std::string> expected;
  {
    PerfettoWriter writer([&](std::string_view bytes) { trace.append(bytes); });
    const TrackId track = writer.add_process_track("p", 0);
    const auto write = [&](const std::string &name) {
      const EventNameId id = writer.intern_event_name(name);
      writer.write_event({TrackEventType::instant, track, expected.size(), id});
      expected.push_back(std::to_string(expected.size()) + " | TYPE_INSTANT | p | " + name);
    };
    for (size_t i = 0; i < kBound + 2; ++i) write("name " + std::to_string(i));
    EXPECT_EQ(writer.intern_event_name("name 0").iid, 1u);
    EXPECT_EQ(writer.intern_event_name("name " + std::to_string(kBound)).iid, 0u);
    write("name 0");
  }
  const std::optional<Node> decoded = decode_with_protoc(trace);
  if (!decoded) GTEST_SKIP() << "protoc is not installed";
  const DecodedTrace read(*decoded);
  EXPECT_EQ(read.events, expected);
}

// ---- The payload walk's arguments ----

struct PayloadCase {
  EventKind kind;
  const void *record;
  std::string args;
};

// The arguments of each case's record, as decoded. Each record is written
// twice: the second walk reuses the names the first one interned.
std::vector<std::string> decoded_args(std::span<const PayloadCase> cases) {
  std::string trace;
  {
    PerfettoWriter writer([&](std::string_view bytes) { trace.append(bytes); });
    PayloadAnnotations payloads(&writer);
    const TrackId track = writer.add_process_track("p", 0);
    for (const PayloadCase &c : cases) {
      for (int i = 0; i < 2; ++i) {
        writer.begin_event({TrackEventType::instant, track, 1});
        payloads.add(c.kind, c.record);
        writer.end_event();
      }
    }
  }
  const std::optional<Node> decoded = decode_with_protoc(trace);
  if (!decoded) return {};
  const DecodedTrace read(*decoded);
  std::vector<std::string> args;
  for (size_t i = 0; i + 1 < read.events.size(); i += 2) {
    EXPECT_EQ(read.events[i], read.events[i + 1]);
    args.push_back(split(read.events[i]).back());
  }
  return args;
}

TEST(PayloadAnnotations, KeysTypesAndBlobsFollowTheRendering) {
  if (std::system("command -v protoc >/dev/null 2>&1") != 0) GTEST_SKIP() << "no protoc";
  const video_frame_ref_payload max_address{1, std::numeric_limits<uint64_t>::max()};
  const video_frame_ref_payload int64_address{1, uint64_t{1} << 62};
  const audio_volume_payload half{2, 0.5f};
  const audio_volume_payload nan_volume{2, std::nanf("")};
  video_frame_payload frame{};
  frame.session_id = 4;
  frame.geometry.image_width = 1920;
  frame.cursor_x = -1.5f;
  uint8_t text_url[] = {'h', 't', 't', 'p', ':', '/', '/', 0xC3, 0xA9};
  uint8_t binary_url[] = {'h', 0xFF, 0x00};
  const load_media_payload text{5, {sizeof text_url, text_url}};
  const load_media_payload binary{5, {sizeof binary_url, binary_url}};
  const load_media_payload empty{5, {0, nullptr}};

  const PayloadCase cases[] = {
      {EventKind::video_decoder_frame_returned, &max_address,
       "session_id=i:1,physical_address=u:18446744073709551615"},
      {EventKind::video_decoder_frame_returned, &int64_address,
       "session_id=i:1,physical_address=i:4611686018427387904"},
      {EventKind::audio_volume_changed, &half, "session_id=i:2,volume=d:0.5"},
      {EventKind::audio_volume_changed, &nan_volume, "session_id=i:2,volume=d:nan"},
      {EventKind::video_stream_frame_displayed, &frame,
       "session_id=i:4,physical_address=i:0,data_size=i:0,timestamp=i:0,geometry={"
       "padded_width=i:0,padded_height=i:0,image_width=i:1920,image_height=i:0,crop_left=i:0,"
       "crop_top=i:0},cursor_x=d:-1.5,cursor_y=d:0,cursor_enabled=i:0"},
      {EventKind::media_channel_load_media, &text, "session_id=i:5,url=s:\"http://\xC3\xA9\""},
      {EventKind::media_channel_load_media, &binary, "session_id=i:5,url={hex=s:\"68ff00\"}"},
      {EventKind::media_channel_load_media, &empty, "session_id=i:5,url=s:\"\""},
  };
  const std::vector<std::string> args = decoded_args(cases);
  ASSERT_EQ(args.size(), std::size(cases));
  for (size_t i = 0; i < args.size(); ++i)
    EXPECT_EQ(args[i], cases[i].args) << short_name(cases[i].kind);
}

}  // namespace
}  // namespace vxtrace
