#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db {

// How long a statement being stopped is given to answer its cancel before
// whoever stops it cuts the connection (Connection::cutConnection()): a stop
// ends within about this time whatever the engine does.
inline constexpr std::chrono::milliseconds kCancelGrace{500};

// The result of one statement, streamed from the engine: rows come when
// fetch() asks for them, never all at once, so the time to the first rows and
// the memory held do not grow with the size of the result.
//
// A cursor belongs to the connection that made it and must be destroyed
// before it. Destroying a cursor that has not reached its end stops the
// statement on the engine (and drains what is left of it) so the connection
// can run the next statement. Like its connection, a cursor is driven from one
// thread at a time, which need not be the thread that opened the connection.
class Cursor {
public:
    virtual ~Cursor() = default;

    // False for a statement that returned no result set (INSERT, UPDATE, DDL).
    virtual bool hasResultSet() const = 0;
    // The result set's columns; empty without a result set.
    virtual const std::vector<Column>& columns() const = 0;
    // Rows changed by a statement without a result set: the count of an
    // INSERT, UPDATE or DELETE (summed over the statements of the text), 0
    // for statements that change no rows by their nature (DDL, SET, an empty
    // text). -1 for a cursor with a result set.
    virtual std::int64_t rowsAffected() const = 0;

    // Appends at most maxRows rows to `rows` (whose column count must be
    // columns().size()) and returns how many it appended. Fewer than maxRows
    // means the result is used up; atEnd() then turns true. Throws DbError
    // (the engine's message) when the engine fails mid-result, for instance
    // when the server goes away; rows appended before the failure stay, and
    // every later fetch throws the same error again (a failed result never
    // turns into one that merely ended).
    virtual std::size_t fetch(RowStore& rows, std::size_t maxRows) = 0;
    virtual bool atEnd() const = 0;
};

// An open session with one database engine. Created by the backends' open
// functions (sqlite/, postgres/, mariadb/, odbc/); closed by destruction.
class Connection {
public:
    virtual ~Connection() = default;

    // Sends sql and returns once the engine has answered: for a statement with
    // a result set, when its columns are known (the first rows may be in);
    // otherwise when the statement is complete. Throws DbError with the
    // engine's message. At most one cursor is open on a connection: the
    // caller destroys the previous one before executing again.
    virtual std::unique_ptr<Cursor> execute(const std::string& sql) = 0;

    // Asks the engine to stop whatever statement is running on this
    // connection. Safe from any thread at any time, also while another thread
    // is inside execute() or fetch(); that call then throws DbError. Does
    // nothing when no statement runs.
    virtual void cancel() noexcept = 0;

    // Cuts the connection to the engine at once, for a statement that a
    // cancel did not stop because the engine no longer answers (a server
    // process that hangs, a network gone silent): a call waiting for the
    // engine in another thread returns with a DbError saying so, and the
    // connection is dead afterwards (alive() false), to be replaced. Safe
    // from any thread at any time. An engine without a connection to cut
    // (an embedded one) is cancelled instead.
    virtual void cutConnection() noexcept { cancel(); }

    // Whether the connection still reaches its engine, as far as can be told
    // without a round trip: false once the engine has gone away (the server
    // closed the connection, or a call found it broken); a dead connection
    // never comes back, it is replaced. Called while no other thread is
    // inside execute() or fetch(); a result being read is left as it was.
    virtual bool alive() noexcept = 0;

    // Short name of the engine: "SQLite", "PostgreSQL", "MariaDB" or "ODBC".
    virtual std::string engineName() const = 0;
    // The name the database gives itself, which tells its SQL dialect: the
    // engine's for the native backends, the driver's DBMS name through ODBC
    // ("PostgreSQL", "SQLite", "MariaDB", ...; "" when the driver does not
    // say).
    virtual std::string dbmsName() const { return engineName(); }
};

}  // namespace tarnwell::db
