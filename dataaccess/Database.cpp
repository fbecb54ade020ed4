#include "dataaccess/Database.h"

#include <chrono>
#include <optional>
#include <thread>

#include "dataaccess/Backend.h"
#include "dataaccess/DbError.h"
#include "dataaccess/QueryState.h"
#include "dataaccess/Session.h"
#include "dataaccess/TextTools.h"
#include "dataaccess/odbc/OdbcConnection.h"

namespace tarnwell::db {

namespace {

bool isLoginKey(std::string_view key) {
    return equalsIgnoringCase(key, "USER NAME") || equalsIgnoringCase(key, "PASSWORD") ||
           equalsIgnoringCase(key, "CONNECT TIMEOUT");
}

// The alias's own keys, or its data source's name, as ODBC takes them; the
// login goes separately.
std::string odbcConnectionString(const ParamList& params, const AliasDefinition* alias) {
    if (alias != nullptr && alias->odbcDataSource) {
        return "DSN=" + odbcConnectionValue(alias->name);
    }
    std::string text;
    ParamList seen;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::string key = params.nameAt(i);
        if (key.empty() || isLoginKey(key) || seen.contains(key)) {
            continue;
        }
        seen.append(key, "");
        if (!text.empty()) {
            text += ';';
        }
        text += key + "=" + odbcConnectionValue(params.valueAt(i));
    }
    return text;
}

BackendSettings settingsFor(const std::string& driver, const ParamList& params, const AliasDefinition* alias) {
    BackendSettings settings;
    settings.user = params.value("USER NAME");
    settings.password = params.value("PASSWORD");
    if (driver == kDriverSqlite) {
        settings.kind = BackendKind::Sqlite;
        settings.path = params.value("PATH");
        if (settings.path.empty()) {
            throw DbError("No database file: the parameter PATH is empty");
        }
        settings.readOnly = equalsIgnoringCase(params.value("OPEN MODE"), "READ ONLY");
    } else if (driver == kDriverPostgres || driver == kDriverMariaDb || driver == kDriverMySql) {
        settings.kind = driver == kDriverPostgres ? BackendKind::Postgres : BackendKind::MariaDb;
        settings.host = params.value("SERVER NAME");
        settings.port = params.value("PORT");
        settings.database = params.value("DATABASE NAME");
        settings.connectTimeoutSeconds = timeoutSetting("CONNECT TIMEOUT", params.value("CONNECT TIMEOUT"), 10);
        if (settings.kind == BackendKind::MariaDb) {
            settings.initCommand = params.value("INIT COMMAND");
        }
    } else if (driver == kDriverOdbc) {
        settings.kind = BackendKind::Odbc;
        settings.odbcConnectionString = odbcConnectionString(params, alias);
        settings.connectTimeoutSeconds = timeoutSetting("CONNECT TIMEOUT", params.value("CONNECT TIMEOUT"), 15);
    } else if (driver.empty()) {
        throw DbError("No driver: the database names no alias and no driver");
    } else {
        throw DbError("Unknown driver type: " + driver + " (known: " + std::string(kKnownDrivers) + ")");
    }
    return settings;
}

}  // namespace

Database::Database(Session& session, std::string databaseName) : session_(session), name_(std::move(databaseName)) {
    session_.registerDatabase(*this);
}

Database::~Database() {
    session_.unregisterDatabase(*this);
    // Whoever set the callbacks may be going away too: they are not called.
    afterConnect_ = nullptr;
    afterDisconnect_ = nullptr;
    close();
}

std::string Database::effectiveDriverName() const {
    if (!driver_.empty()) {
        return upperAscii(driver_);
    }
    if (alias_.empty()) {
        return {};
    }
    return session_.aliasDriverName(alias_);
}

ParamList Database::effectiveParams() const {
    ParamList params = params_;
    if (!alias_.empty() && session_.isAlias(alias_)) {
        const ParamList aliasParams = session_.aliasParams(alias_);
        for (std::size_t i = 0; i < aliasParams.size(); ++i) {
            params.appendLine(aliasParams.line(i));
        }
    }
    return params;
}

void Database::open() {
    std::lock_guard lifecycle(lifecycle_);
    if (openConnection()) {
        if (connected()) {
            return;
        }
        // The engine went away: its queries let go of it, and a new
        // connection takes its place.
        closeHoldingLifecycle();
    }
    if (!alias_.empty() && !session_.isAlias(alias_) && driver_.empty()) {
        throw DbError("Unknown alias: " + alias_);
    }
    std::shared_ptr<Connection> connection = openBackend(backendSettings());
    {
        std::lock_guard lock(mutex_);
        connection_ = std::move(connection);
    }
    if (afterConnect_) {
        afterConnect_();
    }
}

BackendSettings Database::backendSettings() const {
    std::optional<AliasDefinition> alias;
    if (!alias_.empty() && session_.isAlias(alias_)) {
        alias = session_.alias(alias_);
    }
    return settingsFor(effectiveDriverName(), effectiveParams(), alias ? &*alias : nullptr);
}

void Database::close() {
    std::lock_guard lifecycle(lifecycle_);
    closeHoldingLifecycle();
}

void Database::closeHoldingLifecycle() {
    std::shared_ptr<Connection> connection;
    std::vector<std::shared_ptr<detail::QueryState>> users;
    {
        std::lock_guard lock(mutex_);
        if (!connection_) {
            return;
        }
        closing_ = true;
        connection = connection_;
        for (const auto& weak : users_) {
            if (auto user = weak.lock()) {
                users.push_back(std::move(user));
            }
        }
    }
    // A query may be in the middle of a statement on another thread: keep
    // asking the engine to stop it until that thread lets go of the query,
    // and cut the connection of an engine that does not answer.
    const auto cutAt = std::chrono::steady_clock::now() + kCancelGrace;
    for (const auto& user : users) {
        std::unique_lock run(user->run, std::defer_lock);
        while (!run.try_lock()) {
            connection->cancel();
            if (std::chrono::steady_clock::now() >= cutAt) {
                connection->cutConnection();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (user->database == this) {
            user->release(this);
        }
    }
    {
        std::lock_guard lock(mutex_);
        users_.clear();
        connection_.reset();
        closing_ = false;
    }
    connection.reset();
    if (afterDisconnect_) {
        afterDisconnect_();
    }
}

std::shared_ptr<Connection> Database::openConnection() const {
    std::lock_guard lock(mutex_);
    return closing_ ? nullptr : connection_;
}

bool Database::connected() const {
    // Asked outside the lock: a driver may have to ask its server.
    const std::shared_ptr<Connection> connection = openConnection();
    return connection != nullptr && connection->alive();
}

std::string Database::dbmsName() const {
    const std::shared_ptr<Connection> connection = openConnection();
    return connection != nullptr ? connection->dbmsName() : std::string();
}

void Database::setConnected(bool connected) {
    if (connected) {
        open();
    } else {
        close();
    }
}

std::shared_ptr<Connection> Database::heldConnection() const {
    std::lock_guard lock(mutex_);
    return connection_;
}

void Database::cancel() noexcept {
    if (const std::shared_ptr<Connection> connection = heldConnection()) {
        connection->cancel();
    }
}

void Database::cutConnection() noexcept {
    if (const std::shared_ptr<Connection> connection = heldConnection()) {
        connection->cutConnection();
    }
}

std::shared_ptr<Connection> Database::attach(const std::shared_ptr<detail::QueryState>& query) {
    std::lock_guard lock(mutex_);
    if (!connection_ || closing_) {
        throw DbError("Database " + name_ + " is not connected");
    }
    std::erase_if(users_, [](const std::weak_ptr<detail::QueryState>& user) { return user.expired(); });
    users_.push_back(query);
    return connection_;
}

void Database::detach(const detail::QueryState* query) noexcept {
    std::lock_guard lock(mutex_);
    std::erase_if(users_, [query](const std::weak_ptr<detail::QueryState>& user) {
        const auto locked = user.lock();
        return !locked || locked.get() == query;
    });
}

}  // namespace tarnwell::db
