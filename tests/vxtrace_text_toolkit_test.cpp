// The one home of vxtrace's text: the JSON string escaper in both its forms,
// the terminal-safe form of names, the JSON writer every document goes
// through, and microseconds that stay exact at the largest durations.
#ifdef VX_VXTRACE_PATH

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/vxtrace_process.h"
#include "text/json_writer.h"
#include "text/terminal_text.h"

namespace vxtrace_test {
namespace {

using vxtrace::JsonEscaping;

TEST(VxtraceTextToolkit, EscapesJsonStringsInBothForms) {
  struct Case {
    std::string text;
    const char *plain;
    const char *html_safe;
  };
  const Case cases[] = {
      {"abc", R"("abc")", R"("abc")"},
      {"q\"b\\", R"("q\"b\\")", R"("q\"b\\")"},
      {"a\nb\tc\r", R"("a\nb\tc\r")", R"("a\u000ab\u0009c\u000d")"},
      {std::string("\x01\x1b\x7f", 3), R"("\u0001\u001b\u007f")", R"("\u0001\u001b\u007f")"},
      {"</script>", R"("</script>")", R"("\u003c/script>")"},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\"", "\"caf\xC3\xA9\""},
      {"bad\xFF", "\"bad\xEF\xBF\xBD\"", R"("bad\ufffd")"},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", R"("\ufffd\ufffd")"},
  };
  for (const Case &c : cases) {
    std::string plain, html_safe;
    vxtrace::append_json_string(&plain, c.text);
    vxtrace::append_json_string(&html_safe, c.text, JsonEscaping::html_safe);
    EXPECT_EQ(plain, c.plain);
    EXPECT_EQ(html_safe, c.html_safe);
    // Both read back as the same text.
    EXPECT_EQ(nlohmann::json::parse(plain), nlohmann::json::parse(html_safe)) << c.plain;
  }
}

TEST(VxtraceTextToolkit, PrintableKeepsUtf8AndHidesControls) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.vxt", "plain name.vxt"},
      {"esc\x1b[31mRED\x07.vxt", "esc?[31mRED?.vxt"},
      {"del\x7f", "del?"},
      {std::string("csi\xC2\x9B") + "2J", "csi?2J"},  // U+009B: two bytes, one character
      {"raw\x9B", "raw?"},
      {"bad\xFF\xFE", "bad??"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
      {"nbsp\xC2\xA0", "nbsp\xC2\xA0"},
  };
  for (const auto &[text, shown] : cases) EXPECT_EQ(vxtrace::printable(text), shown) << shown;
}

TEST(VxtraceTextToolkit, JsonWriterSeparatesAndBreaksLines) {
  std::string out;
  vxtrace::JsonWriter json(out);
  json.open('{');
  json.member("max", UINT64_MAX);
  json.key("signed");
  json.signed_number(INT64_MIN);
  json.member_us("gap_us", UINT64_MAX, true);
  json.member_us("none_us", 5, false);
  json.key("rows");
  json.open('[');
  for (int i = 0; i < 2; ++i) {
    json.break_line();
    json.open('[');
    json.raw("1.5");
    json.text("x");
    json.close(']');
  }
  json.close(']');
  json.close('}');
  EXPECT_EQ(out,
            "{\"max\": 18446744073709551615, \"signed\": -9223372036854775808, "
            "\"gap_us\": 18446744073709551.615, \"none_us\": null, \"rows\": [\n"
            "[1.5, \"x\"],\n[1.5, \"x\"]]}");
  EXPECT_EQ(vxtrace::json_string_array({"a", "b<"}, JsonEscaping::html_safe),
            R"(["a", "b\u003c"])");
  EXPECT_EQ(vxtrace::json_string_array({}), "[]");
}

TEST(VxtraceTextToolkit, MicrosecondsAreExactWithUpToThreeDecimals) {
  const std::pair<uint64_t, const char *> cases[] = {
      {0, "0"},
      {999, "0.999"},
      {1000, "1"},
      {1234567, "1234.567"},
      {1234500, "1234.5"},
      {UINT64_MAX, "18446744073709551.615"},
  };
  for (const auto &[ns, text] : cases) {
    std::string out;
    vxtrace::append_us(&out, ns);
    EXPECT_EQ(out, text);
  }
}

// Every message on standard error is terminal-safe, whatever the input is
// named: no escape, bell, C1 or invalid byte reaches the terminal.
TEST(VxtraceTextToolkit, MessagesNeverCarryControlBytesToTheTerminal) {
  TemporaryDirectory directory;
  const std::string name = directory.file("esc\x1b[31mRED\x07\xC2\x9B\xFF.vxt");
  write_file(name, "not a trace at all");
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"stats", name}, {"dump", name + ".missing"}}) {
    const ProcessResult result = run_vxtrace(args, directory.path());
    EXPECT_NE(result.exit_status, 0);
    ASSERT_FALSE(result.err.empty());
    for (const char c : result.err) {
      const auto byte = static_cast<unsigned char>(c);
      EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte < 0x7F)) << result.err;
    }
    EXPECT_NE(result.err.find("esc?[31mRED???.vxt"), std::string::npos) << result.err;
  }
}

}  // namespace
}  // namespace vxtrace_test

#endif
