#pragma once

#include <memory>

#include "dataaccess/CatalogReader.h"
#include "dataaccess/postgres/PgConnection.h"

namespace tarnwell::db {

// Opens a second session on the server for a catalog of its database.
// Throws DbError with libpq's message when it cannot connect.
//
// Schemas come in the order unqualified names resolve in: those on the
// session's search path first, then every other schema the user may use by
// name, then pg_catalog and information_schema; a schema without USAGE for
// the user is left out and counted. Tables are ordinary, partitioned and
// foreign tables; views are views and materialized views. Columns carry the
// kind and sizes a result holding them reports (a domain's those of its base
// type), the declared type as format_type() writes it, NOT NULL, and the
// place in the primary key. Two statements read it all, in one snapshot
// (a read-only repeatable-read transaction), whatever the size: the schemas
// with their relations and keys, then every column, streamed.
std::unique_ptr<CatalogReader> openPostgresCatalog(const PgSettings& settings);

}  // namespace tarnwell::db
