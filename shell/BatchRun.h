#pragma once

#include "shell/BatchStop.h"
#include "shell/CommandLine.h"

namespace tarnwell {

// `tarnwell --run FILE ...`: runs the SQL as a query window runs it (with
// --script, statement by statement), on a connection of its own, and writes
// its result as the window's exports and
// report would, packet by packet as the rows come, without a window or a
// display, and without touching the single-instance rule. Messages go to
// standard error in the window's words; progress too, when it is a terminal.
// A stop by SIGINT, SIGTERM or SIGHUP leaves no file behind and ends the
// process by that signal. Returns the exit status.
int runBatch(const BatchOptions& options);

}  // namespace tarnwell
