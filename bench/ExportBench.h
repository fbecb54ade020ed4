#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The --export figures (see ExportBench.cpp): a query window's exports of a
// large result against the command-line tools' own CSV output, and the memory
// an export takes. PostgreSQL figures need options.pgConninfo. Returns the
// exit code.
int runExportBench(const Options& options);

}  // namespace tarnwell::bench
