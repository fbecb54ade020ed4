#pragma once

namespace tarnwell {

// Descriptors 0, 1 and 2 are where the program's input, output and messages
// go. One that the caller closed (`tarnwell --run q.sql >&-`) would be taken
// by the next file the program opens, which would then receive the output or
// the messages meant for the stream. Called first thing, before anything
// opens a file: each closed one is opened on /dev/null.
void openClosedStandardStreams();

// Whether standard output was closed when the program started, and now
// leads nowhere.
bool standardOutputWasClosed();

}  // namespace tarnwell
