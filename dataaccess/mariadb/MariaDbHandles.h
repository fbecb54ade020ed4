#pragma once

// Owners of MariaDB's client library handles. Each frees its handle exactly
// once and can only be moved, so a handle never outlives or escapes the
// object that holds it.

#include <mysql.h>

#include <memory>

namespace tarnwell::db::mariadb {

struct SessionCloser {
    void operator()(MYSQL* session) const noexcept { mysql_close(session); }
};
// Freeing a result that streams reads what is left of it first.
struct ResultFreer {
    void operator()(MYSQL_RES* result) const noexcept { mysql_free_result(result); }
};

using SessionHandle = std::unique_ptr<MYSQL, SessionCloser>;
using ResultHandle = std::unique_ptr<MYSQL_RES, ResultFreer>;

}  // namespace tarnwell::db::mariadb
