// Loads a trace into one SQLite database, one record at a time:
//
//   SqliteLoader loader;
//   if (!loader.open({.output_path = "trace.db", .inputs = {"trace.vxt"}}))
//     return report(loader.error());
//   loader.add_definition(0, 5, "/velocast/audio_flush");  // as they are read
//   loader.add_record({.timestamp = t, .id = 5, .event = name, .kind = kind,
//                      .decoded = record});
//   loader.finish({});  // or {.damaged = true, .where = "..."}
//
// The database (docs/sqlite.md): events(seq, timestamp, event, id, session_id,
// source), sessions(session_id, input, first_timestamp, last_timestamp,
// records), one table per event kind with the payload's typed columns,
// undecoded(seq, reason, raw), definitions(source, id, name), meta(key,
// value), indexes on events(timestamp) and events(event), and views for
// stage latencies, display intervals, stalls, silence runs and held keys. The per-kind tables are
// derived from the payload descriptions (sqlite/payload_tables.h).
//
// Integers are stored as 64-bit INTEGER; a u64 keeps its bit pattern, so a
// value above 2^63-1 reads back as that value minus 2^64 (exact through
// printf('%llu', column) in SQL or value % 2**64 in Python). A NaN is NULL.
//
// Loading is one transaction with a prepared statement per table, each
// inserting rows in batches (sqlite/batched_insert.h), and pragmas for a bulk
// load (no journal, no syncs); finish creates the indexes, sets the
// safe pragmas back, commits, syncs and renames the file from its
// temporary name. Until then the database exists only under a temporary name
// in the output's folder, which the destructor removes: a run that fails or is
// interrupted leaves no file under the final name.
//
// Every call after a failure returns false; error() names the output file and
// the cause. One thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/output_file.h"
#include "schema/event_kind.h"
#include "sqlite/batched_insert.h"
#include "sqlite/payload_tables.h"

namespace vxtrace {

struct LoaderOptions {
  std::string output_path;
  bool force = false;  // replace an existing file
  // The inputs as the user named them, for meta; with more than one, each
  // record's and definition's source is stored as its input's name (with one,
  // source is NULL, as dump leaves it out).
  std::vector<std::string> inputs;
  std::string tool_version;
  // The database's file, prepared by the caller with the other outputs;
  // null: the loader makes one of output_path and force.
  OutputFile *output = nullptr;
};

// One data record as the reading loop has it. The pointers need only live
// until add_record returns.
struct LoadRecord {
  uint32_t source = 0;  // index into LoaderOptions::inputs
  uint64_t timestamp = 0;
  uint32_t id = 0;
  std::optional<std::string_view> event;  // the name bound to id; none for an unknown id
  std::optional<EventKind> kind;          // when the name is a catalogue event
  // The decoded payload: the struct of vexlo/velocast_payloads.h for kind.
  // Null when the record could not be decoded; it then goes to `undecoded`
  // with the problem (empty: "unknown event id", "no decoder for this event"
  // or "payload could not be decoded", by what is missing) and its raw bytes.
  const void *decoded = nullptr;
  std::string_view problem;
  std::span<const uint8_t> raw;  // the payload bytes; stored only for undecoded records
};

// Told what finish is doing, for a progress line: each step as it begins
// ("building indexes"), and now and then while a long step works.
struct FinishProgress {
  std::function<void(std::string_view step)> step;
  std::function<void()> working;
};

// How the input ended, and what of it was kept.
struct LoadEnd {
  bool damaged = false;
  std::string where;  // when damaged: the input, byte offset and problem, as reported
  // The selection as given ("--begin +1s --session 3"), "" for the whole
  // trace: a windowed database must not pass for the whole recording.
  std::string selection;
  FinishProgress progress;
};

class SqliteLoader {
 public:
  SqliteLoader();
  SqliteLoader(const SqliteLoader &) = delete;
  SqliteLoader &operator=(const SqliteLoader &) = delete;
  // Without a successful finish, closes and removes the temporary file.
  ~SqliteLoader();

  // Creates the temporary database with its schema. Refuses an existing
  // output unless options.force.
  bool open(const LoaderOptions &options);

  // An event definition of an input, in the order read.
  bool add_definition(uint32_t source, uint32_t id, std::string_view name);

  // One data record; its seq is the number of records added before it plus 1.
  bool add_record(const LoadRecord &record);

  // Writes meta, creates the indexes, commits and gives the file its final
  // name. The loader is done afterwards, whatever the result.
  bool finish(const LoadEnd &end);

  const std::string &error() const { return error_; }
  uint64_t records() const { return records_; }
  // Where the database is written until finish; for a signal handler that
  // removes it. Empty once finished or discarded.
  const std::string &temporary_path() const;

 private:
  // A kind's table and its insert, prepared when the kind first occurs.
  struct KindInsert {
    PayloadTable table;
    std::string event_name;  // "/velocast/" and the short name
    BatchedInsert batch;
  };

  bool create_schema();
  bool prepare_statements();
  bool insert_payload(const LoadRecord &record, int64_t seq, int64_t *session);
  bool insert_undecoded(const LoadRecord &record, int64_t seq);
  bool insert_event(const LoadRecord &record, int64_t seq, int64_t session);
  bool bind_source(sqlite3_stmt *statement, int parameter, uint32_t source);
  bool batch_result(int result);
  bool flush_batches();
  bool write_meta(const LoadEnd &end);
  void note_session(uint32_t source, int64_t session, uint64_t timestamp);
  bool write_sessions();
  bool build_indexes(const FinishProgress &progress);
  void discard_output();
  bool commit_and_close();
  bool exec(const std::string &sql);
  bool prepare(const std::string &sql, sqlite3_stmt **statement);
  bool step(sqlite3_stmt *statement);
  bool fail_sqlite(const char *what);
  bool fail(const std::string &message);
  void close_database();

  LoaderOptions options_;
  std::optional<OutputFile> own_output_;
  OutputFile *output_ = nullptr;
  sqlite3 *db_ = nullptr;
  BatchedInsert insert_events_;
  sqlite3_stmt *insert_undecoded_ = nullptr;
  sqlite3_stmt *insert_definition_ = nullptr;
  std::vector<KindInsert> kind_inserts_;  // by EventKind
  // Each session's first and last timestamp and records, by input and id:
  // a few entries, kept while loading rather than found again by a pass
  // over the events.
  struct SessionSpan {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t records = 0;
  };
  std::map<std::pair<uint32_t, int64_t>, SessionSpan> sessions_;
  std::pair<uint32_t, int64_t> last_session_key_{UINT32_MAX, -1};
  SessionSpan *last_session_ = nullptr;
  uint64_t records_ = 0;
  uint64_t undecoded_ = 0;
  uint64_t definitions_ = 0;
  bool usable_ = false;
  std::string error_;
};

}  // namespace vxtrace
