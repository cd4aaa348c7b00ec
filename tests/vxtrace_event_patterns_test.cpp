// --event on every reading command: a short name or glob ("audio_flush",
// "audio_*") keeps what the full one ("/velocast/audio_flush") keeps, and a
// pattern that matches no event the trace defines says so on standard error.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/vxtrace_process.h"
#include "support/vxtrace_trace_builder.h"
#include "vexlo/vxtrace_file.h"

namespace vxtrace_test {
namespace {

const std::string kSample = std::string(VX_SOURCE_DIR) + "/examples/sample.vxt";

// A reading command, and how to get what it kept as text.
struct ReadingCase {
  std::string name;
  std::vector<std::string> args;  // before the --event options; DATABASE: a file
  bool database = false;          // sqlite: its events table's rows per name
};

const std::vector<ReadingCase> kReadingCommands = {
    {"dump", {"dump"}},
    {"stats", {"stats", "--json"}},
    {"timeline", {"timeline"}},
    {"report", {"report", "--json"}},
    {"sqlite", {"sqlite", "--force", "-o", "DATABASE"}, true},
};

std::string event_counts(const std::string &database) {
  sqlite3 *db = nullptr;
  std::string text;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, "SELECT event, count(*) FROM events GROUP BY event ORDER BY event",
        [](void *out, int columns, char **values, char **) {
          for (int i = 0; i < columns; ++i)
            *static_cast<std::string *>(out) += values[i] + std::string(" ");
          *static_cast<std::string *>(out) += "\n";
          return 0;
        },
        &text, nullptr);
  }
  sqlite3_close(db);
  return text;
}

class VxtraceEventPatternsTest : public testing::Test {
 protected:
  // What the command kept with these --event patterns.
  // Quiet unless notes are wanted.
  ProcessResult run(const ReadingCase &command, const std::vector<std::string> &patterns,
                    const std::vector<std::string> &inputs = {kSample}, bool notes = false) {
    std::vector<std::string> args = command.args;
    std::replace(args.begin(), args.end(), std::string("DATABASE"), database());
    args.insert(args.begin() + 1, "--no-progress");
    if (!notes) args.insert(args.begin() + 1, "--quiet");
    for (const std::string &pattern : patterns) args.insert(args.end(), {"--event", pattern});
    args.insert(args.end(), inputs.begin(), inputs.end());
    ProcessResult result = run_vxtrace(args, directory_.path());
    if (command.database) {
      EXPECT_FALSE((result.out = event_counts(database())).empty()) << result.err;
    }
    return result;
  }

  std::string database() const { return directory_.file("db.sqlite"); }

  TemporaryDirectory directory_;
};

TEST_F(VxtraceEventPatternsTest, ShortNamesSelectWhatFullNamesSelectOnEveryCommand) {
  struct Patterns {
    std::vector<std::string> short_form;
    std::vector<std::string> full_form;
  };
  const std::vector<Patterns> cases = {
      {{"audio_flush"}, {"/velocast/audio_flush"}},
      {{"audio_*"}, {"/velocast/audio_*"}},
      {{"video_stream_frame_*", "*_flush"},
       {"/velocast/video_stream_frame_*", "/velocast/*_flush"}},
  };
  for (const ReadingCase &command : kReadingCommands) {
    const ProcessResult everything = run(command, {});
    ASSERT_EQ(everything.exit_status, 0) << command.name << ": " << everything.err;
    for (const Patterns &patterns : cases) {
      const std::string where = command.name + " " + testing::PrintToString(patterns.short_form);
      const ProcessResult full = run(command, patterns.full_form);
      const ProcessResult short_form = run(command, patterns.short_form);
      EXPECT_EQ(short_form.exit_status, 0) << where << ": " << short_form.err;
      EXPECT_EQ(short_form.err, "") << where;
      EXPECT_TRUE(short_form.out == full.out) << where;
      EXPECT_FALSE(short_form.out == everything.out) << where << ": nothing was filtered";
    }
  }
}

TEST_F(VxtraceEventPatternsTest, PatternsThatMatchNoDefinedEventAreNamed) {
  const std::string line = "vxtrace: --event audio_flsh matches no event that the trace defines";
  for (const ReadingCase &command : kReadingCommands) {
    const ProcessResult matching = run(command, {"audio_flush"}, {kSample}, true);
    const ProcessResult typo = run(command, {"audio_flush", "audio_flsh"}, {kSample}, true);
    EXPECT_EQ(typo.exit_status, matching.exit_status) << command.name;
    EXPECT_TRUE(typo.out == matching.out) << command.name;
    // One line more than the run without the typo says.
    std::vector<std::string> others = split_lines(typo.err);
    EXPECT_EQ(std::erase(others, line), 1u) << command.name << ": " << typo.err;
    EXPECT_EQ(others, split_lines(matching.err)) << command.name;
  }
}

// Dump reads the definitions through other readers when it runs on several
// workers or merges inputs on threads of their own; the check sees them all
// the same. A catalogue name that this trace does not define is named too,
// as is a short pattern for a name outside the catalogue.
TEST_F(VxtraceEventPatternsTest, DefinitionsAreSeenHoweverDumpReads) {
  const std::string own = directory_.file("own.vxt");
  write_file(own, build_trace([&](vxt_writer *writer) {
               vxt_writer_define(writer, 1, "/velocast/audio_flush");
               vxt_writer_define(writer, 2, "/other/thing");
               vxt_writer_write_event(writer, 1, 10, "\x01\x00\x00\x00\x00\x00\x00\x00", 8);
               vxt_writer_write_event(writer, 2, 11, "\xab", 1);
             }));
  struct Case {
    std::vector<std::string> dump_args;
    std::vector<std::string> inputs;
    std::vector<std::string> patterns;
    std::vector<std::string> unmatched;
  };
  const ReadingCase dump = kReadingCommands.front();
  const std::vector<Case> cases = {
      {{"--jobs", "2", "--chunk-bytes", "1"}, {own}, {"audio_flush", "/other/*"}, {}},
      {{"--jobs", "1"}, {own}, {"video_stall", "thing", "/other/thing"}, {"video_stall", "thing"}},
      {{"--jobs", "2"}, {own, kSample}, {"audio_flush", "/other/*", "vid*"}, {}},
      {{"--jobs", "1"}, {own, kSample}, {"/other/x*", "audio_flush"}, {"/other/x*"}},
  };
  for (const Case &c : cases) {
    ReadingCase command = dump;
    command.args.insert(command.args.end(), c.dump_args.begin(), c.dump_args.end());
    const ProcessResult result = run(command, c.patterns, c.inputs, true);
    const std::string traces = c.inputs.size() > 1 ? "the traces define" : "the trace defines";
    std::vector<std::string> expected;
    for (const std::string &pattern : c.unmatched)
      expected.push_back("vxtrace: --event " + pattern + " matches no event that " + traces);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(split_lines(result.err), expected) << testing::PrintToString(c.dump_args);
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif  // VX_VXTRACE_PATH
