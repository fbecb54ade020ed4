#pragma once

// The driver-manager objects of one ODBC connection, and the bookkeeping
// that lets another thread cancel what runs on it. Internal to the ODBC
// backend.

#include <mutex>
#include <string>

#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/odbc/OdbcHandles.h"

namespace tarnwell::db::odbc {

// Shared by a connection and its cursor, so that a cursor's statement never
// outlives the connection handle it was made on.
//
// Text goes through the wide calls where the driver has them. A driver with
// narrow calls only (the SQLite driver is one) is reached through the driver
// manager's conversion between UTF-16 and the narrow character set, which
// works in UCS-2: a single character outside the basic plane (U+2000B, say)
// makes it give up and pass every character cut to its low byte, so the
// statement the driver gets is garbage. Such drivers get the narrow calls
// with UTF-8 bytes instead, which is what they store. Which kind a driver is
// shows in a round trip through SQLNativeSqlW right after connecting.
//
// The MariaDB driver reports text lengths that fall short through the wide
// calls, so it gets the narrow calls too (see OdbcSession.cpp).
//
// Cancelling knows two levels: a piece of work (one execute() or fetch()) and,
// within it, the driver call that may take long (SQLExecDirect, SQLFetch).
// cancel() marks the work as cancelled, so it ends with an error at its next
// step even when the driver had nothing to stop, and hands SQLCancel to the
// statement of a driver call in progress. The statement handle is only ever
// given to SQLCancel while a driver call on it is registered, and the owner
// unregisters it (which waits for a SQLCancel under way) before freeing it.
// The MariaDB driver's SQLCancel is unsafe while the call runs on another
// thread: for it the session asks the server itself, through a connection of
// its own, to stop the statement of this session (KILL QUERY).
class Session {
public:
    explicit Session(const OdbcSettings& settings);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SQLHANDLE connection() const noexcept { return connection_.get(); }
    TextCalls textCalls() const noexcept { return textCalls_; }
    // What the driver calls its database (SQL_DBMS_NAME), "" when it does
    // not say.
    const std::string& dbmsName() const noexcept { return dbmsName_; }

    void cancel() noexcept;

    // False once the driver knows the connection is gone (its dead-connection
    // attribute); a driver that cannot say counts as connected.
    bool alive() noexcept;

    // One execute() or fetch(). cancelled() tells whether cancel() came
    // while it ran.
    class Work {
    public:
        explicit Work(Session& session);
        ~Work();
        Work(const Work&) = delete;
        Work& operator=(const Work&) = delete;
        bool cancelled() const;

    private:
        Session& session_;
    };

    // One driver call on `statement` within a piece of work. started() is
    // false when the work was cancelled already; the call must then not be
    // made.
    class DriverCall {
    public:
        DriverCall(Session& session, SQLHANDLE statement);
        ~DriverCall();
        DriverCall(const DriverCall&) = delete;
        DriverCall& operator=(const DriverCall&) = delete;
        bool started() const noexcept { return started_; }

    private:
        Session& session_;
        bool started_ = false;
    };

private:
    EnvironmentHandle environment_;
    ConnectionHandle connection_;
    OdbcSettings settings_;
    TextCalls textCalls_ = TextCalls::Wide;
    std::string dbmsName_;
    std::string stopStatementSql_;  // run on another connection to cancel, "" for SQLCancel

    mutable std::mutex mutex_;
    bool working_ = false;
    bool cancelRequested_ = false;
    SQLHANDLE runningStatement_ = SQL_NULL_HANDLE;
};

// The error a cancelled piece of work ends with where the driver gave none
// of its own.
DbError cancelledError();

}  // namespace tarnwell::db::odbc
