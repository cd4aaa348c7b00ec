#include "sqlite/sqlite_loader.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>

#include "sqlite/text_values.h"
#include "sqlite/views.h"
#include "text/json_writer.h"

namespace vxtrace {
namespace {

// Set while loading: the file is thrown away unless finish completes, so
// nothing needs a journal or a sync until then.
//
// The page cache is small on purpose: rows are appended, so the load keeps
// only the right edge of each table in memory; and CREATE INDEX sorts runs as
// large as the cache, then merges them. Runs that fit the processor's caches
// sort faster than runs of tens of MiB, whose comparisons wait on memory: on
// the bench mix a whole load takes about 13% less time than with 32 MiB.
constexpr const char *kBulkLoadPragmas[] = {
    "PRAGMA journal_mode = OFF", "PRAGMA synchronous = OFF", "PRAGMA locking_mode = EXCLUSIVE",
    "PRAGMA cache_size = -2048",  // KiB
};

// Set back after the commit, for any later use of the connection; the file
// itself is synced when it is renamed into place (OutputFile::commit).
constexpr const char *kSafePragmas[] = {
    "PRAGMA journal_mode = DELETE",
    "PRAGMA synchronous = FULL",
    "PRAGMA locking_mode = NORMAL",
};

constexpr const char *kFixedTables[] = {
    "CREATE TABLE events (seq INTEGER PRIMARY KEY, timestamp INTEGER, event TEXT, id INTEGER,"
    " session_id INTEGER, source TEXT)",
    "CREATE TABLE undecoded (seq INTEGER PRIMARY KEY REFERENCES events (seq), reason TEXT,"
    " raw BLOB)",
    "CREATE TABLE definitions (source TEXT, id INTEGER, name TEXT)",
    "CREATE TABLE meta (key TEXT PRIMARY KEY, value)",
    "CREATE TABLE sessions (session_id INTEGER, input TEXT, first_timestamp INTEGER,"
    " last_timestamp INTEGER, records INTEGER)",
};

constexpr const char *kIndexes[] = {
    "CREATE INDEX events_timestamp ON events (timestamp)",
    "CREATE INDEX events_event ON events (event)",
};

constexpr const char *kU64Encoding =
    "u64 values are stored as their 64-bit pattern in a signed INTEGER: values above "
    "9223372036854775807 read back as the value minus 2^64; printf('%llu', column) gives the "
    "exact decimal";

std::string_view default_problem(const LoadRecord &record) {
  if (!record.event) return "unknown event id";
  if (!record.kind) return "no decoder for this event";
  return "payload could not be decoded";
}

// "table.column" of every u64 column, the timestamps first.
std::string u64_columns() {
  std::string list = "events.timestamp, sessions.first_timestamp, sessions.last_timestamp";
  for (size_t i = 0; i < kEventKindCount; ++i) {
    const PayloadTable table = payload_table(static_cast<EventKind>(i));
    for (const Column &column : table.columns)
      if (column.type == WireType::u64) list += ", " + table.name + "." + column.name;
  }
  return list;
}

int bind_bytes(sqlite3_stmt *statement, int parameter, std::span<const uint8_t> bytes) {
  // A null pointer would bind NULL: an empty payload is an empty blob.
  if (bytes.empty()) return sqlite3_bind_zeroblob(statement, parameter, 0);
  return sqlite3_bind_blob(statement, parameter, bytes.data(), static_cast<int>(bytes.size()),
                           SQLITE_STATIC);
}

}  // namespace

SqliteLoader::SqliteLoader() = default;

SqliteLoader::~SqliteLoader() {
  close_database();
  discard_output();
}

const std::string &SqliteLoader::temporary_path() const {
  static const std::string none;
  return output_ != nullptr ? output_->temporary_path() : none;
}

// The database's file and the journals SQLite may have left beside it.
void SqliteLoader::discard_output() {
  if (output_ == nullptr) return;
  const std::string database = output_->temporary_path();
  output_->discard();
  if (database.empty()) return;
  for (const char *suffix : {"-journal", "-wal", "-shm"}) unlink((database + suffix).c_str());
}

bool SqliteLoader::open(const LoaderOptions &options) {
  options_ = options;
  if (options.output != nullptr) {
    output_ = options.output;
  } else {
    if (options.output_path.empty()) return fail("the output path is empty");
    own_output_.emplace(OutputRequest{.path = options.output_path,
                                      .existing_needs_force = true,
                                      .force = options.force,
                                      .regular_file_only = true});
    output_ = &*own_output_;
    // The file's own message went to standard error.
    if (!output_->acceptable() || !output_->open())
      return fail(options.output_path + ": the database file cannot be made");
  }
  if (!output_->open()) return fail(options.output_path + ": the database file cannot be made");
  const int opened =
      sqlite3_open_v2(output_->temporary_path().c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  usable_ = true;
  bool ready = opened == SQLITE_OK || fail_sqlite("cannot create the database");
  for (const char *pragma : kBulkLoadPragmas) ready = ready && exec(pragma);
  ready = ready && exec("BEGIN") && create_schema() && prepare_statements();
  if (!ready) {
    close_database();
    discard_output();
  }
  return ready;
}

bool SqliteLoader::create_schema() {
  for (const char *sql : kFixedTables)
    if (!exec(sql)) return false;
  for (size_t i = 0; i < kEventKindCount; ++i)
    if (!exec(create_table_sql(payload_table(static_cast<EventKind>(i))))) return false;
  for (const std::string &sql : create_view_sql())
    if (!exec(sql)) return false;
  return true;
}

bool SqliteLoader::prepare_statements() {
  if (!batch_result(insert_events_.prepare(db_, "events", 6)) ||
      !prepare("INSERT INTO undecoded VALUES (?, ?, ?)", &insert_undecoded_) ||
      !prepare("INSERT INTO definitions VALUES (?, ?, ?)", &insert_definition_))
    return false;
  kind_inserts_.resize(kEventKindCount);
  return true;
}

bool SqliteLoader::add_definition(uint32_t source, uint32_t id, std::string_view name) {
  if (!usable_) return false;
  if (!bind_source(insert_definition_, 1, source)) return false;
  sqlite3_bind_int64(insert_definition_, 2, id);
  bind_name(insert_definition_, 3, name);
  if (!step(insert_definition_)) return false;
  ++definitions_;
  return true;
}

bool SqliteLoader::add_record(const LoadRecord &record) {
  if (!usable_) return false;
  const auto seq = static_cast<int64_t>(records_ + 1);
  int64_t session = -1;
  const bool inserted = record.kind && record.decoded != nullptr
                            ? insert_payload(record, seq, &session)
                            : insert_undecoded(record, seq);
  if (!inserted || !insert_event(record, seq, session)) return false;
  if (session >= 0) note_session(record.source, session, record.timestamp);
  ++records_;
  return true;
}

bool SqliteLoader::insert_payload(const LoadRecord &record, int64_t seq, int64_t *session) {
  KindInsert &insert = kind_inserts_[static_cast<size_t>(*record.kind)];
  if (!insert.batch.prepared()) {
    insert.table = payload_table(*record.kind);
    insert.event_name = std::string(kEventNamePrefix) + insert.table.name;
    const int columns = static_cast<int>(insert.table.columns.size()) + 1;
    if (!batch_result(insert.batch.prepare(db_, '"' + insert.table.name + '"', columns)))
      return false;
  }
  sqlite3_stmt *statement = insert.batch.statement();
  const int row = insert.batch.next_parameter();
  FieldBinder binder(statement, insert.table, row);
  visit_payload(*record.kind, record.decoded, binder);
  if (!binder.ok() || sqlite3_bind_int64(statement, row, seq) != SQLITE_OK)
    return fail_sqlite("cannot bind a payload");
  *session = binder.session();
  return batch_result(insert.batch.row_bound(seq));
}

bool SqliteLoader::insert_undecoded(const LoadRecord &record, int64_t seq) {
  const std::string_view problem =
      record.problem.empty() ? default_problem(record) : record.problem;
  sqlite3_bind_int64(insert_undecoded_, 1, seq);
  bind_name(insert_undecoded_, 2, problem);
  if (bind_bytes(insert_undecoded_, 3, record.raw) != SQLITE_OK)
    return fail_sqlite("cannot bind an undecoded payload");
  ++undecoded_;
  return step(insert_undecoded_);
}

bool SqliteLoader::insert_event(const LoadRecord &record, int64_t seq, int64_t session) {
  sqlite3_stmt *statement = insert_events_.statement();
  const int row = insert_events_.next_parameter();
  // NULL: SQLite appends the row as the next rowid, which is seq, without
  // searching the table for it.
  sqlite3_bind_null(statement, row);
  sqlite3_bind_int64(statement, row + 1, static_cast<int64_t>(record.timestamp));
  // A catalogue name is bound from the loader's own copy, which outlives the
  // batch; any other name is copied.
  const std::string *catalogue_name =
      record.kind ? &kind_inserts_[static_cast<size_t>(*record.kind)].event_name : nullptr;
  if (!record.event)
    sqlite3_bind_null(statement, row + 2);
  else if (catalogue_name != nullptr && *catalogue_name == *record.event)
    sqlite3_bind_text(statement, row + 2, catalogue_name->data(),
                      static_cast<int>(catalogue_name->size()), SQLITE_STATIC);
  else
    bind_name(statement, row + 2, *record.event, SQLITE_TRANSIENT);
  sqlite3_bind_int64(statement, row + 3, record.id);
  if (session < 0)
    sqlite3_bind_null(statement, row + 4);
  else
    sqlite3_bind_int64(statement, row + 4, session);
  return bind_source(statement, row + 5, record.source) &&
         batch_result(insert_events_.row_bound(seq));
}

void SqliteLoader::note_session(uint32_t source, int64_t session, uint64_t timestamp) {
  const std::pair key{source, session};
  // Records of one session come in runs: most need no search of the map.
  if (last_session_ == nullptr || key != last_session_key_) {
    auto [found, added] = sessions_.try_emplace(key, SessionSpan{timestamp, timestamp, 0});
    last_session_key_ = key;
    last_session_ = &found->second;
  }
  last_session_->first = std::min(last_session_->first, timestamp);
  last_session_->last = std::max(last_session_->last, timestamp);
  ++last_session_->records;
}

bool SqliteLoader::write_sessions() {
  sqlite3_stmt *insert = nullptr;
  if (!prepare("INSERT INTO sessions VALUES (?, ?, ?, ?, ?)", &insert)) return false;
  bool written = true;
  for (const auto &[key, span] : sessions_) {
    sqlite3_bind_int64(insert, 1, key.second);
    written = written && bind_source(insert, 2, key.first);
    sqlite3_bind_int64(insert, 3, static_cast<int64_t>(span.first));
    sqlite3_bind_int64(insert, 4, static_cast<int64_t>(span.last));
    sqlite3_bind_int64(insert, 5, static_cast<int64_t>(span.records));
    written = written && step(insert);
  }
  sqlite3_finalize(insert);
  return written;
}

bool SqliteLoader::bind_source(sqlite3_stmt *statement, int parameter, uint32_t source) {
  const size_t inputs = options_.inputs.size();
  if (source >= inputs && inputs > 0)
    return fail(options_.output_path + ": a record names input " + std::to_string(source) + " of " +
                std::to_string(inputs));
  if (inputs <= 1)
    sqlite3_bind_null(statement, parameter);
  else
    bind_name(statement, parameter, options_.inputs[source]);
  return true;
}

bool SqliteLoader::finish(const LoadEnd &end) {
  if (!usable_) return false;
  const FinishProgress &progress = end.progress;
  const auto step = [&](std::string_view name) {
    if (progress.step) progress.step(name);
    return true;
  };
  const bool done = step("writing the last rows") && flush_batches() && write_sessions() &&
                    write_meta(end) && build_indexes(progress) && step("committing") &&
                    commit_and_close();
  usable_ = false;
  if (!done) {
    close_database();
    discard_output();
    return false;
  }
  // The file's own message went to standard error.
  if (!output_->commit()) return fail(options_.output_path + ": the database could not be saved");
  return true;
}

// Index building takes seconds on a large trace: SQLite calls back now and
// then so that the progress line keeps moving.
bool SqliteLoader::build_indexes(const FinishProgress &progress) {
  if (progress.step) progress.step("building indexes");
  if (progress.working)
    sqlite3_progress_handler(
        db_, 100'000,
        [](void *working) {
          (*static_cast<const std::function<void()> *>(working))();
          return 0;
        },
        const_cast<std::function<void()> *>(&progress.working));
  bool built = true;
  for (const char *sql : kIndexes) built = built && exec(sql);
  sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  return built;
}

bool SqliteLoader::flush_batches() {
  for (KindInsert &insert : kind_inserts_)
    if (!batch_result(insert.batch.flush())) return false;
  if (!batch_result(insert_events_.flush())) return false;
  // The events took their seq from SQLite as the next rowid; it must have
  // counted as the loader did, or payload rows would point at other events.
  sqlite3_stmt *last = nullptr;
  if (!prepare("SELECT coalesce(max(seq), 0) FROM events", &last)) return false;
  const bool counted = sqlite3_step(last) == SQLITE_ROW &&
                       sqlite3_column_int64(last, 0) == static_cast<int64_t>(records_);
  sqlite3_finalize(last);
  return counted || fail(options_.output_path + ": the events are not numbered 1 to " +
                         std::to_string(records_));
}

bool SqliteLoader::write_meta(const LoadEnd &end) {
  sqlite3_stmt *insert = nullptr;
  if (!prepare("INSERT INTO meta VALUES (?, ?)", &insert)) return false;
  const auto text = [&](const char *key, const std::string &value) {
    sqlite3_bind_text(insert, 1, key, -1, SQLITE_STATIC);
    bind_name(insert, 2, value);
    return step(insert);
  };
  const auto number = [&](const char *key, uint64_t value) {
    sqlite3_bind_text(insert, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(insert, 2, static_cast<int64_t>(value));
    return step(insert);
  };
  const bool written =
      text("tool", "vxtrace") && text("tool_version", options_.tool_version) &&
      text("inputs", json_string_array(options_.inputs, JsonEscaping::html_safe)) &&
      number("records", records_) && number("undecoded", undecoded_) &&
      number("definitions", definitions_) && text("status", end.damaged ? "damaged" : "complete") &&
      (!end.damaged || text("damage", end.where)) &&
      (end.selection.empty() || text("selection", end.selection)) &&
      text("u64_encoding", kU64Encoding) && text("u64_columns", u64_columns());
  sqlite3_finalize(insert);
  return written;
}

bool SqliteLoader::commit_and_close() {
  if (!exec("COMMIT")) return false;
  for (const char *pragma : kSafePragmas)
    if (!exec(pragma)) return false;
  close_database();
  return error_.empty();
}

void SqliteLoader::close_database() {
  kind_inserts_.clear();
  insert_events_ = BatchedInsert();
  for (sqlite3_stmt **statement : {&insert_undecoded_, &insert_definition_}) {
    sqlite3_finalize(*statement);
    *statement = nullptr;
  }
  if (db_ != nullptr && sqlite3_close(db_) != SQLITE_OK && error_.empty())
    fail_sqlite("cannot close the database");
  db_ = nullptr;
}

bool SqliteLoader::exec(const std::string &sql) {
  char *message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  const std::string cause = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return fail(options_.output_path + ": " + cause + " (in: " + sql.substr(0, 80) + ")");
}

bool SqliteLoader::prepare(const std::string &sql, sqlite3_stmt **statement) {
  if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         statement, nullptr) == SQLITE_OK)
    return true;
  return fail_sqlite("cannot prepare a statement");
}

bool SqliteLoader::step(sqlite3_stmt *statement) {
  const int result = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (result == SQLITE_DONE) return true;
  return fail_sqlite("cannot write");
}

bool SqliteLoader::batch_result(int result) {
  return result == SQLITE_OK || fail_sqlite("cannot write");
}

bool SqliteLoader::fail_sqlite(const char *what) {
  const char *cause = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
  return fail(options_.output_path + ": " + what + ": " + cause);
}

bool SqliteLoader::fail(const std::string &message) {
  if (error_.empty()) error_ = message;
  usable_ = false;
  return false;
}

}  // namespace vxtrace
