// vxtrace report against traces whose faults the generator injected and
// accounted for, and against a damaged trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "generate/fault_plan.h"
#include "support/chromium_page.h"
#include "support/vxtrace_process.h"

namespace {

using nlohmann::json;
using vxtrace_test::files_in;
using vxtrace_test::read_file;
using vxtrace_test::run_vxtrace;
using vxtrace_test::TemporaryDirectory;

struct StageTotals {
  uint64_t lost = 0;
  uint64_t flushed = 0;
};

StageTotals stage_totals(const json &report, const std::string &from, const std::string &to) {
  StageTotals totals;
  for (const json &session : report["sessions"])
    for (const json &stage : session["stages"])
      if (stage["from"] == from && stage["to"] == to) {
        totals.lost += stage["lost"].get<uint64_t>();
        totals.flushed += stage["flushed"].get<uint64_t>();
      }
  return totals;
}

// (session, at, gap in ns) of every stall the report lists.
std::vector<std::tuple<uint64_t, uint64_t, uint64_t>> reported_stalls(const json &report) {
  std::vector<std::tuple<uint64_t, uint64_t, uint64_t>> stalls;
  for (const json &session : report["sessions"])
    for (const json &stall : session["display"]["stalls"])
      stalls.emplace_back(session["session_id"].get<uint64_t>(), stall["at"].get<uint64_t>(),
                          static_cast<uint64_t>(stall["gap_us"].get<double>() * 1000 + 0.5));
  std::sort(stalls.begin(), stalls.end());
  return stalls;
}

std::vector<std::tuple<uint64_t, uint64_t, uint64_t>> injected_stalls(const json &manifest) {
  std::vector<std::tuple<uint64_t, uint64_t, uint64_t>> stalls;
  for (const json &stall : manifest["stalls"])
    stalls.emplace_back(stall["session_id"].get<uint64_t>(), stall["at"].get<uint64_t>(),
                        stall["gap_ns"].get<uint64_t>());
  std::sort(stalls.begin(), stalls.end());
  return stalls;
}

const char *const kReorderIn = "audio_reorder_buffer_packet_received";
const char *const kReorderOut = "audio_reorder_buffer_packet_sent";
const char *const kDecoderIn = "audio_decoder_packet_received";
const char *const kDecoderOut = "audio_decoder_packet_sent";

TEST(ReportCommand, FindsExactlyTheFaultsTheGeneratorInjected) {
  struct Case {
    std::vector<std::string> faults;
    uint64_t reorder_losses;
    uint64_t decoder_losses;
    uint64_t silences;
    size_t least_stalls;  // sessions displaying when the receiver paused
  };
  const Case cases[] = {
      {{"stall@+2s:400ms", "lose@reorder:10", "silence:3"}, 10, 0, 3, 1},
      {{"stall@+1s:250ms", "stall@+3s:600ms", "lose@decoder:7", "lose@reorder:2", "silence@+2s:5"},
       2,
       7,
       5,
       2},
      {{"stall@+1.25s:250.5ms", "silence@+0.5s:2", "lose@reorder:1"}, 1, 0, 2, 1},
  };
  TemporaryDirectory directory;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.faults.front());
    const std::string trace = directory.file("faults.vxt");
    const std::string manifest_path = directory.file("manifest.json");
    std::vector<std::string> args = {"generate",     "-o", trace,     "--events",   "90000",
                                     "--seed",       "7",  "--force", "--manifest", manifest_path,
                                     "--no-progress"};
    for (const std::string &fault : c.faults) args.insert(args.end(), {"--inject", fault});
    unlink(manifest_path.c_str());
    ASSERT_EQ(run_vxtrace(args, directory.path()).exit_status, 0);
    const json manifest = json::parse(read_file(manifest_path));

    const vxtrace_test::ProcessResult result =
        run_vxtrace({"report", trace, "--json", "--no-progress"}, directory.path());
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const json report = json::parse(result.out);

    EXPECT_GE(manifest["stalls"].size(), c.least_stalls);
    EXPECT_EQ(reported_stalls(report), injected_stalls(manifest));
    uint64_t lost_by_plan[2] = {0, 0}, flushed_by_plan[2] = {0, 0};
    for (const json &loss : manifest["losses"]) {
      const int stage = loss["stage"] == "reorder" ? 0 : 1;
      lost_by_plan[stage] += loss["lost"].get<uint64_t>();
      flushed_by_plan[stage] += loss["flushed"].get<uint64_t>();
    }
    EXPECT_EQ(lost_by_plan[0] + flushed_by_plan[0], c.reorder_losses);
    EXPECT_EQ(lost_by_plan[1] + flushed_by_plan[1], c.decoder_losses);
    const StageTotals reorder = stage_totals(report, kReorderIn, kReorderOut);
    const StageTotals decoder = stage_totals(report, kDecoderIn, kDecoderOut);
    EXPECT_EQ(reorder.lost, lost_by_plan[0]);
    EXPECT_EQ(reorder.flushed, flushed_by_plan[0]);
    EXPECT_EQ(decoder.lost, lost_by_plan[1]);
    EXPECT_EQ(decoder.flushed, flushed_by_plan[1]);
    EXPECT_EQ(manifest["silences_injected"], c.silences);
    EXPECT_EQ(report["receiver"]["audio_sink"]["silence_writes"], manifest["silence_writes"]);
  }
}

struct Generated {
  json manifest;
  json report;
};

// A trace of the realistic mix with faults, its manifest, and its report
// with the default floor and horizon.
Generated generate_and_report(const std::vector<std::string> &faults, uint64_t seed,
                              const TemporaryDirectory &directory,
                              const std::vector<std::string> &report_options = {}) {
  const std::string trace = directory.file("agree.vxt");
  const std::string manifest = directory.file("agree.json");
  std::vector<std::string> args = {"generate",      "-o",         trace,    "--force",
                                   "--events",      "100000",     "--seed", std::to_string(seed),
                                   "--no-progress", "--manifest", manifest};
  for (const std::string &fault : faults) args.insert(args.end(), {"--inject", fault});
  const vxtrace_test::ProcessResult generated = run_vxtrace(args, directory.path());
  EXPECT_EQ(generated.exit_status, 0) << generated.err;
  std::vector<std::string> report_args = {"report", trace, "--json", "--no-progress"};
  report_args.insert(report_args.end(), report_options.begin(), report_options.end());
  const vxtrace_test::ProcessResult reported = run_vxtrace(report_args, directory.path());
  EXPECT_EQ(reported.exit_status, 0) << reported.err;
  if (generated.exit_status != 0 || reported.exit_status != 0) return {};
  return {json::parse(read_file(manifest)), json::parse(reported.out)};
}

// Lost and flushed packets by session of one stage, as the manifest details
// them and as the report finds them.
std::map<uint64_t, StageTotals> manifest_losses(const json &manifest, const std::string &stage) {
  std::map<uint64_t, StageTotals> by_session;
  for (const json &loss : manifest["losses"]) {
    if (loss["stage"] != stage) continue;
    StageTotals sum;
    for (const json &session : loss["sessions"]) {
      EXPECT_EQ(session["count"],
                session["lost"].get<uint64_t>() + session["flushed"].get<uint64_t>());
      EXPECT_LE(session["first_entered"], session["last_entered"]);
      StageTotals &totals = by_session[session["session_id"].get<uint64_t>()];
      totals.lost += session["lost"].get<uint64_t>();
      totals.flushed += session["flushed"].get<uint64_t>();
      sum.lost += session["lost"].get<uint64_t>();
      sum.flushed += session["flushed"].get<uint64_t>();
    }
    EXPECT_EQ(sum.lost, loss["lost"].get<uint64_t>());
    EXPECT_EQ(sum.flushed, loss["flushed"].get<uint64_t>());
  }
  return by_session;
}

std::map<uint64_t, StageTotals> reported_losses(const json &report, const std::string &from,
                                                const std::string &to) {
  std::map<uint64_t, StageTotals> by_session;
  for (const json &session : report["sessions"])
    for (const json &stage : session["stages"])
      if (stage["from"] == from && stage["to"] == to &&
          (stage["lost"] != 0 || stage["flushed"] != 0)) {
        StageTotals &totals = by_session[session["session_id"].get<uint64_t>()];
        totals.lost += stage["lost"].get<uint64_t>();
        totals.flushed += stage["flushed"].get<uint64_t>();
      }
  return by_session;
}

bool operator==(const StageTotals &a, const StageTotals &b) {
  return a.lost == b.lost && a.flushed == b.flushed;
}

void PrintTo(const StageTotals &totals, std::ostream *out) {
  *out << "lost " << totals.lost << " flushed " << totals.flushed;
}

// The manifest applies the report's own rules with its defaults, so the two
// agree on every stall, whether a pause or a fixed latency made it, and on
// every lost and flushed packet, session by session. The seeds are ones
// whose traces end with none of the mix's own audio packets in the reorder
// buffer or the decoder, so that every loss there is an injected one.
TEST(ReportCommand, ManifestAgreesWithTheReportOnStallsAndLosses) {
  struct Case {
    std::vector<std::string> faults;
    size_t least_stalls;  // over all seeds: the fault does make stalls
  };
  const Case cases[] = {
      {{"latency@reorder:12ms"}, 1000},
      {{"latency@decoder:5ms"}, 300},
      {{"latency@display:30ms"}, 1000},
      {{"latency@return:2ms"}, 0},
      {{"stall@+1s:300ms"}, 3},
      {{"stall@+1s:70ms", "stall@+3s:900ms"}, 3},
      {{"lose@reorder:5", "latency@reorder:60000ms"}, 1000},
      {{"lose@decoder:6", "stall@+2s:120ms", "latency@return:3ms"}, 3},
      {{"lose@reorder:4", "lose@decoder:3", "latency@decoder:40ms", "stall@+1s:70ms"}, 1000},
      {{"lose@reorder:9", "latency@display:20ms", "silence@+1s:50"}, 1000},
  };
  TemporaryDirectory directory;
  for (const Case &c : cases) {
    size_t stalls = 0;
    for (const uint64_t seed : {3, 99, 2024}) {
      SCOPED_TRACE(c.faults.front() + " (" + std::to_string(c.faults.size()) + " faults), seed " +
                   std::to_string(seed));
      const Generated g = generate_and_report(c.faults, seed, directory);
      ASSERT_FALSE(g.manifest.is_null());
      EXPECT_EQ(reported_stalls(g.report), injected_stalls(g.manifest));
      stalls += g.manifest["stalls"].size();
      EXPECT_EQ(reported_losses(g.report, kReorderIn, kReorderOut),
                manifest_losses(g.manifest, "reorder"));
      EXPECT_EQ(reported_losses(g.report, kDecoderIn, kDecoderOut),
                manifest_losses(g.manifest, "decoder"));
    }
    EXPECT_GE(stalls, c.least_stalls) << c.faults.front();
  }
}

std::vector<json> findings_of_kind(const json &report, const std::string &kind) {
  std::vector<json> found;
  for (const json &finding : report["findings"])
    if (finding["kind"] == kind) found.push_back(finding);
  return found;
}

// Every injected fault is a finding with the manifest's session, time and
// count: each stall; per session and stage the packets kept until a flush
// (held, with a hold limit of 1 ms, which any of them exceeds) or to the end
// (lost); each silence run. Without faults the mix has none of the three
// kinds that only a fault makes.
TEST(ReportCommand, EveryInjectedFaultIsAFindingWhereTheManifestSays) {
  const std::vector<std::string> faults = {"stall@+1.5s:300ms", "lose@decoder:6", "lose@reorder:4",
                                           "silence@+2.5s:7"};
  TemporaryDirectory directory;
  for (const uint64_t seed : {3, 4, 99}) {
    SCOPED_TRACE(seed);
    const Generated g = generate_and_report(faults, seed, directory, {"--hold-ms", "1"});
    ASSERT_FALSE(g.manifest.is_null());
    std::vector<std::tuple<uint64_t, uint64_t, uint64_t>> stalls;
    for (const json &f : findings_of_kind(g.report, "stall")) {
      stalls.emplace_back(f["session_id"].get<uint64_t>(), f["end"].get<uint64_t>(),
                          std::llround(f["gap_us"].get<double>() * 1000));
      EXPECT_EQ(f["severity_ms"].get<double>(), std::floor(f["gap_us"].get<double>()) / 1000);
    }
    std::sort(stalls.begin(), stalls.end(),
              [](const auto &a, const auto &b) { return std::get<1>(a) < std::get<1>(b); });
    EXPECT_EQ(stalls, injected_stalls(g.manifest));
    for (const json &loss : g.manifest["losses"]) {
      const std::string from = loss["stage"] == "reorder" ? kReorderIn : kDecoderIn;
      for (const json &session : loss["sessions"]) {
        for (const char *kind : {"held", "lost"}) {
          const uint64_t expected = session[kind == std::string("held") ? "flushed" : "lost"];
          uint64_t found = 0;
          for (const json &f : findings_of_kind(g.report, kind))
            if (f["session_id"] == session["session_id"] && f["from"] == from) {
              found += f["count"].get<uint64_t>();
              EXPECT_EQ(f["begin"], session["first_entered"]);
            }
          EXPECT_EQ(found, expected) << kind << " in session " << session["session_id"];
        }
      }
    }
    const std::vector<json> silences = findings_of_kind(g.report, "silence");
    for (const json &injected : g.manifest["injected_silences"]) {
      const bool covered = std::any_of(silences.begin(), silences.end(), [&](const json &f) {
        return f["begin"] <= injected["first"] && injected["first"] <= f["end"] &&
               f["writes"] >= injected["writes"];
      });
      EXPECT_TRUE(covered) << injected.dump();
    }
  }
  for (const uint64_t seed : {1, 4, 7, 12}) {
    const Generated clean = generate_and_report({"stall@+1s:300ms"}, seed, directory);
    for (const char *kind : {"held", "lost", "silence"})
      EXPECT_TRUE(findings_of_kind(clean.report, kind).empty()) << kind << ", seed " << seed;
  }
}

// A window that begins inside a stall's gap still reports the stall whole:
// the frame before the window is read for it. One that begins after the
// stall's frame does not.
TEST(ReportCommand, AWindowReportsAStallWhoseGapEndsInsideIt) {
  TemporaryDirectory directory;
  const Generated g = generate_and_report({"stall@+1s:300ms"}, 3, directory);
  ASSERT_FALSE(g.manifest.is_null());
  ASSERT_FALSE(g.manifest["stalls"].empty());
  const json &stall = g.manifest["stalls"][0];
  const uint64_t at = stall["at"], gap = stall["gap_ns"];
  const auto seconds = [](uint64_t ns) {
    return std::to_string(ns / 1'000'000'000) + "." +
           std::to_string(1'000'000'000 + ns % 1'000'000'000).substr(1) + "s";
  };
  const struct {
    uint64_t begin;
    bool found;
  } cases[] = {{at - gap / 2, true}, {at - 1, true}, {at + 1, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(seconds(c.begin));
    const vxtrace_test::ProcessResult reported =
        run_vxtrace({"report", directory.file("agree.vxt"), "--json", "--no-progress", "--begin",
                     seconds(c.begin), "--end", seconds(at + 1'000'000'000)},
                    directory.path());
    ASSERT_EQ(reported.exit_status, 0) << reported.err;
    bool found = false;
    for (const json &f : findings_of_kind(json::parse(reported.out), "stall"))
      found = found ||
              (f["session_id"] == stall["session_id"] && f["end"] == at && f["begin"] == at - gap);
    EXPECT_EQ(found, c.found);
  }
}

// Packets kept in the reorder buffer while every packet that leaves it takes
// a minute: a flush more than the horizon after a packet entered finds it
// lost, in the manifest as in the report, however the sweeps fell.
TEST(ReportCommand, ManifestCountsPacketsFlushedPastTheHorizonAsLost) {
  struct Case {
    uint64_t seed;
    uint64_t lost;
    uint64_t flushed;
  };
  const Case cases[] = {{4, 5, 0}, {11, 1, 4}};
  TemporaryDirectory directory;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.seed);
    const Generated g =
        generate_and_report({"lose@reorder:5", "latency@reorder:60000ms"}, c.seed, directory);
    ASSERT_FALSE(g.manifest.is_null());
    ASSERT_EQ(g.manifest["losses"].size(), 1u);
    EXPECT_EQ(g.manifest["losses"][0]["lost"], c.lost);
    EXPECT_EQ(g.manifest["losses"][0]["flushed"], c.flushed);
    const StageTotals reorder = stage_totals(g.report, kReorderIn, kReorderOut);
    EXPECT_EQ(reorder.lost, c.lost);
    EXPECT_EQ(reorder.flushed, c.flushed);
    EXPECT_EQ(reported_stalls(g.report), injected_stalls(g.manifest));
  }
}

// Each stage given a fixed latency shows it as its median, 99th percentile
// (within the histogram's 1%) and exact maximum, over exactly the keys that
// left it: every leaving record of the stage, as stats counts them.
TEST(ReportCommand, ShowsTheLatenciesTheGeneratorFixed) {
  struct Case {
    std::string stage;
    std::string latency;
    std::string to;
    double latency_us;
  };
  const Case cases[] = {
      {"reorder", "2ms", kReorderOut, 2000},
      {"decoder", "35us", kDecoderOut, 35},
      {"display", "17ms", "video_stream_frame_displayed", 17000},
      {"return", "1500us", "video_decoder_frame_returned", 1500},
  };
  TemporaryDirectory directory;
  const std::string trace = directory.file("latency.vxt");
  const std::string manifest_path = directory.file("manifest.json");
  std::vector<std::string> args = {
      "generate", "-o",         trace,         "--events",      "60000",    "--seed",
      "11",       "--manifest", manifest_path, "--no-progress", "--inject", "lose@reorder:6"};
  for (const Case &c : cases)
    args.insert(args.end(), {"--inject", "latency@" + c.stage + ":" + c.latency});
  ASSERT_EQ(run_vxtrace(args, directory.path()).exit_status, 0);
  const json manifest = json::parse(read_file(manifest_path));
  const vxtrace_test::ProcessResult result =
      run_vxtrace({"report", trace, "--json", "--no-progress"}, directory.path());
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const json report = json::parse(result.out);
  const json stats =
      json::parse(run_vxtrace({"stats", trace, "--json", "--no-progress"}, directory.path()).out);

  ASSERT_EQ(manifest["latencies"].size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE(c.stage);
    const json &injected = manifest["latencies"][i];
    EXPECT_EQ(injected["stage"], c.stage);
    EXPECT_EQ(injected["to"], c.to);
    EXPECT_EQ(injected["latency_ns"], c.latency_us * 1000);
    uint64_t leaving = 0;
    for (const json &event : stats["events"])
      if (event["event"] == "/velocast/" + c.to) leaving = event["count"].get<uint64_t>();
    uint64_t reported = 0;
    for (const json &session : report["sessions"])
      for (const json &stage : session["stages"]) {
        if (stage["from"] != injected["from"] || stage["to"] != c.to || stage["count"] == 0)
          continue;
        reported += stage["count"].get<uint64_t>();
        EXPECT_NEAR(stage["p50_us"].get<double>(), c.latency_us, c.latency_us / 100);
        EXPECT_NEAR(stage["p99_us"].get<double>(), c.latency_us, c.latency_us / 100);
        EXPECT_EQ(stage["max_us"].get<double>(), c.latency_us);
      }
    EXPECT_GT(reported, 1000u);
    EXPECT_EQ(reported, injected["keys"].get<uint64_t>());
    EXPECT_EQ(reported, leaving);
  }
}

// The times of --inject are those of --begin: durations with any unit and
// exact fractions, the offsets after "+".
TEST(ReportCommand, InjectTimesTakeTheCommandLineTimeSyntax) {
  struct Case {
    const char *fault;
    uint64_t after_ns;   // of the stall or silence
    uint64_t length_ns;  // the stall's pause or the latency
  };
  const Case accepted[] = {
      {"stall@+5.25s:400ms", 5'250'000'000, 400'000'000},
      {"stall@+1m0.5s:0.25s", 60'500'000'000, 250'000'000},
      {"stall@+0.000000001s:1500us", 1, 1'500'000},
      {"silence@+2.5s:3", 2'500'000'000, 0},
      {"silence@+90ms:1", 90'000'000, 0},
      {"latency@decoder:2.5ms", 0, 2'500'000},
      {"latency@reorder:1us", 0, 1'000},
      {"latency@reorder:1m", 0, 60'000'000'000},
  };
  for (const Case &c : accepted) {
    vxtrace::FaultPlan plan;
    const std::optional<std::string> problem = vxtrace::add_fault(c.fault, &plan);
    ASSERT_FALSE(problem) << c.fault << ": " << *problem;
    if (!plan.stalls.empty()) {
      EXPECT_EQ(plan.stalls[0].after_ns, c.after_ns) << c.fault;
      EXPECT_EQ(plan.stalls[0].pause_ns, c.length_ns) << c.fault;
    } else if (!plan.silences.empty()) {
      EXPECT_EQ(plan.silences[0].after_ns, c.after_ns) << c.fault;
    } else {
      ASSERT_EQ(plan.latencies.size(), 1u) << c.fault;
      EXPECT_EQ(plan.latencies[0].latency_ns, c.length_ns) << c.fault;
    }
  }
  const char *const refused[] = {
      "stall@5s:400ms",            // an absolute time: faults are placed from the first record
      "stall@-5s:400ms",           // nor back from the end, which is not written yet
      "stall@+5:400ms",            // no unit
      "stall@+5.25s:400",          // no unit
      "stall@+5s:0ms",             // no pause
      "stall@+1.0000000001s:1ms",  // finer than a nanosecond
      "silence@+s:2",
      "latency@reorder:0.5us",  // below 1 us
      "latency@reorder:60000.001ms",
  };
  for (const char *fault : refused) {
    vxtrace::FaultPlan plan;
    EXPECT_TRUE(vxtrace::add_fault(fault, &plan)) << fault;
    EXPECT_TRUE(plan.empty()) << fault;
  }
}

// Latencies the generator could not keep exactly are refused, and nothing
// is written.
TEST(ReportCommand, GenerateRefusesLatenciesItCannotKeep) {
  const std::vector<std::string> refused[] = {
      {"latency@reorder:0ms"},
      {"latency@reorder:2"},
      {"latency@reorder:61s"},
      {"latency@reorder:60001ms"},
      {"latency@audio:2ms"},
      {"latency@decoder:2ms", "latency@decoder:3ms"},
      {"stall@+1s:100ms", "latency@display:2ms"},
      {"latency@display:2ms", "stall@+1s:100ms"},
  };
  TemporaryDirectory directory;
  for (const std::vector<std::string> &faults : refused) {
    SCOPED_TRACE(faults.back());
    std::vector<std::string> args = {"generate", "-o",  directory.file("t.vxt"),
                                     "--events", "100", "--no-progress"};
    for (const std::string &fault : faults) args.insert(args.end(), {"--inject", fault});
    const vxtrace_test::ProcessResult result = run_vxtrace(args, directory.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("--inject '" + faults.back() + "'"), std::string::npos) << result.err;
  }
  const vxtrace_test::ProcessResult too_long =
      run_vxtrace({"generate", "-o", directory.file("t.vxt"), "--events", "100000000", "--inject",
                   "latency@decoder:60000ms", "--no-progress"},
                  directory.path());
  EXPECT_EQ(too_long.exit_status, 1);
  EXPECT_NE(too_long.err.find("out of range"), std::string::npos) << too_long.err;
  EXPECT_EQ(access(directory.file("t.vxt").c_str(), F_OK), -1);
}

// Faults that cannot fit the trace are refused: stall pauses that would
// run the timestamps past their range, more silence writes than records.
TEST(ReportCommand, GenerateRefusesFaultsThatDoNotFitTheTrace) {
  struct Case {
    std::string events;
    std::vector<std::string> faults;
    const char *message;
  };
  std::vector<std::string> many_stalls;
  for (int i = 0; i < 20000; ++i) many_stalls.push_back("stall@+0s:1000000000ms");
  const Case cases[] = {
      {"1000", many_stalls, "out of range"},
      {"10000", {"silence:10001"}, "do not fit"},
      {"10000", {"silence:6000", "silence@+1s:4001"}, "do not fit"},
      {"10000", {"silence:1000000000"}, "do not fit"},
  };
  TemporaryDirectory directory;
  for (const Case &c : cases) {
    std::vector<std::string> args = {"generate", "-o",     directory.file("t.vxt"),
                                     "--events", c.events, "--no-progress"};
    for (const std::string &fault : c.faults) args.insert(args.end(), {"--inject", fault});
    const vxtrace_test::ProcessResult result = run_vxtrace(args, directory.path());
    EXPECT_EQ(result.exit_status, 1) << c.faults.front();
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(access(directory.file("t.vxt").c_str(), F_OK), -1);
  }
}

// The manifest counts the silence writes that are in the trace, not those
// still queued when the trace ended; a burst of any size is written in one
// pass over the queue.
TEST(ReportCommand, ManifestCountsTheSilencesInTheTrace) {
  struct Case {
    const char *events;
    const char *fault;
  };
  const Case cases[] = {
      {"1000", "silence:1000"}, {"3000", "silence@+0s:40"}, {"300000", "silence:100000"}};
  TemporaryDirectory directory;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    const std::string trace = directory.file("s.vxt");
    const std::string manifest = directory.file("m.json");
    const vxtrace_test::ProcessResult generated =
        run_vxtrace({"generate", "-o", trace, "--force", "--events", c.events, "--inject", c.fault,
                     "--manifest", manifest, "--no-progress"},
                    directory.path());
    ASSERT_EQ(generated.exit_status, 0) << generated.err;
    const json account = json::parse(vxtrace_test::read_file(manifest));
    const json stats =
        json::parse(run_vxtrace({"stats", "--json", "--no-progress", trace}, directory.path()).out);
    uint64_t silence_writes = 0;
    for (const json &event : stats["events"])
      if (event["event"] == "/velocast/audio_sink_write_silence") silence_writes = event["count"];
    EXPECT_EQ(account["silence_writes"].get<uint64_t>(), silence_writes);
    EXPECT_LE(account["silences_injected"].get<uint64_t>(), silence_writes);
    EXPECT_GT(account["silences_injected"].get<uint64_t>(), 0u);
  }
}

// Per silence fault, the manifest tells when its first write went into the
// trace (a silence write stands there, no earlier than the fault's offset)
// and how many of its writes the trace holds: none when the trace ends first.
TEST(ReportCommand, ManifestTellsWhenEachSilenceFaultBegan) {
  struct Fault {
    const char *text;
    uint64_t after_ns;
    uint64_t writes;
  };
  struct Case {
    const char *events;
    std::vector<Fault> faults;
  };
  const uint64_t second = 1'000'000'000;
  const Case cases[] = {
      {"60000", {{"silence@+1s:5", second, 5}, {"silence@+2s:7", 2 * second, 7}}},
      {"30000", {{"silence:2", 0, 2}, {"silence@+1s:3", second, 3}, {"silence@+9s:4", 0, 0}}},
  };
  TemporaryDirectory directory;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.faults.front().text);
    const std::string trace = directory.file("s.vxt");
    const std::string manifest = directory.file("m.json");
    std::vector<std::string> args = {"generate",   "-o",     trace,          "--force",
                                     "--events",   c.events, "--seed",       "5",
                                     "--manifest", manifest, "--no-progress"};
    for (const Fault &fault : c.faults) args.insert(args.end(), {"--inject", fault.text});
    ASSERT_EQ(run_vxtrace(args, directory.path()).exit_status, 0);
    const json account = json::parse(read_file(manifest));
    const json report = json::parse(
        run_vxtrace({"report", "--json", "--no-progress", trace}, directory.path()).out);
    const uint64_t trace_begins = report["first_timestamp"].get<uint64_t>();
    ASSERT_EQ(account["injected_silences"].size(), c.faults.size());
    uint64_t writes = 0;
    for (size_t i = 0; i < c.faults.size(); ++i) {
      SCOPED_TRACE(c.faults[i].text);
      const json &injected = account["injected_silences"][i];
      EXPECT_EQ(injected["writes"], c.faults[i].writes);
      writes += injected["writes"].get<uint64_t>();
      const uint64_t first = injected["first"].get<uint64_t>();
      if (c.faults[i].writes == 0) {
        EXPECT_EQ(first, 0u);
        continue;
      }
      EXPECT_GE(first, trace_begins + c.faults[i].after_ns);
      const std::string at_first =
          run_vxtrace({"dump", "--no-progress", "--begin", std::to_string(first), "--end",
                       std::to_string(first + 1), trace},
                      directory.path())
              .out;
      EXPECT_NE(at_first.find("/velocast/audio_sink_write_silence"), std::string::npos) << at_first;
    }
    EXPECT_EQ(account["silences_injected"], writes);
  }
}

TEST(ReportCommand, DamagedTraceIsReportedUpToTheDamageAndExitsTwo) {
  TemporaryDirectory directory;
  const std::string trace = directory.file("whole.vxt");
  ASSERT_EQ(
      run_vxtrace({"generate", "-o", trace, "--events", "40000", "--seed", "3", "--no-progress"},
                  directory.path())
          .exit_status,
      0);
  const json whole =
      json::parse(run_vxtrace({"report", trace, "--json", "--no-progress"}, directory.path()).out);
  struct stat file {};
  ASSERT_EQ(stat(trace.c_str(), &file), 0);
  const std::string cut = directory.file("cut.vxt");
  vxtrace_test::write_file(cut, read_file(trace).substr(0, file.st_size * 6 / 10 + 3));

  const std::string page = directory.file("cut.html");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"report", cut, "--json", "--html", page, "--no-progress"}, 2},
      {{"report", cut, "--html", cut, "--no-progress"}, 1},  // the page onto its input
      {{"report", cut, "--json", "-o", page, "--html", page, "--no-progress"}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[4]);
    const vxtrace_test::ProcessResult result = run_vxtrace(c.args, directory.path());
    EXPECT_EQ(result.exit_status, c.status) << result.err;
    EXPECT_FALSE(result.err.empty());
    if (c.status != 2) continue;
    const json report = json::parse(result.out);
    EXPECT_TRUE(report.contains("damage"));
    EXPECT_GT(report["events"].get<uint64_t>(), whole["events"].get<uint64_t>() / 2);
    EXPECT_LT(report["events"].get<uint64_t>(), whole["events"].get<uint64_t>());
    EXPECT_EQ(report["first_timestamp"], whole["first_timestamp"]);
    EXPECT_NE(read_file(page).find("</html>"), std::string::npos);
  }
  EXPECT_EQ(read_file(cut).size(), file.st_size * 6 / 10 + 3);  // the input survived
  const vxtrace_test::ProcessResult text =
      run_vxtrace({"report", cut, "--no-progress"}, directory.path());
  EXPECT_EQ(text.exit_status, 2);
  EXPECT_NE(text.out.find("input damaged"), std::string::npos);
}

// The table of the page whose first header cell is first_header.
json page_table(const json &tables, const std::string &first_header) {
  for (const json &table : tables)
    if (!table.empty() && !table[0].empty() && table[0][0] == first_header) return table;
  ADD_FAILURE() << "no table headed " << first_header;
  return json::array();
}

uint64_t sum_over_stages(const json &session, const char *field) {
  uint64_t sum = 0;
  for (const json &stage : session["stages"]) sum += stage[field].get<uint64_t>();
  return sum;
}

// The page that the command writes, opened in Chromium: no script error,
// every plot drawn, and the figures it shows are those of the JSON.
TEST(ReportCommand, PageShowsTheJsonFiguresAndDrawsItsPlotsInChromium) {
  if (!vxtrace_test::chromium_installed()) GTEST_SKIP() << "chromium is not installed";
  TemporaryDirectory directory;
  const std::string trace = directory.file("faults.vxt");
  ASSERT_EQ(run_vxtrace({"generate", "-o", trace, "--events", "30000", "--seed", "5", "--inject",
                         "stall@+1s:300ms", "--inject", "lose@decoder:4", "--inject", "silence:2",
                         "--no-progress"},
                        directory.path())
                .exit_status,
            0);
  const std::string page_path = directory.file("report.html");
  const vxtrace_test::ProcessResult result = run_vxtrace(
      {"report", trace, "--json", "--html", page_path, "--no-progress"}, directory.path());
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const json report = json::parse(result.out);

  const vxtrace_test::ReportPageVerdict page =
      vxtrace_test::check_report_page(directory.path(), read_file(page_path));
  ASSERT_TRUE(page.loaded) << page.log;
  EXPECT_EQ(page.errors, "");
  EXPECT_GE(page.canvases, 3u);
  EXPECT_EQ(page.drawn, page.canvases);

  const json &sink = report["receiver"]["audio_sink"];
  const json receiver = page_table(page.tables, "audio sink");
  ASSERT_GE(receiver.size(), 4u);
  EXPECT_EQ(receiver[1], json({"writes", std::to_string(sink["writes"].get<uint64_t>())}));
  EXPECT_EQ(receiver[2],
            json({"silence writes", std::to_string(sink["silence_writes"].get<uint64_t>())}));
  EXPECT_EQ(receiver[3],
            json({"dropped samples", std::to_string(sink["dropped_samples"].get<uint64_t>())}));

  // The findings, first, as the JSON ranks them.
  const json findings = page_table(page.tables, "#");
  ASSERT_EQ(findings.size(), std::min<size_t>(report["findings"].size(), 20) + 1);
  for (size_t i = 0; i + 1 < findings.size(); ++i) {
    const json &finding = report["findings"][i];
    const json &row = findings[i + 1];
    EXPECT_EQ(row[1], finding["kind"]);
    EXPECT_EQ(row[3], finding["session_id"].is_null()
                          ? "receiver"
                          : std::to_string(finding["session_id"].get<uint64_t>()));
    EXPECT_EQ(row[5], finding["summary"]);
    EXPECT_EQ(row[6], finding["command"]);
  }

  // session, records, from, to, lost, flushed and held keys, drops, frames,
  // interval p50, stalls
  const json sessions = page_table(page.tables, "session");
  ASSERT_EQ(sessions.size(), report["sessions"].size() + 1);
  uint64_t lost = 0, stalls = 0;
  for (size_t i = 0; i < report["sessions"].size(); ++i) {
    const json &session = report["sessions"][i];
    const json &row = sessions[i + 1];
    SCOPED_TRACE(row.dump());
    EXPECT_EQ(row[0], std::to_string(session["session_id"].get<uint64_t>()));
    EXPECT_EQ(row[1], std::to_string(session["events"].get<uint64_t>()));
    EXPECT_EQ(row[4], std::to_string(sum_over_stages(session, "lost")));
    EXPECT_EQ(row[5], std::to_string(sum_over_stages(session, "flushed")));
    EXPECT_EQ(row[8], std::to_string(session["display"]["frames"].get<uint64_t>()));
    EXPECT_EQ(row[10], std::to_string(session["display"]["stalls"].size()));
    lost += sum_over_stages(session, "lost");
    stalls += session["display"]["stalls"].size();
  }
  EXPECT_GT(lost + stalls, 0u) << "the faults show on the page";

  // A click on "records" sorts the overview by it, most first.
  std::vector<uint64_t> records;
  for (const json &cell : page.sorted) records.push_back(std::stoull(cell.get<std::string>()));
  ASSERT_EQ(records.size(), report["sessions"].size());
  EXPECT_TRUE(std::is_sorted(records.rbegin(), records.rend()));
}

// The page and the JSON appear under their names only when complete: a page
// replaced keeps its mode and the link that named it, a device is written
// in place, and an interrupted run leaves the previous page as it was.
TEST(ReportCommand, WritesItsFilesWholeOrNotAtAll) {
  TemporaryDirectory directory;
  const std::string trace = directory.file("trace.vxt");
  ASSERT_EQ(
      run_vxtrace({"generate", "-o", trace, "--events", "3000", "--no-progress"}, directory.path())
          .exit_status,
      0);
  const std::string page = directory.file("page.html");
  vxtrace_test::write_file(page, "the previous page");
  ASSERT_EQ(chmod(page.c_str(), 0600), 0);
  ASSERT_EQ(symlink("page.html", directory.file("link.html").c_str()), 0);
  const vxtrace_test::ProcessResult written =
      run_vxtrace({"report", trace, "--json", "-o", directory.file("report.json"), "--html",
                   directory.file("link.html"), "--no-progress"},
                  directory.path());
  ASSERT_EQ(written.exit_status, 0) << written.err;
  EXPECT_NE(read_file(page).find("</html>"), std::string::npos);
  struct stat status {};
  ASSERT_EQ(lstat(directory.file("link.html").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(stat(page.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(json::parse(read_file(directory.file("report.json")))["events"], 3000);
  EXPECT_EQ(files_in(directory.path()),
            (std::vector<std::string>{"link.html", "page.html", "report.json", "trace.vxt"}));
  EXPECT_EQ(run_vxtrace({"report", trace, "--html", "/dev/null", "-o", directory.file("t.txt"),
                         "--no-progress"},
                        directory.path())
                .exit_status,
            0);
  unlink(directory.file("t.txt").c_str());
  // The page and the output as one file, however spelled, would lose the
  // page: refused before anything is read or written.
  const std::string page_before = read_file(page);
  for (const std::string &output :
       {directory.path() + "/./page.html", directory.file("link.html")}) {
    const vxtrace_test::ProcessResult same = run_vxtrace(
        {"report", trace, "--html", page, "-o", output, "--no-progress"}, directory.path());
    EXPECT_EQ(same.exit_status, 1) << output;
    EXPECT_NE(same.err.find("same file"), std::string::npos) << same.err;
    EXPECT_EQ(read_file(page), page_before) << output;
  }

  // Interrupted while it reads: the temporary file goes, the previous file
  // stays; dump and timeline write their files the same way.
  const std::string fifo = directory.file("input.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string header = read_file(trace).substr(0, 16);
  for (const std::string command : {"report", "dump", "timeline"}) {
    vxtrace_test::write_file(page, "the previous page");
    // Read-write: the open waits for no reader, the child's for no writer.
    const int writer = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    const std::string output_option = command == "report" ? "--html" : "-o";
    const int pid = vxtrace_test::start_vxtrace(
        {command, "-q", "--no-progress", output_option, page, "-"}, directory.path(), fifo);
    ASSERT_EQ(write(writer, header.data(), header.size()), ssize_t(header.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (files_in(directory.path()).size() < 6 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::vector<std::string> while_running = files_in(directory.path());
    kill(pid, SIGINT);
    const vxtrace_test::ProcessResult interrupted =
        vxtrace_test::wait_for_vxtrace(pid, directory.path());
    close(writer);
    ASSERT_EQ(while_running.size(), 6u) << command;
    EXPECT_EQ(while_running[0].rfind(".page.html.", 0), 0u) << while_running[0];
    EXPECT_EQ(interrupted.signal, SIGINT) << command << ": " << interrupted.err;
    EXPECT_EQ(read_file(page), "the previous page") << command;
    EXPECT_EQ(files_in(directory.path()).size(), 5u) << command;
  }
}

}  // namespace
