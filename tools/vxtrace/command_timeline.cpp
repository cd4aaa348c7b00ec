// vxtrace timeline: the trace as a Trace Event Format document, for
// Perfetto's UI and chrome://tracing.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "command_support.h"
#include "decoded_record.h"
#include "event_filter.h"
#include "output_sink.h"
#include "progress.h"
#include "timeline_writer.h"

namespace vxtrace {
namespace {

// The reason the input ended early, or "" when it was read to its end.
std::string input_error_text(const TraceSession &session) {
  const vxt_error &error = *vxt_reader_error(session.reader());
  return error.status == VXT_OK ? std::string() : error.message;
}

// Writes the whole document, closed even when the input is damaged; false
// when the output failed.
bool write_timeline(const TimelineOptions &options, const OpenedInput &opened, OutputSink *sink) {
  TraceSession *session = opened.session.get();
  RecordAllocator allocator;
  TimelineWriter writer(sink);
  EventFilter filter(options.event_globs);
  Progress progress(options.in.progress, vxt_reader_size(session->reader()));
  uint64_t events = 0;
  EventView event;
  while (!sink->failed() && session->next(&event)) {
    progress.update(vxt_reader_offset(session->reader()), ++events);
    if (!filter.selected(event)) continue;
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
  OpenedInput opened;
  open_input(options.in, &opened);
  if (opened.session == nullptr) return opened.exit_status;
  const int fd = open_output_file(options.output, files_read(options.in, opened));
  if (fd < 0) return kExitUsage;
  bool written = false;
  {
    OutputSink sink(fd);
    written = write_timeline(options, opened, &sink);
    if (!written) report("cannot write the output: " + sink.error());
  }
  written = close_output_file(fd, options.output, written);
  return run_exit_status(written, input_exit_status(opened));
}

}  // namespace vxtrace
