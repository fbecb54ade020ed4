#pragma once

#include "shell/CommandLine.h"

namespace tarnwell {

// Exit statuses of a batch run.
inline constexpr int kBatchDone = 0;
inline constexpr int kBatchFailed = 1;     // a database or file error
inline constexpr int kBatchUsage = 2;      // the command line asks for what cannot be
inline constexpr int kBatchRowLimit = 3;   // more records than a spreadsheet holds

// `tarnwell --run FILE ...`: runs the SQL as a query window runs it, on a
// connection of its own, and writes its result as the window's exports and
// report would, packet by packet as the rows come, without a window or a
// display, and without touching the single-instance rule. Messages go to
// standard error in the window's words; progress too, when it is a terminal.
// A stop by SIGINT, SIGTERM or SIGHUP leaves no file behind and ends the
// process by that signal. Returns the exit status.
int runBatch(const BatchOptions& options);

}  // namespace tarnwell
