// vxtrace: the command-line consumer of recorded velocast trace buffers.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <map>

#include "commands.h"
#include "select/time_syntax.h"

namespace {

using vxtrace::EventMix;

// Timestamps of a generated trace rise by up to 99 µs per event; this many
// events keep them far from wrapping around.
constexpr uint64_t kMostGeneratedEvents = 1'000'000'000'000;

// A plain decimal number in [least, most]. CLI11 would read "-5" into an
// unsigned as 2^64-5 and accepts "0x", "0b" and "1e3" forms; every numeric
// option goes through this check instead, so a typo never wraps into a huge
// count. CLI11 puts the option's name before the message, except for hidden
// options: those pass their name here.
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

CLI::Validator non_empty_path() {
  return CLI::Validator(
      [](const std::string &text) { return text.empty() ? std::string("empty path") : ""; }, "");
}

template <class Number>
CLI::Option *add_number(CLI::App *command, const std::string &name, Number *value,
                        const std::string &description, uint64_t least,
                        uint64_t most = std::numeric_limits<Number>::max()) {
  return command->add_option(name, *value, description)
      ->check(whole_number(least, most, ""))
      ->type_name("N");
}

// Left out of --help, for tests.
template <class Number>
void add_hidden_number(CLI::App *command, const std::string &name, Number *value, uint64_t least) {
  command->add_option(name, *value)
      ->check(whole_number(least, std::numeric_limits<Number>::max(), name))
      ->group("");
}

CLI::Option *add_path(CLI::App *command, const std::string &name, std::string *path,
                      const std::string &description) {
  return command->add_option(name, *path, description)->check(non_empty_path());
}

// Flags are declared without CLI11's "{false}" default syntax, which would
// show in --help as part of the name.
void add_no_progress(CLI::App *command, bool *progress) {
  command->add_flag_callback(
      "--no-progress", [progress] { *progress = false; }, "No progress line on standard error");
}

// Takes one glob per --event, kept literally: CLI11 would otherwise read
// "[...]" as a list and "[]" as no glob at all.
void add_event_globs(CLI::App *command, std::vector<std::string> *globs) {
  command->add_option("--event", *globs, "Only events whose name matches this glob (repeatable)")
      ->allow_extra_args(false);
}

// A time of --begin/--end, checked here so that a typo is a usage error
// before anything is read; select/ resolves "+" times later.
CLI::Validator trace_time() {
  return CLI::Validator(
      [](const std::string &text) {
        std::string why;
        return vxtrace::parse_time(text, &why) ? std::string() : "'" + text + "': " + why;
      },
      "");
}

void add_selection_options(CLI::App *command, vxtrace::InputOptions *in) {
  const std::string time_forms =
      ": a timestamp in ns as dump prints it, or + and a duration from the first data record "
      "(of the earliest input) "
      "(+90s, +37m12.5s, +1h, +250ms, +40us, +1500ns)";
  command->add_option("--begin", in->begin, "Keep data records at or after T" + time_forms)
      ->check(trace_time())
      ->type_name("T");
  command->add_option("--end", in->end, "Keep data records before T (same forms as --begin)")
      ->check(trace_time())
      ->type_name("T");
  command
      ->add_option("--session", in->sessions,
                   "Keep records of this session id (repeatable); records without a session "
                   "are dropped unless --with-receiver is given")
      ->check(whole_number(0, std::numeric_limits<uint32_t>::max(), ""))
      ->type_name("ID")
      ->allow_extra_args(false);
  command->add_flag("--with-receiver", in->with_receiver,
                    "With --session: keep the receiver's own records (without a session) too");
}

void add_input_options(CLI::App *command, vxtrace::InputOptions *in) {
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
  add_path(command, "--plugin", &in->plugin,
           "Plug-in shared object (default: beside vxtrace, then ../lib/)");
  command->add_flag("-q,--quiet", in->quiet, "Silence the plug-in's log lines");
  add_no_progress(command, &in->progress);
  add_selection_options(command, in);
}

CLI::App *add_dump(CLI::App &app, vxtrace::DumpOptions *options, uint64_t *limit) {
  CLI::App *dump = app.add_subcommand("dump", "Write every data record as a JSON line");
  add_input_options(dump, &options->in);
  add_event_globs(dump, &options->event_globs);
  add_number(dump, "--limit", limit, "Stop after this many lines", 0);
  add_path(dump, "-o,--output", &options->output,
           "Write to this file instead of standard output (- for standard output)");
  add_number(dump, "-j,--jobs", &options->jobs,
             "Worker threads, 1 to 256 (default: one per core); the output is the same for any "
             "number",
             1, 256);
  // For tests that need many small parts of a small trace.
  add_hidden_number(dump, "--chunk-bytes", &options->chunk_bytes, 1);
  return dump;
}

CLI::App *add_stats(CLI::App &app, vxtrace::StatsOptions *options) {
  CLI::App *stats = app.add_subcommand("stats", "Count events, failures and bytes per event");
  add_input_options(stats, &options->in);
  stats->add_flag("--json", options->json, "Write the statistics as one JSON object");
  return stats;
}

CLI::App *add_generate(CLI::App &app, vxtrace::GenerateOptions *options) {
  CLI::App *generate = app.add_subcommand("generate", "Write a synthetic trace");
  add_path(generate, "-o,--output", &options->output,
           "Trace file to write (- for standard output, when it is not a terminal)")
      ->required();
  add_number(generate, "--events", &options->events, "Number of data records (at most 10^12)", 0,
             kMostGeneratedEvents)
      ->required();
  add_number(generate, "--seed", &options->seed, "Seed; a seed always gives the same trace", 0);
  const std::map<std::string, EventMix> mixes{{"realistic", EventMix::realistic},
                                              {"bench", EventMix::bench}};
  generate->add_option("--mix", options->mix, "Event mix: realistic (default) or bench")
      ->transform(CLI::CheckedTransformer(mixes, CLI::ignore_case).description(""))
      ->type_name("realistic|bench");
  generate->add_flag("--force", options->force,
                     "Replace an existing file, and write even when the file system seems too "
                     "full for the trace");
  add_no_progress(generate, &options->progress);
  generate
      ->add_option("--inject", options->inject,
                   "Inject a fault into the realistic mix (repeatable): stall@+<S>s:<D>ms, "
                   "lose@reorder:<N>, lose@decoder:<N>, silence[@+<S>s]:<N>, "
                   "latency@<stage>:<D>us|ms (stage: reorder, decoder, display, return)")
      ->allow_extra_args(false)
      ->type_name("FAULT");
  add_path(generate, "--manifest", &options->manifest,
           "Write what the injected faults left in the trace to this file (JSON)");
  return generate;
}

CLI::App *add_timeline(CLI::App &app, vxtrace::TimelineOptions *options) {
  CLI::App *timeline = app.add_subcommand(
      "timeline", "Write the trace as a timeline for Perfetto or chrome://tracing (JSON)");
  add_input_options(timeline, &options->in);
  add_event_globs(timeline, &options->event_globs);
  add_path(timeline, "-o,--output", &options->output,
           "Write to this file instead of standard output (- for standard output)");
  timeline
      ->add_option("--format", options->format,
                   "json (Trace Event Format) or perfetto (native protobuf trace); default: "
                   "perfetto when the output ends in .pftrace or .perfetto-trace, else json")
      ->check(CLI::Validator(
          [](const std::string &value) {
            return value == "json" || value == "perfetto" ? std::string()
                                                          : "must be json or perfetto";
          },
          "json|perfetto"));
  timeline->add_flag_callback(
      "--no-args", [options] { options->with_args = false; },
      "Leave out each record's arguments (its payload): a file about half the size that still "
      "shows every record, slice, flow and counter");
  return timeline;
}

CLI::App *add_sqlite(CLI::App &app, vxtrace::SqliteOptions *options) {
  CLI::App *sqlite =
      app.add_subcommand("sqlite", "Write the trace as a typed SQLite database (docs/sqlite.md)");
  add_input_options(sqlite, &options->in);
  add_path(sqlite, "-o,--output", &options->output, "Database file to write")->required();
  sqlite->add_flag("--force", options->force, "Replace an existing file");
  return sqlite;
}

// CLI11 checks that a command was given before it looks at what it could not
// place, so "vxtrace frobnicate" would only hear that a command is required.
int report_unknown_word(const std::string &word) {
  const bool option = !word.empty() && word.front() == '-';
  std::fprintf(stderr,
               "vxtrace: unknown %s '%s'; the commands are dump, stats, generate, "
               "timeline and sqlite (see --help)\n",
               option ? "option" : "command", word.c_str());
  return vxtrace::kExitUsage;
}

}  // namespace

CLI::App *add_report(CLI::App &app, vxtrace::ReportCommandOptions *options) {
  CLI::App *report = app.add_subcommand(
      "report", "Report stage latencies, lost keys, drops, display stalls and spans per session");
  add_input_options(report, &options->in);
  report->add_flag("--json", options->json, "Write the report as one JSON document");
  add_path(report, "--html", &options->html,
           "Also write the report as a self-contained HTML page to this file");
  add_number(report, "--stall-ms", &options->stall_ms,
             "Shortest display interval counted as a stall, in ms (default 50)", 1, 3'600'000);
  add_number(report, "--horizon", &options->horizon_s,
             "Seconds of trace time after which an open key counts as lost (default 60)", 1,
             1'000'000);
  add_path(report, "-o,--output", &options->output,
           "Write the text or JSON to this file instead of standard output");
  return report;
}

int main(int argc, char **argv) {
  CLI::App app{"vxtrace: read recorded velocast trace buffers through the vexlo plug-in"};
  app.require_subcommand(1);
  vxtrace::DumpOptions dump_options;
  vxtrace::StatsOptions stats_options;
  vxtrace::GenerateOptions generate_options;
  uint64_t limit = 0;
  CLI::App *dump = add_dump(app, &dump_options, &limit);
  CLI::App *stats = add_stats(app, &stats_options);
  CLI::App *generate = add_generate(app, &generate_options);
  vxtrace::TimelineOptions timeline_options;
  CLI::App *timeline = add_timeline(app, &timeline_options);
  vxtrace::ReportCommandOptions report_options;
  CLI::App *report = add_report(app, &report_options);
  vxtrace::SqliteOptions sqlite_options;
  CLI::App *sqlite = add_sqlite(app, &sqlite_options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    if (app.get_subcommands().empty() && !app.remaining().empty())
      return report_unknown_word(app.remaining().front());
    return app.exit(error) == 0 ? vxtrace::kExitSuccess : vxtrace::kExitUsage;
  }
  if (dump->parsed()) {
    if (dump->count("--limit") > 0) dump_options.limit = limit;
    return vxtrace::run_dump(dump_options);
  }
  if (stats->parsed()) return vxtrace::run_stats(stats_options);
  if (generate->parsed()) return vxtrace::run_generate(generate_options);
  if (timeline->parsed()) return vxtrace::run_timeline(timeline_options);
  if (report->parsed()) return vxtrace::run_report(report_options);
  if (sqlite->parsed()) return vxtrace::run_sqlite(sqlite_options);
  return vxtrace::kExitUsage;
}
