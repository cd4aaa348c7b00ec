#include "sqlite/text_values.h"

#include <cstdint>
#include <cstdio>

#include "text/utf8.h"

namespace vxtrace {

int bind_name(sqlite3_stmt *statement, int parameter, std::string_view text,
              sqlite3_destructor_type lifetime) {
  // A null pointer would bind NULL; an empty name stays an empty text.
  const char *bytes = text.data() != nullptr ? text.data() : "";
  const int size = static_cast<int>(text.size());
  if (is_valid_utf8(text)) return sqlite3_bind_text(statement, parameter, bytes, size, lifetime);
  return sqlite3_bind_blob(statement, parameter, bytes, size, lifetime);
}

}  // namespace vxtrace
