#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "io/diagnostics.h"
#include "text/time_syntax.h"

namespace vxtrace {
namespace {

CLI::Validator non_empty_path() {
  return CLI::Validator(
      [](const std::string &text) { return text.empty() ? std::string("empty path") : ""; }, "");
}

// --begin/--end: parsed here, once, so that a typo is a usage error before
// anything is read; select/ resolves "+" and "-" times against the inputs.
CLI::Option *add_time(CLI::App *command, const std::string &name, std::optional<TimeOption> *out,
                      const std::string &description) {
  return command
      ->add_option_function<std::string>(
          name,
          [name, out](const std::string &text) {
            std::string why;
            const std::optional<TimeSpec> time = parse_time(text, &why);
            if (!time) throw CLI::ValidationError(name, "'" + text + "': " + why);
            *out = TimeOption{text, *time};
          },
          description)
      ->type_name("T");
}

void add_inputs(CLI::App *command, InputOptions *in) {
  command
      ->add_option("input", in->inputs,
                   "Trace files, merged by timestamp when there are several; - for standard "
                   "input (once)")
      ->check(non_empty_path())
      ->required()
      ->type_name("FILE");
  command->parse_complete_callback([in] {
    if (std::count(in->inputs.begin(), in->inputs.end(), "-") > 1)
      throw CLI::ValidationError("input", "standard input (-) can be read only once");
  });
}

void add_selection_options(CLI::App *command, InputOptions *in) {
  const std::string time_forms =
      ": a timestamp in ns as dump prints it (37403812345) or with a unit h, m, s, ms, us, ns "
      "(37.403812345s, 1h2m3.5s); + and a duration after the first data record of the inputs "
      "(+90s, +37m12.5s); - and a duration before the last one (-60s), regular files only. "
      "Fractions are exact, finer than 1 ns refused";
  add_time(command, "--begin", &in->begin, "Keep data records at or after T" + time_forms);
  add_time(command, "--end", &in->end, "Keep data records before T (same forms as --begin)");
  command
      ->add_option("--session", in->sessions,
                   "Keep records of this session id (repeatable); records without a session "
                   "are dropped unless --with-receiver is given")
      ->check(whole_number(0, std::numeric_limits<uint32_t>::max()))
      ->type_name("ID")
      ->allow_extra_args(false);
  command->add_flag("--with-receiver", in->with_receiver,
                    "With --session: keep the receiver's own records (without a session) too");
}

}  // namespace

CLI::Validator whole_number(uint64_t least, uint64_t most, const std::string &hidden_name) {
  const std::string range = std::to_string(least) + " to " + std::to_string(most);
  const std::string prefix = hidden_name.empty() ? "" : hidden_name + ": ";
  return CLI::Validator(
      [least, most, range, prefix](std::string &text) -> std::string {
        uint64_t value = 0;
        const bool digits_only =
            !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        const bool fits =
            std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
        if (digits_only && fits && value >= least && value <= most) return std::string();
        return prefix + "'" + text + "' is not a whole number from " + range;
      },
      "");
}

CLI::Validator one_of(std::vector<std::string> words) {
  std::string listed;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) listed += i + 1 == words.size() ? " or " : ", ";
    listed += words[i];
  }
  return CLI::Validator(
      [words = std::move(words), message = "must be " + listed](std::string &text) {
        std::string lowered = text;
        for (char &c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string &word : words) {
          if (lowered != word) continue;
          text = word;
          return std::string();
        }
        return message;
      },
      "");
}

CLI::Option *add_path(CLI::App *command, const std::string &name, std::string *path,
                      std::string_view placeholder, const std::string &description) {
  return command->add_option(name, *path, description)
      ->check(non_empty_path())
      ->type_name(std::string(placeholder));
}

CLI::Option *add_output(CLI::App *command, std::string *path, const std::string &description) {
  return add_path(command, "-o,--output", path, "FILE", description);
}

void add_reading_options(CLI::App *command, InputOptions *in) {
  add_inputs(command, in);
  add_path(command, "--plugin", &in->plugin, "PATH",
           "Plug-in shared object (default: beside vxtrace, then ../lib/)");
  add_selection_options(command, in);
  add_event_globs(command, &in->event_globs);
}

// Takes one glob per --event, kept literally: CLI11 would otherwise read
// "[...]" as a list and "[]" as no glob at all.
void add_event_globs(CLI::App *command, std::vector<std::string> *globs) {
  command
      ->add_option("--event", *globs,
                   "Only events whose name matches this glob, full or short "
                   "(/velocast/audio_* or audio_*; repeatable)")
      ->allow_extra_args(false)
      ->type_name("GLOB");
}

// Flags are declared without CLI11's "{false}" default syntax, which would
// show in --help as part of the name. Quiet is the whole run's: notes come
// from every layer, the workers' included.
void add_talk_options(CLI::App *command, bool *progress) {
  command->add_flag_callback(
      "-q,--quiet", [] { set_quiet(true); },
      "Only errors: no notes, no progress line, no plug-in log lines");
  command->add_flag_callback(
      "--no-progress", [progress] { *progress = false; }, "No progress line on standard error");
}

}  // namespace vxtrace
