#include "dataaccess/AdoConnection.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "dataaccess/Backend.h"
#include "dataaccess/DataLink.h"
#include "dataaccess/DbError.h"
#include "dataaccess/SqlText.h"
#include "dataaccess/ParamList.h"
#include "dataaccess/Paths.h"
#include "dataaccess/TextTools.h"
#include "dataaccess/odbc/OdbcConnection.h"

namespace tarnwell::db {

namespace {

// Stops a statement that runs longer than the command timeout.
class StatementTimer {
public:
    StatementTimer(AdoConnection& connection, int seconds) {
        if (seconds <= 0) {
            return;
        }
        thread_ = std::thread([this, &connection, seconds] {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                return;
            }
            fired_ = true;
            connection.cancel();
            if (!wake_.wait_for(lock, kCancelGrace, [this] { return done_; })) {
                connection.cutConnection();
            }
        });
    }

    ~StatementTimer() { stop(); }

    // After stop() returns the timer cancels nothing any more.
    void stop() {
        if (!thread_.joinable()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    bool fired() const {
        std::lock_guard lock(mutex_);
        return fired_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool fired_ = false;
    std::thread thread_;
};

DbError timeoutError(int seconds) {
    return DbError("Timeout expired: the statement ran longer than the command timeout of " +
                   std::to_string(seconds) + " seconds and was stopped");
}

// Where a server's Data Source ("host[:port]/database") points.
struct ServerTarget {
    std::string host;
    std::string port;
    std::string database;
};

ServerTarget parseServerDataSource(const std::string& dataSource) {
    ServerTarget target;
    const auto slash = dataSource.find('/');
    const std::string hostPort = dataSource.substr(0, slash);
    if (slash != std::string::npos) {
        target.database = dataSource.substr(slash + 1);
    }
    if (!hostPort.empty() && hostPort.front() == '[') {
        const auto close = hostPort.find(']');
        if (close == std::string::npos) {
            throw DbError("The connection string is not valid: Data Source \"" + dataSource +
                          "\" has an unclosed \"[\"");
        }
        target.host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':') {
                throw DbError("The connection string is not valid: Data Source \"" + dataSource + "\"");
            }
            target.port = hostPort.substr(close + 2);
        }
    } else if (std::count(hostPort.begin(), hostPort.end(), ':') == 1) {
        const auto colon = hostPort.find(':');
        target.host = hostPort.substr(0, colon);
        target.port = hostPort.substr(colon + 1);
    } else {
        target.host = hostPort;
    }
    if (!target.port.empty()) {
        int port = 0;
        const auto [end, ec] = std::from_chars(target.port.data(), target.port.data() + target.port.size(), port);
        if (ec != std::errc() || end != target.port.data() + target.port.size() || port <= 0 || port > 65535) {
            throw DbError("The connection string is not valid: the port \"" + target.port +
                          "\" in Data Source is not a port number");
        }
    }
    return target;
}

// The connection string with a "FILE NAME=" indirection replaced by the data
// link file's string (keys given beside it win).
ConnectionString resolveDataLink(const ConnectionString& given) {
    if (!given.contains("File Name")) {
        return given;
    }
    const std::string path = expandHome(given.value("File Name"));
    ConnectionString resolved = ConnectionString::parse(readDataLinkFile(path));
    if (resolved.contains("File Name")) {
        throw DbError("A data link file cannot name another data link file: " + path);
    }
    for (const auto& [key, value] : given.entries()) {
        if (!equalsIgnoringCase(key, "File Name")) {
            resolved.set(key, value);
        }
    }
    return resolved;
}

}  // namespace

AdoConnection::AdoConnection() = default;

AdoConnection::~AdoConnection() {
    close();
    for (AdoQuery* query : queries_) {
        query->release();
    }
}

void AdoConnection::resetToNewConnectionDefaults() {
    close();
    commandTimeout_ = 30;
    connectionString_.clear();
    connectionTimeout_ = 15;
    connectOptions_ = ConnectOption::Unspecified;
    cursorLocation_ = CursorLocation::Client;
    defaultDatabase_.clear();
    isolationLevel_ = IsolationLevel::CursorStability;
    keepConnection_ = true;
    loginPrompt_ = false;
    mode_ = ConnectMode::Unknown;
    provider_.clear();
}

void AdoConnection::setConnectionString(std::string text) {
    if (text == connectionString_) {
        return;
    }
    close();
    connectionString_ = std::move(text);
}

void AdoConnection::setConnected(bool connected) {
    if (connected) {
        open();
    } else {
        close();
    }
}

std::string AdoConnection::provider() const {
    if (connected()) {
        return provider_;
    }
    try {
        const std::string named = ConnectionString::parse(connectionString_).value("Provider");
        const std::string canonical = canonicalProviderName(named);
        return canonical.empty() ? named : canonical;
    } catch (const DbError&) {
        return {};
    }
}

AdoConnection::Target AdoConnection::target() const {
    Target target;
    target.settings = resolveDataLink(ConnectionString::parse(connectionString_));
    const ConnectionString& settings = target.settings;
    const std::string named = settings.value("Provider");
    if (named.empty()) {
        throw DbError("The connection string names no provider (Provider=" + knownProviderNames() + ")");
    }
    const std::string provider = canonicalProviderName(named);
    if (provider.empty()) {
        throw DbError("Unknown provider \"" + named + "\" (known: " + knownProviderNames() + ")");
    }
    target.provider = provider;
    std::string& dataSource = target.dataSource;
    dataSource = settings.value("Data Source");
    BackendSettings& backend = target.backend;
    backend.connectTimeoutSeconds = timeoutSetting("Connect Timeout", settings.value("Connect Timeout"), connectionTimeout_);
    backend.user = settings.value("User ID");
    backend.password = settings.value("Password");
    if (provider == kProviderSqlite) {
        if (dataSource.empty()) {
            throw DbError("The connection string names no Data Source (the SQLite database file)");
        }
        backend.kind = BackendKind::Sqlite;
        backend.path = dataSource;
        backend.readOnly = mode_ == ConnectMode::Read || equalsIgnoringCase(settings.value("Mode"), "Read");
    } else if (provider == kProviderPostgres || provider == kProviderMariaDb) {
        if (dataSource.empty()) {
            throw DbError("The connection string names no Data Source (host[:port]/database)");
        }
        const ServerTarget server = parseServerDataSource(dataSource);
        backend.kind = provider == kProviderPostgres ? BackendKind::Postgres : BackendKind::MariaDb;
        if (backend.kind == BackendKind::MariaDb) {
            backend.initCommand = settings.value("Init Command");
        }
        backend.host = server.host;
        backend.port = server.port;
        backend.database = settings.contains("Initial Catalog") ? settings.value("Initial Catalog") : server.database;
        if (backend.database.empty()) {
            backend.database = defaultDatabase_;
        }
    } else {
        backend.kind = BackendKind::Odbc;
        const std::string extended = settings.value("Extended Properties");
        if (!extended.empty()) {
            backend.odbcConnectionString = extended;
            for (const char* key : {"DSN", "DATABASE", "DRIVER"}) {
                if (dataSource.empty()) {
                    dataSource = odbcConnectionStringValue(extended, key);
                }
            }
        } else if (!dataSource.empty()) {
            backend.odbcConnectionString = "DSN=" + odbcConnectionValue(dataSource);
        } else {
            throw DbError("The connection string names no Data Source (a DSN) and no Extended Properties");
        }
    }
    return target;
}

BackendSettings AdoConnection::backendSettings() const { return target().backend; }

void AdoConnection::open() {
    if (connected()) {
        return;
    }
    close();
    const Target target = this->target();
    const ConnectionString& settings = target.settings;
    const std::string& provider = target.provider;
    const std::string& dataSource = target.dataSource;
    std::unique_ptr<Connection> connection = openBackend(target.backend);

    ConnectionString completed;
    completed.set("Provider", provider);
    completed.set("Data Source", dataSource);
    for (const auto& [key, value] : settings.entries()) {
        if (!equalsIgnoringCase(key, "Provider") && !equalsIgnoringCase(key, "Data Source")) {
            completed.set(key, value);
        }
    }
    {
        std::lock_guard lock(cancelGuard_);
        connection_ = std::move(connection);
    }
    provider_ = provider;
    connectionString_ = completed.text();
}

void AdoConnection::close() {
    if (!connection_) {
        return;
    }
    // Cursors go before the connection they belong to.
    for (AdoQuery* query : queries_) {
        query->release();
    }
    std::unique_ptr<Connection> closing;
    {
        std::lock_guard lock(cancelGuard_);
        closing = std::move(connection_);
    }
}

void AdoConnection::cancel() noexcept {
    std::lock_guard lock(cancelGuard_);
    if (connection_) {
        connection_->cancel();
    }
}

void AdoConnection::cutConnection() noexcept {
    std::lock_guard lock(cancelGuard_);
    if (connection_) {
        connection_->cutConnection();
    }
}

AdoQuery::AdoQuery(AdoConnection& connection) : connection_(connection) {
    connection_.queries_.push_back(this);
}

AdoQuery::~AdoQuery() {
    release();
    auto& queries = connection_.queries_;
    queries.erase(std::remove(queries.begin(), queries.end(), this), queries.end());
}

void AdoQuery::release() noexcept {
    cursor_.reset();
    columns_.clear();
    active_ = false;
    atEnd_ = true;
    delivered_ = 0;
    ++runId_;
}

void AdoQuery::close() { release(); }

bool AdoQuery::openResult() { return runSql(true); }

void AdoQuery::execSql() { runSql(false); }

std::string AdoQuery::noResultSetReason() const {
    if (recordsDropped_) {
        return "The statement ran without returning records (execute option 8, execute without records, is set)";
    }
    return Statement::noResultSetReason();
}

std::unique_ptr<Cursor> AdoQuery::execute() {
    if (!connection_.connected()) {
        connection_.open();
    }
    const int seconds = connection_.commandTimeout();
    StatementTimer timer(connection_, seconds);
    std::unique_ptr<Cursor> cursor;
    try {
        cursor = connection_.connection()->execute(sql_);
    } catch (const DbError&) {
        timer.stop();
        if (timer.fired()) {
            throw timeoutError(seconds);
        }
        throw;
    }
    timer.stop();
    if (timer.fired()) {
        throw timeoutError(seconds);
    }
    return cursor;
}

bool AdoQuery::runSql(bool wantRows) {
    release();
    rowsAffected_ = -1;
    recordsDropped_ = false;
    refuseNulCharacter(sql_);
    std::unique_ptr<Cursor> cursor = execute();
    if (!cursor->hasResultSet()) {
        rowsAffected_ = cursor->rowsAffected();
        return false;
    }
    const bool withoutRecords = (executeOptions_ & ExecuteNoRecords) != 0;
    if (!wantRows || withoutRecords) {
        rowsAffected_ = readToEnd(*cursor);
        recordsDropped_ = wantRows;
        return false;
    }
    columns_ = cursor->columns();
    cursor_ = std::move(cursor);
    delivered_ = 0;
    limit_ = maxRecords_ > 0 ? static_cast<std::size_t>(maxRecords_) : 0;
    atEnd_ = cursor_->atEnd();
    active_ = true;
    ++runId_;
    return true;
}

std::size_t AdoQuery::fetch(RowStore& rows, std::size_t maxRows) {
    if (!active_) {
        throw DbError("Cannot perform this operation on a closed dataset");
    }
    if (!cursor_) {
        return 0;  // the rows past maxRecords were dropped
    }
    std::size_t wanted = maxRows;
    if (limit_ > 0) {
        wanted = std::min(wanted, limit_ - delivered_);
    }
    std::size_t fetched = 0;
    try {
        fetched = cursor_->fetch(rows, wanted);
    } catch (...) {
        atEnd_ = cursor_->atEnd();
        throw;
    }
    delivered_ += fetched;
    atEnd_ = cursor_->atEnd() || (limit_ > 0 && delivered_ >= limit_);
    if (atEnd_ && !cursor_->atEnd()) {
        // The rows past the limit are never wanted: stop the statement.
        cursor_.reset();
    }
    return fetched;
}

}  // namespace tarnwell::db
