// Rows of one table inserted kRows at a time by one multi-row INSERT: a
// statement per row would reopen the table's cursor and run the statement's
// set-up for every row, which costs more than the row itself.
//
// Each row is bound into the next free slot of the statement (its first
// parameter is next_parameter(), which takes the row's seq); the statement
// runs when every slot is bound. Values bound as SQLITE_STATIC must live until
// it has run: bytes that do not belong to the loader are bound as
// SQLITE_TRANSIENT (copied).
//
// The rows left when the load ends are written by flush, which runs the same
// statement with the free slots made copies of the batch's first seq and
// NULLs: the statement is INSERT OR IGNORE, and a seq that is already in the
// table is skipped, so they add nothing.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace vxtrace {

class BatchedInsert {
 public:
  static constexpr int kRows = 32;

  BatchedInsert() = default;
  BatchedInsert(const BatchedInsert &) = delete;
  BatchedInsert &operator=(const BatchedInsert &) = delete;
  BatchedInsert(BatchedInsert &&other) noexcept { *this = std::move(other); }
  BatchedInsert &operator=(BatchedInsert &&other) noexcept;
  ~BatchedInsert() { sqlite3_finalize(statement_); }

  // Prepares the insert into table (a quoted name) of rows of columns values,
  // seq first. An SQLite result code.
  int prepare(sqlite3 *db, const std::string &table, int columns);
  bool prepared() const { return statement_ != nullptr; }

  sqlite3_stmt *statement() const { return statement_; }
  int next_parameter() const { return rows_ * columns_ + 1; }

  // Counts the row just bound, whose seq is seq (bound, or given to SQLite
  // as NULL to take the next rowid), and runs the statement once all slots
  // are bound. An SQLite result code: SQLITE_OK when nothing failed.
  int row_bound(int64_t seq) {
    if (rows_ == 0) first_seq_ = seq;
    if (++rows_ < kRows) return SQLITE_OK;
    return run();
  }

  // Runs the statement for the rows bound so far, if any.
  int flush();

 private:
  int run();

  sqlite3_stmt *statement_ = nullptr;
  int columns_ = 0;
  int rows_ = 0;
  int64_t first_seq_ = 0;
};

}  // namespace vxtrace
