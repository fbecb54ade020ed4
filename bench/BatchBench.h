#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// `tarnwell --run` writing CSV against psql's \copy and the sqlite3 shell on
// the same queries, whole processes: rows per second and peak memory (see
// BatchBench.cpp). Returns the process exit code.
int runBatchBench(const Options& options);

}  // namespace tarnwell::bench
