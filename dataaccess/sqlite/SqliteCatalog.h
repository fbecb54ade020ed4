#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/CatalogReader.h"
#include "dataaccess/sqlite/SqliteConnection.h"

namespace tarnwell::db {

// A database attached to a user's connection (ATTACH DATABASE path AS name),
// which a connection of the catalog's own must attach too to see it.
struct SqliteAttachment {
    std::string name;
    std::string path;
};

// Opens the SQLite file a second time, read-only, with `attached` attached
// the same way, for a catalog of main and those databases. Throws DbError
// with SQLite's message when the file cannot be opened.
//
// The catalog lists each database as a schema ("main", then the attached
// ones in their order) with the tables and views of its sqlite_schema
// (SQLite's own sqlite_* tables left out) and their columns from
// pragma_table_xinfo (generated columns included, the hidden columns of
// virtual tables not). Kinds and sizes follow the declared type as a result
// of the column reports them; a column without a declared type counts as
// String of unbounded size, as in an empty result. It reads in one read
// transaction, so nothing changes between listing a table and reading its
// columns; a view that no longer compiles (its table dropped) is skipped.
std::unique_ptr<CatalogReader> openSqliteCatalog(const SqliteSettings& settings,
                                                 const std::vector<SqliteAttachment>& attached = {});

}  // namespace tarnwell::db
