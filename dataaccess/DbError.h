#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarnwell::db {

// Where in a statement's text an engine found its fault.
struct ErrorPosition {
    // Bytes into the UTF-8 text that was sent, from 0; the text's size when
    // the engine found the text ended too early.
    std::size_t offset = 0;
    // The engine named only the line (MariaDB, when its quote of the text
    // could not be found): offset is where that line starts.
    bool lineOnly = false;

    friend bool operator==(const ErrorPosition&, const ErrorPosition&) = default;
};

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

    // Where the statement went wrong, when the engine says (PostgreSQL's
    // statement position, SQLite's error offset, MariaDB's "at line n");
    // nothing for faults of no place (a missing table is found by name, a
    // lost server nowhere).
    const std::optional<ErrorPosition>& position() const noexcept { return position_; }
    void setPosition(std::optional<ErrorPosition> position) noexcept { position_ = position; }

private:
    std::string message_;
    std::string sqlState_;
    std::optional<ErrorPosition> position_;
};

}  // namespace tarnwell::db
