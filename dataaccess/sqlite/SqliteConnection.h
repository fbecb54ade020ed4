#pragma once

#include <memory>
#include <string>

#include "dataaccess/Connection.h"

namespace tarnwell::db {

struct SqliteSettings {
    std::string path;              // database file
    bool readOnly = false;
    bool createIfMissing = false;  // otherwise a missing file is an error
    int busyTimeoutMs = 5000;
};

// Opens an SQLite database. The connection may be used from several threads
// (each use holds a lock of the connection's own) and cancel() may come from
// any thread. Throws DbError with SQLite's message.
std::unique_ptr<Connection> openSqlite(const SqliteSettings& settings);

}  // namespace tarnwell::db
