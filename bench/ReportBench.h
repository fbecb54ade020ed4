#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The --report figures (see ReportBench.cpp): the report engine over 100,000
// synthetic records, offscreen, no server needed. Returns the exit code.
int runReportBench(const Options& options);

}  // namespace tarnwell::bench
