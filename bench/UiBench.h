#pragma once

namespace tarnwell::bench {

// The --ui measurement of tarnwell-bench (see UiBench.cpp). Makes its own
// application object on the offscreen platform unless one exists; returns the
// process exit code.
int runUiBench(int argc, char** argv);

}  // namespace tarnwell::bench
