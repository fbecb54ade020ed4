#pragma once

// How MariaDB's column types map onto field kinds (MariaDbConnection.h lists
// them), and how the server's text of a value becomes the canonical cell text
// of its kind. Internal to the MariaDB backend.

#include <mysql.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "dataaccess/Column.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db::mariadb {

// What a cell's text needs before it is stored. Integers, decimals, dates and
// text arrive in canonical form and are stored as they come.
enum class CellConversion : std::uint8_t {
    AsIs,
    Double,     // "1e300", "0.00000015" -> "1e+300", "1.5e-07"
    Single,     // the same for FLOAT
    Time,       // "13:14:15.500000" -> "13:14:15.5"
    DateTime,   // the same after the date
    BitFlag,    // BIT(1): one byte 0 or 1 -> "0" or "1"
    BitNumber,  // BIT(n): big-endian bytes -> their value in decimal digits
};

// The column as the server describes it (the result's MYSQL_FIELD).
Column describeColumn(const MYSQL_FIELD& field);
CellConversion cellConversion(const MYSQL_FIELD& field);

// Appends one non-null cell. `scratch` is a buffer reused across calls so the
// converted forms cost no allocation per cell.
void appendCell(RowStore& rows, CellConversion conversion, std::string_view text, std::string& scratch);

}  // namespace tarnwell::db::mariadb
