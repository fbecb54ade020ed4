#pragma once

// Owners of the unixODBC handles, and the driver's diagnostics turned into
// DbError. Internal to the ODBC backend.

#include <sql.h>
#include <sqlext.h>

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "dataaccess/DbError.h"

namespace tarnwell::db::odbc {

// One handle of the given type, freed on destruction. Move-only.
template <SQLSMALLINT HandleType>
class Handle {
public:
    Handle() = default;
    explicit Handle(SQLHANDLE handle) noexcept : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, SQLHANDLE{})) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, SQLHANDLE{});
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    SQLHANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != SQL_NULL_HANDLE; }

    void reset() noexcept {
        if (handle_ != SQL_NULL_HANDLE) {
            SQLFreeHandle(HandleType, handle_);
            handle_ = SQL_NULL_HANDLE;
        }
    }

private:
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

using EnvironmentHandle = Handle<SQL_HANDLE_ENV>;
using StatementHandle = Handle<SQL_HANDLE_STMT>;

// A connection handle that remembers whether it is connected: a connected
// handle is disconnected before it is freed, as the driver manager requires.
class ConnectionHandle {
public:
    ConnectionHandle() = default;
    explicit ConnectionHandle(SQLHANDLE handle) noexcept : handle_(handle) {}
    ConnectionHandle(ConnectionHandle&& other) noexcept
        : handle_(std::move(other.handle_)), connected_(std::exchange(other.connected_, false)) {}
    ConnectionHandle& operator=(ConnectionHandle&& other) noexcept {
        if (this != &other) {
            disconnect();
            handle_ = std::move(other.handle_);
            connected_ = std::exchange(other.connected_, false);
        }
        return *this;
    }
    ~ConnectionHandle() { disconnect(); }

    SQLHANDLE get() const noexcept { return handle_.get(); }
    void markConnected() noexcept { connected_ = true; }
    void disconnect() noexcept;

private:
    Handle<SQL_HANDLE_DBC> handle_;
    bool connected_ = false;
};

// Held around the driver calls that may change what the whole process shares.
// Drivers are free to do so while they connect or disconnect: the
// PostgreSQL driver sets the process's locale (setlocale) in every connect,
// which two threads must never do at once, and the driver manager loads and
// unloads driver libraries there. Which driver a connection string reaches
// is only known once it is connected, so every driver's connects and
// disconnects take turns; statements and fetches run in parallel.
std::mutex& processStateMutex();

// An environment that asks for ODBC 3 behaviour (SQLSTATEs, date types).
EnvironmentHandle allocateEnvironment();
ConnectionHandle allocateConnection(const EnvironmentHandle& environment);
StatementHandle allocateStatement(SQLHANDLE connection);

// How text crosses the driver manager on a connection: as UTF-16 through the
// wide calls, or as UTF-8 bytes through the narrow ones, for drivers that have
// narrow calls only (see Session).
enum class TextCalls { Wide, Narrow };

// The diagnostic records that the last call on `handle` left: every record's
// message, one per line, and the SQLSTATE of the first.
struct Diagnostics {
    std::string message;
    std::string sqlState;
};
Diagnostics readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, TextCalls calls = TextCalls::Wide);

// The error for a failed call: the driver's diagnostics, or `fallback` (our
// own words) when the driver left none.
DbError diagnosticError(SQLSMALLINT handleType, SQLHANDLE handle, std::string_view fallback,
                        TextCalls calls = TextCalls::Wide);

}  // namespace tarnwell::db::odbc
