// The table for a terminal: at most 100 columns. Per session, the chains and
// spans that saw anything, one line per stage pair under a heading that names
// the chain's first event; the JSON document has every figure of every pair.
#include <cstdio>

#include "report/format.h"
#include "report/report_writers.h"

namespace vxtrace {
namespace {

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
  append_column(out, number(count), 9);
  append_column(out, number(lost), 8);
  append_column(out, flushed, 8);
  const bool any = d.count != 0;
  for (const uint64_t ns : {d.p50_ns, d.p90_ns, d.p99_ns, d.max_ns})
    append_column(out, any ? human_duration(ns) : "-", 8);
  out.push_back('\n');
}

void append_heading(std::string &out, std::string_view label, std::string_view lost,
                    std::string_view flushed) {
  append_padded(out, label, kLabelWidth, false);
  append_column(out, "count", 9);
  append_column(out, lost, 8);
  append_column(out, flushed, 8);
  for (const char *column : {"p50", "p90", "p99", "max"}) append_column(out, column, 8);
  out.push_back('\n');
}

bool chain_seen(const SessionFigures &session, Chain chain) {
  for (size_t p = 0; p < kStagePairCount; ++p) {
    const StageFigures &stage = session.stages[p];
    if (kStagePairs[p].chain == chain &&
        (stage.latency.count != 0 || stage.lost != 0 || stage.flushed != 0))
      return true;
  }
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
    append_row(out, label, stage.latency.count, stage.lost, number(stage.flushed), stage.latency);
  }
}

void write_drops(std::string &out, const SessionFigures &session) {
  std::string line = "  drops:";
  bool any = false;
  for (size_t d = 0; d < session.drops.size(); ++d) {
    if (session.drops[d] == 0) continue;
    std::string item(" ");
    item.append(short_name(kSessionDropEvents[d])).append(" ").append(number(session.drops[d]));
    if (line.size() + item.size() + 1 > 100) {
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
  if (interval.count != 0)
    out.append(", interval p50 ")
        .append(human_duration(interval.p50_ns))
        .append(" p90 ")
        .append(human_duration(interval.p90_ns))
        .append(" p99 ")
        .append(human_duration(interval.p99_ns))
        .append(" max ")
        .append(human_duration(interval.max_ns));
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
  bool first = true;
  for (size_t s = 0; s < session.spans.size(); ++s) {
    const SpanFigures &span = session.spans[s];
    if (span.duration.count == 0 && span.unfinished == 0) continue;
    if (first) {
      append_heading(out, "  spans, by begin event", "open", "");
      first = false;
    }
    append_row(out, "   " + std::string(short_name(kSpanPairs[s].begin)), span.duration.count,
               span.unfinished, "", span.duration);
  }
}

void write_session(std::string &out, const SessionFigures &session, const std::string *input) {
  out.append("\nsession ").append(number(session.session_id));
  if (input != nullptr) out.append(" of ").append(printable(*input));
  out.append(": ")
      .append(number(session.events))
      .append(" records, ")
      .append(seconds(session.first_ns))
      .append(" s to ")
      .append(seconds(session.last_ns))
      .append(" s\n");
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
  out.append("  ")
      .append(label)
      .append(": ")
      .append(number(sink.writes))
      .append(" writes, ")
      .append(number(sink.silence_writes))
      .append(" silence writes, ")
      .append(number(sink.dropped_samples))
      .append(" dropped samples\n");
  if (sink.clock_drift_updates != 0) {
    std::string lead = "  clock lead: ";
    append_int(lead, sink.clock_lead_min_ns);
    lead.append(" ns to ");
    append_int(lead, sink.clock_lead_max_ns);
    lead.append(" ns over ").append(number(sink.clock_drift_updates)).append(" updates\n");
    out.append(lead);
  }
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
  out.append("vxtrace report of ");
  for (size_t i = 0; i < report.inputs.size(); ++i)
    out.append(i == 0 ? "" : ", ").append(printable(report.inputs[i]));
  out.append("\n").append(number(report.events)).append(" records");
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
  if (!report.damage.empty())
    out.append("input damaged: ")
        .append(printable(report.damage))
        .append("; the report covers the records before the damage\n");
  for (const std::string &note : limit_notes(report))
    out.append("note: ").append(note).append("\n");
  for (const SessionFigures &session : report.sessions) {
    write_session(out, session,
                  report.inputs.size() > 1 ? &report.inputs.at(session.source) : nullptr);
    output.maybe_flush();
  }
  write_receiver(out, report);
}

std::string text_report(const Report &report) {
  std::string all;
  write_text_report(report, [&](std::string_view piece) { all.append(piece); });
  return all;
}

}  // namespace vxtrace
