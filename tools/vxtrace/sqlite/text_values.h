// Text as the database stores it. SQLite keeps TEXT as bytes, but readers
// (Python's sqlite3, pandas) decode it as UTF-8 and fail on anything else, so
// a name that is not valid UTF-8 is stored as a BLOB of its exact bytes.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

namespace vxtrace {

// Binds text as TEXT when it is valid UTF-8, else as a BLOB. Bound as
// SQLITE_STATIC, the bytes must live until the statement has run.
int bind_name(sqlite3_stmt *statement, int parameter, std::string_view text,
              sqlite3_destructor_type lifetime = SQLITE_STATIC);

}  // namespace vxtrace
