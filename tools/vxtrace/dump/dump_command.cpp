// vxtrace dump: every data record as one JSON object per line.
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
#include "io/command_support.h"
#include "io/file_output.h"
#include "select/merged_records.h"
#include "text/output_sink.h"

namespace vxtrace {
namespace {

// Lines are gathered into blocks of about this size before they are written.
constexpr size_t kWriteBlockSize = size_t{1} << 20;

// One line writer per input: ids, and so the cached line middles, are per
// input.
std::vector<std::unique_ptr<EventLineWriter>> line_writers(const OpenedInput &opened,
                                                           TextBuffer *text) {
  std::vector<std::unique_ptr<EventLineWriter>> writers;
  const std::vector<AddressRange> constant_text = plugin_constant_text(opened.plugin.api());
  for (const OpenedSource &source : opened.sources) {
    writers.push_back(std::make_unique<EventLineWriter>(text, constant_text));
    if (opened.sources.size() > 1) writers.back()->set_source(source.path);
  }
  return writers;
}

// Writes the selected events, merged by time, on this thread; returns false
// when the output failed.
bool dump_events(const DumpOptions &options, const OpenedInput &opened, OutputSink *sink) {
  RecordAllocator allocator;
  TextBuffer text(kWriteBlockSize + kWriteBlockSize / 4);
  const std::vector<std::unique_ptr<EventLineWriter>> writers = line_writers(opened, &text);
  MergedRecords records(opened, options.selection, options.in.progress);
  uint64_t lines = 0;
  EventView event;
  while ((!options.limit || lines < *options.limit) && !sink->failed() && records.next(&event)) {
    const DecodedRecord record(event, records.session()->iterator(), &allocator);
    writers[records.source()]->write(event, record);
    ++lines;
    if (text.size() >= kWriteBlockSize) {
      sink->write(text.view());
      text.clear();
    }
  }
  records.finish_progress();
  sink->write(text.view());
  return sink->flush();
}

}  // namespace

int run_dump(const DumpOptions &given) {
  std::optional<Selection> selection = resolve_selection(given.in, given.event_globs);
  if (!selection) return kExitUsage;
  DumpOptions options = given;
  options.selection = std::move(*selection);
  OpenedInput opened;
  open_input(options.in, &opened);
  if (opened.sources.empty()) return opened.exit_status;
  // Damage is reported when the input was read to its end; --limit may stop
  // the dump before.
  bool check_input = true;
  bool input_failed = false;
  vxt_error part_read_error{};
  const std::optional<bool> written =
      write_output(options.output, files_read(options.in, opened), [&](OutputSink *sink) {
        const unsigned jobs = dump_job_count(options);
        if (can_merge_in_parallel(opened, jobs)) return merge_in_parallel(options, opened, sink);
        if (jobs <= 1 || !can_dump_in_parallel(options)) return dump_events(options, opened, sink);
        const ParallelDumpResult result = dump_in_parallel(options, jobs, opened, sink);
        check_input = !result.limit_reached;
        input_failed = result.input_failed;
        part_read_error = result.read_error;
        return result.written;
      });
  if (!written) return kExitUsage;
  const int input_status = input_failed ? kExitUsage
                           : part_read_error.status != VXT_OK
                               ? report_input_error(opened, part_read_error)
                           : check_input ? input_exit_status(opened)
                                         : kExitSuccess;
  return run_exit_status(*written, input_status);
}

namespace {

CommandRun declare_dump(CLI::App *command) {
  auto options = std::make_shared<DumpOptions>();
  add_reading_options(command, &options->in);
  add_event_globs(command, &options->event_globs);
  add_output(command, &options->output,
             "Write to this file instead of standard output (- for standard output)");
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
  add_talk_options(command, &options->in);
  return [options] { return run_dump(*options); };
}

}  // namespace

Command dump_command() {
  return {"dump", "Write every data record as a JSON line", declare_dump};
}

}  // namespace vxtrace
