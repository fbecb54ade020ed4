#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dataaccess/Backend.h"
#include "dataaccess/Connection.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/Statement.h"

namespace tarnwell::db {

class AdoQuery;

// Connection settings of the connection-string engine; the numbers are the
// customary ones of such settings.
enum class ConnectOption : int { Unspecified = -1, AsyncConnect = 16 };
enum class CursorLocation : int { Server = 2, Client = 3 };
enum class IsolationLevel : int {
    Unspecified = -1,
    Chaos = 0x10,
    ReadUncommitted = 0x100,
    CursorStability = 0x1000,  // the same as read committed
    RepeatableRead = 0x10000,
    Serializable = 0x100000,
};
enum class ConnectMode : int {
    Unknown = 0,
    Read = 1,
    Write = 2,
    ReadWrite = 3,
    ShareDenyRead = 4,
    ShareDenyWrite = 8,
    ShareExclusive = 12,
    ShareDenyNone = 16,
};

// The connection-string engine's connection: opened from a connection string
// "Provider=...;Data Source=...;User ID=...;Password=..." (ConnectionString.h)
//   SQLite.1      Data Source = the database file. Mode=Read (or the mode
//                 setting Read) opens it read-only.
//   PostgreSQL.1  Data Source = host[:port]/database ("[::1]:5433/db" for an
//                 IPv6 address; "/db" for the local socket); Initial Catalog
//                 names the database instead; User ID, Password.
//   MariaDB.1     the same ("/db": the local server's Unix socket), and Init
//                 Command, a statement every session runs first.
//   ODBC.1        Data Source = a DSN, or Extended Properties = a whole ODBC
//                 connection string ("DRIVER={...};DATABASE=..."); User ID
//                 and Password become UID and PWD (unless the ODBC string
//                 gives those).
// "FILE NAME=<path>" reads the connection string from a data link file
// (DataLink.h); other keys given beside it win over the file's.
//
// After open() the connection string is the completed one: "Provider=" with
// the canonical provider name, then "Data Source=", then the other keys as
// given, password included so the string can connect again. The connection
// timeout bounds how long an unreachable server keeps open() waiting; the
// command timeout how long a statement of an AdoQuery may run before it is
// stopped (cancelled, and its connection cut should the engine not answer
// within kCancelGrace).
//
// One thread (the user-interface thread) drives a connection and its queries;
// cancel() may come from any thread.
class AdoConnection {
public:
    AdoConnection();
    ~AdoConnection();
    AdoConnection(const AdoConnection&) = delete;
    AdoConnection& operator=(const AdoConnection&) = delete;

    // Closes, then gives every setting its value for a new connection:
    // command timeout 30 s, connection string empty, connection timeout 15 s,
    // connect options unspecified, cursor location client, default database
    // empty, isolation level cursor stability, keep connection on, login
    // prompt off, mode unknown.
    void resetToNewConnectionDefaults();

    int commandTimeout() const noexcept { return commandTimeout_; }
    void setCommandTimeout(int seconds) noexcept { commandTimeout_ = seconds; }
    const std::string& connectionString() const noexcept { return connectionString_; }
    // Takes effect at the next open(); the connection is closed first.
    void setConnectionString(std::string text);
    int connectionTimeout() const noexcept { return connectionTimeout_; }
    void setConnectionTimeout(int seconds) noexcept { connectionTimeout_ = seconds; }
    ConnectOption connectOptions() const noexcept { return connectOptions_; }
    void setConnectOptions(ConnectOption option) noexcept { connectOptions_ = option; }
    CursorLocation cursorLocation() const noexcept { return cursorLocation_; }
    void setCursorLocation(CursorLocation location) noexcept { cursorLocation_ = location; }
    const std::string& defaultDatabase() const noexcept { return defaultDatabase_; }
    void setDefaultDatabase(std::string name) { defaultDatabase_ = std::move(name); }
    IsolationLevel isolationLevel() const noexcept { return isolationLevel_; }
    void setIsolationLevel(IsolationLevel level) noexcept { isolationLevel_ = level; }
    bool keepConnection() const noexcept { return keepConnection_; }
    void setKeepConnection(bool keep) noexcept { keepConnection_ = keep; }
    bool loginPrompt() const noexcept { return loginPrompt_; }
    void setLoginPrompt(bool prompt) noexcept { loginPrompt_ = prompt; }
    ConnectMode mode() const noexcept { return mode_; }
    void setMode(ConnectMode mode) noexcept { mode_ = mode; }

    // Connects; does nothing when connected. A connection whose engine went
    // away is closed first and replaced. Throws DbError: no or an unknown
    // provider, no data source, a bad data link file, or the engine's
    // message. Stays closed after a failure.
    void open();
    // Closes the queries on this connection, then the connection.
    void close();
    // True while the connection is open and its engine still there
    // (Connection::alive()).
    bool connected() const noexcept { return connection_ != nullptr && connection_->alive(); }
    void setConnected(bool connected);
    // Stops the statement running on this connection; any thread.
    void cancel() noexcept;
    // Cuts the connection, for a statement a cancel did not stop
    // (Connection::cutConnection()); any thread.
    void cutConnection() noexcept;

    // The canonical provider name: the open connection's, else the one the
    // connection string names ("" when it names none; the text as given when
    // the provider is unknown).
    std::string provider() const;

    // The open connection, for the queries; null when closed.
    Connection* connection() const noexcept { return connection_.get(); }

    // What open() connects to, for a connection of one's own to the same
    // database (a catalog's). Throws DbError as open() does for a string
    // that names no database.
    BackendSettings backendSettings() const;

private:
    friend class AdoQuery;

    // The connection string read: its keys (a data link file's resolved),
    // the canonical provider, the data source as the completed string names
    // it, and the backend it reaches.
    struct Target {
        ConnectionString settings;
        std::string provider;
        std::string dataSource;
        BackendSettings backend;
    };
    Target target() const;

    int commandTimeout_ = 30;
    std::string connectionString_;
    int connectionTimeout_ = 15;
    ConnectOption connectOptions_ = ConnectOption::Unspecified;
    CursorLocation cursorLocation_ = CursorLocation::Client;
    std::string defaultDatabase_;
    IsolationLevel isolationLevel_ = IsolationLevel::CursorStability;
    bool keepConnection_ = true;
    bool loginPrompt_ = false;
    ConnectMode mode_ = ConnectMode::Unknown;

    std::string provider_;
    std::unique_ptr<Connection> connection_;
    std::mutex cancelGuard_;  // connection_ against cancel() from other threads
    std::vector<AdoQuery*> queries_;
};

// A statement on an AdoConnection (opened on demand when closed). A query
// must be destroyed before its connection.
//
// open() expects a result set and throws NoResultSetError (the statement has
// run) when there is none; with the execute option "execute without records"
// (8) set it runs the statement, drops any rows, and throws NoResultSetError
// too (openResult() says so instead). execSql() runs a statement for its
// effect. The result of open() stops
// after maxRecords rows (0: no limit); the statement is then stopped.
class AdoQuery : public Statement {
public:
    enum ExecuteOption : unsigned {
        AsyncExecute = 1,
        AsyncFetch = 2,
        AsyncFetchNonBlocking = 4,
        ExecuteNoRecords = 8,
    };

    explicit AdoQuery(AdoConnection& connection);
    ~AdoQuery() override;
    AdoQuery(const AdoQuery&) = delete;
    AdoQuery& operator=(const AdoQuery&) = delete;

    AdoConnection& connection() const noexcept { return connection_; }

    // The options are kept as given; statements always run synchronously on
    // the calling thread, streaming their rows as they are fetched.
    unsigned executeOptions() const noexcept { return executeOptions_; }
    void setExecuteOptions(unsigned options) noexcept { executeOptions_ = options; }
    // Rows the engine keeps at hand; kept, as fetching streams anyway.
    int cacheSize() const noexcept { return cacheSize_; }
    void setCacheSize(int rows) noexcept { cacheSize_ = rows; }
    int maxRecords() const noexcept { return maxRecords_; }
    void setMaxRecords(int rows) noexcept { maxRecords_ = rows; }

    // Statement
    const std::string& sql() const noexcept override { return sql_; }
    void setSql(std::string sql) override { sql_ = std::move(sql); }
    bool openResult() override;
    void execSql() override;
    void close() override;
    std::int64_t rowsAffected() const noexcept override { return rowsAffected_; }
    void cancel() noexcept override { connection_.cancel(); }

    // RowSource
    bool active() const override { return active_; }
    const std::vector<Column>& columns() const override { return columns_; }
    std::size_t fetch(RowStore& rows, std::size_t maxRows) override;
    bool atEnd() const override { return atEnd_; }
    std::uint64_t runId() const override { return runId_; }

protected:
    std::string noResultSetReason() const override;

private:
    friend class AdoConnection;

    // True when a result set is open.
    bool runSql(bool wantRows);
    std::unique_ptr<Cursor> execute();
    void release() noexcept;

    AdoConnection& connection_;
    unsigned executeOptions_ = 0;
    int cacheSize_ = 1;
    int maxRecords_ = 0;
    std::string sql_;

    std::unique_ptr<Cursor> cursor_;
    std::vector<Column> columns_;
    std::size_t delivered_ = 0;
    std::size_t limit_ = 0;  // maxRecords as it was at open(); 0: none
    std::int64_t rowsAffected_ = -1;
    bool recordsDropped_ = false;  // by "execute without records"
    bool active_ = false;
    bool atEnd_ = true;
    std::uint64_t runId_ = 0;
};

}  // namespace tarnwell::db
