#pragma once

#include <memory>
#include <string>

#include "dataaccess/Connection.h"

namespace tarnwell::db {

struct PgSettings {
    std::string host;      // name or address; empty: libpq's default
    std::string port;      // empty: libpq's default
    std::string database;
    std::string user;
    std::string password;
    // libpq's connect_timeout: how long an unreachable server may keep the
    // caller waiting before open fails.
    int connectTimeoutSeconds = 10;
};

// Opens a PostgreSQL connection through libpq. Throws DbError with libpq's
// message (and SQLSTATE where the server gave one).
std::unique_ptr<Connection> openPostgres(const PgSettings& settings);
// The same from a libpq connection string ("host=... port=... dbname=...").
std::unique_ptr<Connection> openPostgres(const std::string& conninfo);

}  // namespace tarnwell::db
