#pragma once

#include <string_view>

namespace tarnwell::db {

// The row-returning test: a statement is opened (rather than executed) when
// its text, with the letters a to z turned into capitals, contains "SELECT"
// anywhere. Nothing else of the statement is looked at.
bool isRowReturning(std::string_view sql) noexcept;

// Refuses a text no engine runs as it stands: one holding a NUL character,
// which the engines' C interfaces take for its end (SQLite would run nothing
// and report success, libpq the part before it). Throws DbError, the same
// words for every engine.
void refuseNulCharacter(std::string_view sql);

}  // namespace tarnwell::db
