// vxtrace report: one pass through the selected records into a ReportBuilder,
// then the text or JSON on the output and, when asked, the page.
#include "core/decoded_record.h"
#include "io/command_support.h"
#include "report/report_builder.h"
#include "report/report_command.h"
#include "report/report_writers.h"
#include "schema/event_kind.h"
#include "select/merged_records.h"
#include "select/selection.h"

namespace vxtrace {
namespace {

constexpr uint64_t kNsPerMs = 1'000'000;
constexpr uint64_t kNsPerS = 1'000'000'000;

reporting::ReportOptions builder_options(const ReportCommandOptions &options) {
  reporting::ReportOptions built;
  built.stall_floor_ns = options.stall_ms * kNsPerMs;
  built.horizon_ns = options.horizon_s * kNsPerS;
  return built;
}

reporting::Report build_report(const ReportCommandOptions &options, const Selection &selection,
                               const OpenedInput &opened) {
  reporting::ReportBuilder builder(builder_options(options));
  RecordAllocator allocator;
  EventKindCache kinds;
  MergedRecords records(opened, selection, options.in.progress);
  EventView event;
  while (records.next(&event)) {
    builder.set_source(static_cast<uint32_t>(records.source()));
    const DecodedRecord record(event, records.session()->iterator(), &allocator);
    const std::optional<EventKind> kind = kinds.kind_of(event.descriptor);
    if (kind && record.data() != nullptr)
      builder.add(event.timestamp, *kind, record.data());
    else
      builder.add_undecoded(event.timestamp);
  }
  records.finish_progress();
  reporting::Report built = builder.finish();
  built.inputs = opened.display_names();
  built.damage = input_errors(opened);
  return built;
}

// Writes one rendering to path; false when it was not written whole.
bool write_rendering(const std::string &path, const std::vector<std::string> &inputs,
                     const reporting::Report &built,
                     void (*render)(const reporting::Report &, const reporting::ReportSink &)) {
  const std::optional<bool> written = write_output(path, inputs, [&](OutputSink *sink) {
    render(built, [sink](std::string_view piece) { sink->write(piece); });
    return sink->flush();
  });
  return written.value_or(false);
}

}  // namespace

int run_report(const ReportCommandOptions &options) {
  const bool html_on_output =
      options.html == options.output || (options.html == "-" && options.output.empty());
  if (!options.html.empty() && html_on_output) {
    report("--html and the output name the same file; nothing was written");
    return kExitUsage;
  }
  std::optional<Selection> selection = resolve_selection(options.in, {});
  if (!selection) return kExitUsage;
  OpenedInput opened;
  open_input(options.in, &opened);
  if (opened.sources.empty()) return opened.exit_status;
  const std::vector<std::string> inputs = files_read(options.in, opened);
  const reporting::Report built = build_report(options, *selection, opened);
  bool written = true;
  // The page first: a refused or failed page must not hide behind a table
  // that scrolled past.
  if (!options.html.empty())
    written = write_rendering(options.html, inputs, built, reporting::write_html_report);
  if (written)
    written =
        write_rendering(options.output, inputs, built,
                        options.json ? reporting::write_json_report : reporting::write_text_report);
  return run_exit_status(written, input_exit_status(opened));
}

}  // namespace vxtrace
