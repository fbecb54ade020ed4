#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "dataaccess/Catalog.h"
#include "sqlsyntax/CompletionContext.h"
#include "sqlsyntax/Dialect.h"

namespace tarnwell {

enum class CompletionKind : std::uint8_t { Column, KeyColumn, Table, View, Alias, Schema, Keyword };

struct CompletionItem {
    QString text;        // as the list shows it
    QString insertText;  // as it goes into the SQL
    QString detail;      // a column's type, what an alias stands for
    CompletionKind kind = CompletionKind::Keyword;
};

// What a completion list offers at `context`: the catalog's names and the
// dialect's keywords that the place takes (see sql::CompletionPlace) and that
// match the name typed so far, without regard to ASCII case: those that
// start with it first, then (names only) those that hold it; within each,
// columns, then tables and aliases, schemas, keywords, each by name. A name
// goes in as the dialect must spell it (quoted when it needs it, in quotes
// when typed after an opening quote); a keyword in the case typed.
std::vector<CompletionItem> completionItems(const sql::CompletionContext& context, const db::Catalog& catalog,
                                            sql::Dialect dialect);

// How SQL names a table or view of the catalog from a statement: bare where
// a bare name reaches it (the catalog's first schema, or on SQLite the first
// database holding that name), else with its schema; each part quoted as the
// dialect needs.
QString sqlNameOf(const db::Catalog& catalog, db::Catalog::RelationId relation, sql::Dialect dialect);

// A column's or schema's name as SQL spells it.
QString sqlNameOf(std::string_view name, sql::Dialect dialect);

// How a name (UTF-8) matches a part of one typed: 0 it starts with it, 1 it
// holds it further on (when `insideToo`); nothing otherwise. ASCII letters
// match in either case, every other byte as it is, so CJK names match by
// their characters.
std::optional<std::uint8_t> matchName(std::string_view name, std::string_view typed, bool insideToo = true) noexcept;

}  // namespace tarnwell
