// What every reading command shares: each input opened once (streams given
// twice or with a "+" time refused, never hung on), inputs refused at their
// header named in every output, and the edges of the time window.
#ifdef VX_VXTRACE_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"

namespace vxtrace_test {
namespace {

using nlohmann::json;

// Feeds bytes into a FIFO once a reader opens it, until the reader goes.
// The destructor reads whatever is left, so that the writer ends whether
// the command read everything, part, or nothing.
class FifoWriter {
 public:
  FifoWriter(std::string path, std::string bytes) : path_(std::move(path)) {
    thread_ = std::thread([this, bytes = std::move(bytes)] {
      const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) return;
      for (size_t at = 0; at < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + at, bytes.size() - at);
        if (wrote <= 0) break;  // the reader went
        at += static_cast<size_t>(wrote);
      }
      close(fd);
    });
  }
  ~FifoWriter() {
    // Read what the refused command left, so that the writer can finish.
    const int release = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (release >= 0) {
      fcntl(release, F_SETFL, 0);
      char buffer[65536];
      while (read(release, buffer, sizeof buffer) > 0) {
      }
    }
    thread_.join();
    if (release >= 0) close(release);
  }

 private:
  std::string path_;
  std::thread thread_;
};

// A row of the database's meta table through the sqlite3 shell, "" when
// there is none.
std::string meta_value(const std::string &database, const std::string &key) {
  const std::string command =
      "sqlite3 -readonly '" + database + "' \"SELECT value FROM meta WHERE key = '" + key + "'\"";
  FILE *pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  for (size_t got; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, got);
  if (pipe != nullptr) pclose(pipe);
  return out;
}

class VxtraceReadingCommandTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    signal(SIGPIPE, SIG_IGN);  // a FIFO whose reader was refused
    directory_ = new TemporaryDirectory();
    trace_ = directory_->file("a.vxt");
    run_vxtrace({"generate", "-o", trace_, "--events", "2000", "--seed", "4", "--no-progress"},
                directory_->path());
  }
  static void TearDownTestSuite() { delete directory_; }

  static std::string fifo(const std::string &name) {
    const std::string path = directory_->file(name);
    unlink(path.c_str());
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return path;
  }

  static inline TemporaryDirectory *directory_ = nullptr;
  static inline std::string trace_;
};

// A "+" or "-" time must look at every input's first or last record before
// reading, which a stream cannot give without losing it; a stream given twice would split
// its bytes between two readers. Both are usage errors, and neither hangs.
TEST_F(VxtraceReadingCommandTest, StreamsThatCannotBeReadAsAskedAreRefused) {
  const std::string bytes = read_file(trace_);
  struct Case {
    std::vector<std::string> args;  // the FIFO is "F"
    bool fifo_on_stdin;
    const char *message;
  };
  const Case cases[] = {
      {{"stats", "--begin", "+1ms", "F"}, false, "needs regular files"},
      {{"dump", "--end", "+1s", "-"}, true, "standard input is not one"},
      {{"report", "--begin", "+0s", trace_, "F"}, false, "needs regular files"},
      {{"dump", "--begin", "-60s", "-"},
       true,
       "vxtrace: --begin -60s: a time from the last record needs regular files, and standard "
       "input is not one"},
      {{"stats", "--begin", "0", "--end", "-1ms", trace_, "F"},
       false,
       "vxtrace: --end -1ms: a time from the last record needs regular files"},
      {{"timeline", "--begin", "-1s", "--end", "+1s", "F"},
       false,
       "--begin -1s: a time from the last"},
      {{"dump", "F", "F"}, false, "the same stream"},
      {{"dump", "-", "/dev/stdin"}, true, "the same stream"},
      {{"stats", "F", trace_, "F"}, false, "the same stream"},
  };
  for (const Case &c : cases) {
    const std::string path = fifo("f");
    std::vector<std::string> args;
    for (const std::string &arg : c.args) args.push_back(arg == "F" ? path : arg);
    args.insert(args.begin() + 1, "--no-progress");
    FifoWriter writer(path, bytes);
    const ProcessResult result = run_vxtrace(args, directory_->path(), c.fifo_on_stdin ? path : "");
    const std::string where = testing::PrintToString(args);
    EXPECT_EQ(result.exit_status, 1) << where << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << where << result.err;
    EXPECT_TRUE(result.out.empty()) << where;
  }
}

// A FIFO read once, without a "+" time, is an input like any other.
TEST_F(VxtraceReadingCommandTest, AStreamReadOnceGivesTheFileRecords) {
  const ProcessResult from_file =
      run_vxtrace({"dump", "--no-progress", "--begin", "0", trace_}, directory_->path());
  const std::string path = fifo("once");
  FifoWriter writer(path, read_file(trace_));
  const ProcessResult from_fifo =
      run_vxtrace({"dump", "--no-progress", "--begin", "0", path}, directory_->path());
  EXPECT_EQ(from_fifo.exit_status, 0) << from_fifo.err;
  EXPECT_EQ(from_fifo.out, from_file.out);
}

// An input refused at its header among good ones: status 2, and every
// output says which input was refused and why, instead of passing for a
// complete run.
TEST_F(VxtraceReadingCommandTest, AnInputRefusedAtItsHeaderIsNamedInEveryOutput) {
  const std::string empty = directory_->file("empty.vxt");
  const std::string not_a_trace = directory_->file("notes.txt");
  write_file(empty, "");
  write_file(not_a_trace, "these are notes, not a trace\n");
  for (const std::string &refused : {empty, not_a_trace}) {
    const std::string name = refused.substr(refused.rfind('/') + 1);
    const auto run = [&](std::vector<std::string> args) {
      args.insert(args.begin() + 1, "--no-progress");
      args.push_back(trace_);
      args.push_back(refused);
      const ProcessResult result = run_vxtrace(args, directory_->path());
      EXPECT_EQ(result.exit_status, 2) << testing::PrintToString(args) << result.err;
      return result;
    };

    const json timeline = json::parse(run({"timeline", "-q"}).out);
    EXPECT_FALSE(timeline["otherData"]["complete"].get<bool>()) << name;
    EXPECT_NE(timeline["otherData"]["input_error"].get<std::string>().find(name),
              std::string::npos);
    EXPECT_NE(timeline["otherData"]["input"].get<std::string>().find(name), std::string::npos);

    const json report = json::parse(run({"report", "--json"}).out);
    ASSERT_TRUE(report.contains("damage")) << name;
    EXPECT_NE(report["damage"].get<std::string>().find(name), std::string::npos);
    EXPECT_NE(run({"report"}).out.find(name), std::string::npos);

    const std::vector<std::string> lines = split_lines(run({"dump"}).out);
    ASSERT_FALSE(lines.empty());
    for (const std::string &line : {lines.front(), lines.back()})
      EXPECT_EQ(json::parse(line)["source"], trace_) << line;

    const std::string database = directory_->file("refused.sqlite");
    run({"sqlite", "--force", "-o", database});
    EXPECT_NE(meta_value(database, "damage").find(name), std::string::npos);
  }
}

// --limit reads no further than the last line written: damage beyond it in
// any input does not decide the status, whatever --jobs, and a slow stream
// does not hold the command once the lines are out.
TEST_F(VxtraceReadingCommandTest, ALimitReadsNoFurtherThanItsLastLine) {
  const std::string bytes = read_file(trace_);
  const std::string cut = directory_->file("cut.vxt");
  const std::string flipped = directory_->file("flipped.vxt");
  write_file(cut, bytes.substr(0, bytes.size() - 7));
  std::string damaged = bytes;
  damaged[damaged.size() - 40] = static_cast<char>(0xFF);
  write_file(flipped, damaged);
  const std::vector<std::string> inputs = {cut, trace_, flipped};
  const auto dump = [&](const char *jobs) {
    std::vector<std::string> args = {"dump", "--no-progress", "-q", "--jobs",
                                     jobs,   "--limit",       "50"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    return run_vxtrace(args, directory_->path());
  };
  const ProcessResult one = dump("1");
  EXPECT_EQ(one.exit_status, 0) << one.err;
  for (int run = 0; run < 5; ++run) {
    const ProcessResult several = dump("5");
    EXPECT_EQ(several.exit_status, one.exit_status) << several.err;
    EXPECT_EQ(several.out, one.out);
  }

  // A stream that sends half its bytes, then waits until the command is done.
  const std::string path = fifo("slow");
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  std::thread writer([&] {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const size_t half = bytes.size() / 2;
    for (size_t at = 0; at < half;) {
      const ssize_t wrote = write(fd, bytes.data() + at, half - at);
      if (wrote <= 0) break;
      at += static_cast<size_t>(wrote);
    }
    std::unique_lock<std::mutex> lock(mutex);
    done_changed.wait_for(lock, std::chrono::seconds(60), [&] { return done; });
    close(fd);
  });
  const ProcessResult slow =
      run_vxtrace({"dump", "--no-progress", "-q", "--jobs", "4", "--limit", "20", trace_, path},
                  directory_->path());
  const bool finished_first = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    const bool writer_waiting = !done;
    done = true;
    return writer_waiting;
  }();
  done_changed.notify_all();
  writer.join();
  EXPECT_TRUE(finished_first);
  EXPECT_EQ(slow.exit_status, 0) << slow.err;
  EXPECT_EQ(split_lines(slow.out).size(), 20u);
}

// Memory does not grow with the number of inputs: each reads ahead a share
// of one budget. 2,000 inputs of 1 MB each, whose first records are all
// held at once, stay far below the 2 GB that a full window each would take;
// and 2,000 inputs merge into the totals of all of them.
TEST_F(VxtraceReadingCommandTest, TwoThousandInputsShareOneReadBudget) {
  const std::string big = directory_->file("big.vxt");
  run_vxtrace({"generate", "-o", big, "--events", "20000", "--seed", "5", "--no-progress"},
              directory_->path());
  const std::string small = directory_->file("small.vxt");
  write_file(small, build_trace([](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/test/small");
               for (uint64_t t : {30, 10, 20}) vxt_writer_write_event(writer, 1, t, "ab", 2);
             }));
  std::vector<std::string> bigs = {"dump", "--no-progress", "-q", "-j", "1", "--limit", "1"};
  std::vector<std::string> smalls = {"stats", "--no-progress", "--json"};
  for (int i = 0; i < 2000; ++i) {
    bigs.push_back(big);
    smalls.push_back(small);
  }
  const ProcessResult heads = run_vxtrace(bigs, directory_->path());
  EXPECT_EQ(heads.exit_status, 0) << heads.err;
  EXPECT_EQ(split_lines(heads.out).size(), 1u);
  EXPECT_LT(heads.peak_rss_kib, 1024 * 1024);

  const ProcessResult merged = run_vxtrace(smalls, directory_->path());
  ASSERT_EQ(merged.exit_status, 0) << merged.err;
  const json totals = json::parse(merged.out);
  EXPECT_EQ(totals["total"]["events"], 6000);
  EXPECT_EQ(totals["inputs"].size(), 2000u);
}

// The window is begin <= timestamp < end, whatever the edges: an --end of
// 2^64-1 drops the record stamped 2^64-1, and a "+" time past the largest
// timestamp keeps nothing rather than clamping onto the last record.
TEST_F(VxtraceReadingCommandTest, WindowEdgesAtTheLargestTimestamps) {
  const std::string edge = directory_->file("edge.vxt");
  write_file(edge, build_trace([](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/test/edge");
               for (uint64_t back : {5, 3, 1, 0})
                 vxt_writer_write_event(writer, 1, UINT64_MAX - back, "ab", 2);
             }));
  struct Case {
    std::vector<std::string> window;
    size_t lines;
  };
  const Case cases[] = {
      {{}, 4},
      {{"--end", "18446744073709551615"}, 3},
      {{"--begin", "18446744073709551615"}, 1},
      {{"--begin", "+4ns"}, 2},
      {{"--begin", "+10ns"}, 0},
      {{"--begin", "+2ns", "--end", "+5ns"}, 2},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"dump", "--no-progress", "-q", "-j", "1"};
    args.insert(args.end(), c.window.begin(), c.window.end());
    args.push_back(edge);
    const ProcessResult result = run_vxtrace(args, directory_->path());
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(args) << result.err;
    EXPECT_EQ(split_lines(result.out).size(), c.lines) << testing::PrintToString(args);
  }
}

// "-" counts back from the last record in file order (not the largest
// timestamp) of whichever input ends latest; a time before the clock's zero
// is its zero.
TEST_F(VxtraceReadingCommandTest, MinusTimesCountBackFromTheLastRecordOfTheInputs) {
  const auto trace_of = [&](const std::string &name, std::vector<uint64_t> timestamps) {
    const std::string path = directory_->file(name);
    write_file(path, build_trace([&](vxt_writer *writer) {
                 vxt_writer_define(writer, 1, "/test/minus");
                 for (uint64_t t : timestamps) vxt_writer_write_event(writer, 1, t, "ab", 2);
                 vxt_writer_define(writer, 2, "/test/after_the_last");
               }));
    return path;
  };
  const std::string early = trace_of("early.vxt", {10, 20, 30, 40, 50});
  const std::string late = trace_of("late.vxt", {20, 60, 90});
  const std::string back = trace_of("back.vxt", {100, 300, 200});
  struct Case {
    std::vector<std::string> args;
    std::vector<uint64_t> timestamps;
  };
  const Case cases[] = {
      {{"--begin", "-20ns", early}, {30, 40, 50}},
      {{"--begin", "-20ns", early, late}, {90}},
      {{"--begin", "-40ns", late, early}, {50, 60, 90}},
      {{"--end", "-30ns", early, late}, {10, 20, 20, 30, 40, 50}},
      {{"--begin", "-100ns", back}, {100, 300, 200}},
      {{"--begin", "-50ns", back}, {300, 200}},
      {{"--begin", "-1h", early}, {10, 20, 30, 40, 50}},
      {{"--end", "-1h", early}, {}},
      {{"--begin", "+10ns", "--end", "-10ns", early}, {20, 30}},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"dump", "--no-progress", "-q", "-j", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult result = run_vxtrace(args, directory_->path());
    const std::string where = testing::PrintToString(args);
    EXPECT_EQ(result.exit_status, 0) << where << result.err;
    std::vector<uint64_t> timestamps;
    for (const std::string &line : split_lines(result.out))
      timestamps.push_back(json::parse(line)["timestamp"]);
    EXPECT_EQ(timestamps, c.timestamps) << where;
  }
}

// A selection that keeps no record says so, once, on every reading command,
// and the exit status stays 0; one that keeps something, or a dump stopped
// before it read anything, says nothing.
// Standard error without the note of what timeline drew ("N records, N
// slices, ..."), which every timeline run writes.
std::string without_timeline_counts(const std::string &err) {
  std::string kept;
  for (const std::string &line : split_lines(err))
    if (line.find(" records, ") == std::string::npos) kept += line + "\n";
  return kept;
}

TEST_F(VxtraceReadingCommandTest, ASelectionThatMatchesNoRecordSaysSo) {
  const std::string database = directory_->file("none.sqlite");
  const std::vector<std::vector<std::string>> commands = {
      {"dump", "-j", "1"}, {"dump", "-j", "2", "--chunk-bytes", "4000"}, {"stats"}, {"timeline"},
      {"report"},          {"sqlite", "--force", "-o", database},
  };
  struct Case {
    std::vector<std::string> selection;
    const char *message;  // null: nothing on standard error
  };
  const Case cases[] = {
      {{"--begin", "+1h"}, "vxtrace: no record matches --begin +1h\n"},
      {{"--begin", "-0s", "--end", "-0s"}, "vxtrace: no record matches --begin -0s --end -0s\n"},
      {{"--end", "1ns"}, "vxtrace: no record matches --end 1ns\n"},
      {{"--session", "4000000000"}, "vxtrace: no record matches --session 4000000000\n"},
      {{"--begin", "-1ms"}, nullptr},
      {{}, nullptr},
  };
  for (const std::vector<std::string> &command : commands)
    for (const Case &c : cases) {
      std::vector<std::string> args = command;
      args.push_back("--no-progress");
      args.insert(args.end(), c.selection.begin(), c.selection.end());
      args.push_back(trace_);
      const ProcessResult result = run_vxtrace(args, directory_->path());
      const std::string where = testing::PrintToString(args);
      EXPECT_EQ(result.exit_status, 0) << where << result.err;
      EXPECT_EQ(without_timeline_counts(result.err), c.message ? c.message : "") << where;
    }
  const std::vector<std::vector<std::string>> with_events = {
      {"dump", "-j", "1", "--event", "/nothing/*"},
      {"dump", "-j", "2", "--chunk-bytes", "4000", "--event", "/nothing/*"},
      {"timeline", "--event", "/nothing/*"},
  };
  for (std::vector<std::string> args : with_events) {
    args.insert(args.end(), {"--no-progress", trace_});
    const ProcessResult result = run_vxtrace(args, directory_->path());
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(args) << result.err;
    // The glob is named first, as matching no event at all.
    EXPECT_EQ(without_timeline_counts(result.err),
              "vxtrace: --event /nothing/* matches no event that the trace defines\n"
              "vxtrace: no record matches --event /nothing/*\n")
        << testing::PrintToString(args);
  }
  for (const char *jobs : {"1", "2"}) {
    const ProcessResult stopped = run_vxtrace(
        {"dump", "--no-progress", "-j", jobs, "--limit", "0", "--event", "/nothing/*", trace_},
        directory_->path());
    EXPECT_EQ(stopped.exit_status, 0) << stopped.err;
    EXPECT_EQ(stopped.err, "") << "--jobs " << jobs;
  }
}

// A windowed database says what it keeps; a whole one has no such row.
TEST_F(VxtraceReadingCommandTest, TheDatabaseKeepsItsSelection) {
  const std::string database = directory_->file("window.sqlite");
  const auto selection_row = [&](std::vector<std::string> window) {
    std::vector<std::string> args = {"sqlite", "--no-progress", "--force", "-o", database};
    args.insert(args.end(), window.begin(), window.end());
    args.push_back(trace_);
    EXPECT_EQ(run_vxtrace(args, directory_->path()).exit_status, 0);
    return meta_value(database, "selection");
  };
  EXPECT_EQ(selection_row({"--begin", "+10ms", "--session", "2"}), "--begin +10ms --session 2\n");
  EXPECT_EQ(selection_row({}), "");
}

}  // namespace
}  // namespace vxtrace_test

#endif
