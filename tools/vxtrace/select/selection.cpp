#include "select/selection.h"

#include <unistd.h>

#include "io/diagnostics.h"

namespace vxtrace {
namespace {

// The timestamp of the first data record of file, through the reader's own
// callbacks (no plug-in), read with pread so the file's offset stays where
// the real reading starts; nullopt when there is none or the file cannot be
// read (the reading itself reports that).
std::optional<uint64_t> first_timestamp(const InputFile &file) {
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_fd(file.fd(), file.display_name().c_str(), &error);
  if (reader == nullptr) return std::nullopt;
  vx_buffer_reader records{};
  vxt_reader_fill(reader, &records);
  std::optional<uint64_t> first;
  while (!first && records.has_more(records.user_data)) {
    vx_event_data event{};
    vx_event_definition definition{};
    if (records.read_event(records.user_data, &event))
      first = event.timestamp;
    else if (!records.read_definition(records.user_data, &definition))
      break;
  }
  records.close(records.user_data);
  vxt_reader_close(reader);
  return first;
}

// The earliest first data record of the inputs; 0 when none has one.
uint64_t earliest_first_timestamp(const std::vector<InputFile> &files) {
  std::optional<uint64_t> earliest;
  for (const InputFile &file : files) {
    const std::optional<uint64_t> first = first_timestamp(file);
    if (first && (!earliest || *first < *earliest)) earliest = first;
  }
  return earliest.value_or(0);
}

// A "+" time needs the first record of every input before the reading
// starts, which only a regular file can give without losing it.
const InputFile *stream_among(const std::vector<InputFile> &files) {
  for (const InputFile &file : files)
    if (!file.seekable()) return &file;
  return nullptr;
}

// The absolute time of option, or nullopt past the largest timestamp.
std::optional<uint64_t> absolute_time(const TimeSpec &time, uint64_t first) {
  if (!time.relative) return time.nanoseconds;
  if (time.nanoseconds > UINT64_MAX - first) return std::nullopt;
  return first + time.nanoseconds;
}

bool any_relative(const InputOptions &options) {
  return (options.begin && options.begin->time.relative) ||
         (options.end && options.end->time.relative);
}

}  // namespace

std::optional<Selection> resolve_selection(const InputOptions &options,
                                           std::vector<std::string> event_globs,
                                           const std::vector<InputFile> &files) {
  Selection selection;
  selection.event_globs = std::move(event_globs);
  selection.sessions = options.sessions;
  selection.with_receiver = options.with_receiver;
  uint64_t first = 0;
  if (any_relative(options)) {
    if (const InputFile *stream = stream_among(files)) {
      const TimeOption &relative =
          options.begin && options.begin->time.relative ? *options.begin : *options.end;
      report("'" + relative.text + "': a time from the first record needs regular files, and " +
             stream->display_name() + " is not one (give an absolute timestamp)");
      return std::nullopt;
    }
    // An input without data records keeps nothing whatever the window.
    first = earliest_first_timestamp(files);
  }
  if (options.begin) {
    const std::optional<uint64_t> begin = absolute_time(options.begin->time, first);
    selection.begin = begin.value_or(UINT64_MAX);
    selection.nothing = !begin;
  }
  if (options.end) {
    const std::optional<uint64_t> end = absolute_time(options.end->time, first);
    selection.end = end.value_or(UINT64_MAX);
    selection.end_given = end.has_value();
  }
  if (options.begin && options.end && selection.end < selection.begin) {
    report("--end " + options.end->text + " comes before --begin " + options.begin->text);
    return std::nullopt;
  }
  return selection;
}

std::string selection_text(const InputOptions &options, const std::vector<std::string> &globs) {
  std::string text;
  const auto add = [&text](const std::string &option, const std::string &value) {
    text += (text.empty() ? "" : " ") + option + (value.empty() ? "" : " " + value);
  };
  if (options.begin) add("--begin", options.begin->text);
  if (options.end) add("--end", options.end->text);
  for (uint32_t session : options.sessions) add("--session", std::to_string(session));
  if (options.with_receiver) add("--with-receiver", "");
  for (const std::string &glob : globs) add("--event", glob);
  return text;
}

}  // namespace vxtrace
