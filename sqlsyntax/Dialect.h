#pragma once

#include <string_view>

namespace tarnwell::sql {

// The lexical rules of SQL differ by engine; a window knows its engine from
// its connection, and falls back to the generic rules without one.
enum class Dialect {
    Generic,     // SQL-92 as ODBC states it: "..." identifiers, also [...] and `...`
    SQLite,
    PostgreSQL,
    MariaDB,     // and MySQL
};

// The dialect of an engine by the name it gives itself (an ODBC driver's
// DBMS name: "PostgreSQL", "SQLite", "MySQL", "MariaDB"); anything else is
// generic.
Dialect dialectForDbmsName(std::string_view dbmsName) noexcept;

// "Generic", "SQLite", "PostgreSQL", "MariaDB".
std::string_view dialectName(Dialect dialect) noexcept;

}  // namespace tarnwell::sql
