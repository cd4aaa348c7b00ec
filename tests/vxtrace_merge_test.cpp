// Several inputs merged by timestamp: the merged dump is the union of the
// single dumps in a stable timestamp order, under every selection and on any
// number of workers (one thread per input, or all on one); an input whose
// timestamps go back keeps its own order
// and is reported once; damage in one input leaves the others whole; and
// every reading command keeps the sessions of different inputs apart.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

struct Line {
  std::string text;
  uint64_t timestamp;
  std::string event;
};

class VxtraceMergeTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new TemporaryDirectory;
    a_ = directory_->file("a.vxt");
    b_ = directory_->file("b.vxt");
    generate(a_, "3000", "31");
    generate(b_, "2000", "32");
  }
  static void TearDownTestSuite() { delete directory_; }

  static void generate(const std::string &path, const char *events, const char *seed) {
    const ProcessResult made =
        run_vxtrace({"generate", "--no-progress", "-o", path, "--events", events, "--seed", seed},
                    directory_->path());
    ASSERT_EQ(made.exit_status, 0) << made.err;
  }

  static ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin() + 1, "--no-progress");
    return run_vxtrace(args, directory_->path());
  }

  // The single dump of path, each line as the merged dump writes it.
  static std::vector<Line> sourced_lines(const std::string &path, int expected_status = 0) {
    const ProcessResult result = run({"dump", "--jobs", "1", path});
    EXPECT_EQ(result.exit_status, expected_status) << result.err;
    std::vector<Line> lines;
    for (const std::string &line : split_lines(result.out)) {
      const json parsed = json::parse(line);
      lines.push_back({"{\"source\": " + json(path).dump() + ", " + line.substr(1),
                       parsed["timestamp"], parsed["event"]});
    }
    return lines;
  }

  // Stable: the first input's lines first on equal timestamps.
  static std::vector<Line> union_in_time_order(std::vector<Line> first,
                                               const std::vector<Line> &second) {
    first.insert(first.end(), second.begin(), second.end());
    std::stable_sort(first.begin(), first.end(),
                     [](const Line &x, const Line &y) { return x.timestamp < y.timestamp; });
    return first;
  }

  static TemporaryDirectory *directory_;
  static std::string a_, b_;
};

TemporaryDirectory *VxtraceMergeTest::directory_ = nullptr;
std::string VxtraceMergeTest::a_, VxtraceMergeTest::b_;

TEST_F(VxtraceMergeTest, MergedDumpIsTheUnionInStableTimestampOrder) {
  const std::vector<Line> merged = union_in_time_order(sourced_lines(a_), sourced_lines(b_));
  ASSERT_EQ(merged.size(), 5000u);
  const uint64_t first = merged.front().timestamp;
  const uint64_t last = merged.back().timestamp;
  const uint64_t middle = first + (last - first) / 2;
  struct Case {
    std::vector<std::string> args;
    uint64_t begin, end;
    std::string event_prefix;
    size_t limit = SIZE_MAX;
  };
  const std::vector<Case> cases = {
      {{}, 0, UINT64_MAX, ""},
      {{"--begin", std::to_string(middle)}, middle, UINT64_MAX, ""},
      // "+" counts from the earliest input's first record.
      {{"--begin", "+10ms", "--end", "+40ms"}, first + 10'000'000, first + 40'000'000, ""},
      {{"--event", "/velocast/video_*", "--end", std::to_string(middle)},
       0,
       middle,
       "/velocast/video_"},
      {{"--limit", "1777"}, 0, UINT64_MAX, "", 1777},
  };
  for (const Case &c : cases) {
    std::vector<std::string> expected;
    for (const Line &line : merged)
      if (line.timestamp >= c.begin && line.timestamp < c.end &&
          line.event.starts_with(c.event_prefix) && expected.size() < c.limit)
        expected.push_back(line.text);
    for (const char *jobs : {"1", "2"}) {
      std::vector<std::string> args = {"dump", "--jobs", jobs, "--chunk-bytes", "3000"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      args.insert(args.end(), {a_, b_});
      const ProcessResult result = run(args);
      EXPECT_EQ(result.exit_status, 0) << result.err;
      EXPECT_EQ(split_lines(result.out), expected) << testing::PrintToString(args);
    }
  }
}

TEST_F(VxtraceMergeTest, BackwardTimestampsKeepTheirInputsOrderAndAreReportedOnce) {
  const auto write = [](const std::string &path, std::vector<uint64_t> times) {
    write_file(path, build_trace([&](vxt_writer *writer) {
                 vxt_writer_define(writer, 1, "/x");
                 for (const uint64_t t : times) vxt_writer_write_event(writer, 1, t, "p", 1);
               }));
  };
  const std::string back = directory_->file("back.vxt");
  const std::string ahead = directory_->file("ahead.vxt");
  write(back, {10, 30, 20, 40, 35});
  write(ahead, {10, 25});
  for (const char *jobs : {"1", "2"}) {
    const ProcessResult result = run({"dump", "--jobs", jobs, back, ahead});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::pair<std::string, uint64_t>> order;
    for (const std::string &line : split_lines(result.out)) {
      const json parsed = json::parse(line);
      order.emplace_back(parsed["source"], parsed["timestamp"]);
    }
    const std::vector<std::pair<std::string, uint64_t>> expected = {
        {back, 10}, {ahead, 10}, {ahead, 25}, {back, 30}, {back, 20}, {back, 40}, {back, 35}};
    EXPECT_EQ(order, expected) << "--jobs " << jobs;
    EXPECT_EQ(result.err, "vxtrace: " + back +
                              ": the timestamps went back 2 times; the merge keeps this input's "
                              "own order there\n");
  }
  const std::string once = directory_->file("once.vxt");
  write(once, {10, 5});
  EXPECT_NE(run({"dump", "--jobs", "1", once, ahead}).err.find("went back once;"),
            std::string::npos);
}

TEST_F(VxtraceMergeTest, DamageInOneInputLeavesTheOthersWhole) {
  const std::string cut = directory_->file("cut.vxt");
  const std::string bytes = read_file(b_);
  write_file(cut, bytes.substr(0, bytes.size() / 2 + 7));
  const std::string not_a_trace = directory_->file("text.vxt");
  write_file(not_a_trace, "not a trace at all, only text\n");

  const std::vector<Line> whole = sourced_lines(a_);
  const std::vector<Line> before_damage = sourced_lines(cut, 2);
  ASSERT_GT(before_damage.size(), 0u);
  for (const bool unreadable_third : {false, true}) {
    // A thread per input, then all on one.
    std::vector<std::string> args = {"dump", "--jobs", unreadable_third ? "1" : "2", a_, cut};
    if (unreadable_third) args.push_back(not_a_trace);
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 2);
    std::vector<std::string> expected;
    for (const Line &line : union_in_time_order(whole, before_damage))
      expected.push_back(line.text);
    EXPECT_EQ(split_lines(result.out), expected);
    EXPECT_NE(result.err.find(cut + ": "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("byte"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(not_a_trace) != std::string::npos, unreadable_third) << result.err;
  }
  // An input that cannot be read at all stops everything before output.
  const ProcessResult missing = run({"dump", a_, directory_->file("missing.vxt")});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_NE(missing.err.find("missing.vxt"), std::string::npos) << missing.err;
}

TEST_F(VxtraceMergeTest, EveryReadingCommandTellsTheInputsApart) {
  const json stats_a = json::parse(run({"stats", "--json", a_}).out);
  const json stats_b = json::parse(run({"stats", "--json", b_}).out);
  const json stats = json::parse(run({"stats", "--json", a_, b_}).out);
  EXPECT_EQ(stats["total"]["events"], 5000);
  ASSERT_EQ(stats["inputs"].size(), 2u);
  EXPECT_EQ(stats["inputs"][0]["input"], a_);
  EXPECT_EQ(stats["inputs"][0]["events"], stats_a["total"]["events"]);
  EXPECT_EQ(stats["inputs"][1]["last_timestamp"], stats_b["total"]["last_timestamp"]);
  EXPECT_NE(run({"stats", a_, b_}).out.find("first timestamp ns"), std::string::npos);

  // Both generated traces have a session 1: two processes, named by input.
  const json timeline = json::parse(run({"timeline", "-q", a_, b_}).out);
  std::set<std::string> process_names;
  for (const json &event : timeline["traceEvents"])
    if (event["name"] == "process_name") process_names.insert(event["args"]["name"]);
  EXPECT_EQ(process_names.count(a_ + ": session 1"), 1u);
  EXPECT_EQ(process_names.count(b_ + ": session 1"), 1u);
  EXPECT_EQ(process_names.count(b_ + ": receiver"), 1u);

  const json report_a = json::parse(run({"report", "--json", a_}).out);
  const json report = json::parse(run({"report", "--json", a_, b_}).out);
  EXPECT_EQ(report["inputs"], json({a_, b_}));
  std::set<std::pair<std::string, uint32_t>> sessions;
  for (const json &session : report["sessions"])
    sessions.emplace(session["input"], session["session_id"]);
  EXPECT_EQ(sessions.size(), report["sessions"].size()) << "a session of each input apart";
  size_t of_a = 0;
  for (const auto &[input, id] : sessions) of_a += input == a_;
  EXPECT_EQ(of_a, report_a["sessions"].size());
  // Each buffer is one receiver: its sink's figures are its own, and they add
  // up to the whole.
  const json &sinks = report["receiver"]["inputs"];
  ASSERT_EQ(sinks.size(), 2u);
  EXPECT_EQ(sinks[0]["input"], a_);
  EXPECT_EQ(sinks[0]["audio_sink"], report_a["receiver"]["audio_sink"]);
  EXPECT_EQ(sinks[0]["audio_sink"]["writes"].get<uint64_t>() +
                sinks[1]["audio_sink"]["writes"].get<uint64_t>(),
            report["receiver"]["audio_sink"]["writes"].get<uint64_t>());
}

}  // namespace
}  // namespace vxtrace_test

#endif
