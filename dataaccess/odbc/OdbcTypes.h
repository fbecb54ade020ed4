#pragma once

// How the ODBC backend turns what a driver reports of a column into a field
// kind, and the driver's text of a cell into the canonical cell text of
// Column.h. Internal to the ODBC backend.
//
// Kinds follow the SQL type that SQLDescribeCol reports. Where a driver
// reports a generic type for a column whose own type name says more, the type
// name (SQL_DESC_TYPE_NAME) decides, so that a column has the same kind
// through ODBC as through the native backends:
//   - "blob" reported as SQL_BINARY (SQLite driver)          -> Blob
//   - "bool"/"boolean" reported as SQL_VARCHAR (PostgreSQL
//     driver with BoolsAsChar, its default)                  -> Boolean
//   - "money" reported as SQL_FLOAT (PostgreSQL driver)       -> Currency
//   - "uuid" reported as SQL_VARCHAR (SQLite driver)          -> Guid
// Everything else stays as the driver reports it, which the field list then
// shows. What the Debian drivers report:
//   SQLite driver: numeric(p,s) and numeric -> SQL_DOUBLE (Float);
//     decimal(p,s), char(n), binary(n) -> SQL_VARCHAR (String, size n);
//     varchar without a length -> SQL_VARCHAR(255); text -> SQL_LONGVARCHAR
//     (Memo); date, time, timestamp, datetime -> the date/time types; bit and
//     boolean -> SQL_BIT. Expressions get a type from their first value.
//   PostgreSQL Unicode driver: char(n) -> SQL_WCHAR, varchar(n) ->
//     SQL_WVARCHAR (varchar without a length: MaxVarcharSize, 255 by
//     default); text -> SQL_WLONGVARCHAR (TextAsLongVarchar, on by default);
//     numeric without a precision -> SQL_NUMERIC(28,6) (FMTBcd); bytea ->
//     SQL_LONGVARBINARY; interval, json and arrays -> SQL_WVARCHAR; xml ->
//     SQL_WLONGVARCHAR; timestamptz -> SQL_TYPE_TIMESTAMP, its text in the
//     server's time zone without the offset; uuid -> SQL_GUID (upper case).

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "dataaccess/Column.h"

namespace tarnwell::db::odbc {

// What SQLDescribeCol and SQLColAttribute tell of one result column.
struct DescribedColumn {
    std::string name;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    SQLULEN columnSize = 0;
    SQLSMALLINT decimalDigits = 0;
    std::string typeName;  // the driver's own name of the type; may be empty
};

Column columnFor(const DescribedColumn& described);

// Cells of binary kinds are read as bytes (SQL_C_BINARY), all others as
// wide text (SQL_C_WCHAR), so that every driver's own text of a value is
// what the canonical form starts from.
bool readsAsBinary(FieldKind kind) noexcept;

// Turns the driver's text of a cell of `kind` into the canonical text of
// Column.h, in place. A value whose text does not fit its kind's form stays
// as the driver gave it. `sqlType` tells single precision (SQL_REAL) apart.
void canonicalizeCell(FieldKind kind, SQLSMALLINT sqlType, std::string& text);

}  // namespace tarnwell::db::odbc
