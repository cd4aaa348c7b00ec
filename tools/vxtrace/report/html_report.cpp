// The HTML page: one file with Chart.js inline, the figures as tables and,
// for the busiest sessions, three plots drawn from a JSON data block. Every
// text from the trace or the command line is escaped for its place.
#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "report/format.h"
#include "report/report_rows.h"
#include "report/report_writers.h"

namespace vxtrace {

extern const char kChartJs[];
extern const size_t kChartJsSize;

namespace {

constexpr size_t kOverviewRows = 2000;

constexpr std::string_view kStyle = R"(<style>
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em}h2{font-size:1.2em;margin-top:2em;border-bottom:1px solid #ccc}
table{border-collapse:collapse;margin:.5em 0}td,th{padding:2px 8px;text-align:right}
td:first-child,th:first-child{text-align:left}tr:nth-child(even){background:#f4f4f4}
.plots{display:grid;grid-template-columns:repeat(auto-fit,minmax(420px,1fr));gap:1em}
.plot{position:relative;height:360px}.note{color:#666}.damage{color:#a00;font-weight:bold}
table.sortable th{cursor:pointer}code{font-size:12px}td.text{text-align:left}
</style>
)";

// Draws the plots of every session in the data block; a plot without data
// has no canvas.
constexpr std::string_view kDrawScript = R"(<script>
(function () {
  const data = JSON.parse(document.getElementById('report-data').textContent);
  const colors = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b',
                  '#e377c2', '#7f7f7f', '#bcbd22', '#17becf', '#393b79', '#637939', '#8c6d31'];
  const legend = {position: 'bottom', labels: {boxWidth: 10, font: {size: 10}}};
  const base = {animation: false, responsive: true, maintainAspectRatio: false,
                plugins: {legend: legend}};
  function axis(text, type) { return {type: type, title: {display: true, text: text}}; }
  const countAxis = text => Object.assign(axis(text, 'linear'), {ticks: {precision: 0}});
  // A click on a column's heading sorts the table by it, again for the other way.
  for (const table of document.querySelectorAll('table.sortable')) {
    table.querySelectorAll('th').forEach((th, column) => th.addEventListener('click', () => {
      const rows = Array.from(table.querySelectorAll('tr')).slice(1);
      const key = row => row.cells[column].textContent;
      const down = th.dataset.down !== 'true';
      th.dataset.down = down;
      rows.sort((a, b) => {
        const x = key(a), y = key(b), nx = parseFloat(x), ny = parseFloat(y);
        const order = !isNaN(nx) && !isNaN(ny) ? nx - ny : x.localeCompare(y);
        return down ? -order : order;
      });
      for (const row of rows) table.appendChild(row);
    }));
  }
  // Latency ticks at powers of ten only, in the unit that reads best.
  function latencyTick(us) {
    const power = Math.log10(us);
    if (Math.abs(power - Math.round(power)) > 1e-6) return '';
    return us >= 1e6 ? us / 1e6 + ' s' : us >= 1e3 ? us / 1e3 + ' ms' : us + ' us';
  }
  function points(pairs) { return pairs.map(p => ({x: p[0], y: p[1]})); }
  function draw(id, config) {
    const canvas = document.getElementById(id);
    if (canvas) new Chart(canvas, config);
  }
  const receiver = data.receiver;
  draw('receiver', {type: 'scatter', data: {datasets: [
      ['data writes', receiver.data], ['silence writes', receiver.silence],
      ['drops, all sessions', receiver.drops]].map(([label, series], i) => ({
        label: label, data: points(series), showLine: true, pointRadius: 0,
        borderColor: colors[[0, 3, 1][i]], backgroundColor: colors[[0, 3, 1][i]]}))},
    options: Object.assign({}, base, {scales: {x: axis('trace time (s)', 'linear'),
      y: countAxis('records per ' + receiver.window_ms + ' ms')}})});
  for (const s of data.sessions) {
    const latencyAxis = Object.assign(axis('latency', 'logarithmic'),
                                      {ticks: {callback: latencyTick, autoSkip: false}});
    draw('latency-' + s.index, {type: 'scatter', data: {datasets: s.latency.map((stage, i) => ({
        label: stage.label, data: points(stage.points), showLine: true, pointRadius: 2,
        borderColor: colors[i % colors.length], backgroundColor: colors[i % colors.length]}))},
      options: Object.assign({}, base, {scales: {x: latencyAxis,
        y: axis('share of the stage per quarter octave (%)', 'linear')}})});
    draw('display-' + s.index, {type: 'scatter', data: {datasets: [
        {label: 'longest interval per window (ms)', data: points(s.display), showLine: true,
         pointRadius: 0, borderColor: colors[0], backgroundColor: colors[0]},
        {label: 'stall', data: points(s.stalls), pointRadius: 6, pointStyle: 'triangle',
         borderColor: colors[3], backgroundColor: colors[3]}]},
      options: Object.assign({}, base, {scales: {x: axis('trace time (s)', 'linear'),
        y: axis('display interval (ms)', 'linear')}})});
    draw('drops-' + s.index, {type: 'bar', data: {labels: s.drops.times,
        datasets: s.drops.series.map((d, i) => ({label: d.label, data: d.counts,
          backgroundColor: colors[(i + 3) % colors.length]}))},
      options: Object.assign({}, base, {scales: {
        x: Object.assign(axis('window start, trace time (s)', 'category'), {stacked: true}),
        y: Object.assign(countAxis('drops'), {stacked: true})}})});
  }
})();
</script>
)";

std::string number(uint64_t value) {
  std::string text;
  append_uint(text, value);
  return text;
}

void append_double(std::string &out, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", value);
  out.append(text);
}

// Trace time in seconds, as the tables and the text print it and --begin
// takes it, for the plots' time axes.
double trace_seconds(uint64_t ns) {
  return static_cast<double>(ns) / 1e9;
}

class Table {
 public:
  Table(std::string &out, std::initializer_list<std::string_view> columns, bool sortable = false)
      : Table(out, std::vector<std::string_view>(columns), sortable) {}
  Table(std::string &out, const std::vector<std::string_view> &columns, bool sortable = false)
      : out_(out) {
    out_.append(sortable ? "<table class=\"sortable\"><tr>" : "<table><tr>");
    for (std::string_view column : columns) out_.append("<th>").append(column).append("</th>");
    out_.append("</tr>\n");
  }
  ~Table() { out_.append("</table>\n"); }
  void row(std::initializer_list<std::string> cells) { row(std::vector<std::string>(cells)); }
  void row(const std::vector<std::string> &cells) {
    out_.append("<tr>");
    for (const std::string &cell : cells) {
      out_.append("<td>");
      append_html_text(out_, cell);
      out_.append("</td>");
    }
    out_.append("</tr>\n");
  }

 private:
  std::string &out_;
};

std::string duration_or_dash(const Durations &d, uint64_t ns) {
  return d.count == 0 ? "-" : human_duration(ns);
}

std::string session_anchor(uint32_t source, uint32_t session_id) {
  return "session-" + number(source) + "-" + number(session_id);
}

std::string pair_label(size_t p) {
  return std::string(short_name(kStagePairs[p].from)) + " -> " +
         std::string(short_name(kStagePairs[p].to));
}

std::vector<std::string_view> columns_with_durations(std::vector<std::string_view> columns) {
  for (const DurationColumn &column : kDurationColumns) columns.push_back(column.name);
  return columns;
}

std::vector<std::string> cells_with_durations(std::vector<std::string> cells, const Durations &d) {
  for (const DurationColumn &column : kDurationColumns)
    cells.push_back(duration_or_dash(d, d.*column.value));
  return cells;
}

void write_stage_table(std::string &out, const SessionFigures &session) {
  Table table(out, columns_with_durations({"stage", "key", "count", "lost", "flushed"}));
  for (const StageRow &row : stage_rows(session, true)) {
    const StageFigures &stage = *row.figures;
    table.row(cells_with_durations(
        {pair_label(row.pair), std::string(key_name(kStagePairs[row.pair].key)),
         number(stage.latency.count), number(stage.lost), number(stage.flushed)},
        stage.latency));
  }
}

void write_span_table(std::string &out, const SessionFigures &session) {
  Table table(out, columns_with_durations({"span", "count", "open"}));
  for (const SpanRow &row : span_rows(session, true)) {
    const SpanFigures &span = *row.figures;
    table.row(cells_with_durations({std::string(short_name(kSpanPairs[row.span].begin)) + " -> " +
                                        std::string(short_name(kSpanPairs[row.span].end)),
                                    number(span.duration.count), number(span.unfinished)},
                                   span.duration));
  }
}

void write_display_and_drops(std::string &out, const SessionFigures &session) {
  const DisplayFigures &display = session.display;
  const Durations &d = display.interval;
  out.append("<p>Displayed frames: ").append(number(display.frames));
  if (d.count != 0) {
    out.append("; interval");
    for (const DurationColumn &column : kDurationColumns)
      out.append(column.name == kDurationColumns[0].name ? " " : ", ")
          .append(column.name)
          .append(" ")
          .append(human_duration(d.*column.value));
  }
  out.append("; stalls: ").append(number(display.stalls.size()));
  if (display.stalls_incomplete) out.append(" (the longest; there are more)");
  out.append(".<br>Drops:");
  for (size_t i = 0; i < session.drops.size(); ++i)
    out.append(i == 0 ? " " : ", ")
        .append(short_name(kSessionDropEvents[i]))
        .append(" ")
        .append(number(session.drops[i]));
  out.append(".</p>\n");
}

void write_plots(std::string &out, size_t index, const SessionPlots &plots) {
  bool latency = false;
  for (const auto &bars : plots.latency) latency = latency || !bars.empty();
  const std::string id = number(index);
  out.append("<div class=\"plots\">\n");
  const auto canvas = [&](bool present, std::string_view name, std::string_view empty) {
    if (present)
      out.append("<div class=\"plot\"><canvas id=\"")
          .append(name)
          .append("-")
          .append(id)
          .append("\"></canvas></div>\n");
    else
      out.append("<p class=\"note\">").append(empty).append("</p>\n");
  };
  canvas(latency, "latency", "No stage latencies.");
  canvas(!plots.display.empty(), "display", "No displayed frames.");
  canvas(!plots.drops.empty(), "drops", "No drops.");
  out.append("</div>\n");
}

void write_session_section(std::string &out, const Report &report, const SessionPlots &plots,
                           size_t index) {
  const SessionFigures &session = report.sessions[plots.session];
  out.append("<h2 id=\"")
      .append(session_anchor(session.source, session.session_id))
      .append("\">Session ")
      .append(number(session.session_id));
  if (report.inputs.size() > 1) {
    out.append(" of ");
    append_html_text(out, report.inputs.at(session.source));
  }
  out.append("</h2>\n<p>");
  out.append(number(session.events))
      .append(" records from ")
      .append(seconds(session.first_ns))
      .append(" s to ")
      .append(seconds(session.last_ns))
      .append(" s.</p>\n");
  write_stage_table(out, session);
  write_display_and_drops(out, session);
  write_span_table(out, session);
  write_plots(out, index, plots);
}

uint64_t total_lost(const SessionFigures &session) {
  uint64_t lost = 0;
  for (const StageFigures &stage : session.stages) lost += stage.lost;
  return lost;
}

uint64_t total_flushed(const SessionFigures &session) {
  uint64_t flushed = 0;
  for (const StageFigures &stage : session.stages) flushed += stage.flushed;
  return flushed;
}

uint64_t total_drops(const SessionFigures &session) {
  uint64_t drops = 0;
  for (uint64_t count : session.drops) drops += count;
  return drops;
}

uint64_t session_key(uint32_t source, uint32_t session_id) {
  return (uint64_t{source} << 32) | session_id;
}

// Keys held past the hold limit, by session.
std::unordered_map<uint64_t, uint64_t> held_keys(const Report &report) {
  std::unordered_map<uint64_t, uint64_t> held;
  for (const Finding &finding : report.findings)
    if (finding.kind == FindingKind::held)
      held[session_key(finding.source, *finding.session_id)] += finding.count;
  return held;
}

void write_overview(std::string &out, const Report &report) {
  out.append("<h2>Sessions</h2>\n");
  if (report.sessions.size() > kOverviewRows)
    out.append("<p class=\"note\">The first ")
        .append(number(kOverviewRows))
        .append(" of ")
        .append(number(report.sessions.size()))
        .append(" sessions; the JSON report lists them all.</p>\n");
  out.append("<p class=\"note\">A click on a column's heading sorts by it.</p>\n");
  const bool several = report.inputs.size() > 1;
  std::vector<std::string_view> columns = {"session",   "records",      "from (s)",  "to (s)",
                                           "lost keys", "flushed keys", "held keys", "drops",
                                           "frames",    "interval p50", "stalls"};
  if (several) columns.insert(columns.begin() + 1, "input");
  Table table(out, columns, true);
  const std::unordered_map<uint64_t, uint64_t> held = held_keys(report);
  for (size_t i = 0; i < report.sessions.size() && i < kOverviewRows; ++i) {
    const SessionFigures &s = report.sessions[i];
    const auto found = held.find(session_key(s.source, s.session_id));
    std::vector<std::string> cells = {
        number(s.session_id),
        number(s.events),
        seconds(s.first_ns),
        seconds(s.last_ns),
        number(total_lost(s)),
        number(total_flushed(s)),
        number(found == held.end() ? 0 : found->second),
        number(total_drops(s)),
        number(s.display.frames),
        duration_or_dash(s.display.interval, s.display.interval.p50_ns),
        number(s.display.stalls.size())};
    if (several) cells.insert(cells.begin() + 1, report.inputs.at(s.source));
    table.row(cells);
  }
}

void write_findings(std::string &out, const Report &report) {
  out.append("<h2>Findings</h2>\n");
  if (report.findings.empty()) {
    out.append("<p>None: no stall, held or lost key, silence run or burst of drops.</p>\n");
    return;
  }
  out.append("<p class=\"note\">").append(number(report.findings.size()));
  if (report.findings_not_kept != 0)
    out.append(" (and ").append(number(report.findings_not_kept)).append(" less severe not kept)");
  out.append(", the most severe first; each command shows the records.</p>\n");
  std::unordered_set<uint64_t> plotted;
  for (const SessionPlots &plots : report.plots) {
    const SessionFigures &session = report.sessions[plots.session];
    plotted.insert(session_key(session.source, session.session_id));
  }
  const bool several = report.inputs.size() > 1;
  out.append("<table><tr><th>#</th><th>kind</th><th>severity</th><th>session</th>");
  if (several) out.append("<th>input</th>");
  out.append("<th>at (s)</th><th>what</th><th>records</th></tr>\n");
  const size_t limit = report.options.findings_shown;
  const size_t shown =
      limit == 0 ? report.findings.size() : std::min(limit, report.findings.size());
  for (size_t i = 0; i < shown; ++i) {
    const Finding &finding = report.findings[i];
    out.append("<tr><td>").append(number(i + 1)).append("</td><td>");
    out.append(finding_kind_name(finding.kind)).append("</td><td>");
    out.append(human_duration(finding.severity_ns)).append("</td><td>");
    if (finding.session_id) {
      const uint64_t key = session_key(finding.source, *finding.session_id);
      const bool linked = plotted.contains(key);
      if (linked)
        out.append("<a href=\"#")
            .append(session_anchor(finding.source, *finding.session_id))
            .append("\">");
      out.append(number(*finding.session_id));
      if (linked) out.append("</a>");
    } else {
      out.append("receiver");
    }
    out.append("</td>");
    if (several) {
      out.append("<td class=\"text\">");
      append_html_text(out, report.inputs.at(finding.source));
      out.append("</td>");
    }
    out.append("<td>").append(seconds(finding.begin_ns)).append("</td><td class=\"text\">");
    append_html_text(out, finding_summary(finding));
    out.append("</td><td class=\"text\"><code>");
    append_html_text(out, finding_command(finding, report.input_paths, report.plugin));
    out.append("</code></td></tr>\n");
  }
  out.append("</table>\n");
  if (shown < report.findings.size())
    out.append("<p class=\"note\">")
        .append(number(report.findings.size() - shown))
        .append(" more: --findings 0 lists all, the JSON report has all.</p>\n");
}

std::string clock_lead_range(const AudioSinkFigures &sink) {
  if (sink.clock_drift_updates == 0) return "";
  std::string range;
  append_int(range, sink.clock_lead_min_ns);
  range.append(" to ");
  append_int(range, sink.clock_lead_max_ns);
  return range;
}

void write_receiver(std::string &out, const Report &report) {
  const AudioSinkFigures &sink = report.audio_sink;
  out.append("<h2>Receiver</h2>\n");
  if (!report.receiver_plot.empty())
    out.append(
        "<div class=\"plots\"><div class=\"plot\"><canvas id=\"receiver\"></canvas>"
        "</div></div>\n");
  {
    Table table(out, {"audio sink", "value"});
    table.row({"writes", number(sink.writes)});
    table.row({"silence writes", number(sink.silence_writes)});
    table.row({"dropped samples", number(sink.dropped_samples)});
    if (sink.clock_drift_updates != 0) table.row({"clock lead (ns)", clock_lead_range(sink)});
    table.row({"audio queue reads", number(report.audio_queue_reads)});
  }
  if (report.inputs.size() < 2) return;
  // Each buffer is one receiver, whose sink may run dry on its own.
  Table table(out, {"input", "writes", "silence writes", "dropped samples", "clock lead (ns)"});
  for (size_t i = 0; i < report.inputs.size(); ++i) {
    const AudioSinkFigures &own = audio_sink_of_input(report, i);
    table.row({report.inputs[i], number(own.writes), number(own.silence_writes),
               number(own.dropped_samples), clock_lead_range(own)});
  }
}

std::string real(double value) {
  std::string text;
  append_double(text, value);
  return text;
}

void write_latency_data(JsonWriter &json, const SessionPlots &plots) {
  json.key("latency");
  json.open('[');
  for (size_t p = 0; p < kStagePairCount; ++p) {
    const auto &bars = plots.latency[p];
    if (bars.empty()) continue;
    uint64_t total = 0;
    for (const SessionPlots::Bar &bar : bars) total += bar.count;
    json.open('{');
    json.member_text("label", pair_label(p));
    json.key("points");
    json.open('[');
    for (const SessionPlots::Bar &bar : bars) {
      json.open('[');
      json.raw(real(static_cast<double>(bar.lower_ns + bar.upper_ns) / 2.0 / 1000.0));
      json.raw(real(100.0 * static_cast<double>(bar.count) / static_cast<double>(total)));
      json.close(']');
    }
    json.close(']');
    json.close('}');
  }
  json.close(']');
}

// One [seconds since the start, milliseconds] point of a plotted series.
void write_point(JsonWriter &json, uint64_t at_ns, uint64_t duration_ns) {
  json.open('[');
  json.raw(real(trace_seconds(at_ns)));
  json.raw(real(static_cast<double>(duration_ns) / 1e6));
  json.close(']');
}

void write_drop_data(JsonWriter &json, const Report &report, const SessionPlots &plots) {
  json.key("drops");
  json.open('{');
  json.key("times");
  json.open('[');
  for (const SessionPlots::DropWindow &window : plots.drops) {
    char label[32];
    std::snprintf(label, sizeof label, "%.3f", trace_seconds(window.start_ns));
    json.text(label);
  }
  json.close(']');
  json.key("series");
  json.open('[');
  for (size_t d = 0; d < kSessionDropCount; ++d) {
    if (report.sessions[plots.session].drops[d] == 0) continue;
    json.open('{');
    json.member_text("label", short_name(kSessionDropEvents[d]));
    json.key("counts");
    json.open('[');
    for (const SessionPlots::DropWindow &window : plots.drops) json.number(window.drops[d]);
    json.close(']');
    json.close('}');
  }
  json.close(']');
  json.close('}');
}

void write_series_data(JsonWriter &json, const Report &report, const SessionPlots &plots) {
  const DisplayFigures &display = report.sessions[plots.session].display;
  json.key("display");
  json.open('[');
  // A window without frames breaks the line rather than drawing across it.
  for (size_t i = 0; i < plots.display.size(); ++i) {
    const SessionPlots::DisplayWindow &window = plots.display[i];
    if (i != 0 && window.start_ns - plots.display[i - 1].start_ns > plots.display_window_ns) {
      json.open('[');
      json.raw(real(trace_seconds(window.start_ns - plots.display_window_ns)));
      json.null();
      json.close(']');
    }
    write_point(json, window.start_ns, window.longest_interval_ns);
  }
  json.close(']');
  json.key("stalls");
  json.open('[');
  for (const Stall &stall : display.stalls) write_point(json, stall.at_ns, stall.gap_ns);
  json.close(']');
  write_drop_data(json, report, plots);
}

// Per window [trace seconds, count] of each receiver series.
void write_receiver_data(JsonWriter &json, const Report &report) {
  json.key("receiver");
  json.open('{');
  json.key("window_ms");
  json.raw(real(static_cast<double>(report.receiver_window_ns) / 1e6));
  const std::pair<const char *, uint64_t ReceiverWindow::*> series[] = {
      {"data", &ReceiverWindow::data_writes},
      {"silence", &ReceiverWindow::silence_writes},
      {"drops", &ReceiverWindow::drops}};
  for (const auto &[name, member] : series) {
    json.key(name);
    json.open('[');
    for (const ReceiverWindow &window : report.receiver_plot) {
      json.open('[');
      json.raw(real(trace_seconds(window.start_ns)));
      json.number(window.*member);
      json.close(']');
    }
    json.close(']');
  }
  json.close('}');
}

void write_data(std::string &out, const Report &report) {
  out.append("<script type=\"application/json\" id=\"report-data\">");
  JsonWriter json(out, JsonEscaping::html_safe);
  json.open('{');
  write_receiver_data(json, report);
  json.key("sessions");
  json.open('[');
  for (size_t i = 0; i < report.plots.size(); ++i) {
    json.break_line();
    json.open('{');
    json.member("index", i);
    write_latency_data(json, report.plots[i]);
    write_series_data(json, report, report.plots[i]);
    json.close('}');
  }
  json.close(']');
  json.close('}');
  out.append("</script>\n");
}

void write_header(std::string &out, const Report &report) {
  out.append("<h1>vxtrace report</h1>\n<p>Inputs: ");
  for (size_t i = 0; i < report.inputs.size(); ++i) {
    if (i != 0) out.append(", ");
    append_html_text(out, report.inputs[i]);
  }
  out.append(".<br>").append(number(report.events)).append(" records");
  if (report.undecoded != 0)
    out.append(" (").append(number(report.undecoded)).append(" undecoded)");
  if (report.events != 0)
    out.append(" from ")
        .append(seconds(report.first_ns))
        .append(" s to ")
        .append(seconds(report.last_ns))
        .append(" s");
  out.append(", ").append(number(report.sessions.size())).append(" sessions. Horizon ");
  out.append(human_duration(report.options.horizon_ns))
      .append(", stall floor ")
      .append(human_duration(report.options.stall_floor_ns))
      .append(".</p>\n");
  for (const std::string &note : limit_notes(report)) {
    out.append("<p class=\"damage\">");
    append_html_text(out, note);
    out.append(".</p>\n");
  }
  if (!report.damage.empty()) {
    out.append("<p class=\"damage\">Input damaged: ");
    append_html_text(out, report.damage);
    out.append("; the report covers the records before the damage.</p>\n");
  }
}

}  // namespace

void write_html_report(const Report &report, const ReportSink &sink) {
  ChunkedOutput output(sink);
  std::string &out = output.text();
  out.append("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n");
  out.append("<title>vxtrace report</title>\n").append(kStyle);
  out.append("<script>\n").append(kChartJs, kChartJsSize).append("\n</script>\n");
  out.append("</head><body>\n");
  write_header(out, report);
  write_findings(out, report);
  write_receiver(out, report);
  write_overview(out, report);
  output.maybe_flush();
  if (report.sessions.size() > report.plots.size() && !report.plots.empty())
    out.append("<p class=\"note\">Plots for ")
        .append(number(report.plots.size()))
        .append(" sessions: those with findings first, then those with the most records.</p>\n");
  for (size_t i = 0; i < report.plots.size(); ++i)
    write_session_section(out, report, report.plots[i], i);
  write_data(out, report);
  out.append(kDrawScript);
  out.append("</body></html>\n");
}

std::string html_report(const Report &report) {
  std::string all;
  write_html_report(report, [&](std::string_view piece) { all.append(piece); });
  return all;
}

}  // namespace vxtrace
