// vxtrace: the command-line consumer of recorded velocast trace buffers.
#include <CLI/CLI.hpp>
#include <map>

#include "commands.h"

namespace {

using vxtrace::EventMix;

void add_input_options(CLI::App *command, vxtrace::InputOptions *in) {
  command->add_option("input", in->input, "Trace file, or - for standard input")->required();
  command->add_option("--plugin", in->plugin,
                      "Plug-in shared object (default: beside vxtrace, then ../lib/)");
  command->add_flag("-q,--quiet", in->quiet, "Silence the plug-in's log lines");
  command->add_flag("--no-progress{false}", in->progress, "No progress line on standard error");
}

CLI::App *add_dump(CLI::App &app, vxtrace::DumpOptions *options, uint64_t *limit) {
  CLI::App *dump = app.add_subcommand("dump", "Write every data record as a JSON line");
  add_input_options(dump, &options->in);
  dump->add_option("--event", options->event_globs,
                   "Only events whose name matches this glob (repeatable)");
  dump->add_option("--limit", *limit, "Stop after this many lines");
  dump->add_option("-o,--output", options->output, "Write to this file instead of standard output");
  dump->add_option("-j,--jobs", options->jobs,
                   "Worker threads (default: one per core); the output is the same for any number")
      ->check(CLI::Range(1u, 256u));
  // For tests that need many small parts of a small trace.
  dump->add_option("--chunk-bytes", options->chunk_bytes)->group("")->check(CLI::PositiveNumber);
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
  generate->add_option("-o,--output", options->output, "Trace file to write")->required();
  generate->add_option("--events", options->events, "Number of data records")->required();
  generate->add_option("--seed", options->seed, "Seed; a seed always gives the same trace");
  const std::map<std::string, EventMix> mixes{{"realistic", EventMix::realistic},
                                              {"bench", EventMix::bench}};
  generate->add_option("--mix", options->mix, "Event mix: realistic (default) or bench")
      ->transform(CLI::CheckedTransformer(mixes, CLI::ignore_case));
  generate->add_flag("--no-progress{false}", options->progress,
                     "No progress line on standard error");
  return generate;
}

CLI::App *add_timeline(CLI::App &app, vxtrace::TimelineOptions *options) {
  CLI::App *timeline = app.add_subcommand(
      "timeline", "Write the trace as a timeline for Perfetto or chrome://tracing (JSON)");
  add_input_options(timeline, &options->in);
  timeline->add_option("--event", options->event_globs,
                       "Only events whose name matches this glob (repeatable)");
  timeline->add_option("-o,--output", options->output,
                       "Write to this file instead of standard output");
  return timeline;
}

}  // namespace

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
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    return app.exit(error) == 0 ? vxtrace::kExitSuccess : vxtrace::kExitUsage;
  }
  if (dump->parsed()) {
    if (dump->count("--limit") > 0) dump_options.limit = limit;
    return vxtrace::run_dump(dump_options);
  }
  if (stats->parsed()) return vxtrace::run_stats(stats_options);
  if (generate->parsed()) return vxtrace::run_generate(generate_options);
  if (timeline->parsed()) return vxtrace::run_timeline(timeline_options);
  return vxtrace::kExitUsage;
}
