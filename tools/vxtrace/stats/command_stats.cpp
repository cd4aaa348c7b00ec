// vxtrace stats: per event name the count, the decode failures and the payload
// bytes, and totals over the whole trace.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/decoded_record.h"
#include "io/command_support.h"
#include "io/progress.h"
#include "select/selected_records.h"
#include "stats/stats_command.h"
#include "text/json_text.h"
#include "text/output_sink.h"

namespace vxtrace {
namespace {

struct EventTally {
  std::string name;
  uint64_t count = 0;
  uint64_t failures = 0;  // no decoder, or a payload that did not decode
  uint64_t payload_bytes = 0;
};

struct TraceTotals {
  uint64_t events = 0;
  uint64_t definitions = 0;
  uint64_t unknown_ids = 0;
  uint64_t unknown_id_bytes = 0;
  uint64_t earliest = std::numeric_limits<uint64_t>::max();
  uint64_t latest = 0;
};

// Hashes names as text, so that a lookup needs no std::string of its own.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

class StatsCollector {
 public:
  void add(const EventView &event, DecodeProblem problem) {
    ++totals_.events;
    totals_.earliest = std::min(totals_.earliest, event.timestamp);
    totals_.latest = std::max(totals_.latest, event.timestamp);
    if (problem == DecodeProblem::unknown_id) {
      ++totals_.unknown_ids;
      totals_.unknown_id_bytes += event.payload_size;
      return;
    }
    EventTally &tally = tally_of(event.name);
    ++tally.count;
    tally.payload_bytes += event.payload_size;
    if (problem != DecodeProblem::none) ++tally.failures;
  }

  // Most frequent first; equal counts by name.
  std::vector<EventTally> tallies() const {
    std::vector<EventTally> sorted;
    sorted.reserve(by_name_.size());
    for (const auto &[name, tally] : by_name_) sorted.push_back(tally);
    std::sort(sorted.begin(), sorted.end(), [](const EventTally &a, const EventTally &b) {
      return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
    return sorted;
  }

  TraceTotals &totals() { return totals_; }

 private:
  // Keyed by the text: the reader frees a name when its id is bound again,
  // and the next name may get the same address.
  EventTally &tally_of(std::string_view name) {
    auto found = by_name_.find(name);
    if (found == by_name_.end()) {
      found = by_name_.emplace(std::string(name), EventTally{}).first;
      found->second.name = found->first;
    }
    return found->second;
  }

  std::unordered_map<std::string, EventTally, NameHash, std::equal_to<>> by_name_;
  TraceTotals totals_;
};

void collect(TraceSession *session, Selection selection, bool progress_wanted,
             StatsCollector *stats) {
  RecordAllocator allocator;
  Progress progress(progress_wanted, vxt_reader_size(session->reader()));
  SelectedRecords records(session, std::move(selection), &progress);
  EventView event;
  while (records.next(&event)) {
    const DecodedRecord record(event, session->iterator(), &allocator);
    stats->add(event, record.problem());
  }
  stats->totals().definitions = vxt_reader_definition_count(session->reader());
}

void appendf(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string *out, const char *format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0) out->append(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

// Names come from the file: control bytes must not reach a terminal.
std::string printable(std::string name) {
  for (char &c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

void append_table(std::string *out, const std::vector<EventTally> &tallies,
                  const TraceTotals &totals) {
  size_t width = 5;
  for (const EventTally &tally : tallies) width = std::max(width, tally.name.size());
  const int name_width = static_cast<int>(std::min<size_t>(width, 200));
  appendf(out, "%-*s %12s %9s %14s\n", name_width, "event", "count", "failures", "payload bytes");
  for (const EventTally &tally : tallies)
    appendf(out, "%-*.*s %12" PRIu64 " %9" PRIu64 " %14" PRIu64 "\n", name_width, name_width,
            printable(tally.name).c_str(), tally.count, tally.failures, tally.payload_bytes);
  appendf(out, "\n%" PRIu64 " events, %" PRIu64 " definitions, %" PRIu64 " with an unknown id\n",
          totals.events, totals.definitions, totals.unknown_ids);
  if (totals.events == 0) return;
  const uint64_t duration = totals.latest - totals.earliest;
  appendf(out, "first timestamp %" PRIu64 " ns, last %" PRIu64 " ns, duration %.6f s\n",
          totals.earliest, totals.latest, static_cast<double>(duration) / 1e9);
}

void append_number_member(std::string *out, const char *key, uint64_t value) {
  appendf(out, "\"%s\": %" PRIu64, key, value);
}

void append_json(std::string *out, const std::vector<EventTally> &tallies,
                 const TraceTotals &totals) {
  out->append("{\"events\": [");
  for (size_t i = 0; i < tallies.size(); ++i) {
    out->append(i == 0 ? "{\"event\": " : ", {\"event\": ");
    append_json_string(out, tallies[i].name);
    out->append(", ");
    append_number_member(out, "count", tallies[i].count);
    out->append(", ");
    append_number_member(out, "decode_failures", tallies[i].failures);
    out->append(", ");
    append_number_member(out, "payload_bytes", tallies[i].payload_bytes);
    out->append("}");
  }
  out->append("], \"total\": {");
  append_number_member(out, "events", totals.events);
  out->append(", ");
  append_number_member(out, "definitions", totals.definitions);
  out->append(", ");
  append_number_member(out, "unknown_ids", totals.unknown_ids);
  if (totals.events == 0) {
    out->append(", \"first_timestamp\": null, \"last_timestamp\": null, \"duration\": 0}}\n");
    return;
  }
  out->append(", ");
  append_number_member(out, "first_timestamp", totals.earliest);
  out->append(", ");
  append_number_member(out, "last_timestamp", totals.latest);
  out->append(", ");
  append_number_member(out, "duration", totals.latest - totals.earliest);
  out->append("}}\n");
}

}  // namespace

int run_stats(const StatsOptions &options) {
  std::optional<Selection> selection = resolve_selection(options.in, {});
  if (!selection) return kExitUsage;
  OpenedInput opened;
  open_input(options.in, &opened);
  if (opened.session == nullptr) return opened.exit_status;
  StatsCollector stats;
  collect(opened.session.get(), std::move(*selection), options.in.progress, &stats);
  {
    OutputSink sink(STDOUT_FILENO);
    if (options.json)
      append_json(&sink.buffer(), stats.tallies(), stats.totals());
    else
      append_table(&sink.buffer(), stats.tallies(), stats.totals());
    if (!sink.flush()) {
      report("cannot write the output: " + sink.error());
      return kExitUsage;
    }
  }
  return input_exit_status(opened);
}

}  // namespace vxtrace
