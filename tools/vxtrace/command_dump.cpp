// vxtrace dump: every data record as one JSON object per line.
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "command_support.h"
#include "decoded_record.h"
#include "json_line_writer.h"
#include "json_printer.h"
#include "output_sink.h"
#include "progress.h"

namespace vxtrace {
namespace {

bool selected(const std::vector<std::string> &globs, const char *name) {
  if (globs.empty()) return true;
  if (name == nullptr) return false;
  for (const std::string &glob : globs)
    if (fnmatch(glob.c_str(), name, 0) == 0) return true;
  return false;
}

int open_output(const std::string &path) {
  if (path.empty() || path == "-") return STDOUT_FILENO;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) report(path + ": cannot create: " + std::strerror(errno));
  return fd;
}

// Writes the selected events; returns false when the output failed.
bool dump_events(const DumpOptions &options, TraceSession *session, OutputSink *sink) {
  RecordAllocator allocator;
  const vx_printer printer = make_json_printer(&sink->buffer());
  Progress progress(options.in.progress, vxt_reader_size(session->reader()));
  uint64_t events = 0, lines = 0;
  EventView event;
  while ((!options.limit || lines < *options.limit) && !sink->failed() && session->next(&event)) {
    progress.update(vxt_reader_offset(session->reader()), ++events);
    if (!selected(options.event_globs, event.name)) continue;
    const DecodedRecord record(event, session->iterator(), &allocator);
    append_event_line(&sink->buffer(), event, record, printer);
    sink->flush_if_full();
    ++lines;
  }
  progress.finish();
  return sink->flush();
}

}  // namespace

int run_dump(const DumpOptions &options) {
  OpenedInput opened;
  open_input(options.in, &opened);
  if (opened.session == nullptr) return opened.exit_status;
  const int fd = open_output(options.output);
  if (fd < 0) return kExitUsage;
  bool written = false;
  {
    OutputSink sink(fd);
    written = dump_events(options, opened.session.get(), &sink);
    if (!written) report("cannot write the output: " + sink.error());
  }
  if (fd != STDOUT_FILENO && close(fd) != 0 && written) {
    report(options.output + ": " + std::strerror(errno));
    written = false;
  }
  const int status = input_exit_status(opened);
  return status != kExitSuccess ? status : written ? kExitSuccess : kExitUsage;
}

}  // namespace vxtrace
