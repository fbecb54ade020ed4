#include "dataaccess/Backend.h"

#include "dataaccess/ConnectionString.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Paths.h"
#include "dataaccess/mariadb/MariaDbConnection.h"
#include "dataaccess/odbc/OdbcConnection.h"
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

}  // namespace

std::string odbcConnectionStringValue(const std::string& text, const std::string& key) {
    return odbcEntries(text).value(key);
}

std::unique_ptr<Connection> openBackend(const BackendSettings& settings) {
    switch (settings.kind) {
    case BackendKind::Sqlite: {
        SqliteSettings sqlite;
        sqlite.path = expandHome(settings.path);
        sqlite.readOnly = settings.readOnly;
        return openSqlite(sqlite);
    }
    case BackendKind::Postgres: {
        PgSettings pg;
        pg.host = settings.host;
        pg.port = settings.port;
        pg.database = settings.database;
        pg.user = settings.user;
        pg.password = settings.password;
        pg.connectTimeoutSeconds = settings.connectTimeoutSeconds;
        return openPostgres(pg);
    }
    case BackendKind::MariaDb: {
        MariaDbSettings mariaDb;
        mariaDb.host = settings.host;
        mariaDb.port = settings.port;
        mariaDb.database = settings.database;
        mariaDb.user = settings.user;
        mariaDb.password = settings.password;
        mariaDb.initCommand = settings.initCommand;
        mariaDb.connectTimeoutSeconds = settings.connectTimeoutSeconds;
        return openMariaDb(mariaDb);
    }
    case BackendKind::Odbc: {
        OdbcSettings odbc;
        odbc.connectionString = withOdbcLogin(settings.odbcConnectionString, settings.user, settings.password);
        odbc.loginTimeoutSeconds = settings.connectTimeoutSeconds;
        return openOdbc(odbc);
    }
    }
    throw DbError("Unknown backend");
}

}  // namespace tarnwell::db
