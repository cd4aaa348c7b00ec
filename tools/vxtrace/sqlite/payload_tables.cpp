#include "sqlite/payload_tables.h"

#include <cstring>

namespace vxtrace {
namespace {

template <class T>
constexpr WireType wire_type_of() {
  if constexpr (std::is_same_v<T, uint8_t>) return WireType::u8;
  if constexpr (std::is_same_v<T, uint16_t>) return WireType::u16;
  if constexpr (std::is_same_v<T, int16_t>) return WireType::i16;
  if constexpr (std::is_same_v<T, uint32_t>) return WireType::u32;
  if constexpr (std::is_same_v<T, int32_t>) return WireType::i32;
  if constexpr (std::is_same_v<T, uint64_t>) return WireType::u64;
  if constexpr (std::is_same_v<T, int64_t>) return WireType::i64;
  if constexpr (std::is_same_v<T, float>) return WireType::f32;
}

// Collects the columns of a payload's shape. The session is the top-level
// "session_id" or the nested packet's, as session_of finds it.
class ColumnCollector {
 public:
  explicit ColumnCollector(PayloadTable *table) : table_(table) {}

  template <class T>
  void field(const char *key, T) {
    add(key, wire_type_of<T>());
    const bool session_key = std::strcmp(key, "session_id") == 0;
    if (session_key && (prefix_.empty() || prefix_ == "packet_"))
      table_->session_parameter = static_cast<int>(table_->columns.size()) + 1;
  }
  void blob(const char *key, const byte_blob &) {
    add(std::string(key) + "_size", WireType::blob_size);
    add(key, WireType::blob);
  }
  void begin_record(const char *key) {
    outer_prefix_lengths_.push_back(prefix_.size());
    prefix_ += std::string(key) + "_";
  }
  void end_record() {
    prefix_.resize(outer_prefix_lengths_.back());
    outer_prefix_lengths_.pop_back();
  }

 private:
  void add(const std::string &key, WireType type) {
    table_->columns.push_back({prefix_ + key, type});
  }

  PayloadTable *table_;
  std::string prefix_;
  std::vector<size_t> outer_prefix_lengths_;
};

const char *sql_type(WireType type) {
  switch (type) {
    case WireType::f32:
      return "REAL";
    case WireType::blob:
      return "BLOB";
    default:
      return "INTEGER";
  }
}

std::string quoted(const std::string &identifier) {
  return '"' + identifier + '"';
}

}  // namespace

PayloadTable payload_table(EventKind kind) {
  PayloadTable table{kind, std::string(short_name(kind)), {}, 0};
  ColumnCollector collector(&table);
  visit_payload_shape(kind, collector);
  return table;
}

std::string create_table_sql(const PayloadTable &table) {
  std::string sql =
      "CREATE TABLE " + quoted(table.name) + " (seq INTEGER PRIMARY KEY REFERENCES events (seq)";
  for (const Column &column : table.columns)
    sql += ", " + quoted(column.name) + " " + sql_type(column.type);
  return sql + ")";
}

}  // namespace vxtrace
