// vxtrace report: one pass through the selected records into a ReportBuilder,
// then, when asked, the page and the text or JSON on the output.
#include "report/report_command.h"

#include <memory>

#include "cli/options.h"
#include "core/decoded_record.h"
#include "io/diagnostics.h"
#include "io/inputs.h"
#include "io/output_file.h"
#include "pipeline/record_fields.h"
#include "report/report_builder.h"
#include "report/report_writers.h"
#include "schema/event_kind.h"
#include "select/reading_command.h"
#include "select/selection.h"

namespace vxtrace {
namespace {

constexpr uint64_t kNsPerMs = 1'000'000;
constexpr uint64_t kNsPerS = 1'000'000'000;

ReportOptions builder_options(const ReportCommandOptions &options) {
  ReportOptions built;
  built.stall_floor_ns = options.stall_ms * kNsPerMs;
  built.horizon_ns = options.horizon_s * kNsPerS;
  built.hold_ns = options.hold_ms * kNsPerMs;
  built.silence_run = options.silence_run;
  built.findings_shown = options.findings;
  built.all_sessions = options.all_sessions;
  return built;
}

// How far before a window the report looks for each session's last frame, so
// that a stall ending inside the window is found with its length.
constexpr uint64_t kFrameLookBackNs = 10 * kNsPerS;

// A displayed frame before the window: only its time and session count.
void add_before_window(ReportBuilder &builder, std::optional<EventKind> kind,
                       const DecodedRecord &record, uint64_t timestamp_ns) {
  if (kind != kDisplayEvent || record.data() == nullptr) return;
  if (const std::optional<uint32_t> session = record_keys(*kind, record.data()).session)
    builder.add_frame_before_window(timestamp_ns, *session);
}

Report build_report(const ReportCommandOptions &options, ReadingPass &pass) {
  ReportBuilder builder(builder_options(options));
  EventKindCache kinds;
  pass.read_lead_in(kFrameLookBackNs);
  const uint64_t window_begin = pass.selection().begin;
  pass.for_each([&](size_t source, const EventView &event, const DecodedRecord &record) {
    builder.set_source(static_cast<uint32_t>(source));
    const std::optional<EventKind> kind = kinds.kind_of(event.descriptor);
    if (event.timestamp < window_begin) {
      add_before_window(builder, kind, record, event.timestamp);
      return true;
    }
    if (kind && record.data() != nullptr)
      builder.add(event.timestamp, *kind, record.data());
    else
      builder.add_undecoded(event.timestamp);
    return true;
  });
  Report built = builder.finish();
  built.inputs = pass.opened().display_names();
  built.input_paths = pass.opened().paths();
  built.plugin = options.in.plugin;
  built.damage = pass.input_errors();
  return built;
}

// A rendering and where it goes.
struct Rendering {
  OutputFile output;
  void (*render)(const Report &, const ReportSink &);

  bool write(const Report &built) {
    return output.write([&](OutputSink *sink) {
      render(built, [sink](std::string_view piece) { sink->write(piece); });
      return sink->flush();
    });
  }
};

// The page first: a refused or failed page must not hide behind a table
// that scrolled past.
std::vector<Rendering> renderings(const ReportCommandOptions &options) {
  std::vector<Rendering> list;
  if (!options.html.empty())
    list.push_back({OutputFile({.path = options.html, .option = "--html"}), write_html_report});
  list.push_back(
      {OutputFile({.path = options.output}), options.json ? write_json_report : write_text_report});
  return list;
}

class ReportCommand : public ReadingCommand {
 public:
  explicit ReportCommand(const ReportCommandOptions &options)
      : options_(options), outputs_(renderings(options)) {}

  // Both files come into being before the pass: a page and a text that
  // name one file, or a path where none can be made, are refused before
  // the trace is read.
  bool outputs_acceptable(const std::vector<std::string> &files_read) override {
    std::vector<OutputFile *> files;
    for (Rendering &rendering : outputs_) files.push_back(&rendering.output);
    return prepare_outputs(files, files_read);
  }

  bool run(ReadingPass &pass) override {
    const Report built = build_report(options_, pass);
    bool written = true;
    for (Rendering &rendering : outputs_) written = written && rendering.write(built);
    return written;
  }

 private:
  const ReportCommandOptions &options_;
  std::vector<Rendering> outputs_;
};

}  // namespace

int run_report(const ReportCommandOptions &options) {
  ReportCommand command(options);
  return run_reading_command(options.in, command);
}

namespace {

CommandRun declare_report(CLI::App *command) {
  auto options = std::make_shared<ReportCommandOptions>();
  add_reading_options(command, &options->in);
  add_output(command, &options->output,
             "Write the text or JSON to this file instead of standard output");
  command->add_flag("--json", options->json, "Write the report as one JSON document");
  add_path(command, "--html", &options->html, "PAGE",
           "Also write the report as a self-contained HTML page to this file");
  add_number(command, "--stall-ms", &options->stall_ms,
             "Shortest display interval counted as a stall, in ms (default 50)", 1, 3'600'000);
  add_number(command, "--horizon", &options->horizon_s,
             "Seconds of trace time after which an open key counts as lost (default 60)", 1,
             1'000'000)
      ->type_name("S");
  add_number(command, "--hold-ms", &options->hold_ms,
             "A key flushed after waiting longer than this in a stage, in ms, was held; one "
             "never leaving while the trace goes on this long was lost (default 100)",
             1, 3'600'000);
  add_number(command, "--silence-run", &options->silence_run,
             "Consecutive silence writes of an audio sink that make a finding (default 5)", 1,
             1'000'000);
  add_number(command, "--findings", &options->findings,
             "Findings listed in the text, the most severe first; 0 for all (default 20)", 0,
             UINT32_MAX);
  command->add_flag("--all-sessions", options->all_sessions,
                    "Show every session in the text, not only those with findings");
  add_talk_options(command, &options->in.progress);
  return [options] { return run_report(*options); };
}

}  // namespace

Command report_command() {
  return {"report",
          "Report stage latencies, lost keys, drops, display stalls and spans per session",
          declare_report};
}

}  // namespace vxtrace
