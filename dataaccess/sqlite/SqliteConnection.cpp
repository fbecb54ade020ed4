#include "dataaccess/sqlite/SqliteConnection.h"

#include "dataaccess/DbError.h"

namespace tarnwell::db {

std::unique_ptr<Connection> openSqlite(const SqliteSettings&) {
    throw DbError("the SQLite backend is not built yet");
}

}  // namespace tarnwell::db
