#include "sqlsyntax/Dialect.h"

#include <algorithm>
#include <cctype>

namespace tarnwell::sql {

namespace {

bool containsIgnoringCase(std::string_view text, std::string_view part) noexcept {
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

}  // namespace

Dialect dialectForDbmsName(std::string_view dbmsName) noexcept {
    if (containsIgnoringCase(dbmsName, "postgres")) {
        return Dialect::PostgreSQL;
    }
    if (containsIgnoringCase(dbmsName, "sqlite")) {
        return Dialect::SQLite;
    }
    if (containsIgnoringCase(dbmsName, "mariadb") || containsIgnoringCase(dbmsName, "mysql")) {
        return Dialect::MariaDB;
    }
    return Dialect::Generic;
}

std::string_view dialectName(Dialect dialect) noexcept {
    switch (dialect) {
    case Dialect::SQLite:
        return "SQLite";
    case Dialect::PostgreSQL:
        return "PostgreSQL";
    case Dialect::MariaDB:
        return "MariaDB";
    case Dialect::Generic:
        break;
    }
    return "Generic";
}

}  // namespace tarnwell::sql
