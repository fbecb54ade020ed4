#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The --ui figures (see UiBench.cpp): a query window, offscreen, running long
// statements on the server of options.pgConninfo. Returns the exit code.
int runUiBench(const Options& options);

}  // namespace tarnwell::bench
