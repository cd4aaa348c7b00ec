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

// The timestamp of the last data record of file in file order, before any
// damage, as the reading will meet it: the records are stepped over by their
// headers (no plug-in), then the last one is read on its own. nullopt when
// there is none.
std::optional<uint64_t> last_timestamp(const InputFile &file) {
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_fd(file.fd(), file.display_name().c_str(), &error);
  if (reader == nullptr) return std::nullopt;
  std::optional<vxt_record_info> last;
  for (vxt_record_info record{}; vxt_reader_skip_record(reader, &record);)
    if (record.tag == VXT_TAG_EVENT) last = record;
  vxt_reader_close(reader);
  if (!last) return std::nullopt;
  reader =
      vxt_reader_open_range(file.fd(), last->offset, last->offset + last->size, nullptr, 0, &error);
  if (reader == nullptr) return std::nullopt;
  vx_buffer_reader records{};
  vxt_reader_fill(reader, &records);
  vx_event_data event{};
  const bool read =
      records.has_more(records.user_data) && records.read_event(records.user_data, &event);
  records.close(records.user_data);
  vxt_reader_close(reader);
  return read ? std::optional<uint64_t>(event.timestamp) : std::nullopt;
}

// The earliest first and the latest last data record of the inputs; 0 for
// either when no input has one.
struct RecordSpan {
  uint64_t first = 0;
  uint64_t last = 0;
};

RecordSpan record_span(const std::vector<InputFile> &files, bool first_wanted, bool last_wanted) {
  std::optional<uint64_t> earliest;
  std::optional<uint64_t> latest;
  for (const InputFile &file : files) {
    const std::optional<uint64_t> first = first_wanted ? first_timestamp(file) : std::nullopt;
    if (first && (!earliest || *first < *earliest)) earliest = first;
    const std::optional<uint64_t> last = last_wanted ? last_timestamp(file) : std::nullopt;
    if (last && (!latest || *last > *latest)) latest = last;
  }
  return {earliest.value_or(0), latest.value_or(0)};
}

// A time from the first or the last record needs every input looked at
// before the reading starts, which only a regular file can give without
// losing it.
const InputFile *stream_among(const std::vector<InputFile> &files) {
  for (const InputFile &file : files)
    if (!file.seekable()) return &file;
  return nullptr;
}

// The absolute time of a parsed time, or nullopt past the largest
// timestamp. A time before the clock's zero is its zero: no record is
// earlier.
std::optional<uint64_t> absolute_time(const TimeSpec &time, const RecordSpan &span) {
  switch (time.origin) {
    case TimeOrigin::clock_zero:
      return time.nanoseconds;
    case TimeOrigin::first_record:
      if (time.nanoseconds > UINT64_MAX - span.first) return std::nullopt;
      return span.first + time.nanoseconds;
    case TimeOrigin::last_record:
      return span.last > time.nanoseconds ? span.last - time.nanoseconds : 0;
  }
  return time.nanoseconds;
}

bool counts_from(const std::optional<TimeOption> &option, TimeOrigin origin) {
  return option && option->time.origin == origin;
}

// Why a time counting from a record cannot be resolved with stream among
// the inputs, naming the first option that needs it.
std::string stream_refusal(const InputOptions &options, const InputFile &stream) {
  const bool begin_counts = options.begin && options.begin->time.origin != TimeOrigin::clock_zero;
  const TimeOption &option = begin_counts ? *options.begin : *options.end;
  const char *record = option.time.origin == TimeOrigin::first_record ? "first" : "last";
  return std::string(begin_counts ? "--begin " : "--end ") + option.text + ": a time from the " +
         record + " record needs regular files, and " + stream.display_name() +
         " is not one (give an absolute time)";
}

}  // namespace

std::optional<Selection> resolve_selection(const InputOptions &options,
                                           const std::vector<InputFile> &files) {
  Selection selection;
  selection.event_globs = options.event_globs;
  selection.sessions = options.sessions;
  selection.with_receiver = options.with_receiver;
  const bool from_first = counts_from(options.begin, TimeOrigin::first_record) ||
                          counts_from(options.end, TimeOrigin::first_record);
  const bool from_last = counts_from(options.begin, TimeOrigin::last_record) ||
                         counts_from(options.end, TimeOrigin::last_record);
  RecordSpan span;
  if (from_first || from_last) {
    if (const InputFile *stream = stream_among(files)) {
      report(stream_refusal(options, *stream));
      return std::nullopt;
    }
    // An input without data records keeps nothing whatever the window.
    span = record_span(files, from_first, from_last);
  }
  if (options.begin) {
    const std::optional<uint64_t> begin = absolute_time(options.begin->time, span);
    selection.begin = begin.value_or(UINT64_MAX);
    selection.nothing = !begin;
  }
  if (options.end) {
    const std::optional<uint64_t> end = absolute_time(options.end->time, span);
    selection.end = end.value_or(UINT64_MAX);
    selection.end_given = end.has_value();
  }
  if (options.begin && options.end && selection.end < selection.begin) {
    report("--end " + options.end->text + " comes before --begin " + options.begin->text);
    return std::nullopt;
  }
  return selection;
}

std::string selection_text(const InputOptions &options) {
  std::string text;
  const auto add = [&text](const std::string &option, const std::string &value) {
    text += (text.empty() ? "" : " ") + option + (value.empty() ? "" : " " + value);
  };
  if (options.begin) add("--begin", options.begin->text);
  if (options.end) add("--end", options.end->text);
  for (uint32_t session : options.sessions) add("--session", std::to_string(session));
  if (options.with_receiver) add("--with-receiver", "");
  for (const std::string &glob : options.event_globs) add("--event", glob);
  return text;
}

}  // namespace vxtrace
