#pragma once

#include <memory>

#include "dataaccess/CatalogReader.h"
#include "dataaccess/mariadb/MariaDbConnection.h"

namespace tarnwell::db {

// Opens a second session on the server for a catalog of every database the
// user may see, the session's own database first, then the others by name,
// MariaDB's own (information_schema, mysql, performance_schema, sys) last.
// Throws DbError with the client library's message when it cannot connect.
//
// Three statements over information_schema read it whatever the size: the
// databases with their tables and views, the primary keys, every column.
// Columns carry the kind and sizes a result holding them reports. The server
// lists nothing of a database the user has no rights on, so none is counted
// as skipped. information_schema holds nothing still while it is read: a
// relation that gives no columns there (a view whose table was dropped, a
// table dropped after the listing) is asked for its result's columns, and
// skipped with the server's message when that fails.
std::unique_ptr<CatalogReader> openMariaDbCatalog(const MariaDbSettings& settings);

}  // namespace tarnwell::db
