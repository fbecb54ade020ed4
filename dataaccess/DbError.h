#pragma once

#include <stdexcept>
#include <string>

namespace tarnwell::db {

// The one error type of the data layer. what() is the engine's own message
// (libpq, SQLite, the ODBC driver) or, where the data layer itself refuses
// something, a message of ours; callers show it behind their own prefix.
//
// Every copy holds its own message: an error is kept by the cursor it ended
// and thrown again from there, possibly while another thread still reads the
// first copy, so copies must share no storage.
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string& message, std::string sqlState = {})
        : std::runtime_error(std::string()), message_(message), sqlState_(std::move(sqlState)) {}

    const char* what() const noexcept override { return message_.c_str(); }

    // Five-character SQLSTATE where the engine gives one ("57014" for a
    // cancelled PostgreSQL statement), else empty.
    const std::string& sqlState() const noexcept { return sqlState_; }

private:
    std::string message_;
    std::string sqlState_;
};

}  // namespace tarnwell::db
