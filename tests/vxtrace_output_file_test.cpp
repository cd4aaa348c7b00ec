// Every command writes its files through one output: devices, pipes and
// links to them are never replaced, a replaced file keeps its mode, outputs
// that name one file however spelled are refused, and every refusal comes
// before anything is read or written.
#ifdef VX_VXTRACE_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/vxtrace_process.h"

namespace vxtrace_test {
namespace {

mode_t type_of(const std::string &path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

mode_t permissions_of(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

bool exists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

class VxtraceOutputFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new TemporaryDirectory();
    trace_ = directory_->file("a.vxt");
    run_vxtrace({"generate", "-o", trace_, "--events", "3000", "--seed", "7", "--no-progress"},
                directory_->path());
  }
  static void TearDownTestSuite() { delete directory_; }

  // A fresh folder for one case, inside the suite's.
  std::string fresh(const std::string &name) {
    const std::string path = directory_->file(name);
    EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    return path;
  }

  ProcessResult run(std::vector<std::string> args, const std::string &where) {
    args.insert(args.begin() + 1, "--no-progress");
    return run_vxtrace(args, where);
  }

  static inline TemporaryDirectory *directory_ = nullptr;
  static inline std::string trace_;
};

// A device, a FIFO or a link to a device: a database refuses them, a trace
// or a dump is written into them; none is ever replaced by a regular file.
TEST_F(VxtraceOutputFileTest, DevicesPipesAndLinksToThemAreNeverReplaced) {
  const std::string folder = fresh("devices");
  const std::string fifo = folder + "/fifo";
  const std::string null_link = folder + "/null";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/null", null_link.c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"sqlite", "--force", "-o", null_link, trace_}, 1},
      {{"sqlite", "--force", "-o", fifo, trace_}, 1},
      {{"generate", "--force", "-o", null_link, "--events", "100"}, 0},
      {{"generate", "-o", null_link, "--events", "100"}, 0},
      {{"dump", "-o", null_link, trace_}, 0},
  };
  for (const Case &c : cases) {
    const ProcessResult result = run(c.args, folder);
    EXPECT_EQ(result.exit_status, c.status) << testing::PrintToString(c.args) << result.err;
    EXPECT_EQ(type_of(null_link), S_IFLNK);
    EXPECT_EQ(type_of("/dev/null"), S_IFCHR);
    EXPECT_EQ(type_of(fifo), S_IFIFO);
  }
  // A trace into a FIFO: written as it comes, to whoever reads it.
  std::string received;
  std::thread reader([&] {
    const int fd = open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[65536];
    for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;)
      received.append(buffer, static_cast<size_t>(got));
    if (fd >= 0) close(fd);
  });
  const ProcessResult into_fifo =
      run({"generate", "--force", "-o", fifo, "--events", "100"}, folder);
  reader.join();
  EXPECT_EQ(into_fifo.exit_status, 0) << into_fifo.err;
  EXPECT_GT(received.size(), 100u);
  EXPECT_EQ(type_of(fifo), S_IFIFO);
}

// A replaced file keeps its mode, whichever command replaces it.
TEST_F(VxtraceOutputFileTest, AReplacedFileKeepsItsMode) {
  const std::string folder = fresh("modes");
  const std::string out = folder + "/private";
  const std::vector<std::string> commands[] = {
      {"sqlite", "--force", "-o", out, trace_},
      {"generate", "--force", "-o", out, "--events", "50"},
      {"dump", "-o", out, trace_},
      {"timeline", "-q", "-o", out, trace_},
      {"report", "-o", out, trace_},
  };
  for (const std::vector<std::string> &args : commands) {
    write_file(out, "old");
    ASSERT_EQ(chmod(out.c_str(), 0600), 0);
    const ProcessResult result = run(args, folder);
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(args) << result.err;
    EXPECT_NE(read_file(out), "old") << args.front();
    EXPECT_EQ(permissions_of(out), 0600u) << args.front();
  }
}

// Two outputs that are one file, however spelled and whether it exists yet,
// are refused before the trace is read; so is an output that a refusal of
// the other would leave half done. Nothing is written.
TEST_F(VxtraceOutputFileTest, OutputsThatNameOneFileAreRefusedBeforeAnythingIsWritten) {
  const std::string folder = fresh("same");
  const std::string sub = fresh("same/sub");
  ASSERT_EQ(symlink("r.html", (folder + "/to-r").c_str()), 0);  // dangling until r.html exists
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  const std::string page = folder + "/r.html";
  const Case cases[] = {
      {{"report", "--html", page, "-o", folder + "/./r.html", trace_}, "name the same file"},
      {{"report", "--html", page, "-o", folder + "//r.html", trace_}, "name the same file"},
      {{"report", "--html", page, "-o", sub + "/../r.html", trace_}, "name the same file"},
      {{"report", "--html", page, "-o", folder + "/to-r", trace_}, "name the same file"},
      {{"report", "--html", page, "-o", "/nonexistent/x", trace_}, "/nonexistent"},
      {{"generate", "-o", folder + "/g.vxt", "--manifest", folder + "/./g.vxt", "--events", "100",
        "--inject", "silence:5"},
       "name the same file"},
      {{"generate", "-o", folder + "/g.vxt", "--manifest", "/nonexistent/m.json", "--events", "100",
        "--inject", "silence:5"},
       "/nonexistent"},
  };
  for (const Case &c : cases) {
    const ProcessResult result = run(c.args, folder);
    EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(c.args);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(files_in(folder), (std::vector<std::string>{"sub", "to-r"}))
        << testing::PrintToString(c.args);
  }
  // An existing file by a hard link.
  write_file(folder + "/r.html", "old page");
  ASSERT_EQ(link((folder + "/r.html").c_str(), (sub + "/hard").c_str()), 0);
  const ProcessResult hard = run({"report", "--html", page, "-o", sub + "/hard", trace_}, folder);
  EXPECT_EQ(hard.exit_status, 1);
  EXPECT_EQ(read_file(folder + "/r.html"), "old page");
}

// The manifest follows the trace's rule (an existing file needs --force),
// never shares standard output with the trace, and a failure names it.
TEST_F(VxtraceOutputFileTest, TheManifestIsAnOutputLikeTheTrace) {
  const std::string folder = fresh("manifest");
  const std::string precious = folder + "/precious.vxt";
  write_file(precious, "a recording");
  const std::vector<std::string> faults = {"--events", "200", "--inject", "silence:3"};
  const auto generate = [&](std::vector<std::string> outputs) {
    std::vector<std::string> args = {"generate"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    args.insert(args.end(), faults.begin(), faults.end());
    return run(args, folder);
  };
  const ProcessResult kept = generate({"-o", folder + "/t.vxt", "--manifest", precious});
  EXPECT_EQ(kept.exit_status, 1);
  EXPECT_NE(kept.err.find("--force"), std::string::npos) << kept.err;
  EXPECT_EQ(read_file(precious), "a recording");
  EXPECT_FALSE(exists(folder + "/t.vxt"));

  const ProcessResult both_out =
      run_vxtrace({"generate", "--no-progress", "-o", "-", "--manifest", "/dev/stdout", "--events",
                   "200", "--inject", "silence:3"},
                  folder);
  EXPECT_EQ(both_out.exit_status, 1) << both_out.err;
  EXPECT_TRUE(both_out.out.empty());

  const ProcessResult full = generate({"-o", folder + "/t.vxt", "--manifest", "/dev/full"});
  EXPECT_EQ(full.exit_status, 1);
  EXPECT_NE(full.err.find("--manifest /dev/full"), std::string::npos) << full.err;
}

// A dangling link names the file to write: the file is made under a
// temporary name beside it and renamed onto it, and the link stays.
TEST_F(VxtraceOutputFileTest, ADanglingLinkNamesTheFileToWrite) {
  const std::string folder = fresh("dangling");
  const std::vector<std::string> commands[] = {
      {"dump", "-o", folder + "/link", trace_},
      {"timeline", "-q", "-o", folder + "/link", trace_},
      {"generate", "-o", folder + "/link", "--events", "100"},
  };
  for (const std::vector<std::string> &args : commands) {
    unlink((folder + "/link").c_str());
    unlink((folder + "/target").c_str());
    ASSERT_EQ(symlink("target", (folder + "/link").c_str()), 0);
    const ProcessResult result = run(args, folder);
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(args) << result.err;
    EXPECT_EQ(type_of(folder + "/link"), S_IFLNK) << args.front();
    EXPECT_EQ(type_of(folder + "/target"), S_IFREG) << args.front();
    EXPECT_EQ(files_in(folder), (std::vector<std::string>{"link", "target"})) << args.front();
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif
