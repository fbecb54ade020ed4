// The ODBC backend against the real drivers of the test configuration: the
// shared suites over the SQLite driver (data source tarnwell_sqlite, on a
// file of each test's own) and over the PostgreSQL Unicode driver (data source
// tarnwell_pg, on the test server), then what only ODBC does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <optional>
#include <string>

#include "ConformanceSuite.h"
#include "DataTestSupport.h"
#include "dataaccess/DbError.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "sqlsyntax/Keywords.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {
namespace {

using db::Connection;
using db::DbError;
using db::FieldKind;
using db::openOdbc;
using db::RowStore;

std::string hexOf(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

enum class OdbcServer { None, Postgres, MariaDb };

std::string odbcUnavailable(OdbcServer server) {
    if (!useTestOdbcConfiguration()) {
        return "no unixODBC test configuration (run the tests through ctest)";
    }
    if (server == OdbcServer::Postgres && !testServer()) {
        return "no PostgreSQL test server (run the tests through ctest)";
    }
    if (server == OdbcServer::MariaDb && testMariaDbDataSource().empty()) {
        return "no MariaDB test server with its ODBC driver (packages mariadb-server, odbc-mariadb)";
    }
    return {};
}

// An ODBC connection string as the alias engine builds it from the alias's
// parameters, and as the connection-string engine takes it.
BackendTarget odbcTarget(const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string odbc;
    BackendTarget target;
    target.driver = "ODBC";
    for (const auto& [key, value] : keys) {
        odbc += (odbc.empty() ? "" : ";") + key + "=" + value;
        target.aliasParams.append(key, value);
    }
    target.connect = [odbc] { return openOdbc({odbc, 15}); };
    target.connectionString = "Provider=ODBC.1;Extended Properties=\"" + odbc + "\"";
    return target;
}

// The SQLite driver reports numeric as a double and char(n) as varchar(n),
// and hands text over as C strings.
BackendAdapter odbcSqliteAdapter() {
    BackendAdapter adapter;
    adapter.name = "OdbcSqlite";
    adapter.dialect = sql::Dialect::SQLite;
    adapter.unavailable = [] { return odbcUnavailable(OdbcServer::None); };
    adapter.makeTarget = [] {
        auto dir = std::make_shared<TempDir>();
        BackendTarget target = odbcTarget({{"DSN", "tarnwell_sqlite"}, {"Database", dir->file("odbc.db")}});
        target.resources = dir;
        return target;
    };
    adapter.kinds = {
        {"integer", FieldKind::Integer, 0, "-42", "-42"},
        {"smallint", FieldKind::Smallint, 0, "7", "7"},
        {"bigint", FieldKind::LargeInt, 0, "9007199254740993", "9007199254740993"},
        {"double", FieldKind::Float, 0, "1e300", "1e+300"},
        {"double", FieldKind::Float, 0, "1e10", "10000000000"},
        // The driver keeps a value as SQLite's text of it: fifteen digits.
        {"double", FieldKind::Float, 0, "0.1 + 0.2", "0.3"},
        {"double", FieldKind::Float, 0, "-1e999", "-Infinity"},
        {"real", FieldKind::Float, 0, "2.5", "2.5"},
        {"numeric(10,2)", FieldKind::Float, 0, "-123.45", "-123.45"},
        {"char(10)", FieldKind::String, 10, "'ab'", "ab"},
        {"varchar(20)", FieldKind::String, 20, "'one\r\ntwo\tthree'", "one\r\ntwo\tthree"},
        {"text", FieldKind::Memo, 0, "'繁體中文'", "繁體中文"},
        {"blob", FieldKind::Blob, 0, "x'0102'", "\x01\x02"},
        {"varbinary(8)", FieldKind::VarBytes, 8, "x'03'", "\x03"},
        {"date", FieldKind::Date, 0, "'2024-02-29'", "2024-02-29"},
        {"time", FieldKind::Time, 0, "'13:14:15.5'", "13:14:15.5"},
        {"timestamp", FieldKind::DateTime, 0, "'2024-02-29T13:14:15.25'", "2024-02-29 13:14:15.25"},
        {"timestamp", FieldKind::DateTime, 0, "'2024-02-29 13:14:15'", "2024-02-29 13:14:15"},
        {"boolean", FieldKind::Boolean, 0, "1", "1"},
        {"uuid", FieldKind::Guid, 0, "'6F9619FF-8B86-D011-B42D-00C04FC964FF'", "6f9619ff-8b86-d011-b42d-00c04fc964ff"},
    };
    adapter.textType = "text";
    adapter.binaryType = "blob";
    adapter.binaryLiteral = [](std::string_view bytes) { return "x'" + hexOf(bytes) + "'"; };
    adapter.longRunningSql =
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT max(x) FROM c";
    adapter.syntaxErrorFragment = "near \"SELEC\": syntax error";
    adapter.syntaxErrorState = "HY000";
    adapter.cancelFragment = "interrupted";
    adapter.nonUtf8TextLiteral = "CAST(x'a4a4ff0041' AS TEXT)";
    // The driver hands text over as C strings: a NUL ends it.
    adapter.nonUtf8TextBytes = "\xa4\xa4\xff";
    adapter.viewsCanFail = true;
    adapter.keyPositionsInColumnOrder = true;
    return adapter;
}

// A server's data source through `keys`, with a login fault where asked;
// `hostKey` is the driver's key for the server's host.
BackendTarget odbcServerTarget(std::vector<std::pair<std::string, std::string>> keys, const std::string& hostKey,
                               std::optional<LoginFault> fault) {
    if (fault == LoginFault::WrongPassword) {
        keys.emplace_back("PWD", "not-the-password");
    }
    if (fault == LoginFault::UnknownHost) {
        keys.emplace_back(hostKey, "no-such-host.invalid");
    }
    return odbcTarget(keys);
}

BackendTarget odbcPostgresTarget(std::optional<LoginFault> fault = std::nullopt) {
    return odbcServerTarget({{"DSN", "tarnwell_pg"}}, "Servername", fault);
}

// The PostgreSQL driver reports uuid as SQL_GUID, money as a float named
// "money", timestamps without their time zone.
BackendAdapter odbcPostgresAdapter() {
    BackendAdapter adapter;
    adapter.name = "OdbcPostgres";
    adapter.dialect = sql::Dialect::PostgreSQL;
    adapter.unavailable = [] { return odbcUnavailable(OdbcServer::Postgres); };
    adapter.makeTarget = [] { return odbcPostgresTarget(); };
    adapter.faultyTarget = [](LoginFault fault) { return odbcPostgresTarget(fault); };
    adapter.kinds = {
        {"integer", FieldKind::Integer, 0, "-42", "-42"},
        {"smallint", FieldKind::Smallint, 0, "7", "7"},
        {"bigint", FieldKind::LargeInt, 0, "9007199254740993", "9007199254740993"},
        {"double precision", FieldKind::Float, 0, "1e300", "1e+300"},
        {"double precision", FieldKind::Float, 0, "1e10", "10000000000"},
        {"double precision", FieldKind::Float, 0, "0.1::float8 + 0.2::float8", "0.30000000000000004"},
        {"double precision", FieldKind::Float, 0, "'-Infinity'", "-Infinity"},
        {"double precision", FieldKind::Float, 0, "'NaN'", "NaN"},
        {"real", FieldKind::Float, 0, "2.5", "2.5"},
        {"real", FieldKind::Float, 0, "1234567", "1.234567e+06"},
        {"numeric(10,2)", FieldKind::BCD, 2, "-123.45", "-123.45", 10},
        {"numeric(20,4)", FieldKind::FMTBcd, 4, "98765432109876.5432", "98765432109876.5432", 20},
        {"char(10)", FieldKind::FixedChar, 10, "'ab'", "ab        "},
        {"varchar(20)", FieldKind::String, 20, "E'one\\r\\ntwo\\tthree'", "one\r\ntwo\tthree"},
        {"text", FieldKind::Memo, 0, "'繁體中文'", "繁體中文"},
        {"bytea", FieldKind::Blob, 0, "'\\x0102'::bytea", "\x01\x02"},
        {"date", FieldKind::Date, 0, "'2024-02-29'", "2024-02-29"},
        {"time", FieldKind::Time, 0, "'13:14:15.5'", "13:14:15.5"},
        {"timestamp", FieldKind::DateTime, 0, "'2024-02-29 13:14:15.25'", "2024-02-29 13:14:15.25"},
        {"timestamp", FieldKind::DateTime, 0, "'2024-02-29 13:14:15'", "2024-02-29 13:14:15"},
        {"boolean", FieldKind::Boolean, 0, "true", "1"},
        {"uuid", FieldKind::Guid, 0, "'6f9619ff-8b86-d011-b42d-00c04fc964ff'", "6f9619ff-8b86-d011-b42d-00c04fc964ff"},
        {"money", FieldKind::Currency, 2, "-1234.5", "-1234.50"},
    };
    adapter.textType = "text";
    adapter.binaryType = "bytea";
    adapter.binaryLiteral = [](std::string_view bytes) { return "'\\x" + hexOf(bytes) + "'::bytea"; };
    adapter.longRunningSql = "SELECT pg_sleep(30)";
    adapter.syntaxErrorFragment = "syntax error at or near \"SELEC\"";
    adapter.syntaxErrorState = "42601";
    adapter.cancelFragment = "canceling statement due to user request";
    adapter.wrongPasswordFragment = "password authentication failed for user \"tarnwell\"";
    adapter.unknownHostFragment = "could not translate host name \"no-such-host.invalid\"";
    adapter.sessionEndedFragments = {"terminating connection due to administrator command",
                                     "server closed the connection unexpectedly"};
    adapter.sessionIdSql = "SELECT pg_backend_pid()";
    adapter.endSessionSql = "SELECT pg_terminate_backend({id})";
    adapter.numberedRowsSql = [](int count) {
        return "SELECT g, repeat('x', 100) FROM generate_series(1, " + std::to_string(count) + ") g";
    };
    adapter.catalogSchema = "public";
    return adapter;
}

BackendTarget odbcMariaDbTarget(std::optional<LoginFault> fault = std::nullopt) {
    // The suite writes standard SQL, where || joins text; MariaDB reads it as
    // OR unless told otherwise.
    return odbcServerTarget({{"DSN", testMariaDbDataSource()},
                             {"InitStmt", "SET SESSION sql_mode = CONCAT(@@sql_mode, ',PIPES_AS_CONCAT')"}},
                            "SERVER", fault);
}

// The MariaDB driver (3.1) reads every result whole when the statement runs.
BackendAdapter odbcMariaDbAdapter() {
    BackendAdapter adapter;
    adapter.name = "OdbcMariaDb";
    adapter.dialect = sql::Dialect::MariaDB;
    adapter.unavailable = [] { return odbcUnavailable(OdbcServer::MariaDb); };
    adapter.makeTarget = [] { return odbcMariaDbTarget(); };
    adapter.faultyTarget = [](LoginFault fault) { return odbcMariaDbTarget(fault); };
    adapter.kinds = {
        {"integer", FieldKind::Integer, 0, "-42", "-42"},
        {"smallint", FieldKind::Smallint, 0, "7", "7"},
        {"bigint", FieldKind::LargeInt, 0, "9007199254740993", "9007199254740993"},
        {"double", FieldKind::Float, 0, "1e300", "1e+300"},
        {"double", FieldKind::Float, 0, "1e10", "10000000000"},
        {"double", FieldKind::Float, 0, "0.1e0 + 0.2e0", "0.30000000000000004"},
        {"float", FieldKind::Float, 0, "2.5", "2.5"},
        {"decimal(10,2)", FieldKind::BCD, 2, "-123.45", "-123.45", 10},
        {"decimal(20,4)", FieldKind::FMTBcd, 4, "98765432109876.5432", "98765432109876.5432", 20},
        {"char(10)", FieldKind::FixedChar, 10, "'ab'", "ab"},
        {"varchar(20)", FieldKind::String, 20, "'one\r\ntwo\tthree'", "one\r\ntwo\tthree"},
        {"text", FieldKind::Memo, 0, "'繁體中文'", "繁體中文"},
        {"longtext", FieldKind::Memo, 0, "'Último Pau-De-Arara'", "Último Pau-De-Arara"},
        {"blob", FieldKind::Blob, 0, "x'0102'", "\x01\x02"},
        {"varbinary(8)", FieldKind::VarBytes, 8, "x'03'", "\x03"},
        {"date", FieldKind::Date, 0, "'2024-02-29'", "2024-02-29"},
        {"time(1)", FieldKind::Time, 0, "'13:14:15.5'", "13:14:15.5"},
        {"datetime(2)", FieldKind::DateTime, 0, "'2024-02-29 13:14:15.25'", "2024-02-29 13:14:15.25"},
        {"datetime", FieldKind::DateTime, 0, "'2024-02-29 13:14:15'", "2024-02-29 13:14:15"},
        {"boolean", FieldKind::Smallint, 0, "true", "1"},
        {"uuid", FieldKind::FixedChar, 36, "'6f9619ff-8b86-d011-b42d-00c04fc964ff'", "6f9619ff-8b86-d011-b42d-00c04fc964ff"},
    };
    adapter.textType = "longtext";
    adapter.binaryType = "longblob";
    adapter.binaryLiteral = [](std::string_view bytes) { return bytes.empty() ? std::string("''") : "x'" + hexOf(bytes) + "'"; };
    adapter.longRunningSql = "SELECT SLEEP(30)";
    adapter.syntaxErrorFragment = "You have an error in your SQL syntax";
    adapter.syntaxErrorState = "42000";
    adapter.placesSyntaxErrors = true;
    adapter.cancelFragment = "Query execution was interrupted";
    adapter.wrongPasswordFragment = "Access denied for user 'tarnwell'";
    adapter.unknownHostFragment = "Unknown server host 'no-such-host.invalid'";
    adapter.sessionEndedFragments = {"Lost connection", "server has gone away", "Connection was killed",
                                     "Broken pipe"};
    adapter.sessionIdSql = "SELECT CONNECTION_ID()";
    adapter.endSessionSql = "KILL {id}";
    adapter.numberedRowsSql = [](int count) {
        return "SELECT seq, repeat('x', 100) FROM seq_1_to_" + std::to_string(count);
    };
    adapter.resultArrivesWhole = true;
    // The driver lists a database as a catalog, which SQL names as a schema.
    adapter.catalogSchema = "tarnwell_test";
    adapter.quoteName = [](std::string_view name) { return sql::quoteIdentifier(sql::Dialect::MariaDB, name); };
    adapter.viewsCanFail = true;
    adapter.keyPositionsInColumnOrder = true;
    // The driver is older than MariaDB's uuid type: SQLColumns calls it
    // binary data, where a result's column is text.
    adapter.catalogKindQuirks = {{"uuid", FieldKind::Blob, 0, "", ""}};
    return adapter;
}

INSTANTIATE_TEST_SUITE_P(OdbcSqlite, ConnectionConformance, ::testing::Values(odbcSqliteAdapter()), adapterName);
INSTANTIATE_TEST_SUITE_P(OdbcSqlite, StoredBytesConformance, ::testing::Values(odbcSqliteAdapter()), adapterName);
INSTANTIATE_TEST_SUITE_P(OdbcPostgres, ConnectionConformance, ::testing::Values(odbcPostgresAdapter()),
                         adapterName);
INSTANTIATE_TEST_SUITE_P(OdbcPostgres, ServerConformance, ::testing::Values(odbcPostgresAdapter()), adapterName);
INSTANTIATE_TEST_SUITE_P(OdbcMariaDb, ConnectionConformance, ::testing::Values(odbcMariaDbAdapter()),
                         adapterName);
INSTANTIATE_TEST_SUITE_P(OdbcMariaDb, ServerConformance, ::testing::Values(odbcMariaDbAdapter()), adapterName);

TEST(OdbcConnection, AResultLeftEarlyTakesTheDriversServerCursorWithIt) {
    TARNWELL_REQUIRE_ODBC();
    TARNWELL_REQUIRE_PG(server);
    (void)server;
    auto connection = openOdbc({"DSN=tarnwell_pg", 15});
    {
        auto big = connection->execute("select generate_series(1, 200000) as n");
        RowStore rows(1);
        ASSERT_EQ(big->fetch(rows, 10), 10u);
        EXPECT_FALSE(big->atEnd());
    }
    // The driver reads through a server-side cursor of its own; it must go
    // with the result. (This query runs in a cursor too, whose text the
    // pattern misses.)
    EXPECT_EQ(scalar(*connection, "select count(*) from pg_cursors where statement like '%series(1, 2' || '00000)%'"),
              "0");
}

TEST(OdbcConnection, AnUnknownDataSourceFailsWithTheDriverManagersWords) {
    TARNWELL_REQUIRE_ODBC();
    try {
        openOdbc({"DSN=tarnwell_no_such_source", 15});
        FAIL() << "an unknown data source opened";
    } catch (const DbError& error) {
        EXPECT_EQ(error.sqlState(), "IM002");
        EXPECT_NE(std::string(error.what()).find("Data source name not found"), std::string::npos) << error.what();
    }
}

// Runs the process in the C locale (7-bit ASCII) for the life of the object.
class CLocale {
public:
    CLocale() : previous_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C"); }
    ~CLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

private:
    std::string previous_;
};

TEST(OdbcConnection, ChineseInTheConnectionStringSurvivesAProgramInTheCLocale) {
    TARNWELL_REQUIRE_ODBC();
    char pattern[] = "/tmp/tarnwell-odbc-locale.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path directory(pattern);
    const std::filesystem::path database = directory / "資料庫.db";
    {
        std::unique_ptr<Connection> connection;
        {
            const CLocale ascii;
            connection = openOdbc({"Driver=SQLite3;Database=" + database.string(), 15});
        }
        connection->execute("create table t (x integer)");
        EXPECT_TRUE(std::filesystem::exists(database));
    }
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace tarnwell::test
