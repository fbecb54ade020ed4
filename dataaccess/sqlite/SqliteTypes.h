#pragma once

#include <string_view>

#include "dataaccess/Column.h"

namespace tarnwell::db {

// The kind, size and precision that an SQLite column's declared type gives
// (sqlite3_column_decltype), read without regard to case or blanks:
//   VARCHAR(20) -> String 20      CHAR(5) -> FixedChar 5     NVARCHAR(40) -> WideString 40
//   INT, INTEGER -> Integer       SMALLINT, TINYINT -> Smallint   BIGINT -> LargeInt
//   REAL, DOUBLE, FLOAT -> Float  NUMERIC(p,s), DECIMAL(p,s) -> BCD s (FMTBcd when p > 18)
//   MONEY -> Currency 2           DATE, TIME, DATETIME/TIMESTAMP   BOOLEAN
//   BLOB -> Blob                  TEXT, CLOB -> Memo         UUID, GUID -> Guid
// Other names fall back to SQLite's own affinity rules (a name holding "INT"
// is an integer, "CHAR" a string, ...). A name that says nothing at all, and a
// missing one (an expression), give Unknown: the values then decide.
// The returned column has no name.
Column sqliteDeclaredColumn(std::string_view declaredType);

}  // namespace tarnwell::db
