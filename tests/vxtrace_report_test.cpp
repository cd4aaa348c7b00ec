// The report built from synthetic records: stage latencies equal what was
// fed, keys lost or flushed at the stage where they stayed, the horizon,
// stalls, drops, the audio sink and spans; the JSON document's shape.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string_view>
#include <unordered_map>

#include "measure/display_cadence.h"
#include "measure/histogram.h"
#include "pipeline/record_fields.h"
#include "report/open_keys.h"
#include "report/report_builder.h"
#include "report/report_writers.h"
#include "schema/payload_fields.h"
#include "support/chromium_page.h"
#include "support/report_feed.h"
#include "support/vxtrace_process.h"

namespace vxtrace {
namespace {

using vxtrace_test::add_audio;
using vxtrace_test::audio_packet;
using vxtrace_test::Feed;
using vxtrace_test::frame_of;
using vxtrace_test::kMs;
using vxtrace_test::kSecond;
using vxtrace_test::kUs;

size_t pair_index(EventKind from, EventKind to) {
  for (size_t p = 0; p < kStagePairCount; ++p)
    if (kStagePairs[p].from == from && kStagePairs[p].to == to) return p;
  ADD_FAILURE() << "no pair " << short_name(from) << " -> " << short_name(to);
  return 0;
}

uint64_t nearest_rank(std::vector<uint64_t> values, double q) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
  return values[std::max<size_t>(rank, 1) - 1];
}

void expect_durations(const Durations &got, const std::vector<uint64_t> &fed,
                      const std::string &what) {
  ASSERT_EQ(got.count, fed.size()) << what;
  for (const auto &[q, value] :
       {std::pair{0.5, got.p50_ns}, {0.9, got.p90_ns}, {0.99, got.p99_ns}}) {
    const double exact = static_cast<double>(nearest_rank(fed, q));
    EXPECT_NEAR(static_cast<double>(value), exact, exact * 0.01) << what << " q=" << q;
  }
  EXPECT_EQ(got.max_ns, *std::max_element(fed.begin(), fed.end())) << what;
}

TEST(PipelineModel, EveryPairSpanAndFlushNamesEventsThatCarryItsSessionAndKey) {
  for (size_t p = 0; p < kStagePairCount; ++p) {
    const StagePair &pair = kStagePairs[p];
    for (EventKind kind : {pair.from, pair.to}) {
      EXPECT_TRUE(has_session(kind)) << short_name(kind);
      EXPECT_TRUE(has_key(kind, pair.key)) << short_name(kind) << " lacks " << key_name(pair.key);
    }
    const KindRoles &leaving = roles_of(pair.to);
    EXPECT_NE(std::find(leaving.left_pairs, leaving.left_pairs + leaving.left_count, p),
              leaving.left_pairs + leaving.left_count);
  }
  for (const SpanPair &span : kSpanPairs)
    EXPECT_TRUE(has_session(span.begin) && has_session(span.end)) << short_name(span.begin);
  for (const FlushRule &rule : kFlushRules)
    EXPECT_NE(roles_of(rule.event).flushed_stages, 0u) << short_name(rule.event);

  // Keys come out with their bits, nested or not, signed or not.
  audio_packet_received_payload received{};
  received.packet = audio_packet(0xFFFFFFFFu, -2);
  const RecordKeys keys = record_keys(EventKind::audio_packet_received, &received);
  EXPECT_EQ(keys.session, 0xFFFFFFFFu);
  EXPECT_EQ(keys.key(KeyKind::packet_id), static_cast<uint64_t>(-2));
  video_frame_payload frame{};
  frame.session_id = 3;
  frame.physical_address = 0x8000000000000010ull;
  frame.timestamp = 77;
  const RecordKeys frame_keys = record_keys(EventKind::video_decoder_frame_produced, &frame);
  EXPECT_EQ(frame_keys.key(KeyKind::physical_address), 0x8000000000000010ull);
  EXPECT_EQ(frame_keys.key(KeyKind::timestamp), 77u);
  EXPECT_EQ(frame_keys.key(KeyKind::packet_id), std::nullopt);
  EXPECT_EQ(record_keys(EventKind::audio_queue_read, &frame).session, std::nullopt);
}

// The fields found through the schema's walk read the same values as the
// walk itself, for every kind, whatever the record's bytes.
struct NamedReader {
  std::string prefix;
  std::map<std::string, int64_t> values;
  template <class T>
  void field(const char *key, T value) {
    if constexpr (std::is_integral_v<T>) values[prefix + key] = static_cast<int64_t>(value);
  }
  void blob(const char *, const byte_blob &) {}
  void begin_record(const char *key) { prefix = std::string(key) + "."; }
  void end_record() { prefix.clear(); }
};

template <class Payload>
void check_fields_of(EventKind kind, std::mt19937_64 &random) {
  Payload record;
  unsigned char bytes[sizeof(Payload)];
  for (unsigned char &byte : bytes) byte = static_cast<unsigned char>(random());
  std::memcpy(static_cast<void *>(&record), bytes, sizeof record);
  NamedReader walk;
  visit_payload(kind, &record, walk);
  const RecordKeys keys = record_keys(kind, &record);
  EXPECT_EQ(keys.session, session_of(kind, &record)) << short_name(kind);
  for (size_t k = 0; k < kKeyKindCount; ++k) {
    const std::string name(key_name(static_cast<KeyKind>(k)));
    const auto top = walk.values.find(name);
    const auto nested = walk.values.find("packet." + name);
    const auto expected = top != walk.values.end() ? top : nested;
    if (expected == walk.values.end()) {
      EXPECT_EQ(keys.keys[k], std::nullopt) << short_name(kind) << " " << name;
    } else {
      EXPECT_EQ(keys.keys[k], static_cast<uint64_t>(expected->second))
          << short_name(kind) << " " << name;
    }
  }
  for (const auto &[path, value] : walk.values) {
    const auto ordinal = find_integer_field(kind, path);
    ASSERT_TRUE(ordinal) << short_name(kind) << " " << path;
    EXPECT_EQ(read_integer_field(kind, *ordinal, &record), value)
        << short_name(kind) << " " << path;
  }
}

TEST(RecordFields, ReadWhatTheSchemaWalkReadsForEveryKind) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 20; ++round) {
#define VX_EVENT(short_name, payload_type) \
  check_fields_of<payload_type>(EventKind::short_name, random);
#include "events/catalogue.def"
  }
}

// The open-key table against a plain map, with keys that collide and wrap
// around the table.
TEST(OpenKeys, BehavesLikeAMapUnderOpensClosesAndRemovals) {
  std::mt19937_64 random(11);
  OpenKeys table;
  std::unordered_map<uint64_t, uint64_t> model;
  for (uint64_t step = 0; step < 200'000; ++step) {
    const uint64_t key = (random() % 600) << 40;  // keys that differ in high bits only
    switch (random() % 8) {
      case 0:
        if (step % 1000 == 0) {
          const uint64_t cut = step - std::min<uint64_t>(step, 500);
          const size_t removed = table.remove_if([&](uint64_t, uint64_t t) { return t < cut; });
          EXPECT_EQ(removed, std::erase_if(model, [&](const auto &e) { return e.second < cut; }));
        }
        break;
      case 1:
      case 2:
      case 3: {
        const auto earlier = table.open(key, step);
        const auto known = model.find(key);
        EXPECT_EQ(earlier, known == model.end() ? std::nullopt : std::optional(known->second));
        model[key] = step;
        break;
      }
      default: {
        const auto known = model.find(key);
        EXPECT_EQ(table.close(key),
                  known == model.end() ? std::nullopt : std::optional(known->second));
        if (known != model.end()) model.erase(known);
      }
    }
    ASSERT_EQ(table.size(), model.size()) << step;
  }
}

TEST(LogHistogram, PercentilesStayWithinOnePercentOfTheExactSample) {
  std::mt19937_64 random(42);
  const std::vector<std::pair<std::string, std::function<uint64_t()>>> distributions = {
      {"constant", [] { return uint64_t{16'666'667}; }},
      {"small", [&] { return random() % 300; }},
      {"uniform", [&] { return 1'000 + random() % 5'000'000; }},
      {"log-uniform over 1 ns to 1000 s",
       [&] {
         return static_cast<uint64_t>(std::exp2(std::uniform_real_distribution<>(0, 40)(random)));
       }},
      {"outliers", [&] { return random() % 100 == 0 ? 3 * kSecond : 20 * kUs + random() % 1000; }},
  };
  for (const auto &[name, draw] : distributions) {
    LogHistogram histogram;
    std::vector<uint64_t> values(20'001);
    for (uint64_t &value : values) histogram.add(value = draw());
    Durations got{histogram.count(), histogram.quantile(0.5), histogram.quantile(0.9),
                  histogram.quantile(0.99), histogram.max()};
    expect_durations(got, values, name);
  }
}

// One session's audio packets, fed with known latencies per stage; every
// 50th packet stays in the reorder buffer. A second session has packets in
// the reorder buffer when it is flushed and packets stuck in the decoder.
TEST(ReportBuilder, StageLatenciesLossesAndFlushesAreWhereTheyWereFed) {
  const EventKind chain[] = {EventKind::audio_packet_received,
                             EventKind::audio_reorder_buffer_packet_received,
                             EventKind::audio_reorder_buffer_packet_sent,
                             EventKind::audio_decoder_packet_received,
                             EventKind::audio_decoder_packet_sent,
                             EventKind::audio_queue_packet_received};
  Feed feed;
  std::vector<std::vector<uint64_t>> fed(6);  // per step, then the whole path
  for (int64_t id = 0; id < 2000; ++id) {
    const auto i = static_cast<uint64_t>(id);
    const uint64_t latency[] = {100 * kUs + i % 10 * 10 * kUs, 2 * kMs + i % 100 * 20 * kUs,
                                50 * kUs, kMs + i * kUs, 30 * kUs + i % 7 * 1000};
    const bool stays_in_reorder = id % 50 == 7;
    uint64_t t = kSecond + i * kMs;
    add_audio(feed, t, chain[0], 7, id);
    for (size_t step = 0; step < 5; ++step) {
      if (stays_in_reorder && step == 1) break;
      t += latency[step];
      add_audio(feed, t, chain[step + 1], 7, id);
      fed[step].push_back(latency[step]);
    }
    if (!stays_in_reorder) fed[5].push_back(t - (kSecond + i * kMs));
  }
  const uint64_t later = 10 * kSecond;
  for (int64_t id = 0; id < 5; ++id) {
    add_audio(feed, later, EventKind::audio_packet_received, 8, id);
    add_audio(feed, later + kMs, EventKind::audio_reorder_buffer_packet_received, 8, id);
  }
  for (int64_t id = 5; id < 8; ++id)
    add_audio(feed, later + kMs, EventKind::audio_decoder_packet_received, 8, id);
  feed.add(later + 2 * kMs, EventKind::audio_reorder_buffer_flush, audio_flush_payload{8, 0});

  ReportBuilder builder;
  feed.into(builder);
  const Report report = builder.finish();
  ASSERT_EQ(report.sessions.size(), 2u);
  const SessionFigures &seven = report.sessions[0];
  const SessionFigures &eight = report.sessions[1];
  EXPECT_EQ(seven.session_id, 7u);
  EXPECT_EQ(seven.events, 2000u * 6 - 40 * 4);
  for (size_t step = 0; step < 6; ++step) {
    const size_t p =
        step < 5 ? pair_index(chain[step], chain[step + 1]) : pair_index(chain[0], chain[5]);
    expect_durations(seven.stages[p].latency, fed[step], std::string(short_name(chain[step])));
    EXPECT_EQ(seven.stages[p].lost, step == 1 || step == 5 ? 40u : 0u) << step;
    EXPECT_EQ(seven.stages[p].flushed, 0u) << step;
    EXPECT_EQ(eight.stages[p].lost, step == 3 ? 3u : 0u) << step;
    EXPECT_EQ(eight.stages[p].flushed, step == 1 || step == 5 ? 5u : 0u) << step;
  }
  // The packets the decoder received and never sent are lost in the decoder
  // only: the whole path never saw them arrive.
  EXPECT_EQ(eight.stages[pair_index(chain[0], chain[1])].latency.count, 5u);
}

TEST(ReportBuilder, KeysOpenPastTheHorizonAreLostAndForgotten) {
  ReportOptions options;
  options.horizon_ns = kSecond;
  ReportBuilder builder(options);
  // 100,000 packets over 100 s enter the reorder buffer and none leaves.
  for (int64_t id = 0; id < 100'000; ++id) {
    audio_packet_received_payload received{};
    received.packet = audio_packet(1, id);
    builder.add(static_cast<uint64_t>(id) * kMs, EventKind::audio_packet_received, &received);
    // Two stages hold each key (its step and the whole path) for at most
    // one and a half horizons.
    if (id % 1000 == 0) {
      ASSERT_LE(builder.keys_in_flight(), 2u * 1500 + 2) << id;
    }
  }
  // A leave after the horizon finds its key forgotten; one in time counts.
  audio_packet_payload late = audio_packet(1, 99'000);
  builder.add(99'999 * kMs + 2 * kSecond, EventKind::audio_reorder_buffer_packet_received, &late);
  audio_packet_received_payload early{};
  early.packet = audio_packet(1, 500'000);
  builder.add(103 * kSecond, EventKind::audio_packet_received, &early);
  audio_packet_payload in_time = audio_packet(1, 500'000);
  builder.add(103 * kSecond + 5 * kMs, EventKind::audio_reorder_buffer_packet_received, &in_time);
  EXPECT_LE(builder.keys_in_flight(), 2u);

  const Report report = builder.finish();
  const StageFigures &network = report.sessions[0].stages[pair_index(
      EventKind::audio_packet_received, EventKind::audio_reorder_buffer_packet_received)];
  EXPECT_EQ(network.latency.count, 1u);
  EXPECT_EQ(network.latency.max_ns, 5 * kMs);
  EXPECT_EQ(network.lost, 100'000u);
}

// A packet in the reorder buffer flushed some time after it entered, with or
// without a record of another session just before the flush (which lets a
// sweep run): past the horizon it is lost in its step and its whole path,
// whether a sweep found it first or not.
TEST(ReportBuilder, AKeyFlushedPastTheHorizonIsLostWithOrWithoutASweep) {
  struct Case {
    uint64_t flushed_after;
    bool record_before_flush;
    bool lost;
  };
  const Case cases[] = {
      {900 * kMs, false, false}, {900 * kMs, true, false}, {kSecond, false, false},
      {1500 * kMs, false, true}, {1500 * kMs, true, true}, {90 * kSecond, false, true},
  };
  const size_t reorder = pair_index(EventKind::audio_reorder_buffer_packet_received,
                                    EventKind::audio_reorder_buffer_packet_sent);
  const size_t whole =
      pair_index(EventKind::audio_packet_received, EventKind::audio_queue_packet_received);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.flushed_after) + (c.record_before_flush ? " swept" : ""));
    ReportOptions options;
    options.horizon_ns = kSecond;
    Feed feed;
    const uint64_t t0 = 10 * kSecond;
    add_audio(feed, t0, EventKind::audio_packet_received, 3, 1);
    add_audio(feed, t0, EventKind::audio_reorder_buffer_packet_received, 3, 1);
    if (c.record_before_flush)
      feed.add(t0 + c.flushed_after - kMs, EventKind::media_channel_play, session_payload{4});
    feed.add(t0 + c.flushed_after, EventKind::audio_reorder_buffer_flush,
             audio_flush_payload{3, 0});
    ReportBuilder builder(options);
    feed.into(builder);
    const Report report = builder.finish();
    const SessionFigures &three = report.sessions.at(0);
    for (const size_t p : {reorder, whole}) {
      EXPECT_EQ(three.stages[p].lost, c.lost ? 1u : 0u) << p;
      EXPECT_EQ(three.stages[p].flushed, c.lost ? 0u : 1u) << p;
    }
  }
}

// Every record a new key of one of 50 sessions, all at one time: more than
// the bounds allow, which cost what the report says and no more memory.
TEST(ReportBuilder, HostileInputStaysWithinTheBoundsAndSaysWhatItCost) {
  ReportOptions options;
  options.max_keys_in_flight = 100;
  options.max_live_sessions = 8;
  options.max_sessions = 20;
  ReportBuilder builder(options);
  for (int64_t i = 0; i < 1000; ++i) {
    audio_packet_received_payload received{};
    received.packet = audio_packet(static_cast<uint32_t>(i % 50), i);
    builder.add(0, EventKind::audio_packet_received, &received);
    ASSERT_LE(builder.keys_in_flight(), 100u);
  }
  const Report report = builder.finish();
  ASSERT_EQ(report.sessions.size(), 20u);
  // Sessions 0 to 11 ended early for 12 to 19; after the first round only
  // the records of 12 to 19 have a session.
  EXPECT_EQ(report.sessions_ended_early, 12u);
  EXPECT_EQ(report.records_of_extra_sessions, 1000u - 20 - 19 * 8);
  uint64_t events = 0, lost = 0;
  for (const SessionFigures &session : report.sessions) {
    events += session.events;
    for (const StageFigures &stage : session.stages) lost += stage.lost;
  }
  EXPECT_EQ(events + report.records_of_extra_sessions, report.events);
  EXPECT_EQ(lost, 2 * events);  // every key entered two stages and left none
  EXPECT_GT(report.keys_not_followed, 0u);
  EXPECT_NE(text_report(report).find("records belong to sessions beyond the first 20"),
            std::string::npos);
}

// A minute of frames at 60 per second with a 40 ms hitch (under the floor),
// a 60 ms one and a 400 ms stall at 30 s.
std::vector<uint64_t> display_times() {
  std::vector<uint64_t> times;
  uint64_t t = 5 * kSecond;
  for (int frame = 0; frame < 3600; ++frame) {
    times.push_back(t);
    t += frame == 600    ? 40 * kMs
         : frame == 1200 ? 60 * kMs
         : frame == 1800 ? 400 * kMs
                         : 16'666'667;
  }
  return times;
}

TEST(ReportBuilder, StallsAreIntervalsOverTwiceTheMedianAndTheFloor) {
  for (const uint64_t floor : {50 * kMs, 100 * kMs}) {
    ReportOptions options;
    options.stall_floor_ns = floor;
    ReportBuilder builder(options);
    const std::vector<uint64_t> times = display_times();
    for (size_t i = 0; i < times.size(); ++i) {
      const video_frame_payload frame = frame_of(4, static_cast<int64_t>(i), 0x1000 + i % 8);
      builder.add(times[i], EventKind::video_stream_frame_displayed, &frame);
    }
    const DisplayFigures display = builder.finish().sessions.at(0).display;
    EXPECT_EQ(display.frames, 3600u);
    EXPECT_NEAR(static_cast<double>(display.interval.p50_ns), 16'666'667.0, 166'667.0);
    EXPECT_EQ(display.interval.max_ns, 400 * kMs);
    std::vector<std::pair<uint64_t, uint64_t>> stalls;
    for (const Stall &stall : display.stalls) stalls.push_back({stall.at_ns, stall.gap_ns});
    std::vector<std::pair<uint64_t, uint64_t>> expected = {{times[1801], 400 * kMs}};
    if (floor == 50 * kMs) expected.insert(expected.begin(), {times[1201], 60 * kMs});
    EXPECT_EQ(stalls, expected) << "floor " << floor;
    EXPECT_FALSE(display.stalls_incomplete);
  }
}

// A session with more stalls than candidates are kept lists the longest
// ones and says that there are more; up to the bound it lists all of them.
TEST(DisplayCadence, KeepsTheLongestStallsWithinItsBound) {
  struct Case {
    size_t stalls;
    size_t listed;
    bool incomplete;
  };
  const Case cases[] = {{0, 0, false},
                        {kMaxStallCandidates - 1, kMaxStallCandidates - 1, false},
                        {kMaxStallCandidates, kMaxStallCandidates, false},
                        {kMaxStallCandidates + 1, kMaxStallCandidates, true},
                        {3 * kMaxStallCandidates, kMaxStallCandidates, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stalls);
    DisplayCadence cadence;
    uint64_t t = kSecond;
    EXPECT_FALSE(cadence.add(t).has_value());
    // Twenty frames at 60 per second before each stall, whose gaps grow.
    for (size_t stall = 0; stall < c.stalls; ++stall) {
      for (int frame = 0; frame < 20; ++frame) EXPECT_EQ(cadence.add(t += 16 * kMs), 16 * kMs);
      cadence.add(t += kDefaultStallFloorNs + stall * kUs);
    }
    const FoundStalls found = cadence.stalls();
    EXPECT_EQ(cadence.frames(), 1 + c.stalls * 21);
    ASSERT_EQ(found.stalls.size(), c.listed);
    EXPECT_EQ(found.incomplete, c.incomplete);
    EXPECT_TRUE(std::is_sorted(found.stalls.begin(), found.stalls.end(),
                               [](const Stall &a, const Stall &b) { return a.at_ns < b.at_ns; }));
    for (size_t i = 0; i < found.stalls.size(); ++i)
      EXPECT_EQ(found.stalls[i].gap_ns, kDefaultStallFloorNs + (c.stalls - c.listed + i) * kUs);
  }
}

// Drops, frames that leave by a drop, spans, the audio sink, and a session
// that ends and whose id comes back.
Report mixed_report() {
  Feed feed;
  const uint64_t t0 = 2 * kSecond;
  for (int64_t ts = 0; ts < 10; ++ts) {
    const uint64_t t = t0 + static_cast<uint64_t>(ts) * 10 * kMs;
    feed.add(t, EventKind::video_decoder_frame_produced, frame_of(5, ts, 0xA000));
    feed.add(t + kMs, EventKind::video_stream_frame_received, frame_of(5, ts, 0xA000));
    feed.add(
        t + 3 * kMs,
        ts < 3 ? EventKind::video_stream_frame_dropped : EventKind::video_stream_frame_displayed,
        frame_of(5, ts, 0xA000));
    feed.add(t + 5 * kMs, EventKind::video_decoder_frame_returned,
             video_frame_ref_payload{5, 0xA000});
  }
  feed.add(t0, EventKind::audio_packet_dropped_on_startup, audio_packet(5, 1));
  feed.add(t0, EventKind::video_packet_dropped_on_startup, video_packet_payload{5, 0, 0, 9, 0});
  feed.add(t0, EventKind::video_decoder_drop, video_decoder_drop_payload{5, 1, 2});
  feed.add(t0, EventKind::media_video_sink_frame_dropped, frame_of(5, 99, 0));
  for (uint64_t i = 0; i < 4; ++i) {
    feed.add(t0 + i * kMs, EventKind::video_decoder_update_begin,
             video_decoder_update_begin_payload{5, 0, 0, 1});
    feed.add(t0 + i * kMs + (i + 1) * 100 * kUs, EventKind::video_decoder_update_end,
             video_decoder_update_end_payload{5, 0, 0, 1, 1});
  }
  feed.add(t0 + 90 * kMs, EventKind::media_demuxer_probe_begin, session_payload{5});
  for (int i = 0; i < 10; ++i)
    feed.add(t0 + static_cast<uint64_t>(i), EventKind::audio_sink_write_data,
             audio_sink_write_payload{});
  for (int i = 0; i < 3; ++i)
    feed.add(t0 + static_cast<uint64_t>(i), EventKind::audio_sink_write_silence,
             audio_sink_write_payload{});
  feed.add(t0, EventKind::audio_sink_dropped_samples, audio_sink_dropped_payload{480});
  feed.add(t0, EventKind::audio_sink_dropped_samples, audio_sink_dropped_payload{96});
  for (int64_t lead : {-5000, 12000, 300})
    feed.add(t0, EventKind::audio_sink_clock_drift_update,
             audio_sink_clock_drift_payload{lead, 0, 0, 0});
  // The session ends with a packet in its decoder, and its id comes back.
  feed.add(t0 + 100 * kMs, EventKind::video_packet_received,
           video_packet_received_payload{video_packet_payload{5, 0, 0, 1234, 0}, 0});
  feed.add(t0 + 101 * kMs, EventKind::network_session_destroyed, session_payload{5});
  feed.add(t0 + 102 * kMs, EventKind::media_channel_play, session_payload{5});
  ReportBuilder builder;
  feed.into(builder);
  Report report = builder.finish();
  report.inputs = {"a.vxt", "odd \x01\xff<name>.vxt"};
  return report;
}

TEST(ReportBuilder, DropsSpansAudioSinkAndSessionEndsAreCounted) {
  const Report report = mixed_report();
  ASSERT_EQ(report.sessions.size(), 2u);
  const SessionFigures &five = report.sessions[0];
  EXPECT_EQ(five.drops, (std::array<uint64_t, 5>{1, 1, 1, 3, 1}));
  const size_t received =
      pair_index(EventKind::video_stream_frame_received, EventKind::video_stream_frame_displayed);
  const size_t dropped =
      pair_index(EventKind::video_stream_frame_received, EventKind::video_stream_frame_dropped);
  expect_durations(five.stages[received].latency, std::vector<uint64_t>(7, 2 * kMs), "displayed");
  expect_durations(five.stages[dropped].latency, std::vector<uint64_t>(3, 2 * kMs), "dropped");
  EXPECT_EQ(five.stages[received].lost, 0u);
  const size_t buffers =
      pair_index(EventKind::video_decoder_frame_produced, EventKind::video_decoder_frame_returned);
  expect_durations(five.stages[buffers].latency, std::vector<uint64_t>(10, 5 * kMs), "buffers");
  const size_t packets =
      pair_index(EventKind::video_packet_received, EventKind::video_decoder_packet_received);
  EXPECT_EQ(five.stages[packets].flushed, 1u);
  EXPECT_EQ(five.stages[packets].lost, 0u);
  expect_durations(five.spans[0].duration, {100 * kUs, 200 * kUs, 300 * kUs, 400 * kUs}, "update");
  EXPECT_EQ(five.spans[0].unfinished, 0u);
  EXPECT_EQ(five.spans[1].unfinished, 1u);  // the probe never ended
  EXPECT_EQ(report.sessions[1].session_id, 5u);
  EXPECT_EQ(report.sessions[1].events, 1u);

  const AudioSinkFigures &sink = report.audio_sink;
  EXPECT_EQ(sink.writes, 10u);
  EXPECT_EQ(sink.silence_writes, 3u);
  EXPECT_EQ(sink.dropped_samples, 576u);
  EXPECT_EQ(sink.clock_lead_min_ns, -5000);
  EXPECT_EQ(sink.clock_lead_max_ns, 12000);
  EXPECT_EQ(report.receiver_events, 18u);
}

// Timestamps at the ends of their range, backwards and repeated, with keys
// and sessions at theirs: nothing overflows and the document stays sound.
TEST(ReportBuilder, ExtremeTimestampsAndValuesGiveASoundReport) {
  ReportBuilder builder;
  const uint64_t times[] = {UINT64_MAX, 0, 5, UINT64_MAX - 1, UINT64_MAX, 1, UINT64_MAX};
  for (const uint64_t t : times) {
    audio_packet_received_payload received{};
    received.packet = audio_packet(UINT32_MAX, INT64_MIN);
    builder.add(t, EventKind::audio_packet_received, &received);
    builder.add(t, EventKind::audio_reorder_buffer_packet_received, &received.packet);
    const video_frame_payload frame = frame_of(0, INT64_MAX, UINT64_MAX);
    builder.add(t, EventKind::video_stream_frame_displayed, &frame);
    const video_decoder_update_begin_payload begin{0, 0, 0, 0};
    builder.add(t, EventKind::video_decoder_update_begin, &begin);
    builder.add_undecoded(t);
    const audio_sink_clock_drift_payload drift{t % 2 ? INT64_MIN : INT64_MAX, 0, 0, 0};
    builder.add(t, EventKind::audio_sink_clock_drift_update, &drift);
  }
  const Report report = builder.finish();
  EXPECT_EQ(report.first_ns, 0u);
  EXPECT_EQ(report.last_ns, UINT64_MAX);
  const nlohmann::json doc = nlohmann::json::parse(json_report(report));
  EXPECT_EQ(doc["sessions"].size(), 2u);
  EXPECT_EQ(doc["receiver"]["audio_sink"]["clock_lead_ns_min"], INT64_MIN);
  EXPECT_FALSE(text_report(report).empty());
  EXPECT_FALSE(html_report(report).empty());
}

std::set<std::string> keys_of(const nlohmann::json &object) {
  std::set<std::string> keys;
  for (const auto &[key, value] : object.items()) keys.insert(key);
  return keys;
}

TEST(ReportWriters, JsonHasTheDocumentedShapeAndTextFitsHundredColumns) {
  const Report report = mixed_report();
  const nlohmann::json doc = nlohmann::json::parse(json_report(report));
  using Keys = std::set<std::string>;
  EXPECT_EQ(keys_of(doc), (Keys{"inputs", "events", "first_timestamp", "last_timestamp", "findings",
                                "sessions", "receiver"}));
  EXPECT_EQ(doc["inputs"][1], "odd \x01\xef\xbf\xbd<name>.vxt");
  EXPECT_EQ(doc["events"], report.events);
  EXPECT_EQ(doc["first_timestamp"], report.first_ns);
  ASSERT_EQ(doc["sessions"].size(), 2u);
  const nlohmann::json &session = doc["sessions"][0];
  // With several inputs each session names its own.
  EXPECT_EQ(keys_of(session),
            (Keys{"session_id", "input", "events", "stages", "drops", "display", "spans"}));
  EXPECT_EQ(session["input"], doc["inputs"][0]);
  ASSERT_EQ(session["stages"].size(), kStagePairCount);
  for (const nlohmann::json &stage : session["stages"]) {
    EXPECT_EQ(keys_of(stage), (Keys{"from", "to", "key", "count", "lost", "flushed", "p50_us",
                                    "p90_us", "p99_us", "max_us"}));
    EXPECT_TRUE(stage["p50_us"].is_number() == (stage["count"] != 0));
  }
  EXPECT_EQ(session["stages"][9]["to"], "video_stream_frame_dropped");
  EXPECT_EQ(session["stages"][9]["p99_us"], 2000);
  EXPECT_EQ(session["drops"]["video_stream_frame_dropped"], 3);
  EXPECT_EQ(session["drops"].size(), 5u);
  EXPECT_EQ(keys_of(session["display"]), (Keys{"frames", "interval_p50_us", "interval_p90_us",
                                               "interval_p99_us", "interval_max_us", "stalls"}));
  EXPECT_EQ(session["spans"].size(), kSpanPairCount);
  EXPECT_EQ(keys_of(session["spans"][0]),
            (Keys{"begin", "end", "count", "open", "p50_us", "p90_us", "p99_us", "max_us"}));
  EXPECT_EQ(session["spans"][0]["max_us"], 400);
  EXPECT_EQ(doc["receiver"]["audio_sink"],
            nlohmann::json::parse(R"({"writes": 10, "silence_writes": 3, "dropped_samples": 576,
                                      "clock_lead_ns_min": -5000, "clock_lead_ns_max": 12000})"));

  const std::string table = text_report(report);
  size_t start = 0;
  for (size_t end; (end = table.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 100u) << table.substr(start, end - start);
  EXPECT_NE(table.find("odd ?"
                       "?<name>.vxt"),
            std::string::npos)
      << table;
}

TEST(ReportWriters, HtmlPageDrawsItsPlotsInChromiumWithoutNetwork) {
  if (!vxtrace_test::chromium_installed()) GTEST_SKIP() << "chromium is not installed";
  const std::string page = html_report(mixed_report());
  EXPECT_EQ(page.find("<script src"), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  EXPECT_NE(page.find("&lt;name&gt;"), std::string::npos);
  vxtrace_test::TemporaryDirectory work;
  const vxtrace_test::ReportPageVerdict verdict =
      vxtrace_test::check_report_page(work.path(), page);
  ASSERT_TRUE(verdict.loaded) << verdict.log;
  EXPECT_EQ(verdict.errors, "");
  EXPECT_EQ(verdict.canvases, 4u);
  EXPECT_EQ(verdict.drawn, 4u);

  vxtrace_test::write_file(work.file("report.html"), page);
  ASSERT_EQ(
      vxtrace_test::run_chromium(work.path(),
                                 "--window-size=1200,2400 --screenshot=" + work.file("shot.png") +
                                     " file://" + work.file("report.html"),
                                 work.file("shot.log")),
      0);
  EXPECT_GT(vxtrace_test::read_file(work.file("shot.png")).size(), 10'000u);
}

}  // namespace
}  // namespace vxtrace
