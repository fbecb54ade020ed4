#pragma once

// What a caret in an SQL text asks to be completed with, read from the
// statement around it by the lexer: the name typed so far, the names before
// a dot, the kind of name the place takes, and the tables the statement names
// with their aliases. Works on UTF-16 text (a QString's storage); offsets are
// in its units. Knows nothing of the database: a catalog answers the rest.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sqlsyntax/Dialect.h"

namespace tarnwell::sql {

// A table a statement names, [schema.]name [[AS] alias], each part as the
// engine reads it (quotes taken off, doubled quotes made single).
struct TableReference {
    std::u16string schema;
    std::u16string name;
    std::u16string alias;
};

enum class CompletionPlace : std::uint8_t {
    None,      // no list: in a string, a comment, a number, a new name, an alias being given
    Keyword,   // the start of a statement: keywords
    Relation,  // after FROM, JOIN, UPDATE, INTO, DROP TABLE ...: tables, views, schemas
    AfterName, // after a table's name, where an alias may be given: keywords, on request only
    Column,    // elsewhere in a statement: its tables' columns, their names and aliases, keywords
    Member,    // after "name.": what `qualifier` holds (an alias's or table's columns, a schema's tables)
};

struct CompletionContext {
    CompletionPlace place = CompletionPlace::None;
    // The text a choice replaces: from here to the caret (the name typed so
    // far, with its opening quote when it has one).
    std::size_t replaceBegin = 0;
    std::u16string prefix;  // the name typed so far, without its opening quote
    bool quoted = false;    // typed after an identifier's opening quote
    // Member: the names before the dot, outermost first ({"s", "t"} for "s.t.").
    std::vector<std::u16string> qualifier;
    // The tables of the statement around the caret, in the order it names them.
    std::vector<TableReference> tables;
};

// The context of a caret at `caret` in `text`, the statement around it found
// by the statement splitter.
CompletionContext completionContext(Dialect dialect, std::u16string_view text, std::size_t caret);

// A name token's name as the engine reads it: an identifier as it is, a
// quoted one without its quotes.
std::u16string unquotedName(std::u16string_view token);

}  // namespace tarnwell::sql
