// vxtrace timeline: the trace as a Trace Event Format document (Perfetto's
// UI and chrome://tracing) or as Perfetto's native trace.
#include "timeline/timeline_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/options.h"
#include "core/decoded_record.h"
#include "io/diagnostics.h"
#include "io/inputs.h"
#include "io/output_file.h"
#include "select/reading_command.h"
#include "text/output_sink.h"
#include "timeline/perfetto_timeline.h"
#include "timeline/timeline_writer.h"

namespace vxtrace {
namespace {

// The inputs as the document names them: every one given, those refused at
// their header included (the document says why).
std::string input_names(const OpenedInput &opened) {
  std::string names;
  for (const std::string &name : opened.given_display_names())
    names += (names.empty() ? "" : ", ") + name;
  return names;
}

void note_model(const TimelineModel &model) {
  if (model.flows_not_drawn() != 0)
    note(std::to_string(model.flows_not_drawn()) +
         " packets or frames drawn without flow arrows: too many flows open at once");
  note(std::to_string(model.records()) + " records, " + std::to_string(model.slices()) +
       " slices, " + std::to_string(model.unpaired()) +
       " begin or end records without their pair shown as instants");
}

// Writes the whole document, closed even when the input is damaged; false
// when the output failed.
bool write_timeline(const TimelineOptions &options, ReadingPass &pass, OutputSink *sink) {
  std::unique_ptr<TimelineFormat> format;
  if (wants_perfetto(options))
    format = std::make_unique<PerfettoTimeline>(
        [sink](std::string_view bytes) { sink->append(bytes); }, options.with_args);
  else
    format = std::make_unique<JsonTimeline>(sink, options.with_args);
  TimelineModel model(format.get(), pass.opened().paths());
  pass.for_each(
      [&](size_t source, const EventView &event, const DecodedRecord &record) {
        model.add(source, event, record);
        return true;
      },
      [sink] { return !sink->failed(); });
  model.finish(input_names(pass.opened()), pass.input_errors());
  if (model.sessions_shared())
    note("more than " + std::to_string(TimelineModel::kSessionProcessLimit) +
         " sessions: the later ones share the process \"other sessions\"");
  note_model(model);
  return sink->flush();
}

class TimelineCommand : public ReadingCommand {
 public:
  explicit TimelineCommand(const TimelineOptions &options)
      : options_(options), output_({.path = options.output, .binary = wants_perfetto(options)}) {}

  bool outputs_acceptable(const std::vector<std::string> &files_read) override {
    return prepare_outputs({&output_}, files_read);
  }

  bool run(ReadingPass &pass) override {
    return output_.write([&](OutputSink *sink) { return write_timeline(options_, pass, sink); });
  }

 private:
  const TimelineOptions &options_;
  OutputFile output_;
};

}  // namespace

bool wants_perfetto(const TimelineOptions &options) {
  if (!options.format.empty()) return options.format == "perfetto";
  const std::string_view output = options.output;
  return output.ends_with(".pftrace") || output.ends_with(".perfetto-trace");
}

int run_timeline(const TimelineOptions &options) {
  TimelineCommand command(options);
  return run_reading_command(options.in, command);
}

namespace {

CommandRun declare_timeline(CLI::App *command) {
  auto options = std::make_shared<TimelineOptions>();
  add_reading_options(command, &options->in);
  add_output(command, &options->output,
             "Write to this file instead of standard output (- for standard output)");
  command
      ->add_option("--format", options->format,
                   "json (Trace Event Format) or perfetto (native protobuf trace); default: "
                   "perfetto when the output ends in .pftrace or .perfetto-trace, else json")
      ->transform(one_of({"json", "perfetto"}))
      ->type_name("json|perfetto");
  command->add_flag_callback(
      "--no-args", [options] { options->with_args = false; },
      "Leave out each record's arguments (its payload): a file about half the size that still "
      "shows every record, slice, flow and counter");
  add_talk_options(command, &options->in.progress);
  return [options] { return run_timeline(*options); };
}

}  // namespace

Command timeline_command() {
  return {"timeline",
          "Write the trace as a timeline: Trace Event Format JSON (Perfetto, chrome://tracing) or "
          "Perfetto's native protobuf format",
          declare_timeline};
}

}  // namespace vxtrace
