// vxtrace timeline: the trace as a Trace Event Format document, for
// Perfetto's UI and chrome://tracing.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/decoded_record.h"
#include "io/command_support.h"
#include "io/progress.h"
#include "select/selected_records.h"
#include "text/output_sink.h"
#include "timeline/timeline_command.h"
#include "timeline/timeline_writer.h"

namespace vxtrace {
namespace {

// The reason the input ended early, or "" when it was read to its end.
std::string input_error_text(const TraceSession &session) {
  const vxt_error &error = *vxt_reader_error(session.reader());
  return error.status == VXT_OK ? std::string() : error.message;
}

// Writes the whole document, closed even when the input is damaged; false
// when the output failed.
bool write_timeline(const TimelineOptions &options, Selection selection, const OpenedInput &opened,
                    OutputSink *sink) {
  TraceSession *session = opened.session.get();
  RecordAllocator allocator;
  TimelineWriter writer(sink);
  Progress progress(options.in.progress, vxt_reader_size(session->reader()));
  SelectedRecords records(session, std::move(selection), &progress);
  EventView event;
  while (!sink->failed() && records.next(&event)) {
    const DecodedRecord record(event, session->iterator(), &allocator);
    writer.add(event, record);
  }
  progress.finish();
  writer.finish(opened.display_name, input_error_text(*session));
  if (writer.sessions_shared())
    report("more than " + std::to_string(TimelineWriter::kSessionProcessLimit) +
           " sessions: the later ones share the process \"other sessions\"");
  return sink->flush();
}

}  // namespace

int run_timeline(const TimelineOptions &options) {
  std::optional<Selection> selection = resolve_selection(options.in, options.event_globs);
  if (!selection) return kExitUsage;
  OpenedInput opened;
  open_input(options.in, &opened);
  if (opened.session == nullptr) return opened.exit_status;
  const std::optional<bool> written =
      write_output(options.output, files_read(options.in, opened), [&](OutputSink *sink) {
        return write_timeline(options, std::move(*selection), opened, sink);
      });
  if (!written) return kExitUsage;
  return run_exit_status(*written, input_exit_status(opened));
}

}  // namespace vxtrace
