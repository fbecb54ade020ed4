#pragma once

#include <string>

namespace tarnwell::bench {

// A PostgreSQL script of `lines` lines (about 50 bytes each: 100,000 lines
// make 5 MB) as a user's long script looks to the editor: INSERTs and
// UPDATEs with strings holding quotes and semicolons, line and block
// comments, dollar-quoted function bodies, and Chinese names and text.
// Every tenth line starts a new group of the same ten kinds.
std::string editorScript(int lines = 100'000);

}  // namespace tarnwell::bench
