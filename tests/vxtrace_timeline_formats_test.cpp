// vxtrace timeline in both formats, read back the way a viewer would (the
// native trace through protoc and the project's .proto, the JSON through its
// parser) into one list of events, checked against the dump of the trace.
#ifdef VX_VXTRACE_PATH
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "support/protoc_text.h"
#include "support/vxtrace_process.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

struct Event {
  uint64_t ts;  // ns
  std::string name;
  std::string track;                // process and stage
  char phase;                       // 'i', 'B', 'E'
  std::vector<uint64_t> flows;      // flows taken part in
  std::vector<uint64_t> flow_ends;  // flows ending here
};

struct Timeline {
  std::vector<Event> events;
  std::vector<std::pair<uint64_t, double>> counters;  // ts, value
};

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

uint64_t ns_of_us(const json &ts) {
  return static_cast<uint64_t>(std::llround(ts.get<double>() * 1000));
}

Timeline read_json(const std::string &text) {
  Timeline timeline;
  const json document = json::parse(text);
  // Flow events bind to the record event at the same time on the same thread.
  std::map<std::pair<std::string, uint64_t>, size_t> event_at;
  for (const json &e : document["traceEvents"]) {
    const std::string ph = e["ph"];
    const std::string track =
        std::to_string(e["pid"].get<int>()) + "/" + std::to_string(e["tid"].get<int>());
    if (ph == "i" || ph == "B" || ph == "E") {
      event_at[{track, ns_of_us(e["ts"])}] = timeline.events.size();
      timeline.events.push_back(
          {ns_of_us(e["ts"]), e["name"].get<std::string>(), track, ph[0], {}, {}});
    } else if (ph == "C") {
      for (const auto &[series, value] : e["args"].items())
        timeline.counters.push_back({ns_of_us(e["ts"]), value.get<double>()});
    } else if (ph == "s" || ph == "t" || ph == "f") {
      const auto bound = event_at.find({track, ns_of_us(e["ts"])});
      EXPECT_NE(bound, event_at.end()) << e.dump();
      if (bound == event_at.end()) continue;
      Event &event = timeline.events[bound->second];
      (ph == "f" ? event.flow_ends : event.flows).push_back(e["id"].get<uint64_t>());
    }
  }
  return timeline;
}

Timeline read_native(const Node &trace) {
  Timeline timeline;
  std::map<std::string, std::string> names;
  std::map<std::string, std::string> track_names, parents;
  for (const Node *packet : trace.all("packet")) {
    if (const Node *interned = packet->child("interned_data"))
      for (const Node *name : interned->all("event_names"))
        names[name->get("iid")] = name->get("name");
    if (const Node *track = packet->child("track_descriptor")) {
      track_names[track->get("uuid")] = track->get("name");
      parents[track->get("uuid")] = track->get("parent_uuid");
    }
    const Node *event = packet->child("track_event");
    if (event == nullptr) continue;
    const uint64_t ts = std::stoull(packet->get("timestamp"));
    const std::string type = event->get("type");
    if (type == "TYPE_COUNTER") {
      const std::string value = event->child("counter_value") ? event->get("counter_value")
                                                              : event->get("double_counter_value");
      timeline.counters.push_back({ts, std::stod(value)});
      continue;
    }
    const std::string uuid = event->get("track_uuid");
    Event out{ts,
              names[event->get("name_iid")],
              track_names[parents[uuid]] + "/" + track_names[uuid],
              type == "TYPE_SLICE_BEGIN" ? 'B'
              : type == "TYPE_SLICE_END" ? 'E'
                                         : 'i',
              {},
              {}};
    for (const Node *id : event->all("flow_ids")) out.flows.push_back(std::stoull(id->value));
    for (const Node *id : event->all("terminating_flow_ids"))
      out.flow_ends.push_back(std::stoull(id->value));
    timeline.events.push_back(out);
  }
  return timeline;
}

// The end event of a begin's pair.
std::string end_of(const std::string &begin) {
  static const std::map<std::string, std::string> pairs = {
      {"video_decoder_update_begin", "video_decoder_update_end"},
      {"media_demuxer_probe_begin", "media_demuxer_probe_end"},
      {"media_demuxer_get_frame_begin", "media_demuxer_get_frame_end"},
      {"media_video_stream_seek_begin", "media_video_stream_seek_end"},
      {"media_audio_stream_seek_begin", "media_audio_stream_seek_end"},
      {"media_video_stream_begin_reset", "media_video_stream_reset_completed"},
      {"media_audio_stream_begin_reset", "media_audio_stream_reset_completed"},
  };
  const auto known = pairs.find(begin.substr(begin.rfind('/') + 1));
  return known == pairs.end() ? "not a begin: " + begin : "/velocast/" + known->second;
}

// What a timeline shows apart from arguments, one line per event or sample.
std::vector<std::string> shape_of(const Timeline &timeline) {
  std::vector<std::string> lines;
  for (const Event &event : timeline.events) {
    std::string line =
        std::to_string(event.ts) + " " + event.name + " " + event.track + " " + event.phase;
    for (const uint64_t id : event.flows) line += " f" + std::to_string(id);
    for (const uint64_t id : event.flow_ends) line += " t" + std::to_string(id);
    lines.push_back(line);
  }
  for (const auto &[ts, value] : timeline.counters)
    lines.push_back(std::to_string(ts) + " = " + std::to_string(value));
  return lines;
}

// t.vxt in directory, of events generated from seed; "" when generate failed.
std::string generated_trace(const TemporaryDirectory &directory, const char *events,
                            const char *seed) {
  const std::string trace = directory.file("t.vxt");
  const ProcessResult made =
      run_vxtrace({"generate", "--no-progress", "-o", trace, "--events", events, "--seed", seed},
                  directory.path());
  EXPECT_EQ(made.exit_status, 0) << made.err;
  return made.exit_status == 0 ? trace : "";
}

// Both formats tell the same story: every record once at its exact time,
// slices that nest on their tracks, flows that go forward in time through
// one packet's or frame's stages, counters that are payload values.
TEST(VxtraceTimelineFormats, RecordsSlicesFlowsAndCountersAgreeWithTheDump) {
  TemporaryDirectory directory;
  const std::string trace = generated_trace(directory, "20000", "5");
  ASSERT_FALSE(trace.empty());
  const ProcessResult dumped = run_vxtrace({"dump", "--quiet", trace}, directory.path());
  std::multiset<std::pair<uint64_t, std::string>> records;
  std::multiset<std::pair<uint64_t, double>> numbers;  // every numeric payload field
  for (const std::string &line : split_lines(dumped.out)) {
    const json record = json::parse(line);
    records.insert({record["timestamp"].get<uint64_t>(), record["event"].get<std::string>()});
    for (const auto &[key, value] : record["payload"].items())
      if (value.is_number())
        numbers.insert({record["timestamp"].get<uint64_t>(), value.get<double>()});
  }
  const std::string pftrace = directory.file("t.pftrace");
  const std::string json_path = directory.file("t.json");
  const ProcessResult native = run_vxtrace({"timeline", trace, "-o", pftrace}, directory.path());
  ASSERT_EQ(native.exit_status, 0) << native.err;
  EXPECT_NE(native.err.find("slices"), std::string::npos) << native.err;
  ASSERT_EQ(run_vxtrace({"timeline", "--quiet", trace, "--format", "json", "-o", json_path},
                        directory.path())
                .exit_status,
            0);
  const std::optional<Node> decoded = decode_with_protoc(read_file(pftrace));
  if (!decoded) GTEST_SKIP() << "protoc is not installed";

  for (const Timeline &timeline : {read_native(*decoded), read_json(read_file(json_path))}) {
    std::multiset<std::pair<uint64_t, std::string>> seen;
    std::map<std::string, std::vector<const Event *>> by_track;
    for (const Event &event : timeline.events) {
      seen.insert({event.ts, event.name});
      by_track[event.track].push_back(&event);
    }
    EXPECT_EQ(seen, records);
    size_t slices = 0;
    for (auto &[track, events] : by_track) {
      std::stable_sort(events.begin(), events.end(),
                       [](const Event *a, const Event *b) { return a->ts < b->ts; });
      std::vector<const Event *> open;
      for (const Event *event : events) {
        if (event->phase == 'B') open.push_back(event);
        if (event->phase != 'E') continue;
        ASSERT_FALSE(open.empty()) << track << " " << event->name << " at " << event->ts;
        EXPECT_EQ(end_of(open.back()->name), event->name);
        open.pop_back();
        ++slices;
      }
      EXPECT_TRUE(open.empty()) << track;
    }
    EXPECT_GT(slices, 10u);
    std::map<uint64_t, std::vector<const Event *>> flows;
    for (const Event &event : timeline.events) {
      for (const uint64_t id : event.flows) flows[id].push_back(&event);
      for (const uint64_t id : event.flow_ends) flows[id].push_back(&event);
    }
    EXPECT_GT(flows.size(), 100u);
    for (const auto &[id, events] : flows) {
      for (size_t i = 1; i < events.size(); ++i) EXPECT_LE(events[i - 1]->ts, events[i]->ts);
      const bool audio = events.front()->name.find("audio") != std::string::npos;
      for (const Event *event : events)
        EXPECT_EQ(event->name.find("audio") != std::string::npos, audio) << event->name;
      for (size_t i = 0; i + 1 < events.size(); ++i) EXPECT_TRUE(events[i]->flow_ends.empty());
    }
    EXPECT_GT(timeline.counters.size(), 100u);
    for (const auto &sample : timeline.counters)
      EXPECT_GE(numbers.count(sample), 1u) << sample.first << " " << sample.second;
  }

  // Without arguments: the same records, slices, flows and counters, and no
  // payload anywhere.
  const std::string bare_native = directory.file("bare.pftrace");
  const std::string bare_json = directory.file("bare.json");
  ASSERT_EQ(
      run_vxtrace({"timeline", "--quiet", "--no-args", trace, "-o", bare_native}, directory.path())
          .exit_status,
      0);
  ASSERT_EQ(
      run_vxtrace({"timeline", "--quiet", "--no-args", "--format", "json", trace, "-o", bare_json},
                  directory.path())
          .exit_status,
      0);
  const std::string bare_bytes = read_file(bare_native);
  const std::optional<Node> bare = decode_with_protoc(bare_bytes);
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(shape_of(read_native(*bare)), shape_of(read_native(*decoded)));
  EXPECT_EQ(shape_of(read_json(read_file(bare_json))), shape_of(read_json(read_file(json_path))));
  for (const Node *packet : bare->all("packet")) {
    if (const Node *event = packet->child("track_event")) {
      EXPECT_EQ(event->child("debug_annotations"), nullptr);
    }
  }
  const json bare_document = json::parse(read_file(bare_json));
  for (const json &event : bare_document["traceEvents"]) {
    if (event["ph"] == "i" || event["ph"] == "B" || event["ph"] == "E") {
      EXPECT_FALSE(event.contains("args")) << event.dump();
    }
  }
  EXPECT_LT(bare_bytes.size(), read_file(pftrace).size() / 2);
}

// A native file of a damaged input ends with an instant that says so, after
// every complete record, as the JSON says it in otherData.
TEST(VxtraceTimelineFormats, NativeFileOfADamagedInputSaysWhereItEnds) {
  TemporaryDirectory directory;
  const std::string trace = generated_trace(directory, "500", "6");
  ASSERT_FALSE(trace.empty());
  const std::string bytes = read_file(trace);
  write_file(trace, bytes.substr(0, bytes.size() / 2));
  const std::string pftrace = directory.file("t.pftrace");
  const ProcessResult native =
      run_vxtrace({"timeline", "--quiet", trace, "-o", pftrace}, directory.path());
  EXPECT_EQ(native.exit_status, 2) << native.err;
  const std::optional<Node> decoded = decode_with_protoc(read_file(pftrace));
  if (!decoded) GTEST_SKIP() << "protoc is not installed";
  const Timeline timeline = read_native(*decoded);
  ASSERT_FALSE(timeline.events.empty());
  const Event &last = timeline.events.back();
  EXPECT_EQ(last.name, "input damaged");
  for (const Event &event : timeline.events) EXPECT_LE(event.ts, last.ts);
  EXPECT_NE(read_file(pftrace).find("at byte"), std::string::npos);
}

}  // namespace
}  // namespace vxtrace_test
#endif
