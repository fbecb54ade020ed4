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

// Opens an SQLite database (serialized threading mode, so cancel() may come
// from another thread). Throws DbError with SQLite's message.
std::unique_ptr<Connection> openSqlite(const SqliteSettings& settings);

}  // namespace tarnwell::db
