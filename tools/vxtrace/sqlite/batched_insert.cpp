#include "sqlite/batched_insert.h"

#include <utility>

namespace vxtrace {

BatchedInsert &BatchedInsert::operator=(BatchedInsert &&other) noexcept {
  std::swap(statement_, other.statement_);
  std::swap(columns_, other.columns_);
  std::swap(rows_, other.rows_);
  std::swap(first_seq_, other.first_seq_);
  return *this;
}

int BatchedInsert::prepare(sqlite3 *db, const std::string &table, int columns) {
  std::string row = "(?";
  for (int i = 1; i < columns; ++i) row += ", ?";
  row += ")";
  std::string sql = "INSERT OR IGNORE INTO " + table + " VALUES " + row;
  for (int i = 1; i < kRows; ++i) sql += ", " + row;
  columns_ = columns;
  rows_ = 0;
  return sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                            SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
}

int BatchedInsert::flush() {
  if (rows_ == 0) return SQLITE_OK;
  // Every value of a free slot is replaced, not only seq: the slot may still
  // point at bytes that are gone.
  for (int slot = rows_; slot < kRows; ++slot) {
    const int first = slot * columns_ + 1;
    sqlite3_bind_int64(statement_, first, first_seq_);
    for (int parameter = first + 1; parameter < first + columns_; ++parameter)
      sqlite3_bind_null(statement_, parameter);
  }
  return run();
}

int BatchedInsert::run() {
  rows_ = 0;
  const int result = sqlite3_step(statement_);
  sqlite3_reset(statement_);
  return result == SQLITE_DONE ? SQLITE_OK : result;
}

}  // namespace vxtrace
