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

// --plugin before the words of a command is the command's; alone it needs
// --version.
TEST_F(VxtraceHelpVersionTest, PluginOfTheToolGoesWithVersionOrACommand) {
  const struct {
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {{"--plugin", VX_PLUGIN_PATH}, "--plugin requires"},
      {{"--plugin", VX_PLUGIN_PATH, "stats", "none.vxt"}, "none.vxt"},
      {{"--plugin", "none.so", "stats", "none.vxt"}, "cannot load the plug-in none.so"},
  };
  for (const auto &[args, said] : cases) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exit_status, 1) << testing::PrintToString(args);
    EXPECT_NE(result.err.find(said), std::string::npos) << result.err;
  }
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

// Each value is named in --help as the docs name it (and so in the man
// pages, written from the same declarations).
TEST_F(VxtraceHelpVersionTest, HelpNamesEachValueAsTheDocsDo) {
  const struct {
    std::string command;
    std::string option_and_value;
  } cases[] = {
      {"dump", "  --plugin PATH "},
      {"dump", "  --event GLOB ..."},
      {"dump", "  -o,--output FILE "},
      {"dump", "  --format json|text "},
      {"timeline", "  --format json|perfetto "},
      {"report", "  --html PAGE "},
      {"report", "  --horizon S "},
      {"report", "  --stall-ms N "},
      {"generate", "  --seed S "},
      {"generate", "  --manifest FILE "},
      {"sqlite", "  -o,--output FILE "},
  };
  for (const auto &[command, option_and_value] : cases) {
    const ProcessResult result = run({"help", command});
    EXPECT_NE(result.out.find(option_and_value), std::string::npos)
        << command << ": " << option_and_value << "\n"
        << result.out;
  }
  EXPECT_NE(run({"--help"}).out.find("native protobuf"), std::string::npos);
}

// The completion offers file names for values that name files, and nothing
// for numbers, times, globs and choices, which a file name would only spoil.
TEST_F(VxtraceHelpVersionTest, CompletionOffersFileNamesOnlyForFiles) {
  const std::string script_path = directory_.file("vxtrace.bash");
  ASSERT_EQ(run({"--emit-completion", "bash", script_path}).exit_status, 0);
  const std::string script = read_file(script_path);
  const auto typed_of = [&](const std::string &command) {
    const size_t arm = script.find("\n    " + command + ")");
    const size_t typed = script.find("typed='", arm);
    return script.substr(typed, script.find('\'', typed + 7) - typed + 1);
  };
  const struct {
    std::string command;
    std::string option;
    bool typed;
  } cases[] = {
      {"report", "--horizon", true},  {"report", "--event", true},
      {"timeline", "--format", true}, {"generate", "--seed", true},
      {"report", "--html", false},    {"report", "--output", false},
      {"dump", "--plugin", false},    {"generate", "--manifest", false},
  };
  for (const auto &[command, option, typed] : cases) {
    const std::string words = typed_of(command);
    EXPECT_EQ(words.find(" " + option + " ") != std::string::npos, typed)
        << command << " " << option << ": " << words;
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
