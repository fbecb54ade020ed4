#pragma once

#include <string>

#include "BenchSupport.h"

namespace tarnwell::bench {

// The data layer's figures: how soon the first packet of a large result
// arrives and what it costs in memory, how fast rows are walked into a client
// dataset through the alias engine compared with psql and the sqlite3 shell
// reading the same rows, and how many bytes a row held takes against its
// text. PostgreSQL figures need options.pgConninfo, MariaDB figures (the
// native backend's, and the ODBC driver's first packet beside them)
// options.mariaDbConninfo; SQLite figures always run. Returns the process
// exit code.
int runDataLayerBench(const Options& options);

// The server table the data layer's figures read: `rows` rows of five columns
// (integer, text of 20 to 40 characters, numeric(12,2), timestamp, boolean),
// made once and kept. Its name.
std::string ensureFiveColumnPgTable(db::Connection& connection, long long rows);
// The same five columns in table t of a new SQLite file, `rows` rows.
void createFiveColumnSqliteTable(const std::string& path, long long rows);

}  // namespace tarnwell::bench
