#include "select/selection.h"

#include <algorithm>

#include "io/command_support.h"
#include "select/time_syntax.h"

namespace vxtrace {
namespace {

// The timestamp of the first data record of path, through the reader's own
// callbacks (no plug-in); nullopt when there is none or the file cannot be
// read (the reading itself reports that).
std::optional<uint64_t> first_timestamp(const std::string &path) {
  vxt_error error{};
  vxt_reader *reader = vxt_reader_open_path(path.c_str(), &error);
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
uint64_t earliest_first_timestamp(const std::vector<std::string> &inputs) {
  std::optional<uint64_t> earliest;
  for (const std::string &input : inputs) {
    const std::optional<uint64_t> first = first_timestamp(input);
    if (first && (!earliest || *first < *earliest)) earliest = first;
  }
  return earliest.value_or(0);
}

bool resolve_time(const std::string &option, const std::string &text,
                  const std::vector<std::string> &inputs, uint64_t *out) {
  if (text.empty()) return true;
  std::string why;
  const std::optional<TimeSpec> time = parse_time(text, &why);
  if (!time) {
    report(option + " '" + text + "': " + why);
    return false;
  }
  if (!time->relative) {
    *out = time->nanoseconds;
    return true;
  }
  if (std::find(inputs.begin(), inputs.end(), "-") != inputs.end()) {
    report(option + " '" + text +
           "': a time from the first record needs a file, not standard input");
    return false;
  }
  // An input without data records keeps nothing whatever the window.
  const uint64_t first = earliest_first_timestamp(inputs);
  *out = time->nanoseconds > UINT64_MAX - first ? UINT64_MAX : first + time->nanoseconds;
  return true;
}

}  // namespace

std::optional<Selection> resolve_selection(const InputOptions &options,
                                           std::vector<std::string> event_globs) {
  Selection selection;
  selection.event_globs = std::move(event_globs);
  selection.sessions = options.sessions;
  selection.with_receiver = options.with_receiver;
  if (!resolve_time("--begin", options.begin, options.inputs, &selection.begin) ||
      !resolve_time("--end", options.end, options.inputs, &selection.end))
    return std::nullopt;
  if (selection.end < selection.begin) {
    report("--end " + options.end + " comes before --begin " + options.begin);
    return std::nullopt;
  }
  return selection;
}

}  // namespace vxtrace
