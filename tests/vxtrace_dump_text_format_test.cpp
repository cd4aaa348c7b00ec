// dump --format text: lines of the shipped sample as written, records that
// were not decoded, and deltas that count from the line printed before
// whatever the number of workers or inputs.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

const std::string kSample = std::string(VX_SOURCE_DIR) + "/examples/sample.vxt";

class VxtraceDumpTextFormatTest : public testing::Test {
 protected:
  std::string dump_text(const std::vector<std::string> &args) {
    std::vector<std::string> command = {"dump", "--quiet", "--no-progress", "--format", "text"};
    command.insert(command.end(), args.begin(), args.end());
    const ProcessResult result = run_vxtrace(command, directory_.path());
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(command) << result.err;
    return result.out;
  }

  std::string generate(uint64_t events, uint64_t seed) {
    const std::string path = directory_.file("trace" + std::to_string(seed) + ".vxt");
    const ProcessResult result =
        run_vxtrace({"generate", "-o", path, "--events", std::to_string(events), "--seed",
                     std::to_string(seed)},
                    directory_.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return path;
  }

  TemporaryDirectory directory_;
};

// A text line's time and delta in nanoseconds, and what follows the delta.
struct TextLine {
  uint64_t time = 0;
  int64_t delta = 0;
  std::string rest;
};

std::optional<TextLine> parsed(const std::string &line) {
  static const std::regex kLine(
      R"(^\[([0-9]+)\.([0-9]{9})\] \(([+-])([0-9]+)\.([0-9]{9})\) (.*)$)");
  std::smatch match;
  if (!std::regex_match(line, match, kLine)) return std::nullopt;
  const auto ns = [&](int seconds, int fraction) {
    return std::stoull(match[seconds]) * 1'000'000'000 + std::stoull(match[fraction]);
  };
  const int64_t delta = static_cast<int64_t>(ns(4, 5));
  return TextLine{ns(1, 2), match[3] == "-" ? -delta : delta, match[6]};
}

// Every line is in the text shape, and its delta is the distance from the
// line before (none for the first).
void expect_deltas_from_line_before(const std::string &out, const std::string &where) {
  const std::vector<std::string> lines = split_lines(out);
  ASSERT_FALSE(lines.empty()) << where;
  uint64_t previous = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::optional<TextLine> line = parsed(lines[i]);
    ASSERT_TRUE(line) << where << ": " << lines[i];
    const int64_t expected =
        i == 0 ? 0 : static_cast<int64_t>(line->time) - static_cast<int64_t>(previous);
    ASSERT_EQ(line->delta, expected) << where << ", line " << i << ": " << lines[i];
    previous = line->time;
  }
}

TEST_F(VxtraceDumpTextFormatTest, SampleLinesAsWritten) {
  struct Case {
    std::vector<std::string> selection;
    std::string first_line;
  };
  const std::vector<Case> cases = {
      {{},
       "[1.000034569] (+0.000000000) session 1 network_session_created: {\"type\": 0, "
       "\"session_id\": 1, \"device_id\": 470456245648421624}"},
      // The receiver's own records tell no session.
      {{"--begin", "1.003955280s"},
       "[1.003955280] (+0.000000000) receiver audio_queue_read: {\"sink_sample_capacity\": 4096, "
       "\"sink_delay_us\": 13677, \"want_read_bytes\": 1920, \"actual_read_bytes\": 1920}"},
      {{"--event", "audio_flush", "--session", "2"},
       "[1.012014144] (+0.000000000) session 2 audio_flush: {\"session_id\": 2, \"until_us\": "
       "60000}"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = c.selection;
    args.insert(args.end(), {"--limit", "1", kSample});
    EXPECT_EQ(dump_text(args), c.first_line + "\n") << testing::PrintToString(c.selection);
  }
}

// The time of a line is what --begin reads back with an "s": the line
// starts a dump from there.
TEST_F(VxtraceDumpTextFormatTest, LineTimesAreBeginTimes) {
  const std::vector<std::string> lines = split_lines(dump_text({"--limit", "400", kSample}));
  ASSERT_EQ(lines.size(), 400u);
  for (const size_t i : {size_t{0}, size_t{1}, size_t{57}, size_t{399}}) {
    const std::string time = lines[i].substr(1, lines[i].find(']') - 1);
    const std::vector<std::string> from =
        split_lines(dump_text({"--begin", time + "s", "--limit", "1", kSample}));
    ASSERT_EQ(from.size(), 1u);
    EXPECT_EQ(parsed(from[0])->rest, parsed(lines[i])->rest) << time;
  }
}

TEST_F(VxtraceDumpTextFormatTest, RecordsThatWereNotDecodedKeepTheLineShape) {
  const std::string path = directory_.file("odd.vxt");
  write_file(path, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/audio_volume_changed");
               vxt_writer_define(writer, 2, "/other/odd name");
               vxt_writer_write_event(writer, 1, 1'000'000'012, "\x03\x00", 2);
               vxt_writer_write_event(writer, 2, 1'000'000'013, "\xab", 1);
               vxt_writer_write_event(writer, 77, 999'999'999, "\x01\x02", 2);
             }));
  EXPECT_EQ(split_lines(dump_text({path})),
            (std::vector<std::string>{
                "[1.000000012] (+0.000000000) receiver audio_volume_changed: {\"payload\": null, "
                "\"error\": \"payload could not be decoded\", \"raw\": \"0300\"}",
                "[1.000000013] (+0.000000001) receiver \"/other/odd name\": {\"payload\": null, "
                "\"error\": \"no decoder for this event\", \"raw\": \"ab\"}",
                "[0.999999999] (-0.000000014) receiver #77: {\"payload\": null, \"error\": "
                "\"unknown event id\", \"raw\": \"0102\"}"}));
}

// Parts of one input and threads of several inputs render their lines apart;
// the delta of each line still counts from the line printed before it, also
// when a filter drops the records in between.
TEST_F(VxtraceDumpTextFormatTest, DeltasAreTheSameOnAnyNumberOfJobs) {
  const std::string one = generate(3000, 21);
  const std::string other = generate(2000, 22);
  struct Case {
    std::vector<std::string> inputs_and_filters;
  };
  const std::vector<Case> cases = {
      {{one}},        {{"--event", "audio_*", one}},        {{"--session", "2", one}},
      {{one, other}}, {{"--event", "video_*", one, other}},
  };
  const std::vector<std::vector<std::string>> job_settings = {
      {"--jobs", "2"},
      {"--jobs", "4"},
      {"--jobs", "2", "--chunk-bytes", "1"},
      {"--jobs", "4", "--chunk-bytes", "3000"}};
  for (const Case &c : cases) {
    const std::string where = testing::PrintToString(c.inputs_and_filters);
    std::vector<std::string> one_job = {"--jobs", "1"};
    one_job.insert(one_job.end(), c.inputs_and_filters.begin(), c.inputs_and_filters.end());
    const std::string expected = dump_text(one_job);
    expect_deltas_from_line_before(expected, where);
    for (const std::vector<std::string> &jobs : job_settings) {
      std::vector<std::string> args = jobs;
      args.insert(args.end(), c.inputs_and_filters.begin(), c.inputs_and_filters.end());
      EXPECT_TRUE(dump_text(args) == expected) << where << " " << testing::PrintToString(jobs);
    }
  }
}

// The question the text form answers at a glance: an injected display stall is
// one line whose delta is the hole, on its own and inside a window.
TEST_F(VxtraceDumpTextFormatTest, AStallIsOneLineWithTheHoleAsItsDelta) {
  const std::string path = directory_.file("stall.vxt");
  const ProcessResult generated = run_vxtrace(
      {"generate", "-o", path, "--events", "60000", "--seed", "7", "--inject", "stall@+2s:400ms"},
      directory_.path());
  ASSERT_EQ(generated.exit_status, 0) << generated.err;
  for (const std::vector<std::string> &window :
       std::vector<std::vector<std::string>>{{}, {"--begin", "2.5s", "--end", "4s"}}) {
    std::vector<std::string> args = window;
    args.push_back(path);
    std::vector<std::string> holes;
    for (const std::string &line : split_lines(dump_text(args))) {
      const std::optional<TextLine> parsed_line = parsed(line);
      ASSERT_TRUE(parsed_line) << line;
      if (parsed_line->delta >= 100'000'000) holes.push_back(line);
    }
    ASSERT_EQ(holes.size(), 1u) << testing::PrintToString(window);
    EXPECT_NE(holes[0].find("] (+0.400"), std::string::npos) << holes[0];
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif  // VX_VXTRACE_PATH
