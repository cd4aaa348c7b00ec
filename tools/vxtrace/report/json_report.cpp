// The JSON document; docs/report.md describes its shape, which scripts rely
// on: every session lists every stage pair, drop kind and span, figures that
// do not exist (percentiles of nothing) are null.
#include "report/format.h"
#include "report/report_rows.h"
#include "report/report_writers.h"

namespace vxtrace {
namespace {

// "<prefix>p50_us", ...: null for a set without durations.
void write_durations(JsonWriter &json, const Durations &durations, std::string_view prefix = "") {
  for (const DurationColumn &column : kDurationColumns)
    json.member_us(std::string(prefix).append(column.name).append("_us"), durations.*column.value,
                   durations.count != 0);
}

void write_stage(JsonWriter &json, const StageRow &row) {
  const StagePair &pair = kStagePairs[row.pair];
  const StageFigures &stage = *row.figures;
  const Durations &latency = stage.latency;
  json.open('{');
  json.member_text("from", short_name(pair.from));
  json.member_text("to", short_name(pair.to));
  json.member_text("key", key_name(pair.key));
  json.member("count", latency.count);
  json.member("lost", stage.lost);
  json.member("flushed", stage.flushed);
  write_durations(json, latency);
  json.close('}');
}

void write_display(JsonWriter &json, const DisplayFigures &display) {
  json.key("display");
  json.open('{');
  json.member("frames", display.frames);
  write_durations(json, display.interval, "interval_");
  json.key("stalls");
  json.open('[');
  for (const Stall &stall : display.stalls) {
    json.open('{');
    json.member("at", stall.at_ns);
    json.key("gap_us");
    json.us(stall.gap_ns);
    json.close('}');
  }
  json.close(']');
  json.close('}');
}

void write_span(JsonWriter &json, const SpanRow &row) {
  const SpanFigures &span = *row.figures;
  json.open('{');
  json.member_text("begin", short_name(kSpanPairs[row.span].begin));
  json.member_text("end", short_name(kSpanPairs[row.span].end));
  json.member("count", span.duration.count);
  json.member("open", span.unfinished);
  write_durations(json, span.duration);
  json.close('}');
}

// input: the session's input, named only when the report has several.
void write_session(JsonWriter &json, const SessionFigures &session, const std::string *input) {
  json.open('{');
  json.member("session_id", session.session_id);
  if (input != nullptr) json.member_text("input", *input);
  json.member("events", session.events);
  json.key("stages");
  json.open('[');
  for (const StageRow &row : stage_rows(session, false)) write_stage(json, row);
  json.close(']');
  json.key("drops");
  json.open('{');
  for (size_t d = 0; d < session.drops.size(); ++d)
    json.member(short_name(kSessionDropEvents[d]), session.drops[d]);
  json.close('}');
  write_display(json, session.display);
  json.key("spans");
  json.open('[');
  for (const SpanRow &row : span_rows(session, false)) write_span(json, row);
  json.close(']');
  json.close('}');
}

void write_audio_sink(JsonWriter &json, const AudioSinkFigures &sink) {
  const bool lead = sink.clock_drift_updates != 0;
  json.key("audio_sink");
  json.open('{');
  json.member("writes", sink.writes);
  json.member("silence_writes", sink.silence_writes);
  json.member("dropped_samples", sink.dropped_samples);
  json.key("clock_lead_ns_min");
  lead ? json.signed_number(sink.clock_lead_min_ns) : json.null();
  json.key("clock_lead_ns_max");
  lead ? json.signed_number(sink.clock_lead_max_ns) : json.null();
  json.close('}');
}

// The sink over all inputs; with several, also each input's own.
void write_receiver(JsonWriter &json, const Report &report) {
  json.key("receiver");
  json.open('{');
  write_audio_sink(json, report.audio_sink);
  if (report.inputs.size() > 1) {
    json.key("inputs");
    json.open('[');
    for (size_t i = 0; i < report.inputs.size(); ++i) {
      json.open('{');
      json.member_text("input", report.inputs[i]);
      write_audio_sink(json, audio_sink_of_input(report, i));
      json.close('}');
    }
    json.close(']');
  }
  json.close('}');
}

// Milliseconds to the microsecond.
void member_ms(JsonWriter &json, std::string_view name, uint64_t ns) {
  json.key(name);
  std::string ms;
  append_us(&ms, ns / 1000);
  json.raw(ms);
}

void write_finding_details(JsonWriter &json, const Finding &finding) {
  switch (finding.kind) {
    case FindingKind::stall:
      json.key("gap_us");
      json.us(finding.gap_ns);
      break;
    case FindingKind::held:
    case FindingKind::lost:
      json.member_text("from", short_name(kStagePairs[finding.pair].from));
      json.member_text("to", short_name(kStagePairs[finding.pair].to));
      json.member("count", finding.count);
      if (finding.kind == FindingKind::held) member_ms(json, "held_ms_max", finding.held_max_ns);
      break;
    case FindingKind::silence:
      json.member("writes", finding.count);
      break;
    case FindingKind::drops:
      json.member_text("event", short_name(kSessionDropEvents[finding.drop]));
      json.member("count", finding.count);
      break;
  }
}

void write_findings(JsonWriter &json, const Report &report) {
  json.key("findings");
  json.open('[');
  for (const Finding &finding : report.findings) {
    json.break_line();
    json.open('{');
    json.member_text("kind", finding_kind_name(finding.kind));
    member_ms(json, "severity_ms", finding.severity_ns);
    if (report.inputs.size() > 1) json.member_text("input", report.inputs.at(finding.source));
    json.key("session_id");
    finding.session_id ? json.number(*finding.session_id) : json.null();
    json.member("begin", finding.begin_ns);
    json.member("end", finding.end_ns);
    json.member_text("summary", finding_summary(finding));
    json.member_text("command", finding_command(finding, report.input_paths, report.plugin));
    write_finding_details(json, finding);
    json.close('}');
  }
  json.close(']');
}

}  // namespace

void write_json_report(const Report &report, const ReportSink &sink) {
  ChunkedOutput output(sink);
  std::string &out = output.text();
  JsonWriter json(out, JsonEscaping::html_safe);
  const bool any = report.events != 0;
  json.open('{');
  json.key("inputs");
  json.open('[');
  for (const std::string &input : report.inputs) json.text(input);
  json.close(']');
  json.member("events", report.events);
  json.key("first_timestamp");
  any ? json.number(report.first_ns) : json.null();
  json.key("last_timestamp");
  any ? json.number(report.last_ns) : json.null();
  // Only a damaged input adds it: the figures cover the records before it.
  if (!report.damage.empty()) {
    json.key("damage");
    json.text(report.damage);
  }
  write_findings(json, report);
  json.key("sessions");
  json.open('[');
  for (const SessionFigures &session : report.sessions) {
    json.break_line();
    write_session(json, session,
                  report.inputs.size() > 1 ? &report.inputs.at(session.source) : nullptr);
    output.maybe_flush();
  }
  json.close(']');
  json.break_line();
  write_receiver(json, report);
  json.close('}');
  out.push_back('\n');
}

std::string json_report(const Report &report) {
  std::string all;
  write_json_report(report, [&](std::string_view piece) { all.append(piece); });
  return all;
}

}  // namespace vxtrace
