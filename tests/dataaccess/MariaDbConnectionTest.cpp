// The MariaDB backend against the test run's server: opening sessions,
// errors, statements with and without result sets, streaming, and what a
// cancel or a result left early leaves behind. (The shared suites in
// MariaDbValuesTest.cpp cover the rest through the engines.)
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "DataTestSupport.h"
#include "ServerTestSupport.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ErrorPosition.h"
#include "dataaccess/Query.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/Session.h"
#include "dataaccess/mariadb/MariaDbConnection.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {
namespace {

using db::Connection;
using db::DbError;
using db::MariaDbSettings;
using db::openMariaDb;
using db::RowStore;

using Cell = CellValue;
using Rows = ResultRows;

bool mentions(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// --- Opening a session ------------------------------------------------------

TEST(MariaDbOpen, SessionsSpeakUtf8mb4AndReachTheServerByAddressOrSocket) {
    TARNWELL_REQUIRE_MARIADB(server);
    MariaDbSettings settings = mariaDbSettingsOf(server);
    settings.initCommand = "SET @first = '第一'";
    auto connection = openMariaDb(settings);
    EXPECT_EQ(connection->engineName(), "MariaDB");
    EXPECT_EQ(query(*connection,
                    "SELECT @@character_set_client, @@character_set_connection, @@character_set_results, "
                    "DATABASE(), @first"),
              Rows({{Cell("utf8mb4"), Cell("utf8mb4"), Cell("utf8mb4"), Cell(server.database), Cell("第一")}}));

    // A server name that is a path is the server's Unix socket.
    MariaDbSettings local = mariaDbSettingsOf(server);
    local.host = server.socket;
    local.port.clear();
    auto overSocket = openMariaDb(local);
    EXPECT_EQ(scalar(*overSocket, "SELECT 6 * 7"), "42");
    local.host = "/nonexistent/mysqld.sock";
    const DbError noSocket = errorOf([&] { openMariaDb(local); });
    EXPECT_TRUE(mentions(noSocket.what(), "/nonexistent/mysqld.sock")) << noSocket.what();
}

TEST(MariaDbOpen, FailuresCarryTheLibrarysOwnMessage) {
    TARNWELL_REQUIRE_MARIADB(server);
    MariaDbSettings refusedPort = mariaDbSettingsOf(server);
    const LoopbackSocket closed(false);
    refusedPort.port = closed.port();
    const DbError refused = errorOf([&] { openMariaDb(refusedPort); });
    EXPECT_TRUE(mentions(refused.what(), "Can't connect")) << refused.what();

    // A server that takes the connection and never answers holds the caller
    // only as long as the settings allow.
    MariaDbSettings silentServer = mariaDbSettingsOf(server);
    const LoopbackSocket silent(true);
    silentServer.port = silent.port();
    silentServer.connectTimeoutSeconds = 1;
    const DbError timedOut = errorOf([&] { openMariaDb(silentServer); });
    EXPECT_TRUE(mentions(timedOut.what(), "handshake")) << timedOut.what();

    MariaDbSettings noDatabase = mariaDbSettingsOf(server);
    noDatabase.database = "no_such_database";
    const DbError unknown = errorOf([&] { openMariaDb(noDatabase); });
    EXPECT_EQ(unknown.sqlState(), "42000");
    EXPECT_TRUE(mentions(unknown.what(), "database 'no_such_database'")) << unknown.what();

    MariaDbSettings badPort = mariaDbSettingsOf(server);
    badPort.port = "33o6";
    EXPECT_TRUE(mentions(errorOf([&] { openMariaDb(badPort); }).what(), "not a port number"));
}

TEST(MariaDbOpen, AnAliasOfTypeMysqlIsAMariaDbAliasAndItsServerNameMayBeASocket) {
    TARNWELL_REQUIRE_MARIADB(server);
    TempDir dir;
    writeFile(dir.file("aliases.conf"), "[SHOP]\nTYPE=mysql\nSERVER NAME=" + server.socket +
                                            "\nDATABASE NAME=" + server.database + "\nUSER NAME=" + server.user +
                                            "\nPASSWORD=" + server.password + "\n");
    db::Session session(db::SessionConfig{dir.file("aliases.conf"), "", false});
    EXPECT_TRUE(session.configurationProblems().empty());
    EXPECT_EQ(session.aliasDriverName("SHOP"), "MYSQL");
    db::Database database(session, "BDE_SQL_1");
    database.setAliasName("SHOP");
    database.open();
    db::Query query(session);
    query.setDatabaseName("BDE_SQL_1");
    query.setSql("SELECT USER()");
    query.open();
    RowStore rows(1);
    query.fetch(rows, 1);
    EXPECT_EQ(cellText(rows, 0, 0), server.user + "@localhost") << "through the socket, not over TCP";
}

// --- Statements ---------------------------------------------------------------

TEST(MariaDbStatements, ServerErrorsKeepMessageAndStateAndLeaveTheSessionUsable) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    const DbError missing = errorOf([&] { connection->execute("SELECT * FROM no_such_table"); });
    EXPECT_EQ(missing.sqlState(), "42S02");
    EXPECT_TRUE(mentions(missing.what(), "no_such_table' doesn't exist")) << missing.what();

    // An error after some rows were sent surfaces from fetch; the rows stay.
    // (The subquery finds two rows from the fifth row on.)
    auto cursor = connection->execute(
        "SELECT s.seq, (SELECT t.seq FROM seq_1_to_10 t WHERE t.seq + 5 > s.seq AND t.seq + 3 <= s.seq) "
        "FROM seq_1_to_10 s");
    RowStore rows(2);
    const DbError midway = errorOf([&] {
        while (!cursor->atEnd()) cursor->fetch(rows, 1);
    });
    EXPECT_EQ(midway.sqlState(), "21000");
    EXPECT_EQ(rows.rowCount(), 4u);
    EXPECT_TRUE(cursor->atEnd());
    EXPECT_EQ(errorOf([&] { cursor->fetch(rows, 1); }).sqlState(), "21000");
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "SELECT 'still here'"), "still here");
}

// The server quotes the text from the fault on, at most 80 characters of
// it, and the line: the place is found from both, as far as they tell.
TEST(MariaDbStatements, SyntaxErrorsArePlacedFromTheServersQuoteAndLine) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    const std::string longName(120, 'a');
    const std::string truncated = "SELECT 1 FROM FROM " + longName;
    EXPECT_EQ(errorOf([&] { connection->execute(truncated); }).position(), (db::ErrorPosition{14, false}));
    const std::string endsEarly = "SELECT 1,\n 2 FROM\n";
    EXPECT_EQ(errorOf([&] { connection->execute(endsEarly); }).position(), (db::ErrorPosition{17, false}));
    // The quote repeats the first statement's text: the second one fails
    // where the first one's would be found, and is not placed.
    EXPECT_FALSE(errorOf([&] { connection->execute("SET @a = 1; SELECT 1 FROM FROM"); }).position().has_value());
    EXPECT_FALSE(errorOf([&] { connection->execute("SELECT * FROM no_such_table"); }).position().has_value());
    const auto placed = db::mariaDbErrorPosition(
        "You have an error in your SQL syntax; check the manual ... near 'WHERE' at line 2", "SELECT\n-- WHERE");
    EXPECT_EQ(placed, (db::ErrorPosition{10, false})) << "found from the line's start on, comments too";
    EXPECT_EQ(db::mariaDbErrorPosition("... near 'x' at line 2", "SELECT\ny").value(), (db::ErrorPosition{7, true}));
    EXPECT_FALSE(db::mariaDbErrorPosition("... near 'x' at line 3", "SELECT\ny").has_value());
}

TEST(MariaDbStatements, RowsAffectedCountTheRowsMatchedOverEveryStatementOfTheText) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    auto create = connection->execute("CREATE TEMPORARY TABLE t (x INTEGER)");
    EXPECT_FALSE(create->hasResultSet());
    EXPECT_TRUE(create->atEnd());
    EXPECT_EQ(create->rowsAffected(), 0) << "DDL changes no rows";

    EXPECT_EQ(connection->execute("INSERT INTO t SELECT seq FROM seq_1_to_5")->rowsAffected(), 5);
    EXPECT_EQ(connection->execute("UPDATE t SET x = x WHERE x > 2")->rowsAffected(), 3)
        << "rows matched, as the other engines count them, though none changed";
    EXPECT_EQ(connection->execute("DELETE FROM t WHERE x = 1000")->rowsAffected(), 0);
    EXPECT_EQ(connection->execute("INSERT INTO t VALUES (6); DELETE FROM t WHERE x < 3")->rowsAffected(), 3);
    EXPECT_EQ(connection->execute("")->rowsAffected(), 0);
    EXPECT_EQ(connection->execute("/* only a comment */")->rowsAffected(), 0);
    EXPECT_EQ(connection->execute("SET @a = 1; INSERT INTO t VALUES (7);")->rowsAffected(), 1);
    EXPECT_EQ(scalar(*connection, "SELECT GROUP_CONCAT(x ORDER BY x) FROM t"), "3,4,5,6,7");
}

TEST(MariaDbStatements, TheServerCannotAskForLocalFiles) {
    TARNWELL_REQUIRE_MARIADB(server);
    TempDir dir;
    writeFile(dir.file("secret.txt"), "private\n");
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    connection->execute("CREATE TEMPORARY TABLE loaded (line TEXT)");
    const DbError refused =
        errorOf([&] { connection->execute("LOAD DATA LOCAL INFILE '" + dir.file("secret.txt") + "' INTO TABLE loaded"); });
    EXPECT_TRUE(mentions(refused.what(), "local infile")) << refused.what();
    EXPECT_EQ(scalar(*connection, "SELECT COUNT(*) FROM loaded"), "0");
}

TEST(MariaDbStatements, InATextOfSeveralStatementsTheFirstResultSetStreams) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    connection->execute("CREATE TEMPORARY TABLE log (x INTEGER)");

    // Statements before the first result set run; statements after it run
    // once the set is read to its end.
    auto cursor = connection->execute(
        "INSERT INTO log VALUES (1); SELECT x FROM log; SELECT 99; INSERT INTO log VALUES (2)");
    ASSERT_TRUE(cursor->hasResultSet());
    EXPECT_EQ(readAll(*cursor), Rows({{Cell("1")}}));
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "SELECT GROUP_CONCAT(x ORDER BY x) FROM log"), "1,2");

    // An error in a later statement comes from the fetch that reaches the
    // end; the server has run each statement before it on its own.
    cursor = connection->execute("SELECT 7; INSERT INTO log VALUES (3); SELECT * FROM no_such_table");
    RowStore rows(1);
    EXPECT_EQ(errorOf([&] { cursor->fetch(rows, 10); }).sqlState(), "42S02");
    EXPECT_EQ(rows.rowCount(), 1u);
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "SELECT COUNT(*) FROM log"), "3");

    // Leaving the set early stops the text: the statements after it never run.
    cursor = connection->execute("SELECT seq FROM seq_1_to_1000000; INSERT INTO log VALUES (4)");
    cursor->fetch(rows, 10);
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "SELECT COUNT(*) FROM log WHERE x = 4"), "0");
}

// --- Threads, cancellation, results left early ---------------------------------

TEST(MariaDbThreads, CancelDuringFetchEndsTheStreamWithTheServersError) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    auto cursor = connection->execute("SELECT seq FROM seq_1_to_10000000");
    RowStore rows(1);
    ASSERT_EQ(cursor->fetch(rows, 1000), 1000u);
    std::thread canceller([&] { connection->cancel(); });
    canceller.join();
    const DbError error = errorOf([&] {
        while (!cursor->atEnd()) cursor->fetch(rows, 10000);
    });
    EXPECT_EQ(error.sqlState(), "70100");
    EXPECT_TRUE(mentions(error.what(), "interrupted")) << error.what();
    EXPECT_LT(rows.rowCount(), 10000000u);
    EXPECT_EQ(rows.cell(rows.rowCount() - 1, 0).bytes, std::to_string(rows.rowCount()));
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "SELECT 1"), "1");
}

TEST(MariaDbThreads, AResultLeftEarlyIsNotReadToItsEndAndTheNextStatementRuns) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    const auto bytesSent = [&] {
        const Rows status = query(*connection, "SHOW SESSION STATUS LIKE 'Bytes_sent'");
        return std::stoll(status.at(0).at(1).value_or("0"));
    };
    const long long before = bytesSent();
    // About 560 MB of rows.
    auto cursor = connection->execute("SELECT seq, repeat('x', 100) FROM seq_1_to_5000000");
    RowStore rows(2);
    EXPECT_EQ(cursor->fetch(rows, 1000), 1000u);
    cursor.reset();
    EXPECT_LT(bytesSent() - before, 50'000'000) << "the rest of the result crossed the network";
    EXPECT_EQ(scalar(*connection, "SELECT 'next'"), "next");

    // A small result, all of it sent before it is left: nothing to stop, and
    // the next statement is not stopped instead.
    for (int run = 0; run < 20; ++run) {
        auto small = connection->execute("SELECT seq FROM seq_1_to_150");
        RowStore some(1);
        small->fetch(some, 100);
        small.reset();
        ASSERT_EQ(scalar(*connection, "SELECT 42"), "42");
    }

    // A caller that forgets the old cursor: the next execute ends it first,
    // and the old one then reports its end.
    auto forgotten = connection->execute("SELECT seq FROM seq_1_to_5000000");
    RowStore first(1);
    forgotten->fetch(first, 10);
    auto fresh = connection->execute("SELECT 'fresh'");
    EXPECT_EQ(readAll(*fresh), Rows({{Cell("fresh")}}));
    EXPECT_TRUE(forgotten->atEnd());
    EXPECT_EQ(forgotten->fetch(first, 10), 0u);
}

TEST(MariaDbThreads, AConnectionClosedBeforeItsCursorLeavesTheCursorAtItsEnd) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = openMariaDb(mariaDbSettingsOf(server));
    auto cursor = connection->execute("SELECT seq FROM seq_1_to_100000");
    RowStore rows(1);
    cursor->fetch(rows, 10);
    connection.reset();
    EXPECT_TRUE(cursor->atEnd());
    EXPECT_EQ(cursor->fetch(rows, 10), 0u);
}

}  // namespace
}  // namespace tarnwell::test
