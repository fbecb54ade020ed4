#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/CatalogReader.h"
#include "dataaccess/Connection.h"
#include "dataaccess/sqlite/SqliteCatalog.h"

namespace tarnwell::db {

// The backends a connection goes through, whichever engine opens it.
enum class BackendKind { Sqlite, Postgres, MariaDb, Odbc };

// What either engine reads from its own settings (an alias's parameters, a
// connection string) to reach a database.
struct BackendSettings {
    BackendKind kind = BackendKind::Sqlite;
    // SQLite: the database file ("~/" is the home directory).
    std::string path;
    bool readOnly = false;
    // PostgreSQL and MariaDB.
    std::string host;
    std::string port;
    std::string database;
    // MariaDB: a statement every session runs first.
    std::string initCommand;
    // ODBC: the connection string without the login.
    std::string odbcConnectionString;
    // The login of PostgreSQL, MariaDB and ODBC. ODBC gets them as UID and PWD,
    // unless its connection string names those already.
    std::string user;
    std::string password;
    // The longest an unreachable server keeps the open waiting.
    int connectTimeoutSeconds = 15;
};

// The one place that opens a backend. Throws DbError with the backend's
// message.
std::unique_ptr<Connection> openBackend(const BackendSettings& settings);

// The same for a catalog of the database: a reader on a connection of its
// own (for SQLite, with `attached` attached as on the user's connection).
std::unique_ptr<CatalogReader> openCatalogReader(const BackendSettings& settings,
                                                 const std::vector<SqliteAttachment>& attached = {});

// The value of `key` in an ODBC connection string ("" when absent, or when
// the text does not read as one: the driver then says what is wrong).
std::string odbcConnectionStringValue(const std::string& text, const std::string& key);

}  // namespace tarnwell::db
