#include "sqlite/views.h"

#include <iterator>
#include <optional>

#include "pipeline/pipeline_model.h"
#include "sqlite/payload_tables.h"

namespace vxtrace {
namespace {

// The first time each packet (session, id) was seen at a stage.
std::string first_seen(const AudioStage &stage) {
  std::string sql = "(SELECT s.\"";
  sql.append(stage.session_column).append("\" AS session_id, s.\"");
  sql.append(stage.id_column).append("\" AS packet_id, min(e.timestamp) AS at\n     FROM \"");
  sql.append(stage.event).append("\" AS s JOIN events AS e USING (seq) GROUP BY 1, 2)");
  return sql;
}

std::string joined_on_packet(const std::string &alias, const std::string &from) {
  std::string sql = "\n  ON ";
  sql.append(alias).append(".session_id = ").append(from).append(".session_id AND ");
  sql.append(alias).append(".packet_id = ").append(from).append(".packet_id");
  return sql;
}

// One row per packet received from the network, with the time it reached
// each stage (NULL where it never did).
std::string audio_packet_path() {
  std::string columns = "CREATE VIEW audio_packet_path AS\nSELECT s0.session_id, s0.packet_id";
  std::string tables = "\nFROM ";
  tables.append(first_seen(kAudioStages[0])).append(" AS s0");
  for (size_t i = 0; i < std::size(kAudioStages); ++i) {
    const std::string alias = std::string("s").append(std::to_string(i));
    columns.append(",\n  ").append(alias).append(".at AS ").append(kAudioStages[i].event);
    if (i == 0) continue;
    tables.append("\nLEFT JOIN ").append(first_seen(kAudioStages[i])).append(" AS ");
    tables.append(alias).append(joined_on_packet(alias, "s0"));
  }
  return columns + tables;
}

std::string stage_pair(int order, const AudioStage &from, const AudioStage &to) {
  std::string sql = "SELECT ";
  sql.append(std::to_string(order)).append(" AS stage_pair, a.session_id, a.packet_id, '");
  sql.append(from.event).append("' AS from_event, '").append(to.event).append("' AS to_event,");
  sql.append("\n  a.at AS from_timestamp, b.at AS to_timestamp, b.at - a.at AS latency_ns");
  sql.append("\nFROM ").append(first_seen(from)).append(" AS a");
  sql.append("\nLEFT JOIN ").append(first_seen(to)).append(" AS b");
  return sql.append(joined_on_packet("b", "a"));
}

// One row per packet and stage pair: every packet that entered the first
// stage of the pair, with the time it took to reach the second (NULL when it
// never did). stage_pair numbers the consecutive pairs in pipeline order from
// 1; the whole path, from the first stage to the last, is 0.
std::string audio_stage_latency() {
  const int last = static_cast<int>(std::size(kAudioStages)) - 1;
  std::string sql = "CREATE VIEW audio_stage_latency AS\n";
  sql.append(stage_pair(0, kAudioStages[0], kAudioStages[last]));
  for (int i = 0; i < last; ++i)
    sql.append("\nUNION ALL\n").append(stage_pair(i + 1, kAudioStages[i], kAudioStages[i + 1]));
  return sql;
}

// Per session, the time since the session's previous displayed frame (NULL
// for its first).
std::string display_intervals() {
  return "CREATE VIEW display_intervals AS\n"
         "SELECT d.session_id, d.seq, e.timestamp,\n"
         "  e.timestamp - lag(e.timestamp) OVER (PARTITION BY d.session_id\n"
         "    ORDER BY e.timestamp, d.seq) AS interval_ns\n"
         "FROM video_stream_frame_displayed AS d JOIN events AS e USING (seq)";
}

// The findings' views read a kind's table and look each row's event up by
// seq: CROSS JOIN keeps that order, where the planner would otherwise walk
// all of events (by its timestamp index) for each kind when the rows are
// sorted afterwards.
//
// Per session and input, each displayed frame with the one before it; as the
// report does, a frame shown before its predecessor has an interval of 0.
std::string stalls() {
  return "CREATE VIEW stalls AS\n"
         "WITH frames AS (\n"
         "  SELECT d.session_id, e.source AS input, e.timestamp AS at,\n"
         "    lag(e.timestamp) OVER (PARTITION BY e.source, d.session_id ORDER BY e.seq)\n"
         "      AS previous\n"
         "  FROM video_stream_frame_displayed AS d CROSS JOIN events AS e USING (seq)),\n"
         "intervals AS (\n"
         "  SELECT *, max(at - previous, 0) AS gap_ns FROM frames WHERE previous IS NOT NULL),\n"
         "medians AS (\n"
         "  SELECT input, session_id, gap_ns AS median_ns\n"
         "  FROM (SELECT input, session_id, gap_ns,\n"
         "          row_number() OVER (PARTITION BY input, session_id ORDER BY gap_ns) AS rank,\n"
         "          count(*) OVER (PARTITION BY input, session_id) AS n\n"
         "        FROM intervals)\n"
         "  WHERE rank = (n + 1) / 2)\n"
         "SELECT i.session_id, i.input, i.at, i.previous, i.gap_ns / 1e3 AS gap_us,\n"
         "  m.median_ns / 1e3 AS median_us\n"
         "FROM intervals AS i\n"
         "JOIN medians AS m ON m.session_id = i.session_id AND m.input IS i.input\n"
         "WHERE i.gap_ns > 2 * m.median_ns AND i.gap_ns >= " +
         std::to_string(kStallFloorNs);
}

// Runs of silence writes: each silence write is numbered by the data writes
// before it in its input, so one run shares one number; the data write that
// ends a run is the first after its last silence write.
std::string silence_runs() {
  return "CREATE VIEW silence_runs AS\n"
         "WITH writes AS (\n"
         "  SELECT e.seq, e.source, 1 AS silent\n"
         "  FROM audio_sink_write_silence CROSS JOIN events AS e USING (seq)\n"
         "  UNION ALL\n"
         "  SELECT e.seq, e.source, 0\n"
         "  FROM audio_sink_write_data CROSS JOIN events AS e USING (seq)),\n"
         "numbered AS (\n"
         "  SELECT seq, source, silent,\n"
         "    sum(1 - silent) OVER (PARTITION BY source ORDER BY seq) AS data_before,\n"
         "    min(CASE WHEN silent = 0 THEN seq END) OVER (PARTITION BY source ORDER BY seq DESC\n"
         "      ROWS UNBOUNDED PRECEDING) AS next_data\n"
         "  FROM writes),\n"
         "runs AS (\n"
         "  SELECT source, min(seq) AS first_seq, max(seq) AS last_seq, count(*) AS writes,\n"
         "    min(next_data) AS ends_seq\n"
         "  FROM numbered WHERE silent = 1 GROUP BY source, data_before HAVING count(*) >= " +
         std::to_string(kSilenceRunWrites) +
         ")\n"
         "SELECT r.source AS input, f.timestamp AS first, l.timestamp AS last,\n"
         "  d.timestamp AS ends,\n"
         "  r.writes, max(coalesce(d.timestamp, l.timestamp) - f.timestamp, 0) / 1e3 AS length_us\n"
         "FROM runs AS r JOIN events AS f ON f.seq = r.first_seq\n"
         "JOIN events AS l ON l.seq = r.last_seq\n"
         "LEFT JOIN events AS d ON d.seq = r.ends_seq";
}

// The column of a kind's table that holds a field: at the top level, or in
// the nested packet ("packet_id"); "" when the kind has none.
std::string column_of(EventKind kind, std::string_view field) {
  const PayloadTable table = payload_table(kind);
  for (const std::string &name : {std::string(field), "packet_" + std::string(field)})
    for (const Column &column : table.columns)
      if (column.name == name) return name;
  return "";
}

// The rows of one kind for the passages below: what (0: enters, 1: leaves,
// 2: flushes), its session and key (none for a flush).
std::string stage_marks(size_t stage, EventKind kind, int what, std::string_view key_field) {
  const std::string session = column_of(kind, "session_id");
  const std::string key = key_field.empty() ? "" : column_of(kind, key_field);
  if (session.empty() || (!key_field.empty() && key.empty())) return "";
  std::string sql = "  SELECT ";
  sql.append(std::to_string(stage)).append(" AS stage, e.seq, e.timestamp, e.source, p.\"");
  sql.append(session).append("\" AS session_id, ");
  sql.append(key.empty() ? std::string("NULL") : "p.\"" + key + "\"").append(" AS key, ");
  sql.append(std::to_string(what)).append(" AS what, '").append(short_name(kind));
  sql.append("' AS event\n  FROM \"").append(short_name(kind));
  return sql.append("\" AS p CROSS JOIN events AS e USING (seq)");
}

// The records that move a key into or out of one stage (its entering event
// and the leaving events of its step and alternatives) and those that flush
// it (tools/vxtrace/pipeline/pipeline_model.h).
struct StageMarks {
  std::vector<std::string> moves;
  std::vector<std::string> flushes;
};

StageMarks marks_of_stage(size_t s) {
  const KeyStage &stage = stages()[s];
  const std::string_view key = key_name(stage.key);
  StageMarks marks;
  marks.moves.push_back(stage_marks(s, stage.from, 0, key));
  for (size_t p = 0; p < kStagePairCount; ++p)
    if (stage_of_pair(p) == s) marks.moves.push_back(stage_marks(s, kStagePairs[p].to, 1, key));
  for (size_t k = 0; k < kEventKindCount; ++k) {
    const auto kind = static_cast<EventKind>(k);
    if ((roles_of(kind).flushed_stages >> s & 1) != 0)
      marks.flushes.push_back(stage_marks(s, kind, 2, ""));
  }
  return marks;
}

void append_union(std::string &sql, const std::vector<std::string> &parts) {
  for (const std::string &part : parts)
    if (!part.empty()) sql.append(sql.empty() ? "" : "\n  UNION ALL\n").append(part);
}

// Each entry with the next record of its stage for the same key, and the
// first flush of its session after it. Flushes are few: with a limit, only
// the entries whose key stayed longer than it look theirs up; without, one
// window over all records finds them.
std::string followed_entries(const std::string &moves, const std::string &flushes,
                             std::optional<uint64_t> stayed_over_ns) {
  const std::string next_of_key =
      "  SELECT m.*, lead(m.what) OVER k AS next_what, lead(m.seq) OVER k AS next_seq,\n"
      "    lead(m.timestamp) OVER k AS next_at, lead(m.event) OVER k AS next_event";
  const std::string key_window =
      "  WINDOW k AS (PARTITION BY m.stage, m.source, m.session_id, m.key ORDER BY m.seq))";
  if (!stayed_over_ns)
    return "marks AS (\n" + moves + "\n  UNION ALL\n" + flushes + "),\nfollowed AS (\n" +
           next_of_key +
           ",\n"
           "    min(CASE WHEN m.what = 2 THEN m.seq END) OVER (PARTITION BY m.stage, m.source,\n"
           "      m.session_id ORDER BY m.seq DESC ROWS BETWEEN UNBOUNDED PRECEDING AND 1 "
           "PRECEDING)\n"
           "      AS flush_seq\n"
           "  FROM marks AS m\n" +
           key_window + ",\nentries AS (SELECT * FROM followed WHERE what = 0)";
  return "marks AS (\n" + moves + "),\nflushes AS MATERIALIZED (\n" + flushes +
         "),\nfollowed AS (\n" + next_of_key + "\n  FROM marks AS m\n" + key_window +
         ",\n"
         "entries AS (\n"
         "  SELECT m.*, (SELECT min(f.seq) FROM flushes AS f WHERE f.stage = m.stage\n"
         "      AND f.source IS m.source AND f.session_id = m.session_id AND f.seq > m.seq)\n"
         "    AS flush_seq\n"
         "  FROM followed AS m\n"
         "  WHERE m.what = 0 AND (m.next_what IS NOT 1 OR m.next_at - m.timestamp > " +
         std::to_string(*stayed_over_ns) + "))";
}

// One row per time a key entered one of the chosen steps (whole paths are not
// one stage), and how it left: 'left' by a leaving event of the stage (its
// name in left_by), 'flush' when a flush of its session and input came
// first, 'never' when neither came before the end or before the same key
// entered again (which the report counts as lost). With stayed_over_ns, only
// the keys that stayed longer before the next record of their stage.
std::string stage_passages(bool (*chosen)(const KeyStage &),
                           std::optional<uint64_t> stayed_over_ns = std::nullopt) {
  std::string moves, flushes;
  std::string from_names = "CASE m.stage", to_names = "CASE m.stage";
  for (size_t s = 0; s < stages().size(); ++s) {
    const KeyStage &stage = stages()[s];
    if (stage.whole_path || !chosen(stage)) continue;
    const StageMarks marks = marks_of_stage(s);
    append_union(moves, marks.moves);
    append_union(flushes, marks.flushes);
    const std::string when = " WHEN " + std::to_string(s) + " THEN '";
    from_names.append(when).append(short_name(stage.from)).append("'");
    to_names.append(when).append(short_name(kStagePairs[stage.primary_pair].to)).append("'");
  }
  std::string sql = "(WITH " + followed_entries(moves, flushes, stayed_over_ns) + ",\n";
  sql.append("ended AS (\n  SELECT m.*, ");
  sql.append(from_names).append(" END AS from_event,\n    ");
  sql.append(to_names).append(" END AS to_event,\n");
  sql.append(
      "    CASE WHEN m.flush_seq IS NOT NULL AND (m.next_seq IS NULL OR m.flush_seq < m.next_seq)\n"
      "      THEN 'flush' WHEN m.next_what = 1 THEN 'left' ELSE 'never' END AS how\n"
      "  FROM entries AS m)\n"
      "SELECT p.stage, p.from_event, p.to_event,\n"
      "  CASE p.how WHEN 'left' THEN p.next_event END AS left_by,\n"
      "  p.session_id, p.source AS input, p.key, p.timestamp AS entered,\n"
      "  CASE p.how WHEN 'left' THEN p.next_at WHEN 'flush' THEN f.timestamp END AS left, p.how,\n"
      "  CASE p.how WHEN 'never' THEN p.next_at END AS entered_again\n"
      "FROM ended AS p LEFT JOIN events AS f ON f.seq = p.flush_seq)");
  return sql;
}

bool any_step(const KeyStage &) {
  return true;
}

bool video_step(const KeyStage &stage) {
  return stage.chain != Chain::audio_packets;
}

// Keys held in one stage longer than the limit and then flushed, or never
// let go: held until the flush, or until the same key entered again, or
// until the last record of any session of the input.
std::string held_keys() {
  std::string sql =
      "CREATE VIEW held_keys AS\n"
      "SELECT session_id, input, from_event, to_event, key, entered, left, how,\n"
      "  held_ns / 1e3 AS held_us\n"
      "FROM (SELECT p.*, max(coalesce(p.left, p.entered_again,\n"
      "        (SELECT max(s.last_timestamp) FROM sessions AS s WHERE s.input IS p.input))\n"
      "        - p.entered, 0) AS held_ns\n"
      "      FROM ";
  sql.append(stage_passages(any_step, kHeldKeyNs));
  sql.append(" AS p WHERE p.how != 'left')\nWHERE held_ns > ");
  return sql.append(std::to_string(kHeldKeyNs));
}

// The video stages' pairs as rows of a VALUES list: their number among the
// video pairs, from 1 in pipeline order, their stage and their events.
std::string video_pairs() {
  std::string sql = "(VALUES ";
  int order = 0;
  for (size_t p = 0; p < kStagePairCount; ++p) {
    const StagePair &pair = kStagePairs[p];
    if (pair.chain == Chain::audio_packets || pair.role == PairRole::whole_path) continue;
    sql.append(order == 0 ? "" : ",\n    ");
    sql.append("(").append(std::to_string(++order));
    sql.append(", ").append(std::to_string(stage_of_pair(p)));
    sql.append(", '").append(short_name(pair.from)).append("', '").append(short_name(pair.to));
    sql.append("')");
  }
  return sql.append(")");
}

// One row per key and video stage pair: every time a key entered the pair's
// first stage, with the time it left by the pair's leaving event (NULL when
// it left otherwise, was flushed or never left).
std::string video_stage_latency() {
  std::string sql =
      "CREATE VIEW video_stage_latency AS\n"
      "SELECT v.column1 AS stage_pair, p.session_id, p.input, p.key, v.column3 AS from_event,\n"
      "  v.column4 AS to_event, p.entered AS from_timestamp,\n"
      "  CASE WHEN p.left_by = v.column4 THEN p.left END AS to_timestamp,\n"
      "  CASE WHEN p.left_by = v.column4 THEN p.left - p.entered END AS latency_ns\nFROM ";
  // CROSS JOIN: the passages are the outer loop, computed once.
  sql.append(stage_passages(video_step)).append(" AS p\nCROSS JOIN ").append(video_pairs());
  return sql.append(" AS v ON v.column2 = p.stage");
}

}  // namespace

std::vector<std::string> create_view_sql() {
  return {audio_packet_path(), audio_stage_latency(), display_intervals(),  stalls(),
          silence_runs(),      held_keys(),           video_stage_latency()};
}

}  // namespace vxtrace
