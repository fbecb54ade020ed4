#include "dataaccess/Backend.h"

#include "dataaccess/ConnectionString.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Paths.h"
#include "dataaccess/mariadb/MariaDbCatalog.h"
#include "dataaccess/mariadb/MariaDbConnection.h"
#include "dataaccess/odbc/OdbcCatalog.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/postgres/PgCatalog.h"
#include "dataaccess/postgres/PgConnection.h"
#include "dataaccess/sqlite/SqliteConnection.h"

namespace tarnwell::db {

namespace {

ConnectionString odbcEntries(const std::string& text) {
    try {
        return ConnectionString::parse(text, ConnectionString::Syntax::Odbc);
    } catch (const DbError&) {
        return {};
    }
}

std::string withOdbcLogin(std::string text, const std::string& user, const std::string& password) {
    const ConnectionString given = odbcEntries(text);
    const auto add = [&text](const char* key, const std::string& value) {
        if (!text.empty()) {
            text += ';';
        }
        text += key;
        text += '=';
        text += odbcConnectionValue(value);
    };
    if (!user.empty() && !given.contains("UID")) {
        add("UID", user);
    }
    if (!password.empty() && !given.contains("PWD")) {
        add("PWD", password);
    }
    return text;
}

SqliteSettings sqliteSettings(const BackendSettings& settings) {
    SqliteSettings sqlite;
    sqlite.path = expandHome(settings.path);
    sqlite.readOnly = settings.readOnly;
    return sqlite;
}

PgSettings pgSettings(const BackendSettings& settings) {
    PgSettings pg;
    pg.host = settings.host;
    pg.port = settings.port;
    pg.database = settings.database;
    pg.user = settings.user;
    pg.password = settings.password;
    pg.connectTimeoutSeconds = settings.connectTimeoutSeconds;
    return pg;
}

MariaDbSettings mariaDbSettings(const BackendSettings& settings) {
    MariaDbSettings mariaDb;
    mariaDb.host = settings.host;
    mariaDb.port = settings.port;
    mariaDb.database = settings.database;
    mariaDb.user = settings.user;
    mariaDb.password = settings.password;
    mariaDb.initCommand = settings.initCommand;
    mariaDb.connectTimeoutSeconds = settings.connectTimeoutSeconds;
    return mariaDb;
}

OdbcSettings odbcSettings(const BackendSettings& settings) {
    OdbcSettings odbc;
    odbc.connectionString = withOdbcLogin(settings.odbcConnectionString, settings.user, settings.password);
    odbc.loginTimeoutSeconds = settings.connectTimeoutSeconds;
    return odbc;
}

}  // namespace

std::string odbcConnectionStringValue(const std::string& text, const std::string& key) {
    return odbcEntries(text).value(key);
}

std::unique_ptr<Connection> openBackend(const BackendSettings& settings) {
    switch (settings.kind) {
    case BackendKind::Sqlite:
        return openSqlite(sqliteSettings(settings));
    case BackendKind::Postgres:
        return openPostgres(pgSettings(settings));
    case BackendKind::MariaDb:
        return openMariaDb(mariaDbSettings(settings));
    case BackendKind::Odbc:
        return openOdbc(odbcSettings(settings));
    }
    throw DbError("Unknown backend");
}

std::unique_ptr<CatalogReader> openCatalogReader(const BackendSettings& settings,
                                                 const std::vector<SqliteAttachment>& attached) {
    switch (settings.kind) {
    case BackendKind::Sqlite:
        return openSqliteCatalog(sqliteSettings(settings), attached);
    case BackendKind::Postgres:
        return openPostgresCatalog(pgSettings(settings));
    case BackendKind::MariaDb:
        return openMariaDbCatalog(mariaDbSettings(settings));
    case BackendKind::Odbc:
        return openOdbcCatalog(odbcSettings(settings));
    }
    throw DbError("Unknown backend");
}

}  // namespace tarnwell::db
