#pragma once

#include <string_view>

namespace tarnwell::db {

// The row-returning test: a statement is opened (rather than executed) when
// its text, with the letters a to z turned into capitals, contains "SELECT"
// anywhere. Nothing else of the statement is looked at.
bool isRowReturning(std::string_view sql) noexcept;

}  // namespace tarnwell::db
