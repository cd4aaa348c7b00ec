// vxtrace as its users run it: generate, dump and stats in child processes,
// checked against an independent decoding of the same trace.
#ifdef VX_VXTRACE_PATH

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <thread>

#include "support/vxtrace_process.h"
#include "support/vxtrace_reference_decoder.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

class VxtraceCliTest : public testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string> &args, const std::string &stdin_path = "") {
    return run_vxtrace(args, directory_.path(), stdin_path);
  }

  // Tests write the same name again: --force.
  std::string generate(const std::string &name, uint64_t events, uint64_t start,
                       const std::string &mix = "realistic") {
    const std::string path = directory_.file(name);
    const ProcessResult result =
        run({"generate", "--force", "-o", path, "--events", std::to_string(events), "--seed",
             std::to_string(start), "--mix", mix});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return path;
  }

  std::vector<json> dump_lines(const std::vector<std::string> &args,
                               const std::string &stdin_path = "") {
    const ProcessResult result = run(args, stdin_path);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::vector<json> lines;
    for (const std::string &line : split_lines(result.out)) lines.push_back(json::parse(line));
    return lines;
  }

  TemporaryDirectory directory_;
};

// Numbers equal, floats to the six significant digits that "%g" keeps.
void expect_same_value(const json &actual, const json &expected, const std::string &where) {
  if (expected.is_object()) {
    ASSERT_TRUE(actual.is_object()) << where;
    ASSERT_EQ(actual.size(), expected.size()) << where;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
      ASSERT_TRUE(actual.contains(it.key())) << where << "." << it.key();
      expect_same_value(actual[it.key()], it.value(), where + "." + it.key());
    }
  } else if (expected.is_number_float()) {
    const double value = expected.get<double>();
    if (!std::isfinite(value)) {
      EXPECT_TRUE(actual.is_null()) << where;
    } else {
      ASSERT_TRUE(actual.is_number()) << where;
      EXPECT_NEAR(actual.get<double>(), value, 1e-5 * std::max(1.0, std::fabs(value))) << where;
    }
  } else {
    EXPECT_EQ(actual, expected) << where;
  }
}

struct ExpectedEvent {
  uint32_t id;
  uint64_t timestamp;
  std::string name;
  OrderedJson payload;
};

std::vector<ExpectedEvent> expected_events(const std::string &path) {
  const ReadResult trace = read_all(vxt_reader_open_path(path.c_str(), nullptr));
  std::map<uint32_t, std::string> names;
  std::vector<ExpectedEvent> events;
  for (const ReadRecord &record : trace.records) {
    if (record.definition) {
      names[record.id] = record.bytes;
      continue;
    }
    const std::string &name = names.at(record.id);
    events.push_back({record.id, record.timestamp, name,
                      reference_decode(name, record.bytes.data(), record.bytes.size())});
  }
  return events;
}

TEST_F(VxtraceCliTest, GeneratedTraceDumpsToTheReferenceDecoding) {
  const std::string path = generate("trace.vxt", 3000, 11);
  const std::vector<json> lines = dump_lines({"dump", path});
  const std::vector<ExpectedEvent> expected = expected_events(path);
  ASSERT_EQ(lines.size(), 3000u);
  ASSERT_EQ(expected.size(), 3000u);
  std::map<std::string, int> dumped_counts, expected_counts;
  for (size_t i = 0; i < lines.size(); ++i) {
    const json &line = lines[i];
    EXPECT_EQ(line["timestamp"], expected[i].timestamp);
    EXPECT_EQ(line["id"], expected[i].id);
    ASSERT_EQ(line["event"], expected[i].name) << "line " << i;
    EXPECT_FALSE(line.contains("error")) << line.dump();
    expect_same_value(line["payload"], json(expected[i].payload), "line " + std::to_string(i));
    ++dumped_counts[line["event"].get<std::string>()];
    ++expected_counts[expected[i].name];
  }
  EXPECT_EQ(dumped_counts, expected_counts);
  EXPECT_EQ(dumped_counts.size(), reference_decoders().size());
  for (size_t i = 1; i < expected.size(); ++i)
    ASSERT_GT(expected[i].timestamp, expected[i - 1].timestamp);
}

TEST_F(VxtraceCliTest, DumpOfStandardInputEqualsDumpOfTheFile) {
  const std::string path = generate("trace.vxt", 2000, 3);
  const ProcessResult from_file = run({"dump", path});
  const ProcessResult from_stdin = run({"dump", "-"}, path);
  EXPECT_EQ(from_stdin.exit_status, 0);
  EXPECT_EQ(from_stdin.out, from_file.out);
  EXPECT_FALSE(from_file.out.empty());
}

TEST_F(VxtraceCliTest, GenerateIsDeterministicPerSeed) {
  for (const std::string mix : {"realistic", "bench"}) {
    const std::string a = read_file(generate("a.vxt", 1500, 42, mix));
    const std::string b = read_file(generate("b.vxt", 1500, 42, mix));
    const std::string c = read_file(generate("c.vxt", 1500, 43, mix));
    EXPECT_EQ(a, b) << mix;
    EXPECT_NE(a, c) << mix;
  }
}

json stats_json(VxtraceCliTest *, const ProcessResult &result) {
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return json::parse(result.out);
}

TEST_F(VxtraceCliTest, TenThousandEventsHoldEveryKindAndDecode) {
  for (uint64_t start : {1, 2, 99}) {
    const std::string path = generate("long.vxt", 10000, start);
    const json stats = stats_json(this, run({"stats", "--json", path}));
    EXPECT_EQ(stats["events"].size(), 111u) << "start " << start;
    EXPECT_EQ(stats["total"]["events"], 10000);
    EXPECT_EQ(stats["total"]["definitions"], 111);
    EXPECT_EQ(stats["total"]["unknown_ids"], 0);
    for (const json &event : stats["events"]) EXPECT_EQ(event["decode_failures"], 0) << event;
  }
}

TEST_F(VxtraceCliTest, BenchMixHasExactlyItsWeights) {
  const std::map<std::string, int> weights = {{"audio_packet_received", 18},
                                              {"media_audio_queue_push_packet", 12},
                                              {"audio_queue_read", 12},
                                              {"audio_sink_write_data", 12},
                                              {"video_stream_frame_displayed", 10},
                                              {"video_packet_received", 8},
                                              {"video_decoder_update_end", 8},
                                              {"media_demuxer_get_frame_begin", 6},
                                              {"media_demuxer_get_frame_end", 6},
                                              {"audio_sink_info", 4},
                                              {"media_demuxer_select_streams", 2},
                                              {"audio_volume_changed", 2}};
  const std::string path = generate("bench.vxt", 5000, 7, "bench");
  const json stats = stats_json(this, run({"stats", "--json", path}));
  ASSERT_EQ(stats["events"].size(), weights.size());
  for (const json &event : stats["events"]) {
    const std::string name = event["event"].get<std::string>().substr(10);
    EXPECT_EQ(event["count"], weights.at(name) * 50) << name;
    EXPECT_EQ(event["decode_failures"], 0) << name;
  }
}

TEST_F(VxtraceCliTest, StatsOfTheShippedSampleListsAllEvents) {
  const std::string sample = std::string(VX_SOURCE_DIR) + "/examples/sample.vxt";
  const json stats = stats_json(this, run({"stats", "--json", sample}));
  EXPECT_EQ(stats["events"].size(), 111u);
  EXPECT_GT(stats["total"]["duration"].get<uint64_t>(), 0u);
  const ProcessResult table = run({"stats", sample});
  EXPECT_NE(table.out.find("/velocast/media_audio_queue_push_packet"), std::string::npos);
  EXPECT_NE(table.out.find("111 definitions"), std::string::npos);
}

// Records that cannot be rendered still get a line, and every line is JSON.
TEST_F(VxtraceCliTest, EveryRecordGetsAValidLine) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  auto volume_payload = [](float volume) {
    std::string bytes(8, '\0');
    bytes[0] = 3;
    std::memcpy(&bytes[4], &volume, 4);
    return bytes;
  };
  const std::string nan_volume = volume_payload(nan), infinite_volume = volume_payload(-infinity);
  const std::string path = directory_.file("odd.vxt");
  write_file(path, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/audio_volume_changed");
               vxt_writer_define(writer, 2, "/other/\"quoted\"\x01\xff\xc3(name");
               vxt_writer_write_event(writer, 1, 10, nan_volume.data(), 8);
               vxt_writer_write_event(writer, 1, 11, infinite_volume.data(), 8);
               vxt_writer_write_event(writer, 1, 12, "\x03\x00", 2);
               vxt_writer_write_event(writer, 2, 13, "\xab", 1);
               vxt_writer_write_event(writer, 77, 14, "\x01\x02", 2);
               vxt_writer_write_event(writer, 1, 15, nullptr, 0);
             }));
  const std::vector<json> lines = dump_lines({"dump", "--quiet", path});
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0]["payload"]["volume"].is_null());
  EXPECT_EQ(lines[0]["payload"]["session_id"], 3);
  EXPECT_TRUE(lines[1]["payload"]["volume"].is_null());
  EXPECT_EQ(lines[2]["error"], "payload could not be decoded");
  EXPECT_EQ(lines[2]["raw"], "0300");
  EXPECT_EQ(lines[3]["error"], "no decoder for this event");
  EXPECT_EQ(lines[3]["event"], "/other/\"quoted\"\x01\xEF\xBF\xBD\xEF\xBF\xBD(name");
  EXPECT_EQ(lines[3]["raw"], "ab");
  EXPECT_EQ(lines[4]["error"], "unknown event id");
  EXPECT_TRUE(lines[4]["event"].is_null());
  EXPECT_EQ(lines[4]["id"], 77);
  EXPECT_EQ(lines[5]["raw"], "");
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_TRUE(lines[i]["payload"].is_null());
}

TEST_F(VxtraceCliTest, EventGlobsLimitAndOutputFile) {
  const std::string path = generate("trace.vxt", 2000, 5);
  const std::vector<json> audio =
      dump_lines({"dump", "--event", "/velocast/audio_sink_*", "--event", "*cursor_shape*", path});
  ASSERT_FALSE(audio.empty());
  for (const json &line : audio) {
    const std::string name = line["event"];
    EXPECT_TRUE(name.rfind("/velocast/audio_sink_", 0) == 0 ||
                name.find("cursor_shape") != std::string::npos)
        << name;
  }
  const std::string out = directory_.file("out.jsonl");
  const ProcessResult limited = run({"dump", "--limit", "7", "-o", out, path});
  EXPECT_EQ(limited.exit_status, 0);
  EXPECT_TRUE(limited.out.empty());
  EXPECT_EQ(split_lines(read_file(out)).size(), 7u);
  EXPECT_TRUE(run({"dump", "--limit", "0", path}).out.empty());
}

// Cut inside every kind of place, vxtrace writes the complete records, names
// the file and the offset, and exits with 2.
TEST_F(VxtraceCliTest, DamagedFileEndsWithItsOffsetAndStatus2) {
  const std::string path = generate("trace.vxt", 40, 8);
  const std::string bytes = read_file(path);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const ReadResult whole = read_all(bytes);
  const std::string cut_path = directory_.file("cut.vxt");
  for (size_t record = 0; record + 1 < offsets.size(); record += 3) {
    for (uint64_t cut : {offsets[record] + 1, offsets[record + 1] - 1}) {
      if (cut <= offsets[record]) continue;
      write_file(cut_path, bytes.substr(0, cut));
      const ProcessResult result = run({"dump", "--quiet", cut_path});
      size_t complete_events = 0;
      for (size_t i = 0; i < record; ++i) complete_events += !whole.records[i].definition;
      EXPECT_EQ(result.exit_status, 2) << "cut at " << cut;
      EXPECT_EQ(split_lines(result.out).size(), complete_events) << "cut at " << cut;
      EXPECT_NE(result.err.find(cut_path + ": "), std::string::npos) << result.err;
      EXPECT_NE(result.err.find("at byte " + std::to_string(offsets[record])), std::string::npos)
          << result.err;
      EXPECT_EQ(split_lines(result.err).size(), 1u) << result.err;
    }
  }
}

// Reads the FIFO at path until its writer closes it; calls on_first_bytes
// once the first bytes are in (the writer then waits for the FIFO to drain).
std::string read_fifo(const std::string &path, const std::function<void()> &on_first_bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return "";
  // Before a writer opens the FIFO, reading it finds no end but no bytes.
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, 60000) <= 0 || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return "";
  }
  std::string out;
  char chunk[1 << 16];
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    if (out.empty()) on_first_bytes();
    out.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  return out;
}

// Another process shrinks the input while dump reads it. Output into a FIFO
// that is not read holds dump back, so the cut lies far beyond what it has
// read: everything before the cut comes out, then the change is reported with
// status 2, on one worker and on several.
TEST_F(VxtraceCliTest, FileShrunkWhileDumpedEndsWithStatus2) {
  const std::string bytes = read_file(generate("original.vxt", 60000, 5, "bench"));
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const ReadResult whole = read_all(bytes);
  const size_t cut_record = offsets.size() * 3 / 4;
  size_t events_before = 0;
  for (size_t i = 0; i < cut_record; ++i) events_before += !whole.records[i].definition;
  const std::string path = directory_.file("shrinking.vxt");
  const std::string fifo = directory_.file("out.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Small parts keep the workers from reading far ahead.
  for (const std::string jobs : {"1", "2"}) {
    write_file(path, bytes);
    ProcessResult result;
    std::thread dump([&] {
      result = run({"dump", "--quiet", "--no-progress", "--jobs", jobs, "--chunk-bytes", "65536",
                    path, "-o", fifo});
    });
    const std::string out =
        read_fifo(fifo, [&] { ASSERT_EQ(truncate(path.c_str(), offsets[cut_record] + 3), 0); });
    dump.join();
    EXPECT_EQ(result.exit_status, 2) << "--jobs " << jobs << ": " << result.err;
    EXPECT_EQ(split_lines(out).size(), events_before) << "--jobs " << jobs;
    EXPECT_NE(result.err.find(path + ": the file changed while it was read"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("at byte " + std::to_string(offsets[cut_record])), std::string::npos)
        << result.err;
  }
}

TEST_F(VxtraceCliTest, RefusedHeaderWritesNothing) {
  const std::string path = directory_.file("text.vxt");
  write_file(path, "not a trace at all\n");
  for (const std::string command : {"dump", "stats"}) {
    const ProcessResult result = run({command, path});
    EXPECT_EQ(result.exit_status, 2) << command;
    EXPECT_TRUE(result.out.empty()) << command;
    EXPECT_NE(result.err.find("bad magic"), std::string::npos) << result.err;
  }
  const ProcessResult from_stdin = run({"dump", "-"}, path);
  EXPECT_EQ(from_stdin.exit_status, 2);
  EXPECT_NE(from_stdin.err.find("standard input"), std::string::npos) << from_stdin.err;
}

// Set for the tests of huge traces and inherited by the child: a vxtrace
// that writes where it should refuse is stopped by SIGXFSZ long before the
// disk is full.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = std::min(bytes, previous_.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous_); }
  FileSizeLimit(const FileSizeLimit &) = delete;
  FileSizeLimit &operator=(const FileSizeLimit &) = delete;

 private:
  rlimit previous_{};
};

constexpr rlim_t kLargestTestFile = rlim_t{256} << 20;

// Every refused command line exits with 1, names what it refuses and
// writes nothing: numbers that would wrap or exceed their range, empty paths,
// unknown words, a trace larger than the file system's free space.
TEST_F(VxtraceCliTest, UsageErrorsExitWith1AndHelpWith0) {
  const std::string trace = generate("trace.vxt", 20, 1);
  const std::string g = directory_.file("g.vxt");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } refused[] = {
      {{}, "subcommand is required"},
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"frobnicate"},
       "unknown command 'frobnicate'; the commands are dump, stats, timeline, report, sqlite and "
       "generate"},
      {{"dump"}, "input is required"},
      {{"dump", "--no-such-option", trace}, "--no-such-option"},
      {{"dump", "--limit", "many", trace}, "--limit: 'many'"},
      {{"dump", "--limit", "-1", trace}, "--limit: '-1'"},
      {{"dump", "--limit", "18446744073709551616", trace}, "--limit: '18446744073709551616'"},
      {{"dump", "--limit", "0x10", trace}, "--limit: '0x10'"},
      {{"dump", "--jobs", "-2", trace}, "--jobs: '-2'"},
      {{"dump", "--jobs", "0", trace}, "--jobs: '0'"},
      {{"dump", "--jobs", "257", trace}, "--jobs: '257'"},
      {{"dump", "--chunk-bytes", "-1", trace}, "--chunk-bytes: '-1'"},
      {{"dump", "-o", "", trace}, "--output: empty path"},
      {{"dump", "--plugin", "", trace}, "--plugin: empty path"},
      {{"timeline", "-o", "", trace}, "--output: empty path"},
      {{"stats", ""}, "input: empty path"},
      {{"dump", directory_.file("missing.vxt")}, "missing.vxt"},
      {{"generate", "-o", g}, "--events is required"},
      {{"generate", "-o", g, "--events", "-5"}, "--events: '-5'"},
      {{"generate", "-o", g, "--events", "1000000000001"}, "--events: '1000000000001'"},
      {{"generate", "-o", g, "--events", "5", "--seed", "-1"}, "--seed: '-1'"},
      {{"generate", "-o", g, "--events", "5", "--seed", "18446744073709551616"}, "--seed"},
      {{"generate", "-o", g, "--events", "5", "--mix", "nope"}, "--mix"},
      {{"generate", "-o", "", "--events", "5"}, "--output: empty path"},
      {{"generate", "-o", g, "--events", "1000000000000"}, "(--force writes anyway)"},
      {{"generate", "-o", directory_.path(), "--events", "5", "--force"}, "is a directory"},
  };
  const FileSizeLimit limit(kLargestTestFile);
  for (const auto &[args, message] : refused) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(args);
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << testing::PrintToString(args);
    for (const std::string &line : split_lines(result.err))
      EXPECT_EQ(line.rfind("vxtrace: ", 0), 0u) << line;
  }
  EXPECT_FALSE(std::filesystem::exists(g));
  for (const std::string command : {"dump", "stats", "generate", "timeline"}) {
    const ProcessResult help = run({command, "--help"});
    EXPECT_EQ(help.exit_status, 0) << command;
    EXPECT_NE(help.out.find("--no-progress "), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find('{'), std::string::npos) << help.out;
  }
  // A glob is taken as it is, brackets included.
  EXPECT_TRUE(run({"dump", "--event", "[]", trace}).out.empty());
  EXPECT_EQ(split_lines(run({"dump", "--event", "/[v]elocast/*", trace}).out).size(), 20u);
}

// CLI11's refusals are the tool's own lines: one line, the prefix, lower
// case, and the help of the command that was being read. One row per kind.
TEST_F(VxtraceCliTest, UsageErrorsAreOneLineInTheToolsVoice) {
  const std::string trace = generate("trace.vxt", 20, 1);
  const std::string g = directory_.file("g.vxt");
  const struct {
    std::vector<std::string> args;
    std::string line;
  } refused[] = {
      {{}, "a subcommand is required (see vxtrace --help)"},
      {{"-q", "generate", "-o", g, "--events", "5", "--plugin", "x.so"},
       "the following arguments were not expected: x.so --plugin (see vxtrace generate --help)"},
      {{"dump", "--no-such-option", trace},
       "the following argument was not expected: --no-such-option (see vxtrace dump --help)"},
      {{"stats", trace, "--limit"},
       "the following argument was not expected: --limit (see vxtrace stats --help)"},
      {{"dump", trace, "--limit"}, "--limit: 1 required N missing (see vxtrace dump --help)"},
      {{"timeline", "--format", "xml", trace},
       "--format: must be json or perfetto (see vxtrace timeline --help)"},
      {{"dump", "--format", "yaml", trace},
       "--format: must be json or text (see vxtrace dump --help)"},
      {{"generate", "-o", g, "--events", "5", "--mix", "nope"},
       "--mix: must be realistic or bench (see vxtrace generate --help)"},
      {{"report", "--stall-ms", "x", trace},
       "--stall-ms: 'x' is not a whole number from 1 to 3600000 (see vxtrace report --help)"},
      {{"generate", "-o", g, "--events", "5", "extra"},
       "the following argument was not expected: extra (see vxtrace generate --help)"},
      {{"generate", "-o", g}, "--events is required (see vxtrace generate --help)"},
      {{"sqlite", trace}, "--output is required (see vxtrace sqlite --help)"},
      {{"dump", "-", "-"},
       "input: standard input (-) can be read only once (see vxtrace dump --help)"},
  };
  for (const auto &[args, line] : refused) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(args);
    EXPECT_EQ(result.err, "vxtrace: " + line + "\n") << testing::PrintToString(args);
    EXPECT_TRUE(result.out.empty()) << testing::PrintToString(args);
  }
  // The words of a choice are taken in any case.
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"dump", "--format", "TEXT", "--limit", "1", trace},
           {"generate", "-o", g, "--events", "5", "--mix", "Bench"},
           // The talk and the plug-in may come before the command.
           {"-q", "dump", "--limit", "1", trace},
           {"--plugin", VX_PLUGIN_PATH, "--quiet", "stats", trace}})
    EXPECT_EQ(run(args).exit_status, 0) << testing::PrintToString(args);
}

// A plug-in named with --plugin that does not load is refused with the
// dynamic linker's reason, and without the advice to name one.
TEST_F(VxtraceCliTest, PluginProblemsAreNamed) {
  const std::string path = generate("trace.vxt", 10, 1);
  const std::string text = directory_.file("text.so");
  write_file(text, "not a shared object\n");
  for (const std::string &plugin : {directory_.file("none.so"), text}) {
    ASSERT_EQ(dlopen(plugin.c_str(), RTLD_NOW), nullptr);
    const std::string reason = dlerror();
    const ProcessResult refused = run({"dump", "--plugin", plugin, path});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_EQ(refused.err, "vxtrace: cannot load the plug-in " + plugin + ": " +
                               reason.substr(reason.find(plugin + ": ") + plugin.size() + 2) +
                               "\n");
    EXPECT_EQ(refused.err.find("--plugin PATH"), std::string::npos) << refused.err;
    EXPECT_TRUE(refused.out.empty());
  }
  const ProcessResult wrong = run({"stats", "--plugin", "libm.so.6", path});
  EXPECT_EQ(wrong.exit_status, 1);
  EXPECT_NE(wrong.err.find("does not export vx_buffer_iterator_create"), std::string::npos)
      << wrong.err;
}

TEST_F(VxtraceCliTest, QuietSilencesThePluginLog) {
  const std::string path = directory_.file("unknown.vxt");
  write_file(path, build_trace([](vxt_writer *writer) {
               vxt_writer_write_event(writer, 5, 1, "abcd", 4);
             }));
  const ProcessResult loud = run({"dump", path});
  EXPECT_EQ(loud.exit_status, 0);
  EXPECT_NE(loud.err.find("got data for an event with an unknown id: 5"), std::string::npos)
      << loud.err;
  const ProcessResult quiet = run({"dump", "--quiet", path});
  EXPECT_EQ(quiet.exit_status, 0);
  EXPECT_TRUE(quiet.err.empty()) << quiet.err;
  EXPECT_EQ(quiet.out, loud.out);
}

// -q leaves out every note, on every command, and keeps every error.
TEST_F(VxtraceCliTest, QuietLeavesOutNotesButNotErrors) {
  const std::string trace = generate("trace.vxt", 300, 2);
  const std::string bytes = read_file(trace);
  const std::string cut = directory_.file("cut.vxt");
  write_file(cut, bytes.substr(0, bytes.size() - 5));
  const std::vector<std::vector<std::string>> commands = {
      {"dump", "-j", "1"},
      {"dump", "-j", "2", "--chunk-bytes", "4000"},
      {"stats"},
      {"timeline"},
      {"report", "--json"},
      {"sqlite", "--force", "-o", directory_.file("db.sqlite")},
  };
  for (const std::vector<std::string> &command : commands) {
    const std::string where = testing::PrintToString(command);
    std::vector<std::string> noted = command;
    noted.insert(noted.end(), {"--event", "nothing", "--begin", "+1h", trace});
    const ProcessResult loud = run(noted);
    EXPECT_EQ(loud.exit_status, 0) << where << loud.err;
    EXPECT_NE(loud.err.find("vxtrace: --event nothing matches no event that the trace defines\n"),
              std::string::npos)
        << where << loud.err;
    EXPECT_NE(loud.err.find("vxtrace: no record matches --begin +1h --event nothing\n"),
              std::string::npos)
        << where << loud.err;
    noted.insert(noted.begin() + 1, "-q");
    const ProcessResult quiet = run(noted);
    EXPECT_EQ(quiet.exit_status, 0) << where;
    EXPECT_EQ(quiet.err, "") << where;
    EXPECT_TRUE(quiet.out == loud.out) << where;

    std::vector<std::string> damaged = command;
    damaged.insert(damaged.begin() + 1, "--quiet");
    damaged.push_back(cut);
    const ProcessResult error = run(damaged);
    EXPECT_EQ(error.exit_status, 2) << where;
    EXPECT_NE(error.err.find("vxtrace: " + cut + ": truncated"), std::string::npos)
        << where << error.err;
  }
  const ProcessResult refused = run({"generate", "-q", "-o", directory_.file("g.vxt"), "--events",
                                     "5", "--mix", "bench", "--inject", "lose@decoder:1"});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(refused.err, "vxtrace: --inject needs the realistic mix\n");
}

// Writes a trace into a FIFO in two halves with a pause between them, so
// that a command reading it runs long enough to show its progress line.
class PausedFeed {
 public:
  PausedFeed(std::string fifo, const std::string &bytes) : fifo_(std::move(fifo)) {
    thread_ = std::thread([this, &bytes] {
      const int fd = open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) return;
      const size_t half = bytes.size() / 2;
      write_all(fd, bytes.substr(0, half));
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      write_all(fd, bytes.substr(half));
      close(fd);
    });
  }
  // Reads what a command that stopped early left, so that the writer ends.
  ~PausedFeed() {
    const int release = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (release >= 0) {
      fcntl(release, F_SETFL, 0);
      char sink[65536];
      while (read(release, sink, sizeof sink) > 0) {
      }
    }
    thread_.join();
    if (release >= 0) close(release);
  }

 private:
  static void write_all(int fd, const std::string &bytes) {
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t wrote = write(fd, bytes.data() + at, bytes.size() - at);
      if (wrote <= 0) return;
      at += static_cast<size_t>(wrote);
    }
  }

  std::string fifo_;
  std::thread thread_;
};

// The progress line shows on a terminal, and -q leaves it out as
// --no-progress does, on every command.
TEST_F(VxtraceCliTest, QuietLeavesOutTheProgressLine) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bytes = read_file(generate("trace.vxt", 20000, 3));
  const std::string fifo = directory_.file("feed");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> commands = {
      {"dump", "-o", "/dev/null", "-"},
      {"stats", "-"},
      {"timeline", "-o", "/dev/null", "-"},
      {"report", "-o", "/dev/null", "-"},
      {"sqlite", "--force", "-o", directory_.file("db.sqlite"), "-"},
      {"generate", "-o", "/dev/null", "--events", "6000000", "--mix", "bench"},
  };
  for (const std::vector<std::string> &command : commands) {
    for (const std::string talk : {"", "-q", "--no-progress"}) {
      std::vector<std::string> args = command;
      if (!talk.empty()) args.insert(args.begin() + 1, talk);
      const bool reads_the_feed = args.back() == "-";
      std::optional<PausedFeed> feed;
      if (reads_the_feed) feed.emplace(fifo, bytes);
      const ProcessResult result = run_vxtrace_on_terminal(
          args, directory_.path(), TerminalStream::standard_error, reads_the_feed ? fifo : "");
      const std::string where = testing::PrintToString(args);
      EXPECT_EQ(result.exit_status, 0) << where << result.err;
      // --no-progress keeps the notes.
      EXPECT_EQ(result.err.find("events/s") != std::string::npos, talk.empty())
          << where << result.err;
      if (talk == "-q") {
        EXPECT_EQ(result.err, "") << where;
      }
    }
  }
}

// Binary output never reaches a terminal: it is refused before anything
// is read or written, as any usage error. Text is let through.
TEST_F(VxtraceCliTest, BinaryOutputIsRefusedOnATerminal) {
  const std::string trace = generate("trace.vxt", 50, 4);
  const std::string on_terminal =
      "vxtrace: standard output is a terminal; redirect it, or name a file with -o\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } refused[] = {
      {{"generate", "-o", "-", "--events", "5"}, on_terminal},
      {{"generate", "-o", "-", "--events", "5", "--inject", "lose@decoder:1", "--manifest",
        directory_.file("m.json")},
       on_terminal},
      {{"timeline", "--format", "perfetto", trace}, on_terminal},
      {{"timeline", "--format", "perfetto", "-o", "-", trace}, on_terminal},
      {{"timeline", "-q", "--no-args", "--format", "perfetto", trace}, on_terminal},
      {{"sqlite", "-o", "-", trace},
       "vxtrace: standard output: a database needs a regular file: name one with -o\n"},
  };
  const std::vector<std::string> files = files_in(directory_.path());
  for (const auto &[args, err] : refused) {
    const ProcessResult result =
        run_vxtrace_on_terminal(args, directory_.path(), TerminalStream::standard_output);
    EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(args);
    EXPECT_EQ(result.err, err) << testing::PrintToString(args);
    EXPECT_EQ(result.out, "") << testing::PrintToString(args);
  }
  EXPECT_EQ(files_in(directory_.path()), files);
  const std::vector<std::string> text[] = {
      {"timeline", "-q", trace}, {"dump", "--format", "text", trace}, {"stats", trace}};
  for (const std::vector<std::string> &args : text) {
    const ProcessResult result =
        run_vxtrace_on_terminal(args, directory_.path(), TerminalStream::standard_output);
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(args) << result.err;
    EXPECT_FALSE(result.out.empty()) << testing::PrintToString(args);
  }
}

// Whatever name leads to the input (itself, a symbolic or a hard link, or
// standard input), every command that writes refuses it before opening it.
TEST_F(VxtraceCliTest, OutputOntoTheInputIsRefusedAndTheInputKept) {
  const std::string path = generate("trace.vxt", 500, 4);
  const std::string bytes = read_file(path);
  const std::string symlink = directory_.file("symlink.vxt"),
                    hardlink = directory_.file("hard.vxt");
  std::filesystem::create_symlink(path, symlink);
  std::filesystem::create_hard_link(path, hardlink);
  for (const std::string &output : {path, symlink, hardlink}) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"dump", "--jobs", "1", path, "-o", output},
          {"dump", "--jobs", "2", path, "-o", output},
          {"timeline", path, "-o", output},
          {"timeline", "--output", output, "-"}}) {
      const ProcessResult result = run(args, path);
      EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(args);
      EXPECT_NE(result.err.find("cannot write to " + output + ": it is the same file as the input"),
                std::string::npos)
          << result.err;
      ASSERT_TRUE(read_file(path) == bytes) << testing::PrintToString(args);
    }
  }
  // The plug-in is mapped while the trace is read: it is an input too.
  const std::string plugin = directory_.file("plugin.so");
  std::filesystem::copy_file(VX_PLUGIN_PATH, plugin);
  const std::string plugin_bytes = read_file(plugin);
  const ProcessResult onto_plugin = run({"dump", "--plugin", plugin, path, "-o", plugin});
  EXPECT_EQ(onto_plugin.exit_status, 1);
  EXPECT_NE(onto_plugin.err.find("the same file as the input " + plugin), std::string::npos)
      << onto_plugin.err;
  EXPECT_TRUE(read_file(plugin) == plugin_bytes);
  EXPECT_EQ(run({"dump", "--quiet", path, "-o", directory_.file("other.jsonl")}).exit_status, 0);
}

// A write failure is status 1 even when the input is damaged: 2 would
// promise that the records before the damage were written.
TEST_F(VxtraceCliTest, FailedOutputIsStatus1WhateverTheInput) {
  const std::string bytes = read_file(generate("trace.vxt", 300, 6));
  const std::string cut = directory_.file("cut.vxt");
  write_file(cut, bytes.substr(0, bytes.size() - 5));
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"dump", "--jobs", "1"}, {"dump", "--jobs", "2"}, {"timeline"}}) {
    std::vector<std::string> damaged = args;
    damaged.push_back(cut);
    ASSERT_EQ(run(damaged).exit_status, 2);
    damaged.insert(damaged.end(), {"-o", "/dev/full"});
    const ProcessResult full = run(damaged);
    EXPECT_EQ(full.exit_status, 1) << testing::PrintToString(damaged);
    EXPECT_NE(full.err.find("cannot write the output"), std::string::npos) << full.err;
  }
}

// An existing file is replaced only with --force; the trace is written under
// a temporary name and renamed when complete, so that neither a refusal nor
// an interruption leaves anything behind.
TEST_F(VxtraceCliTest, GenerateReplacesOnlyWithForceAndLeavesNoPartialFile) {
  const std::string path = generate("trace.vxt", 200, 1);
  const std::string first = read_file(path);
  const std::vector<std::string> again = {"generate", "-o", path, "--events", "300", "--seed", "2"};
  const ProcessResult refused = run(again);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("the file exists (--force replaces it)"), std::string::npos)
      << refused.err;
  EXPECT_TRUE(read_file(path) == first);
  std::vector<std::string> forced = again;
  forced.push_back("--force");
  ASSERT_EQ(run(forced).exit_status, 0);
  const std::string second = read_file(path);
  EXPECT_TRUE(second == read_file(generate("fresh.vxt", 300, 2)));
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_NE(status.st_mode & S_IRGRP, 0u) << "the temporary file's private mode was kept";
  const ProcessResult to_stdout = run({"generate", "-o", "-", "--events", "300", "--seed", "2"});
  EXPECT_EQ(to_stdout.exit_status, 0);
  EXPECT_TRUE(to_stdout.out == second);
  EXPECT_EQ(files_in(directory_.path()), (std::vector<std::string>{"fresh.vxt", "trace.vxt"}));

  // Interrupted while the temporary file grows: it goes with the process.
  const std::string big = directory_.file("big.vxt");
  const FileSizeLimit limit(kLargestTestFile);
  const int pid = start_vxtrace(
      {"generate", "--force", "-o", big, "--events", "1000000000000", "--no-progress"},
      directory_.path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (files_in(directory_.path()).size() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::vector<std::string> while_running = files_in(directory_.path());
  kill(pid, SIGINT);
  const ProcessResult interrupted = wait_for_vxtrace(pid, directory_.path());
  ASSERT_EQ(while_running.size(), 3u);
  EXPECT_EQ(while_running[0].rfind(".big.vxt.", 0), 0u) << while_running[0];
  EXPECT_EQ(interrupted.signal, SIGINT) << interrupted.err;
  EXPECT_EQ(files_in(directory_.path()), (std::vector<std::string>{"fresh.vxt", "trace.vxt"}));
}

// Event names reach the plug-in's log lines; control bytes in them are
// written escaped, in the default logger's line shape, on one worker as on
// several.
TEST_F(VxtraceCliTest, LogLinesEscapeControlBytes) {
  const std::string path = directory_.file("names.vxt");
  write_file(path, build_trace([](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/x/\x1b]0;title\x07\r\n");
               vxt_writer_define(writer, 1, "/x/\x9b\xc2\x9b\x7f\xc3\xa9");
               vxt_writer_write_event(writer, 1, 5, "ab", 2);
             }));
  const std::string expected =
      "got event id 1 for the '/x/\\x9b\\xc2\\x9b\\x7f\xc3\xa9' event, but the id was already "
      "assigned to '/x/\\x1b]0;title\\x07\\x0d\\x0a'\n";
  const std::regex shape(R"(^[0-9]+\.[0-9]{3} \[error/[^\]\x00-\x1f]+\]: )");
  for (const std::string jobs : {"1", "2"}) {
    const ProcessResult result = run({"dump", "--jobs", jobs, "--chunk-bytes", "1", path});
    EXPECT_EQ(result.exit_status, 0);
    ASSERT_EQ(split_lines(result.err).size(), 1u) << result.err;
    EXPECT_TRUE(std::regex_search(result.err, shape)) << result.err;
    EXPECT_EQ(result.err.substr(result.err.find("]: ") + 3), expected);
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif
