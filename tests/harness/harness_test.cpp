// The test run's own servers and drivers answer: the PostgreSQL server that
// pgserver.sh started, and unixODBC with the SQLite and PostgreSQL drivers
// through the private configuration.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>

#include "support/TestEnvironment.h"

namespace {

TEST(TestHarness, PostgresServerAnswersOnLoopbackWithPassword) {
    TARNWELL_REQUIRE_PG(server);
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(server.conninfo.c_str()), &PQfinish);
    ASSERT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
    std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexec(conn.get(), "select current_database(), inet_server_addr()::text"), &PQclear);
    ASSERT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK);
    EXPECT_EQ(std::string(PQgetvalue(result.get(), 0, 0)), server.database);
    EXPECT_EQ(std::string(PQgetvalue(result.get(), 0, 1)), "127.0.0.1/32");

    const std::string wrong = server.conninfo + " password=not-the-password";
    std::unique_ptr<PGconn, decltype(&PQfinish)> refused(PQconnectdb(wrong.c_str()), &PQfinish);
    EXPECT_EQ(PQstatus(refused.get()), CONNECTION_BAD);
    EXPECT_NE(std::string(PQerrorMessage(refused.get())).find("password authentication failed"),
              std::string::npos);
}

std::string odbcSelectOne(const std::string& connectionString) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    std::string answer;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string in = connectionString;
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS,
                                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (SQL_SUCCEEDED(rc)) {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        SQLCHAR sql[] = "select 6 * 7";
        if (SQL_SUCCEEDED(SQLExecDirect(stmt, sql, SQL_NTS)) && SQL_SUCCEEDED(SQLFetch(stmt))) {
            char buffer[32] = {};
            SQLLEN length = 0;
            SQLGetData(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length);
            answer = buffer;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return answer;
}

TEST(TestHarness, OdbcDataSourcesReachSqliteAndPostgres) {
    TARNWELL_REQUIRE_ODBC();
    EXPECT_EQ(odbcSelectOne("DSN=tarnwell_sqlite"), "42");
    EXPECT_EQ(odbcSelectOne("DSN=tarnwell_pg"), "42");
}

}  // namespace
