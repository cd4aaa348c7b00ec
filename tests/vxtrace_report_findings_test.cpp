// The report's findings from hand-built records at the edges of each rule
// (stall, held, lost, silence, drops), their ranking and commands, and how
// the text and JSON show them.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "report/findings.h"
#include "report/format.h"
#include "report/report_builder.h"
#include "report/report_writers.h"
#include "support/report_feed.h"

namespace vxtrace {
namespace {

using vxtrace_test::add_audio;
using vxtrace_test::Feed;
using vxtrace_test::frame_of;
using vxtrace_test::kMs;
using vxtrace_test::kSecond;

constexpr uint64_t kStart = 10 * kSecond;

// Frames of session 3 displayed every 40 ms, consumed and returned, one
// interval replaced by `gap`.
void frames_with_gap(Feed &feed, uint64_t gap) {
  uint64_t t = kStart;
  for (int frame = 0; frame < 200; ++frame) {
    const uint64_t address = 0x100 + static_cast<uint64_t>(frame);
    feed.add(t, EventKind::video_stream_frame_displayed, frame_of(3, frame, address));
    feed.add(t + kMs, EventKind::video_stream_displayed_frame_consumed,
             video_frame_ref_payload{3, address});
    feed.add(t + 2 * kMs, EventKind::video_decoder_frame_returned,
             video_frame_ref_payload{3, address});
    t += frame == 100 ? gap : 40 * kMs;
  }
}

// A packet of session 4 enters its decoder at kStart; a flush comes after
// `wait`, or none when wait is 0, and the trace goes on until kStart + `until`.
void packet_in_decoder(Feed &feed, uint64_t wait, uint64_t until) {
  add_audio(feed, kStart, EventKind::audio_decoder_packet_received, 4, 77);
  if (wait != 0) feed.add(kStart + wait, EventKind::audio_flush, audio_flush_payload{4, 0});
  feed.add(kStart + until, EventKind::audio_sink_write_data, audio_sink_write_payload{});
}

// A data write, `run` silence writes 10 ms apart, and a data write after them
// unless the trace ends first.
void silence_run(Feed &feed, int run, bool data_after) {
  feed.add(kStart, EventKind::audio_sink_write_data, audio_sink_write_payload{});
  uint64_t t = kStart + 10 * kMs;
  for (int i = 0; i < run; ++i, t += 10 * kMs)
    feed.add(t, EventKind::audio_sink_write_silence, audio_sink_write_payload{});
  if (data_after) feed.add(t, EventKind::audio_sink_write_data, audio_sink_write_payload{});
}

void decoder_drops(Feed &feed, std::vector<uint64_t> offsets) {
  for (const uint64_t offset : offsets)
    feed.add(kStart + offset, EventKind::video_decoder_drop, video_decoder_drop_payload{6, 0, 0});
}

struct Expected {
  FindingKind kind;
  uint64_t count;
  uint64_t severity_ns;
  uint64_t begin_ns;
  uint64_t end_ns;
};

struct RuleCase {
  const char *name;
  std::function<void(Feed &)> records;
  std::vector<Expected> expected;
};

std::vector<Finding> findings_of(const RuleCase &rule_case) {
  Feed feed;
  rule_case.records(feed);
  ReportBuilder builder;
  feed.into(builder);
  return builder.finish().findings;
}

TEST(ReportFindings, EachRuleFindsJustPastItsLimitAndNothingJustShortOfIt) {
  const uint64_t before_gap = kStart + 100 * 40 * kMs;  // the frame that begins the interval
  const std::vector<RuleCase> cases = {
      {"interval of 2.1 times the median",
       [](Feed &f) { frames_with_gap(f, 84 * kMs); },
       {{FindingKind::stall, 1, 84 * kMs, before_gap, before_gap + 84 * kMs}}},
      {"interval of 1.9 times the median", [](Feed &f) { frames_with_gap(f, 76 * kMs); }, {}},
      {"held 101 ms, then flushed",
       [](Feed &f) { packet_in_decoder(f, 101 * kMs, 200 * kMs); },
       {{FindingKind::held, 1, 101 * kMs, kStart, kStart + 101 * kMs}}},
      {"held 99 ms, then flushed", [](Feed &f) { packet_in_decoder(f, 99 * kMs, 200 * kMs); }, {}},
      {"never left, trace goes on 100 ms",
       [](Feed &f) { packet_in_decoder(f, 0, 100 * kMs); },
       {{FindingKind::lost, 1, 0, kStart, kStart}}},
      {"never left, trace ends 99 ms later",
       [](Feed &f) { packet_in_decoder(f, 0, 99 * kMs); },
       {}},
      {"five silence writes",
       [](Feed &f) { silence_run(f, 5, true); },
       {{FindingKind::silence, 5, 50 * kMs, kStart + 10 * kMs, kStart + 60 * kMs}}},
      {"four silence writes", [](Feed &f) { silence_run(f, 4, true); }, {}},
      {"five silence writes at the end",
       [](Feed &f) { silence_run(f, 5, false); },
       {{FindingKind::silence, 5, 40 * kMs, kStart + 10 * kMs, kStart + 50 * kMs}}},
      {"three drops within a second",
       [](Feed &f) {
         decoder_drops(f, {0, 400 * kMs, 1000 * kMs, 1900 * kMs});
       },
       {{FindingKind::drops, 4, 1900 * kMs, kStart, kStart + 1900 * kMs}}},
      {"three drops over 1.2 s",
       [](Feed &f) {
         decoder_drops(f, {0, 600 * kMs, 1200 * kMs});
       },
       {}},
      {"drops in two bursts",
       [](Feed &f) {
         decoder_drops(f, {0, 1, 2, 1500 * kMs, 1501 * kMs});
       },
       {{FindingKind::drops, 3, 2, kStart, kStart + 2}}},
  };
  for (const RuleCase &rule_case : cases) {
    SCOPED_TRACE(rule_case.name);
    const std::vector<Finding> findings = findings_of(rule_case);
    ASSERT_EQ(findings.size(), rule_case.expected.size());
    for (size_t i = 0; i < findings.size(); ++i) {
      const Expected &expected = rule_case.expected[i];
      EXPECT_EQ(finding_kind_name(findings[i].kind), finding_kind_name(expected.kind));
      EXPECT_EQ(findings[i].count, expected.count);
      EXPECT_EQ(findings[i].severity_ns, expected.severity_ns);
      EXPECT_EQ(findings[i].begin_ns, expected.begin_ns);
      EXPECT_EQ(findings[i].end_ns, expected.end_ns);
      EXPECT_LE(findings[i].window_begin_ns + kFindingMarginNs, findings[i].begin_ns);
      EXPECT_GE(findings[i].window_end_ns, findings[i].end_ns + kFindingMarginNs);
    }
  }
}

TEST(ReportFindings, LimitsComeFromTheOptions) {
  ReportOptions options;
  options.hold_ns = 50 * kMs;
  options.silence_run = 3;
  Feed feed;
  packet_in_decoder(feed, 60 * kMs, 70 * kMs);
  silence_run(feed, 3, true);
  ReportBuilder builder(options);
  feed.into(builder);
  const std::vector<Finding> findings = builder.finish().findings;
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].kind, FindingKind::held);  // 60 ms before 30 ms
  EXPECT_EQ(findings[1].kind, FindingKind::silence);
}

TEST(ReportFindings, KeysPastTheHorizonAndKeysEnteringAgainAreLost) {
  ReportOptions options;
  options.horizon_ns = kSecond;
  Feed feed;
  // Key 1 is past the horizon at the sweep of 2 s; key 2 enters again first.
  add_audio(feed, kStart, EventKind::audio_decoder_packet_received, 4, 1);
  add_audio(feed, kStart + kSecond, EventKind::audio_decoder_packet_received, 4, 2);
  add_audio(feed, kStart + 2 * kSecond, EventKind::audio_decoder_packet_received, 4, 2);
  add_audio(feed, kStart + 2 * kSecond + 1, EventKind::audio_decoder_packet_sent, 4, 2);
  feed.add(kStart + 2 * kSecond + 2, EventKind::audio_sink_write_data, audio_sink_write_payload{});
  ReportBuilder builder(options);
  feed.into(builder);
  const std::vector<Finding> findings = builder.finish().findings;
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, FindingKind::lost);
  EXPECT_EQ(findings[0].count, 2u);
  EXPECT_EQ(findings[0].begin_ns, kStart);
  EXPECT_EQ(findings[0].end_ns, kStart + kSecond);
  EXPECT_EQ(findings[0].severity_ns, kSecond);
}

Finding finding(FindingKind kind, uint64_t severity, uint64_t begin, std::optional<uint32_t> id) {
  Finding f;
  f.kind = kind;
  f.severity_ns = severity;
  f.begin_ns = f.end_ns = begin;
  f.session_id = id;
  set_window(&f);
  return f;
}

TEST(ReportFindings, RankedBySeverityThenTimeAndBoundedToTheMostSevere) {
  FindingsCollector collector(3);
  for (const Finding &f :
       {finding(FindingKind::drops, 5, 30, 1), finding(FindingKind::stall, 9, 20, 1),
        finding(FindingKind::held, 5, 10, 2), finding(FindingKind::lost, 1, 0, 3),
        finding(FindingKind::silence, 7, 40, std::nullopt)})
    collector.offer(f);
  std::vector<std::string> order;
  for (const Finding &f : collector.take()) order.push_back(finding_kind_name(f.kind));
  EXPECT_EQ(order, (std::vector<std::string>{"stall", "silence", "held"}));
  EXPECT_EQ(collector.dropped(), 2u);
}

TEST(ReportFindings, CommandsAreReadyToPaste) {
  struct CommandCase {
    uint64_t begin_ns;
    uint64_t end_ns;
    std::optional<uint32_t> session;
    std::string input;
    std::string plugin;
    std::string expected;
  };
  const CommandCase cases[] = {
      {37'403'812'345, 37'500'000'000, 7, "trace.vxt", "",
       "vxtrace dump --begin 37.303s --end 37.6s --session 7 trace.vxt"},
      {50'000'000, 50'000'000, std::nullopt, "my trace's.vxt", "/opt/p.so",
       "vxtrace dump --plugin /opt/p.so --begin 0s --end 0.15s 'my trace'\\''s.vxt'"},
      {2 * kSecond, 3 * kSecond, 0, "-odd.vxt", "",
       "vxtrace dump --begin 1.9s --end 3.1s "
       "--session 0 ./-odd.vxt"},
  };
  for (const CommandCase &c : cases) {
    Finding f;
    f.begin_ns = c.begin_ns;
    f.end_ns = c.end_ns;
    f.session_id = c.session;
    set_window(&f);
    EXPECT_EQ(finding_command(f, {c.input}, c.plugin), c.expected);
  }
}

TEST(ReportFormat, DurationsTakeSevenCharactersAndCountsTheirWidth) {
  for (const uint64_t ns :
       {uint64_t{0}, uint64_t{999}, uint64_t{999'949}, uint64_t{999'950}, uint64_t{99'994'999},
        uint64_t{99'995'000}, uint64_t{400'080'000}, uint64_t{999'950'000}, uint64_t{9'999'500'000},
        999'999'400'000'000u, UINT64_MAX})
    EXPECT_LE(human_duration(ns).size(), 7u) << ns << " " << human_duration(ns);
  EXPECT_EQ(human_duration(400'080'000), "400.1ms");
  EXPECT_EQ(human_duration(12'345'000), "12.35ms");
  const std::pair<uint64_t, std::string> counts[] = {
      {1234567, "1234567"}, {12345678, "12346k"}, {UINT64_MAX, "18447P"}};
  for (const auto &[value, text] : counts) EXPECT_EQ(compact_count(value, 7), text);
}

// A report with a stall in session 3 of the first input, a quiet session 8
// of it, and a silence run in the second input.
Report two_input_report(uint64_t huge) {
  Feed feed;
  frames_with_gap(feed, 500 * kMs);
  feed.add(kStart, EventKind::media_channel_play, session_payload{8});
  ReportBuilder builder;
  feed.into(builder);
  builder.set_source(1);
  Feed second;
  silence_run(second, 6, true);
  second.into(builder);
  Report report = builder.finish();
  report.inputs = {"a.vxt", "b.vxt"};
  report.input_paths = {"a.vxt", std::string(120, 'b') + ".vxt"};
  report.sessions.at(0).events = huge;
  report.sessions.at(0).stages[0].lost = huge;
  return report;
}

TEST(ReportFindings, TextLeadsWithFindingsAndShowsOnlyTheirSessions) {
  Report report = two_input_report(UINT64_MAX);
  const std::string text = text_report(report);
  const size_t findings = text.find("\nFindings: 2, the most severe first\n");
  ASSERT_NE(findings, std::string::npos) << text;
  EXPECT_LT(findings, text.find("\nreceiver:"));
  EXPECT_LT(text.find("1. stall 500.0ms, session 3 of a.vxt, 14.000 s"), text.find("2. silence"));
  EXPECT_NE(text.find("session 3 of a.vxt:"), std::string::npos);
  EXPECT_EQ(text.find("session 8 of"), std::string::npos);
  EXPECT_NE(text.find("1 session without findings not shown"), std::string::npos);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (text.compare(start, 8, "        ") != 0 ||
        end - start < 120) {  // a path longer than a line
      EXPECT_LE(end - start, 100u) << text.substr(start, end - start);
    }
  }

  report.options.all_sessions = true;
  report.options.findings_shown = 1;
  const std::string all = text_report(report);
  EXPECT_NE(all.find("session 8 of a.vxt:"), std::string::npos) << all;
  EXPECT_NE(all.find("... 1 more: --findings 0 lists all"), std::string::npos);
}

TEST(ReportFindings, JsonListsThemAfterTheTimesWithTheirMembersInOrder) {
  const nlohmann::ordered_json doc =
      nlohmann::ordered_json::parse(json_report(two_input_report(1)));
  std::vector<std::string> top;
  for (const auto &[key, value] : doc.items()) top.push_back(key);
  EXPECT_EQ(top[4], "findings");
  ASSERT_EQ(doc["findings"].size(), 2u);
  const std::vector<std::vector<std::string>> expected = {
      {"kind", "severity_ms", "input", "session_id", "begin", "end", "summary", "command",
       "gap_us"},
      {"kind", "severity_ms", "input", "session_id", "begin", "end", "summary", "command",
       "writes"}};
  for (size_t i = 0; i < 2; ++i) {
    std::vector<std::string> members;
    for (const auto &[key, value] : doc["findings"][i].items()) members.push_back(key);
    EXPECT_EQ(members, expected[i]);
  }
  EXPECT_EQ(doc["findings"][0]["severity_ms"], 500);
  EXPECT_EQ(doc["findings"][0]["session_id"], 3);
  EXPECT_EQ(doc["findings"][1]["session_id"], nullptr);
  EXPECT_EQ(doc["findings"][1]["input"], "b.vxt");
  EXPECT_EQ(doc["findings"][1]["writes"], 6);
  EXPECT_EQ(doc["findings"][1]["command"].get<std::string>().find("--session"), std::string::npos);
}

}  // namespace
}  // namespace vxtrace
