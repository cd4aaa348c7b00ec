// The tables of the event kinds, derived from the payload descriptions: one
// table per kind, named by its short name, with `seq` and then one typed column
// per payload field in wire order. Nested records are flattened with '_'
// ("packet_session_id"); a blob becomes its size and its bytes ("url_size",
// "url"). Nothing here names an event or a field by hand.
#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "schema/payload_fields.h"

namespace vxtrace {

// A field's wire type, as the payload descriptions name it.
enum class WireType { u8, u16, i16, u32, i32, u64, i64, f32, blob_size, blob };

struct Column {
  std::string name;
  WireType type;
};

struct PayloadTable {
  EventKind kind;
  std::string name;             // the kind's short name
  std::vector<Column> columns;  // after seq, in wire order
  // The session's place in a row of seq and the columns, from 1; 0 for none.
  int session_parameter = 0;
};

// The table of one kind.
PayloadTable payload_table(EventKind kind);

// The table's CREATE TABLE statement.
std::string create_table_sql(const PayloadTable &table);

// Binds a decoded record's fields to an INSERT of its kind's table: its row
// starts at parameter row_parameter with seq, the fields follow. Keeps the
// session the record carries. Integers are bound as 64-bit: a u64 keeps its
// bit pattern, so values above 2^63-1 read back as negative (see
// docs/sqlite.md). A NaN is NULL; a blob binds its size, then a copy of its
// bytes (an empty blob is X'', not NULL).
class FieldBinder {
 public:
  FieldBinder(sqlite3_stmt *statement, const PayloadTable &table, int row_parameter)
      : statement_(statement),
        parameter_(row_parameter + 1),
        session_parameter_(
            table.session_parameter == 0 ? 0 : row_parameter - 1 + table.session_parameter) {}

  template <class T>
  void field(const char *, T value) {
    if constexpr (std::is_same_v<T, float>) {
      if (std::isnan(value))
        result_ |= sqlite3_bind_null(statement_, parameter_++);
      else
        result_ |= sqlite3_bind_double(statement_, parameter_++, value);
    } else {
      const auto bits = static_cast<int64_t>(value);
      if (parameter_ == session_parameter_) session_ = bits;
      result_ |= sqlite3_bind_int64(statement_, parameter_++, bits);
    }
  }
  void blob(const char *, const byte_blob &blob) {
    result_ |= sqlite3_bind_int(statement_, parameter_++, blob.size);
    if (blob.size == 0)
      result_ |= sqlite3_bind_zeroblob(statement_, parameter_++, 0);
    else if (blob.data == nullptr)
      result_ |= sqlite3_bind_null(statement_, parameter_++);
    else
      result_ |=
          sqlite3_bind_blob(statement_, parameter_++, blob.data, blob.size, SQLITE_TRANSIENT);
  }
  void begin_record(const char *) {}
  void end_record() {}

  // False when a bind failed (the statement does not fit the record).
  bool ok() const { return result_ == SQLITE_OK; }
  // The session the record carries; -1 for none.
  int64_t session() const { return session_; }

 private:
  sqlite3_stmt *statement_;
  int parameter_;
  int session_parameter_;
  int result_ = SQLITE_OK;
  int64_t session_ = -1;
};

}  // namespace vxtrace
