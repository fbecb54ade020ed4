#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sqlsyntax/Dialect.h"

namespace tarnwell::sql {

// The dialect's keywords in capitals, sorted: what the highlighter colours
// and completion offers.
std::span<const std::string_view> keywords(Dialect dialect);

// Whether `word` is one of them, the letters a to z taken as capitals.
bool isKeyword(Dialect dialect, std::string_view word) noexcept;
bool isKeyword(Dialect dialect, std::u16string_view word) noexcept;

// A keyword that the engine does not take as a plain table or column name.
bool isReservedWord(Dialect dialect, std::string_view word) noexcept;

// Whether a table, column or schema name (UTF-8) must be quoted to be read
// back as itself: not the dialect's plain identifier form (on PostgreSQL
// also anything an unquoted name would fold to lower case, generically to
// upper case), empty, or a reserved word.
bool needsQuoting(Dialect dialect, std::string_view name) noexcept;

// The name in the dialect's identifier quotes, quote characters inside it
// doubled: "a""b" (`a``b` on MariaDB).
std::string quoteIdentifier(Dialect dialect, std::string_view name);

// The name as a statement must spell it: quoted only when it needs it.
std::string asIdentifier(Dialect dialect, std::string_view name);

}  // namespace tarnwell::sql
