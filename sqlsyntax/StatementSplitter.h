#pragma once

// A script cut into statements by the lexer's tokens, as the engines' own
// clients cut it (psql, the sqlite3 shell, the mariadb client):
//
// - A ';' outside strings, quoted names and comments ends a statement. On
//   PostgreSQL, as in psql, not inside parentheses either.
// - The body of CREATE [OR REPLACE] TRIGGER, FUNCTION, PROCEDURE or EVENT
//   between BEGIN and END is part of its statement: SQLite's triggers,
//   MariaDB's routines, PostgreSQL's BEGIN ATOMIC bodies. CASE ... END
//   nests inside such a body, and so do MariaDB's blocks (END IF, END LOOP,
//   END WHILE, END REPEAT, END FOR close no BEGIN). MariaDB's
//   BEGIN NOT ATOMIC ... END is one statement too. Any other BEGIN (BEGIN;,
//   BEGIN TRANSACTION, BEGIN WORK) starts a transaction and is a statement
//   of its own.
// - MariaDB scripts may change the terminator with the mariadb client's
//   DELIMITER command, on a line of its own at a statement's start:
//   "DELIMITER //" makes "//" end statements (and ';' and BEGIN ... END
//   mean nothing to the splitter) until "DELIMITER ;". The command is the
//   client's, not the server's: it is no statement.
// - A byte-order mark at the script's start is no part of it.
// - Statements of nothing but blanks and comments are left out; a last
//   statement without a terminator is one all the same, and so is one that
//   an unfinished string or comment runs to the end of the text.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "sqlsyntax/Dialect.h"

namespace tarnwell::sql {

template <typename Char>
struct BasicStatement {
    // Exactly as in the source, from its first token that is no comment to
    // its last (comments inside it kept), without its terminator.
    std::basic_string_view<Char> text;
    std::size_t begin = 0;  // offsets of the text in the source's units
    std::size_t end = 0;
    int line = 1;           // the line where it begins; CR, LF and CR LF each end a line
};

using Statement = BasicStatement<char>;
using Utf16Statement = BasicStatement<char16_t>;

// The statements of a script (UTF-8 or UTF-16), in order. The views point
// into `script`.
std::vector<Statement> splitStatements(Dialect dialect, std::string_view script);
std::vector<Utf16Statement> splitStatements(Dialect dialect, std::u16string_view script);

// The statement that a caret at `caret` means, as an index into
// `statements` (those of `script`): the one the caret is in (its ends
// included); otherwise one on the caret's line (the one ending before the
// caret first, then the one starting after it); otherwise the nearest one
// above (a blank line, a comment line, after the last statement). Nothing
// when no statement starts before the caret, nor on its line.
std::optional<std::size_t> statementAt(const std::vector<Statement>& statements, std::string_view script,
                                       std::size_t caret);
std::optional<std::size_t> statementAt(const std::vector<Utf16Statement>& statements, std::u16string_view script,
                                       std::size_t caret);

// Whether a statement creates, alters or drops something a catalog of the
// database lists: CREATE, ALTER, DROP, RENAME; SQLite's ATTACH and DETACH;
// PostgreSQL's IMPORT FOREIGN SCHEMA; SELECT ... INTO a new table on
// PostgreSQL and generically (on MariaDB it fills variables or files).
bool changesSchema(Dialect dialect, std::string_view statement);
bool changesSchema(Dialect dialect, std::u16string_view statement);

}  // namespace tarnwell::sql
