#include "sqlite/views.h"

#include <iterator>

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

}  // namespace

std::vector<std::string> create_view_sql() {
  return {audio_packet_path(), audio_stage_latency(), display_intervals()};
}

}  // namespace vxtrace
