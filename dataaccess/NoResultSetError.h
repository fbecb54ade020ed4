#pragma once

#include <cstdint>
#include <string>

#include "dataaccess/DbError.h"

namespace tarnwell::db {

// Raised by opening a statement that returned no result set (an INSERT, an
// UPDATE, DDL, or a statement run with "execute without records"). The
// statement did run: rowsAffected() tells what it changed (Connection.h),
// so a caller can report it as a statement that ran.
class NoResultSetError : public DbError {
public:
    explicit NoResultSetError(std::int64_t rowsAffected,
                              const std::string& message = "The statement returned no result set")
        : DbError(message), rowsAffected_(rowsAffected) {}

    std::int64_t rowsAffected() const noexcept { return rowsAffected_; }

private:
    std::int64_t rowsAffected_;
};

}  // namespace tarnwell::db
