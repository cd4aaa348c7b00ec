// dump --jobs: the trace is cut into parts that workers render apart, and the
// result must not show it. Every run here is compared with --jobs 1, byte for
// byte on standard output, line for line on standard error (the plug-in's log
// lines without their time), and by exit status; --chunk-bytes makes the
// parts small enough to cut inside runs of definitions. The range reader
// under it is checked on its own.
#ifdef VX_VXTRACE_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

// The default logger starts each line with the seconds since its first line.
std::string without_log_times(const std::string &err) {
  static const std::regex kTime(R"((^|\n)[0-9]+\.[0-9]{3} \[)");
  return std::regex_replace(err, kTime, "$1[");
}

class VxtraceJobsTest : public testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string> &args) {
    return run_vxtrace(args, directory_.path());
  }

  std::string generate(uint64_t events, uint64_t start, const std::string &mix = "realistic") {
    const std::string path = directory_.file("trace" + std::to_string(start) + ".vxt");
    const ProcessResult result = run({"generate", "-o", path, "--events", std::to_string(events),
                                      "--seed", std::to_string(start), "--mix", mix});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return path;
  }

  // dump with args and each parallel setting gives what --jobs 1 gives.
  void expect_same_as_one_job(const std::vector<std::string> &args) {
    std::vector<std::string> one_job = {"dump", "--no-progress", "--jobs", "1"};
    one_job.insert(one_job.end(), args.begin(), args.end());
    const ProcessResult expected = run(one_job);
    const std::vector<std::vector<std::string>> settings = {
        {"--jobs", "2"},
        {"--jobs", "3", "--chunk-bytes", "1"},
        {"--jobs", "2", "--chunk-bytes", "100"},
        {"--jobs", "4", "--chunk-bytes", "4096"}};
    for (const std::vector<std::string> &setting : settings) {
      std::vector<std::string> parallel = {"dump", "--no-progress"};
      parallel.insert(parallel.end(), setting.begin(), setting.end());
      parallel.insert(parallel.end(), args.begin(), args.end());
      const ProcessResult actual = run(parallel);
      const std::string where = testing::PrintToString(parallel);
      EXPECT_EQ(actual.exit_status, expected.exit_status) << where;
      EXPECT_TRUE(actual.out == expected.out) << where << ": standard output differs";
      EXPECT_EQ(without_log_times(actual.err), without_log_times(expected.err)) << where;
    }
  }

  TemporaryDirectory directory_;
};

TEST_F(VxtraceJobsTest, GeneratedTracesDumpTheSameOnAnyNumberOfWorkers) {
  expect_same_as_one_job({generate(3000, 11)});
  expect_same_as_one_job({generate(3000, 12, "bench")});
}

TEST_F(VxtraceJobsTest, LimitsAndEventFiltersCutAtTheSameLine) {
  const std::string path = generate(2000, 13);
  for (const std::string limit : {"0", "1", "7", "999", "1999", "2000", "5000"})
    expect_same_as_one_job({"--limit", limit, path});
  expect_same_as_one_job({"--event", "/velocast/audio_*", "--limit", "50", path});
  expect_same_as_one_job({"--event", "*video_stream*", "--event", "*demuxer*", path});
}

// Unknown ids, ids defined twice and names without a decoder, with the
// definitions spread between the data records: the log lines come in the
// same order and with the same text, and --limit drops those after its line.
TEST_F(VxtraceJobsTest, PluginLogLinesKeepTheirOrder) {
  const std::string path = directory_.file("logs.vxt");
  write_file(path, build_trace([](vxt_writer *writer) {
               const uint8_t session[4] = {7, 0, 0, 0};
               for (uint32_t round = 0; round < 40; ++round) {
                 vxt_writer_define(writer, 1, "/velocast/audio_flush");
                 vxt_writer_define(
                     writer, 2,
                     round % 2 ? "/velocast/media_channel_play" : "/velocast/media_channel_pause");
                 vxt_writer_define(writer, 3, "/velocast/no_such_event");
                 vxt_writer_write_event(writer, 2, round, session, 4);
                 vxt_writer_write_event(writer, 100 + round, round, session, 4);
                 vxt_writer_write_event(writer, 3, round, session, 4);
                 vxt_writer_write_event(writer, 1, round, session, 2);
               }
             }));
  const ProcessResult one = run({"dump", "--jobs", "1", path});
  ASSERT_NE(one.err.find("got data for an event with an unknown id: 139"), std::string::npos)
      << one.err;
  ASSERT_NE(one.err.find("but the id was already assigned to"), std::string::npos) << one.err;
  expect_same_as_one_job({path});
  for (const std::string limit : {"1", "2", "3", "5", "81"})
    expect_same_as_one_job({"--limit", limit, path});
  expect_same_as_one_job({"--quiet", path});
}

// Cut inside every kind of place: the same complete records, the same
// message, status 2.
TEST_F(VxtraceJobsTest, DamageIsReportedAsOnOneWorker) {
  const std::string bytes = read_file(generate(300, 14));
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const std::string cut_path = directory_.file("cut.vxt");
  for (size_t record = 0; record + 1 < offsets.size(); record += 37) {
    write_file(cut_path, bytes.substr(0, offsets[record] + 3));
    expect_same_as_one_job({cut_path});
    expect_same_as_one_job({"--limit", "20", cut_path});
  }
  write_file(cut_path, bytes + "Z");
  expect_same_as_one_job({cut_path});
}

// The text of the parts in flight has one budget, whatever the number of
// workers: 256 workers take about the memory of 2, not a part's text more per
// worker.
TEST_F(VxtraceJobsTest, ManyWorkersShareOneTextBudget) {
  const std::string path = generate(300000, 17, "bench");
  // Under AddressSanitizer, freed memory waits in a quarantine, partly per
  // thread, which 256 threads fill more than 2: it is not the text's, and it
  // is left out of the measure.
  struct QuarantineOff {
    const char *set = std::getenv("ASAN_OPTIONS");
    std::string previous = set != nullptr ? set : "";
    QuarantineOff() {
      if (set != nullptr)
        setenv("ASAN_OPTIONS",
               (previous + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
    }
    ~QuarantineOff() {
      if (set != nullptr) setenv("ASAN_OPTIONS", previous.c_str(), 1);
    }
  } quarantine_off;
  std::map<std::string, long> peak_kib;
  for (const std::string jobs : {"2", "256"}) {
    const ProcessResult result =
        run({"dump", "--quiet", "--no-progress", "--jobs", jobs, "-o", "/dev/null", path});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    peak_kib[jobs] = result.peak_rss_kib;
  }
  EXPECT_LT(peak_kib["256"], peak_kib["2"] + 32 * 1024)
      << "peak " << peak_kib["2"] << " KiB with 2 workers";
}

// ---- The range reader ----

std::vector<ReadRecord> read_range(const std::string &path, uint64_t begin, uint64_t end,
                                   const std::vector<vxt_definition> &definitions) {
  const int fd = open(path.c_str(), O_RDONLY);
  vxt_error error{};
  vxt_reader *reader =
      vxt_reader_open_range(fd, begin, end, definitions.data(), definitions.size(), &error);
  EXPECT_NE(reader, nullptr) << error.message;
  if (reader == nullptr) return {};
  const ReadResult result = read_all(reader);
  close(fd);
  EXPECT_EQ(result.error.status, VXT_OK) << result.error.message;
  return result.records;
}

// A range read from any record boundary, with the bindings in force there
// replayed, delivers those bindings and then exactly the records that a
// whole reading delivers from that boundary on.
TEST_F(VxtraceJobsTest, RangesStartAtAnyRecordWithTheBindingsInForce) {
  const std::string path = directory_.file("runs.vxt");
  write_file(path, build_trace([](vxt_writer *writer) {
               const uint8_t payload[12] = {1, 0, 0, 0, 2};
               for (uint32_t id = 1; id <= 5; ++id)
                 vxt_writer_define(writer, id, ("/velocast/name_" + std::to_string(id)).c_str());
               vxt_writer_write_event(writer, 1, 10, payload, 12);
               vxt_writer_define(writer, 2, "/velocast/audio_flush");
               vxt_writer_define(writer, 6, "/velocast/audio_volume_changed");
               vxt_writer_write_event(writer, 2, 20, payload, 12);
               vxt_writer_write_event(writer, 6, 30, payload, 8);
             }));
  const std::string bytes = read_file(path);
  const ReadResult whole = read_all(bytes);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  ASSERT_EQ(offsets.size(), whole.records.size() + 1);
  std::map<uint32_t, std::string> bound;
  for (size_t cut = 0; cut < whole.records.size(); ++cut) {
    std::vector<vxt_definition> definitions;
    std::vector<ReadRecord> expected;
    for (const auto &[id, name] : bound) {
      definitions.push_back({id, name.c_str()});
      expected.push_back({true, id, 0, name});
    }
    expected.insert(expected.end(), whole.records.begin() + cut, whole.records.end());
    EXPECT_EQ(read_range(path, offsets[cut], offsets.back(), definitions), expected)
        << "cut before record " << cut;
    // A range that ends at the next boundary holds one record.
    const std::vector<ReadRecord> one =
        read_range(path, offsets[cut], offsets[cut + 1], definitions);
    ASSERT_EQ(one.size(), definitions.size() + 1);
    EXPECT_EQ(one.back(), whole.records[cut]);
    if (whole.records[cut].definition) bound[whole.records[cut].id] = whole.records[cut].bytes;
  }
}

TEST_F(VxtraceJobsTest, SkippingReportsEveryRecordBoundaryAndName) {
  const std::string path = generate(200, 15);
  const std::string bytes = read_file(path);
  const std::vector<uint64_t> offsets = record_offsets(bytes);
  const ReadResult whole = read_all(bytes);
  vxt_reader *reader = vxt_reader_open_path(path.c_str(), nullptr);
  ASSERT_NE(reader, nullptr);
  vxt_record_info info;
  size_t count = 0;
  while (vxt_reader_skip_record(reader, &info)) {
    ASSERT_LT(count, whole.records.size());
    EXPECT_EQ(info.offset, offsets[count]);
    EXPECT_EQ(info.offset + info.size, offsets[count + 1]);
    EXPECT_EQ(info.id, whole.records[count].id);
    EXPECT_EQ(info.tag == VXT_TAG_DEFINITION, whole.records[count].definition);
    if (whole.records[count].definition) {
      EXPECT_EQ(info.name, whole.records[count].bytes);
    }
    ++count;
  }
  EXPECT_EQ(count, whole.records.size());
  EXPECT_EQ(vxt_reader_error(reader)->status, VXT_OK);
  vxt_reader_close(reader);
}

struct RefusedRange {
  const char *label;
  uint64_t begin;
  uint64_t end;
  std::vector<vxt_definition> definitions;
  size_t definition_count;
  const char *message;
};

// The definitions replayed to a range obey the limits of definition records,
// on which consumers rely (tables indexed by id).
TEST_F(VxtraceJobsTest, RangeReaderRefusesImpossibleRanges) {
  const std::string path = generate(10, 16);
  const int fd = open(path.c_str(), O_RDONLY);
  const std::string too_long(VXT_MAX_NAME_LENGTH + 1, 'n');
  const std::string longest(VXT_MAX_NAME_LENGTH, 'n');
  const std::vector<RefusedRange> refused = {
      {"begins in the header", 0, 100, {}, 0, "invalid range 0..100"},
      {"ends before it begins", 200, 100, {}, 0, "invalid range 200..100"},
      {"definitions missing", 100, 200, {}, 3, "invalid range"},
      {"id 0xffffffff",
       100,
       200,
       {{1, "/a"}, {UINT32_MAX, "/b"}},
       2,
       "definition 1 binds event id 4294967295, above the limit of 65535"},
      {"id over the limit", 100, 200, {{VXT_MAX_DEFINED_ID + 1, "/a"}}, 1, "above the limit"},
      {"name too long",
       100,
       200,
       {{1, too_long.c_str()}},
       1,
       "definition 0 (event id 1): event name must be 1 to 255 bytes long"},
      {"empty name", 100, 200, {{1, ""}}, 1, "event name must be 1 to 255 bytes long"},
      {"no name", 100, 200, {{1, nullptr}}, 1, "event name must be 1 to 255 bytes long"}};
  for (const RefusedRange &range : refused) {
    vxt_error error{};
    EXPECT_EQ(vxt_reader_open_range(fd, range.begin, range.end,
                                    range.definitions.empty() ? nullptr : range.definitions.data(),
                                    range.definition_count, &error),
              nullptr)
        << range.label;
    EXPECT_EQ(error.status, VXT_INVALID_ARGUMENT) << range.label;
    EXPECT_NE(std::strstr(error.message, range.message), nullptr)
        << range.label << ": " << error.message;
  }
  // The limits themselves are accepted.
  const vxt_definition edge{VXT_MAX_DEFINED_ID, longest.c_str()};
  const uint64_t size = read_file(path).size();
  const ReadResult result =
      read_all(vxt_reader_open_range(fd, VXT_HEADER_SIZE, size, &edge, 1, nullptr));
  ASSERT_FALSE(result.records.empty());
  EXPECT_EQ(result.records.front(), (ReadRecord{true, VXT_MAX_DEFINED_ID, 0, longest}));
  EXPECT_EQ(result.error.status, VXT_OK);
  close(fd);
}

}  // namespace
}  // namespace vxtrace_test

#endif
