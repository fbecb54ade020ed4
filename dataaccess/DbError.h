#pragma once

#include <stdexcept>
#include <string>

namespace tarnwell::db {

// The one error type of the data layer. what() is the engine's own message
// (libpq, SQLite, the ODBC driver) or, where the data layer itself refuses
// something, a message of ours; callers show it behind their own prefix.
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string& message, std::string sqlState = {})
        : std::runtime_error(message), sqlState_(std::move(sqlState)) {}

    // Five-character SQLSTATE where the engine gives one ("57014" for a
    // cancelled PostgreSQL statement), else empty.
    const std::string& sqlState() const noexcept { return sqlState_; }

private:
    std::string sqlState_;
};

}  // namespace tarnwell::db
