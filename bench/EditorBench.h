#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The --editor figures (see EditorBench.cpp): the SQL lexer and statement
// splitter over a long generated script. Returns the exit code.
int runEditorBench(const Options& options);

}  // namespace tarnwell::bench
