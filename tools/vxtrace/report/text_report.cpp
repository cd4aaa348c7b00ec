// The table for a terminal: at most 100 columns. Per session, the chains and
// spans that saw anything, one line per stage pair under a heading that names
// the chain's first event; the JSON document has every figure of every pair.
#include <cstdio>
#include <unordered_set>

#include "report/format.h"
#include "report/report_rows.h"
#include "report/report_writers.h"

namespace vxtrace {
namespace {

constexpr size_t kWidth = 100;
constexpr size_t kLabelWidth = 43;
constexpr size_t kStallsShown = 20;

void append_padded(std::string &out, std::string_view text, size_t width, bool right) {
  const size_t pad = text.size() < width ? width - text.size() : 0;
  if (right) out.append(pad, ' ');
  out.append(text);
  if (!right) out.append(pad, ' ');
}

// A right-aligned column; at least one space apart from the one before.
void append_column(std::string &out, std::string_view text, size_t width) {
  out.push_back(' ');
  append_padded(out, text, width - 1, true);
}

std::string number(uint64_t value) {
  std::string text;
  append_uint(text, value);
  return text;
}

// "label   count   lost flushed   p50   p90   p99   max"
void append_row(std::string &out, std::string_view label, uint64_t count, uint64_t lost,
                std::string_view flushed, const Durations &d) {
  // A label that does not fit stands on its own line.
  if (label.size() > kLabelWidth) {
    out.append(label);
    out.push_back('\n');
    label = {};
  }
  append_padded(out, label, kLabelWidth, false);
  append_column(out, compact_count(count, 8), 9);
  append_column(out, compact_count(lost, 7), 8);
  append_column(out, flushed, 8);
  for (const DurationColumn &column : kDurationColumns)
    append_column(out, d.count != 0 ? human_duration(d.*column.value) : "-", 8);
  out.push_back('\n');
}

void append_heading(std::string &out, std::string_view label, std::string_view lost,
                    std::string_view flushed) {
  append_padded(out, label, kLabelWidth, false);
  append_column(out, "count", 9);
  append_column(out, lost, 8);
  append_column(out, flushed, 8);
  for (const DurationColumn &column : kDurationColumns) append_column(out, column.name, 8);
  out.push_back('\n');
}

// Words of text on lines of at most kWidth columns, the first after
// `first`, the others after `indent`; a word longer than a line stands alone.
void append_wrapped(std::string &out, std::string_view first, std::string_view indent,
                    std::string_view text, std::string_view continuation = "") {
  std::string line(first);
  size_t words_on_line = 0;
  while (!text.empty()) {
    const size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
    const size_t room = kWidth - continuation.size();
    if (words_on_line != 0 && line.size() + 1 + word.size() > room) {
      out.append(line).append(continuation).push_back('\n');
      line.assign(indent);
      words_on_line = 0;
    }
    if (words_on_line++ != 0) line.push_back(' ');
    line.append(word);
  }
  out.append(line).push_back('\n');
}

bool chain_seen(const SessionFigures &session, Chain chain) {
  for (const StageRow &row : stage_rows(session, true))
    if (kStagePairs[row.pair].chain == chain) return true;
  return false;
}

void write_chain(std::string &out, const SessionFigures &session, Chain chain) {
  bool first = true;
  for (size_t p = 0; p < kStagePairCount; ++p) {
    const StagePair &pair = kStagePairs[p];
    if (pair.chain != chain) continue;
    if (first) {
      out.append("  ")
          .append(chain_name(chain))
          .append(" by ")
          .append(key_name(pair.key))
          .append(", from ")
          .append(short_name(pair.from))
          .push_back('\n');
      first = false;
    }
    std::string label(pair.role == PairRole::whole_path ? "   whole -> " : "   -> ");
    label.append(short_name(pair.to));
    if (pair.role == PairRole::alternative) label.append(" (instead)");
    const StageFigures &stage = session.stages[p];
    append_row(out, label, stage.latency.count, stage.lost, compact_count(stage.flushed, 7),
               stage.latency);
  }
}

void write_drops(std::string &out, const SessionFigures &session) {
  std::string line = "  drops:";
  bool any = false;
  for (size_t d = 0; d < session.drops.size(); ++d) {
    if (session.drops[d] == 0) continue;
    std::string item(" ");
    item.append(short_name(kSessionDropEvents[d])).append(" ").append(number(session.drops[d]));
    if (line.size() + item.size() + 1 > kWidth) {
      out.append(line).push_back('\n');
      line = "        ";
    }
    line.append(item);
    any = true;
  }
  if (any) out.append(line).push_back('\n');
}

void write_display(std::string &out, const DisplayFigures &display) {
  if (display.frames == 0) return;
  const Durations &interval = display.interval;
  out.append("  display: ").append(number(display.frames)).append(" frames");
  if (interval.count != 0) {
    out.append(", interval");
    for (const DurationColumn &column : kDurationColumns)
      out.append(" ")
          .append(column.name)
          .append(" ")
          .append(human_duration(interval.*column.value));
  }
  out.push_back('\n');
  if (display.stalls.empty()) return;
  out.append("  stalls: ").append(number(display.stalls.size()));
  if (display.stalls_incomplete) out.append(" (the longest; there are more)");
  out.push_back('\n');
  for (size_t i = 0; i < display.stalls.size() && i < kStallsShown; ++i)
    out.append("    at ")
        .append(seconds(display.stalls[i].at_ns))
        .append(" s, gap ")
        .append(human_duration(display.stalls[i].gap_ns))
        .push_back('\n');
  if (display.stalls.size() > kStallsShown)
    out.append("    ... ")
        .append(number(display.stalls.size() - kStallsShown))
        .append(" more in --json\n");
}

void write_spans(std::string &out, const SessionFigures &session) {
  const std::vector<SpanRow> rows = span_rows(session, true);
  if (!rows.empty()) append_heading(out, "  spans, by begin event", "open", "");
  for (const SpanRow &row : rows)
    append_row(out, "   " + std::string(short_name(kSpanPairs[row.span].begin)),
               row.figures->duration.count, row.figures->unfinished, "", row.figures->duration);
}

void write_session(std::string &out, const SessionFigures &session, const std::string *input) {
  std::string title = "session " + number(session.session_id);
  if (input != nullptr) title.append(" of ").append(printable(*input));
  title.append(": ")
      .append(number(session.events))
      .append(" records, ")
      .append(seconds(session.first_ns))
      .append(" s to ")
      .append(seconds(session.last_ns))
      .append(" s");
  out.push_back('\n');
  append_wrapped(out, "", "  ", title);
  bool heading = false;
  for (size_t c = 0; c < kChainCount; ++c) {
    const auto chain = static_cast<Chain>(c);
    if (!chain_seen(session, chain)) continue;
    if (!heading) append_heading(out, "  stage", "lost", "flushed");
    heading = true;
    write_chain(out, session, chain);
  }
  write_drops(out, session);
  write_display(out, session.display);
  write_spans(out, session);
}

void write_audio_sink(std::string &out, const std::string &label, const AudioSinkFigures &sink) {
  append_wrapped(out, "  ", "    ",
                 label + ": " + number(sink.writes) + " writes, " + number(sink.silence_writes) +
                     " silence writes, " + number(sink.dropped_samples) + " dropped samples");
  if (sink.clock_drift_updates != 0) {
    std::string lead = "  clock lead: ";
    append_int(lead, sink.clock_lead_min_ns);
    lead.append(" ns to ");
    append_int(lead, sink.clock_lead_max_ns);
    lead.append(" ns over ").append(number(sink.clock_drift_updates)).append(" updates\n");
    out.append(lead);
  }
}

std::string finding_heading(const Finding &finding, size_t rank, const Report &report) {
  std::string heading = number(rank) + ". " + finding_kind_name(finding.kind) + " " +
                        human_duration(finding.severity_ns);
  if (finding.session_id) heading.append(", session ").append(number(*finding.session_id));
  if (report.inputs.size() > 1 && finding.source < report.inputs.size())
    heading.append(finding.session_id ? " of " : ", ")
        .append(printable(report.inputs[finding.source]));
  const std::string at = seconds(finding.begin_ns);
  return heading.append(", ").append(at, 0, at.size() - 6).append(" s: ");  // to the ms
}

void write_findings(std::string &out, const Report &report) {
  const std::vector<Finding> &findings = report.findings;
  const size_t limit = report.options.findings_shown;
  const size_t shown = limit == 0 ? findings.size() : std::min(limit, findings.size());
  out.append("\nFindings: ").append(findings.empty() ? "none" : number(findings.size()));
  if (report.findings_not_kept != 0)
    out.append(" (and ").append(number(report.findings_not_kept)).append(" less severe not kept)");
  if (!findings.empty()) out.append(", the most severe first");
  out.push_back('\n');
  for (size_t i = 0; i < shown; ++i) {
    const Finding &finding = findings[i];
    const std::string heading = finding_heading(finding, i + 1, report);
    append_wrapped(out, "  " + heading, "      ", printable(finding_summary(finding)));
    append_wrapped(out, "      ", "        ",
                   printable(finding_command(finding, report.input_paths, report.plugin)), " \\");
  }
  if (shown < findings.size())
    out.append("  ... ")
        .append(number(findings.size() - shown))
        .append(" more: --findings 0 lists all, --json has all\n");
}

uint64_t session_key(uint32_t source, uint32_t session_id) {
  return (uint64_t{source} << 32) | session_id;
}

std::unordered_set<uint64_t> sessions_with_findings(const Report &report) {
  std::unordered_set<uint64_t> keys;
  for (const Finding &finding : report.findings)
    if (finding.session_id) keys.insert(session_key(finding.source, *finding.session_id));
  return keys;
}

void write_receiver(std::string &out, const Report &report) {
  out.append("\nreceiver: ").append(number(report.receiver_events)).append(" records\n");
  write_audio_sink(out, "audio sink", report.audio_sink);
  if (report.inputs.size() > 1)
    for (size_t i = 0; i < report.inputs.size(); ++i)
      write_audio_sink(out, "audio sink of " + printable(report.inputs[i]),
                       audio_sink_of_input(report, i));
  out.append("  audio queue: ").append(number(report.audio_queue_reads)).append(" reads\n");
}

}  // namespace

void write_text_report(const Report &report, const ReportSink &sink) {
  ChunkedOutput output(sink);
  std::string &out = output.text();
  std::string title = "vxtrace report of";
  for (size_t i = 0; i < report.inputs.size(); ++i)
    title.append(i == 0 ? " " : ", ").append(printable(report.inputs[i]));
  append_wrapped(out, "", "  ", title);
  out.append(number(report.events)).append(" records");
  if (report.undecoded != 0)
    out.append(" (").append(number(report.undecoded)).append(" undecoded)");
  if (report.events != 0)
    out.append(", ")
        .append(seconds(report.first_ns))
        .append(" s to ")
        .append(seconds(report.last_ns))
        .append(" s");
  out.append(", ").append(number(report.sessions.size())).append(" sessions\n");
  out.append("horizon ")
      .append(human_duration(report.options.horizon_ns))
      .append(", stall floor ")
      .append(human_duration(report.options.stall_floor_ns))
      .append("\n");
  for (const std::string &note : limit_notes(report))
    out.append("note: ").append(note).append("\n");
  write_findings(out, report);
  write_receiver(out, report);
  size_t hidden = 0;
  const std::unordered_set<uint64_t> with_findings = sessions_with_findings(report);
  for (const SessionFigures &session : report.sessions) {
    if (!report.options.all_sessions &&
        !with_findings.contains(session_key(session.source, session.session_id))) {
      ++hidden;
      continue;
    }
    write_session(out, session,
                  report.inputs.size() > 1 ? &report.inputs.at(session.source) : nullptr);
    output.maybe_flush();
  }
  if (hidden != 0)
    out.append("\n")
        .append(number(hidden))
        .append(hidden == 1 ? " session" : " sessions")
        .append(" without findings not shown: --all-sessions shows them\n");
  if (!report.damage.empty())
    append_wrapped(out, "\ninput damaged: ", "  ",
                   printable(report.damage) + "; the report covers the records before the damage");
}

std::string text_report(const Report &report) {
  std::string all;
  write_text_report(report, [&](std::string_view piece) { all.append(piece); });
  return all;
}

}  // namespace vxtrace
