// vxtrace --version, -V and "vxtrace help": what they print and their status,
// run as users run them.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/man_pages.h"
#include "support/vxtrace_process.h"

namespace vxtrace_test {
namespace {

class VxtraceHelpVersionTest : public testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string> &args) {
    return run_vxtrace(args, directory_.path());
  }
  TemporaryDirectory directory_;
};

const std::string kVersionLine = std::string("vxtrace ") + VX_PROJECT_VERSION + "\n";
const std::string kPluginName = "libvelocast_receiver_trace_consume_buffer.so";

std::string real_file(const std::string &path) {
  return std::filesystem::canonical(path).string();
}

// The default search finds the plug-in beside vxtrace, a link to the built
// file; --plugin names the one to report instead.
TEST_F(VxtraceHelpVersionTest, VersionNamesTheToolAndThePluginItWouldLoad) {
  const std::string beside = std::filesystem::path(VX_VXTRACE_PATH).parent_path() / kPluginName;
  const struct {
    std::vector<std::string> args;
    std::string plugin_line;
  } cases[] = {
      {{"--version"},
       "plug-in: " + beside + " (" + real_file(VX_PLUGIN_PATH) + "), version unknown"},
      {{"-V"}, "plug-in: " + beside + " (" + real_file(VX_PLUGIN_PATH) + "), version unknown"},
      {{"--plugin", real_file(VX_PLUGIN_PATH), "-V"},
       "plug-in: " + real_file(VX_PLUGIN_PATH) + ", version unknown"},
      {{"--version", "--plugin", directory_.file("none.so")}, "plug-in: none found: "},
      {{"-V", "--plugin", "libm.so.6"}, "does not export vx_buffer_iterator_create"},
  };
  for (const auto &[args, plugin_line] : cases) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 0) << testing::PrintToString(args);
    EXPECT_EQ(result.out.rfind(kVersionLine, 0), 0u) << result.out;
    EXPECT_NE(result.out.find(plugin_line), std::string::npos) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
  }
}

TEST_F(VxtraceHelpVersionTest, PluginOfTheToolOnlyGoesWithVersion) {
  const ProcessResult result = run({"--plugin", VX_PLUGIN_PATH, "stats", "none.vxt"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("--plugin requires"), std::string::npos) << result.err;
}

// "help" in front of a command line is --help behind it, byte for byte.
TEST_F(VxtraceHelpVersionTest, HelpWordEqualsTheHelpOption) {
  const struct {
    std::vector<std::string> help_word;
    std::vector<std::string> help_option;
  } cases[] = {
      {{"help"}, {"--help"}},
      {{"help", "dump"}, {"dump", "--help"}},
      {{"help", "stats"}, {"stats", "--help"}},
      {{"help", "timeline"}, {"timeline", "--help"}},
      {{"help", "report"}, {"report", "--help"}},
      {{"help", "sqlite"}, {"sqlite", "--help"}},
      {{"help", "generate"}, {"generate", "--help"}},
  };
  for (const auto &[help_word, help_option] : cases) {
    const ProcessResult asked = run(help_word);
    const ProcessResult expected = run(help_option);
    EXPECT_EQ(asked.exit_status, 0) << testing::PrintToString(help_word);
    EXPECT_EQ(asked.out, expected.out) << testing::PrintToString(help_word);
    EXPECT_FALSE(asked.out.empty());
    EXPECT_EQ(asked.err, expected.err);
  }
}

TEST_F(VxtraceHelpVersionTest, HelpOfAnUnknownCommandIsAnUnknownCommand) {
  const ProcessResult asked = run({"help", "nosuch"});
  const ProcessResult unknown = run({"nosuch"});
  EXPECT_EQ(asked.exit_status, 1);
  EXPECT_EQ(asked.exit_status, unknown.exit_status);
  EXPECT_EQ(asked.err, unknown.err);
  EXPECT_NE(asked.err.find("unknown command 'nosuch'"), std::string::npos) << asked.err;
  EXPECT_TRUE(asked.out.empty());
}

// The build's modes refuse what they cannot do instead of writing half.
TEST_F(VxtraceHelpVersionTest, BuildOutputModesRefuseWhatTheyCannotWrite) {
  const std::vector<std::string> refused[] = {
      {"--emit-completion", "fish"},
      {"--emit-completion"},
      {"--emit-man"},
      {"--emit-man", directory_.file("no/such/directory")},
      {"--emit-completion", "bash", directory_.file("no/such/file")},
  };
  for (const std::vector<std::string> &args : refused) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(args);
    EXPECT_NE(result.err.find(args[0]), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << testing::PrintToString(args);
  }
}

// What roff would take as markup is written as text.
TEST(RoffText, EscapesWhatRoffWouldInterpret) {
  const struct {
    std::string text;
    std::string roff;
  } cases[] = {
      {"--begin", "\\-\\-begin"},     {"a\\b", "a\\eb"},
      {".hidden", "\\&.hidden"},      {"'quoted'", "\\&'quoted'"},
      {"mid.dle 'x'", "mid.dle 'x'"},
  };
  for (const auto &[text, roff] : cases) EXPECT_EQ(vxtrace::roff_text(text), roff) << text;
}

}  // namespace
}  // namespace vxtrace_test

#endif  // VX_VXTRACE_PATH
