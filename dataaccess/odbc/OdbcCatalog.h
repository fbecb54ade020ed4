#pragma once

#include <memory>

#include "dataaccess/CatalogReader.h"
#include "dataaccess/odbc/OdbcConnection.h"

namespace tarnwell::db {

// Opens a second connection through the driver manager for a catalog of
// what the driver lists: its tables and views (SQLTables), their columns
// (SQLColumns, all at once; relation by relation where the driver cannot)
// and primary keys (SQLPrimaryKeys, table by table). Throws DbError with the
// driver's message when it cannot connect.
//
// A relation's schema is the driver's schema, or its catalog where it has no
// schemas (MariaDB's databases), or "" where it has neither (SQLite). Kinds
// and sizes follow what the driver reports of each column, read as the
// driver's result columns are (OdbcTypes.h); where SQLColumns reports a type
// otherwise than a result would, the catalog says what SQLColumns says.
// Nothing holds the database still while it reads: a relation that gives no
// columns (dropped after it was listed, a view that fails) is skipped.
std::unique_ptr<CatalogReader> openOdbcCatalog(const OdbcSettings& settings);

}  // namespace tarnwell::db
