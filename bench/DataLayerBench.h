#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The data layer's figures: how soon the first packet of a large result
// arrives and what it costs in memory, how fast rows are walked into a client
// dataset through the alias engine compared with psql and the sqlite3 shell
// reading the same rows, and how many bytes a row held takes against its
// text. PostgreSQL figures need options.pgConninfo; SQLite figures always
// run. Returns the process exit code.
int runDataLayerBench(const Options& options);

}  // namespace tarnwell::bench
