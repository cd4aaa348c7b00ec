// vxtrace sqlite: the trace as one typed SQLite database (docs/sqlite.md).
#pragma once

#include <string>

#include "cli/command.h"
#include "core/options.h"

namespace vxtrace {

struct SqliteOptions {
  InputOptions in;
  std::string output;
  bool force = false;  // replace an existing database
};

// 0 when the database is complete; 2 when the input was damaged (the
// database then holds every record before the damage and says so in meta);
// 1 when no database was written.
int run_sqlite(const SqliteOptions &options);

// The command as main.cpp lists it.
Command sqlite_command();

}  // namespace vxtrace
