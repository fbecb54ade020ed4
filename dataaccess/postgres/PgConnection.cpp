#include "dataaccess/postgres/PgConnection.h"

#include "dataaccess/DbError.h"

namespace tarnwell::db {

std::unique_ptr<Connection> openPostgres(const PgSettings&) {
    throw DbError("the PostgreSQL backend is not built yet");
}

std::unique_ptr<Connection> openPostgres(const std::string&) {
    throw DbError("the PostgreSQL backend is not built yet");
}

}  // namespace tarnwell::db
