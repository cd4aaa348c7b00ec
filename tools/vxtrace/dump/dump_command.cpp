// vxtrace dump: every data record as one line, a JSON object or text.
#include "dump/dump_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/options.h"
#include "core/decoded_record.h"
#include "dump/event_line_writer.h"
#include "dump/parallel_dump.h"
#include "dump/parallel_merge.h"
#include "io/inputs.h"
#include "io/output_file.h"
#include "select/reading_command.h"
#include "text/output_sink.h"

namespace vxtrace {
namespace {

// Lines are gathered into blocks of about this size before they are written.
constexpr size_t kWriteBlockSize = size_t{1} << 20;

// One line writer per input: ids, and so the cached line middles, are per
// input. With several inputs given, each line names its source, even when
// only one of them could be read.
std::vector<std::unique_ptr<EventLineWriter>> line_writers(const OpenedInput &opened,
                                                           LineFormat format, TextBuffer *text) {
  std::vector<std::unique_ptr<EventLineWriter>> writers;
  const std::vector<AddressRange> constant_text = plugin_constant_text(opened.plugin.api());
  for (const OpenedSource &source : opened.sources) {
    writers.push_back(std::make_unique<EventLineWriter>(text, constant_text, format));
    if (opened.files.size() > 1) writers.back()->set_source(source.path);
  }
  return writers;
}

// Writes the selected events, merged by time, on this thread; returns false
// when the output failed.
bool dump_events(const DumpOptions &options, ReadingPass &pass, OutputSink *sink) {
  TextBuffer text(kWriteBlockSize + kWriteBlockSize / 4);
  const std::vector<std::unique_ptr<EventLineWriter>> writers =
      line_writers(pass.opened(), options.format, &text);
  uint64_t lines = 0;
  uint64_t previous_timestamp = 0;
  pass.for_each(
      [&](size_t source, const EventView &event, const DecodedRecord &record) {
        // A text line's delta counts from the line before, whichever input
        // it came from.
        if (lines > 0) writers[source]->set_previous(previous_timestamp);
        previous_timestamp = event.timestamp;
        writers[source]->write(event, record);
        ++lines;
        if (text.size() >= kWriteBlockSize) {
          sink->write(text.view());
          text.clear();
        }
        return true;
      },
      [&] { return (!options.limit || lines < *options.limit) && !sink->failed(); });
  sink->write(text.view());
  return sink->flush();
}

// The status of a dump in parts, whose readers are its own: damage is
// reported when the input was read to its end, and --limit may stop the
// dump before.
int parts_input_status(const ParallelDumpResult &result, const OpenedInput &opened) {
  if (result.input_failed) return kExitUsage;
  if (result.read_error.status != VXT_OK) return report_input_error(opened, result.read_error);
  return result.limit_reached ? kExitSuccess : input_exit_status(opened);
}

class DumpCommand : public ReadingCommand {
 public:
  explicit DumpCommand(const DumpOptions &options)
      : options_(options), output_({.path = options.output}) {}

  bool outputs_acceptable(const std::vector<std::string> &files_read) override {
    return prepare_outputs({&output_}, files_read);
  }

  bool run(ReadingPass &pass) override {
    DumpOptions options = options_;
    options.selection = pass.selection();
    return output_.write([&](OutputSink *sink) { return write(options, pass, sink); });
  }

 private:
  bool write(const DumpOptions &options, ReadingPass &pass, OutputSink *sink) {
    const OpenedInput &opened = pass.opened();
    const unsigned jobs = dump_job_count(options);
    // With --limit the merge reads on this thread, no further than the last
    // line written: readers running ahead would meet damage (or wait on a
    // slow stream) that the output never needed.
    if (!options.limit && can_merge_in_parallel(opened, jobs))
      return merge_in_parallel(options, opened, sink);
    if (jobs <= 1 || !can_dump_in_parallel(opened)) return dump_events(options, pass, sink);
    const ParallelDumpResult result = dump_in_parallel(options, jobs, opened, sink);
    pass.set_input_status(parts_input_status(result, opened));
    if (result.limit_reached) pass.set_stopped_early();
    return result.written;
  }

  const DumpOptions &options_;
  OutputFile output_;
};

}  // namespace

int run_dump(const DumpOptions &options) {
  DumpCommand command(options);
  return run_reading_command(options.in, command);
}

namespace {

CommandRun declare_dump(CLI::App *command) {
  auto options = std::make_shared<DumpOptions>();
  add_reading_options(command, &options->in);
  add_output(command, &options->output,
             "Write to this file instead of standard output (- for standard output)");
  command
      ->add_option_function<std::string>(
          "--format",
          [options](const std::string &format) {
            options->format = format == "text" ? LineFormat::text : LineFormat::json;
          },
          "json (default): one JSON object per line; text: \"[seconds] (+delta) session N "
          "name: payload\" per line")
      ->transform(one_of({"json", "text"}))
      ->type_name("json|text");
  command
      ->add_option_function<uint64_t>(
          "--limit", [options](const uint64_t &limit) { options->limit = limit; },
          "Stop after this many lines")
      ->check(whole_number(0, UINT64_MAX))
      ->type_name("N");
  add_number(command, "-j,--jobs", &options->jobs,
             "Worker threads, 1 to 256 (default: one per core); the output is the same for any "
             "number",
             1, 256);
  // For tests that need many small parts of a small trace.
  add_hidden_number(command, "--chunk-bytes", &options->chunk_bytes, 1);
  add_talk_options(command, &options->in.progress);
  return [options] { return run_dump(*options); };
}

}  // namespace

Command dump_command() {
  return {"dump", "Write every data record as a JSON or text line", declare_dump};
}

}  // namespace vxtrace
