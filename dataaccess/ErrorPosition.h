#pragma once

// The engines say where a statement went wrong in units of their own: these
// turn them into a byte offset of the UTF-8 text that was sent
// (DbError::position()).

#include <cstddef>
#include <optional>
#include <string_view>

#include "dataaccess/DbError.h"

namespace tarnwell::db {

// The offset of character `index` (0-based, counting code points as
// PostgreSQL counts a statement's characters) in a UTF-8 text; its size when
// the text has fewer characters.
std::size_t byteOffsetOfCharacter(std::string_view utf8, std::size_t index) noexcept;

// The place of a MariaDB (MySQL) syntax error in `sql`, read from the
// message's "near '<the text from there on>' at line <n>": where that text
// starts on line n or after it, else the line's start; the end of the
// statement for an empty quote. Nothing when the message names no line.
std::optional<ErrorPosition> mariaDbErrorPosition(std::string_view message, std::string_view sql) noexcept;

}  // namespace tarnwell::db
