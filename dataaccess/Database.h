#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dataaccess/Backend.h"
#include "dataaccess/Connection.h"
#include "dataaccess/ParamList.h"

namespace tarnwell::db {

class Session;
namespace detail {
struct QueryState;
}

// A database of the alias engine: a named connection within a session
// ("BDE_DBS", "BDE_SQL_1", ...) that queries find by that name.
//
// Opening uses the alias's driver unless a driver name is set, and the
// database's parameters in front of the alias's own (so "USER NAME" and
// "PASSWORD" lines put in by a login win, and parameters not given come from
// the alias). Parameters by driver:
//   SQLITE      PATH (the file; "~/" is the home directory), OPEN MODE
//               ("READ ONLY" or "READ/WRITE", the default)
//   POSTGRESQL  SERVER NAME, PORT, DATABASE NAME, USER NAME, PASSWORD,
//               CONNECT TIMEOUT (seconds, default 10: the longest an
//               unreachable server keeps open() waiting)
//   MARIADB     the same (an empty SERVER NAME: the local server's Unix
//   (or MYSQL)  socket), and INIT COMMAND, a statement every session runs
//               first
//   ODBC        a data source listed from unixODBC connects as
//               "DSN=<alias>"; an alias from the alias file passes its
//               parameters as the connection string's keys. USER NAME and
//               PASSWORD become UID and PWD (unless those keys are given),
//               CONNECT TIMEOUT the login timeout (default 15).
//
// Settings (alias, driver, parameters, callbacks) are made while closed, from
// one thread. open(), close(), connected() and cancel() may come from any
// thread (connected() not while a query of the database is inside a
// statement on another one); the queries on a database may run on other
// threads than the one that opened it.
class Database {
public:
    Database(Session& session, std::string databaseName);
    ~Database();  // leaves the session's registry and closes, without callbacks
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::string& databaseName() const noexcept { return name_; }
    Session& session() const noexcept { return session_; }

    const std::string& aliasName() const noexcept { return alias_; }
    void setAliasName(std::string alias) { alias_ = std::move(alias); }
    const std::string& driverName() const noexcept { return driver_; }
    void setDriverName(std::string driver) { driver_ = std::move(driver); }
    ParamList& params() noexcept { return params_; }
    const ParamList& params() const noexcept { return params_; }
    void setParams(ParamList params) { params_ = std::move(params); }

    // Kept for the callers that set it; the engine never prompts.
    bool loginPrompt() const noexcept { return loginPrompt_; }
    void setLoginPrompt(bool prompt) noexcept { loginPrompt_ = prompt; }

    // Connects; does nothing when connected. A connection whose engine went
    // away is closed first (as close() does) and replaced. Throws DbError
    // with the engine's message, and stays closed.
    void open();
    // Closes the queries that use this database (stopping a statement that
    // runs: cancelled, and its connection cut should the engine not answer
    // within kCancelGrace), then the connection. Does nothing when closed.
    void close();
    // True while the connection is open and its engine still there
    // (Connection::alive()).
    bool connected() const;
    void setConnected(bool connected);
    // Asks the engine to stop the statement running on this database.
    void cancel() noexcept;
    // Cuts the connection, for a statement a cancel did not stop
    // (Connection::cutConnection()); the next open() connects anew.
    void cutConnection() noexcept;
    // The open connection's Connection::dbmsName(); "" while closed.
    std::string dbmsName() const;

    void setAfterConnect(std::function<void()> callback) { afterConnect_ = std::move(callback); }
    void setAfterDisconnect(std::function<void()> callback) { afterDisconnect_ = std::move(callback); }

    // The parameters open() uses: the database's own, then the alias's.
    ParamList effectiveParams() const;
    // The driver open() uses.
    std::string effectiveDriverName() const;
    // What open() connects to, for a connection of one's own to the same
    // database (a catalog's). Throws DbError as open() does for an alias or
    // driver that names no database.
    BackendSettings backendSettings() const;

private:
    friend class Query;
    friend struct detail::QueryState;

    // For a query about to run: the connection, with the query noted as a
    // user so close() can close it. Throws DbError when not connected.
    std::shared_ptr<Connection> attach(const std::shared_ptr<detail::QueryState>& query);
    void detach(const detail::QueryState* query) noexcept;
    // The connection unless there is none or it is being closed.
    std::shared_ptr<Connection> openConnection() const;
    // The connection, also while it is being closed (for stopping what runs
    // on it).
    std::shared_ptr<Connection> heldConnection() const;
    void closeHoldingLifecycle();

    Session& session_;
    const std::string name_;
    std::string alias_;
    std::string driver_;
    ParamList params_;
    bool loginPrompt_ = false;
    std::function<void()> afterConnect_;
    std::function<void()> afterDisconnect_;

    std::mutex lifecycle_;      // one open() or close() at a time
    mutable std::mutex mutex_;  // the fields below
    std::shared_ptr<Connection> connection_;
    std::vector<std::weak_ptr<detail::QueryState>> users_;
    bool closing_ = false;
};

}  // namespace tarnwell::db
