// The PostgreSQL backend against the test run's server: opening sessions,
// errors, statements with and without result sets, streaming in packets, and
// what a cancel or a connection closed early leaves behind. (The shared
// suites in PgValuesTest.cpp cover the rest through the engines.)
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "dataaccess/CatalogLoader.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/postgres/PgConnection.h"
#include "DataTestSupport.h"
#include "ServerTestSupport.h"
#include "support/TestEnvironment.h"

namespace {

using tarnwell::db::Connection;
using tarnwell::db::Cursor;
using tarnwell::db::DbError;
using tarnwell::db::PgSettings;
using tarnwell::db::RowStore;
using tarnwell::db::openPostgres;

using Cell = tarnwell::test::CellValue;
using Rows = tarnwell::test::ResultRows;
using tarnwell::test::errorOf;
using tarnwell::test::LoopbackSocket;
using tarnwell::test::query;
using tarnwell::test::readAll;

std::string scalar(Connection& connection, const std::string& sql) {
    const Rows rows = query(connection, sql);
    if (rows.size() != 1 || rows[0].size() != 1 || !rows[0][0]) {
        ADD_FAILURE() << "no single value from: " << sql;
        return {};
    }
    return *rows[0][0];
}

PgSettings settingsOf(const tarnwell::test::TestServer& server) {
    PgSettings settings;
    settings.host = server.host;
    settings.port = server.port;
    settings.database = server.database;
    settings.user = server.user;
    settings.password = server.password;
    return settings;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// --- Opening a session ------------------------------------------------------

TEST(PgOpen, BothFormsOpenASessionInUtf8WithIsoDatesAndTheProgramsName) {
    TARNWELL_REQUIRE_PG(server);
    auto fromSettings = openPostgres(settingsOf(server));
    EXPECT_EQ(fromSettings->engineName(), "PostgreSQL");
    const Rows session = query(*fromSettings,
                               "select current_setting('application_name'), "
                               "current_setting('client_encoding'), current_setting('DateStyle'), "
                               "current_user, current_database()");
    EXPECT_EQ(session[0][0], Cell("Tarnwell"));
    EXPECT_EQ(session[0][1], Cell("UTF8"));
    EXPECT_TRUE(session[0][2] && session[0][2]->starts_with("ISO"));
    EXPECT_EQ(session[0][3], Cell(server.user));
    EXPECT_EQ(session[0][4], Cell(server.database));

    // The caller's own options and name survive; the output styles the
    // cells depend on still win.
    auto fromString = openPostgres(server.conninfo +
                                   " application_name=mine options='-c search_path=elsewhere "
                                   "-c DateStyle=German'");
    const Rows own = query(*fromString,
                           "select current_setting('application_name'), "
                           "current_setting('search_path'), date '2024-05-06'");
    EXPECT_EQ(own[0][0], Cell("mine"));
    EXPECT_EQ(own[0][1], Cell("elsewhere"));
    EXPECT_EQ(own[0][2], Cell("2024-05-06"));

    auto fromUri = openPostgres("postgresql://" + server.user + ":" + server.password + "@" +
                                server.host + ":" + server.port + "/" + server.database);
    EXPECT_EQ(scalar(*fromUri, "select 6 * 7"), "42");
}

TEST(PgOpen, FailuresCarryLibpqsOwnMessage) {
    TARNWELL_REQUIRE_PG(server);
    PgSettings refusedPort = settingsOf(server);
    const LoopbackSocket closed(false);
    refusedPort.port = closed.port();
    const DbError refused = errorOf([&] { openPostgres(refusedPort); });
    EXPECT_TRUE(contains(refused.what(), "Connection refused")) << refused.what();

    // A server that takes the connection and never answers holds the caller
    // only as long as the settings allow.
    PgSettings silentServer = settingsOf(server);
    const LoopbackSocket silent(true);
    silentServer.port = silent.port();
    silentServer.connectTimeoutSeconds = 2;
    const DbError timedOut = errorOf([&] { openPostgres(silentServer); });
    EXPECT_TRUE(contains(timedOut.what(), "timeout expired")) << timedOut.what();

    const DbError noDatabase =
        errorOf([&] { openPostgres(server.conninfo + " dbname=no_such_database"); });
    EXPECT_TRUE(contains(noDatabase.what(), "database \"no_such_database\" does not exist"))
        << noDatabase.what();

    const DbError badString = errorOf([&] { openPostgres(std::string("host=x port")); });
    EXPECT_TRUE(contains(badString.what(), "missing \"=\" after \"port\"")) << badString.what();
}

// --- Statements ---------------------------------------------------------------

TEST(PgStatements, ServerErrorsKeepMessageAndStateAndLeaveTheSessionUsable) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    const DbError missing = errorOf([&] { connection->execute("select * from no_such_table"); });
    EXPECT_EQ(missing.sqlState(), "42P01");
    EXPECT_TRUE(contains(missing.what(), "relation \"no_such_table\" does not exist"));

    // An error after some rows were sent surfaces from fetch; the rows stay.
    auto cursor = connection->execute(
        "select 10 / (5 - g) from generate_series(1, 10) g");
    RowStore rows(1);
    const DbError midway = errorOf([&] {
        while (!cursor->atEnd()) cursor->fetch(rows, 1);
    });
    EXPECT_EQ(midway.sqlState(), "22012");
    EXPECT_EQ(rows.rowCount(), 4u);
    EXPECT_TRUE(cursor->atEnd());
    EXPECT_EQ(errorOf([&] { cursor->fetch(rows, 1); }).sqlState(), "22012");
    cursor.reset();

    EXPECT_EQ(scalar(*connection, "select 'still here'"), "still here");
    EXPECT_TRUE(contains(errorOf([&] { connection->execute(std::string("select 1\0 2", 10)); }).what(),
                         "NUL"));
}

TEST(PgStatements, StatementsWithoutResultSetReportTheRowsTheyChanged) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    auto create = connection->execute("create temp table t (x integer)");
    EXPECT_FALSE(create->hasResultSet());
    EXPECT_TRUE(create->columns().empty());
    EXPECT_TRUE(create->atEnd());
    EXPECT_EQ(create->rowsAffected(), 0) << "DDL changes no rows";
    RowStore none(0);
    EXPECT_EQ(create->fetch(none, 10), 0u);

    EXPECT_EQ(connection->execute("insert into t select generate_series(1, 5)")->rowsAffected(), 5);
    EXPECT_EQ(connection->execute("update t set x = x * 10 where x > 2")->rowsAffected(), 3);
    EXPECT_EQ(connection->execute("delete from t where x = 1000")->rowsAffected(), 0);
    // Several commands in one text: their counts add up.
    EXPECT_EQ(connection->execute("insert into t values (6); delete from t where x < 3")->rowsAffected(), 3);
    EXPECT_EQ(connection->execute("")->rowsAffected(), 0);
    EXPECT_EQ(connection->execute("set search_path = public; insert into t values (7)")->rowsAffected(), 1);
    EXPECT_EQ(scalar(*connection, "select string_agg(x::text, ',' order by x) from t"), "6,7,30,40,50");
}

TEST(PgStatements, InATextOfSeveralStatementsTheFirstResultSetStreams) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    connection->execute("create temp table log (x integer)");

    // Commands before the first result set run; commands after it run once
    // the set is read to its end.
    auto cursor = connection->execute(
        "insert into log values (1); select x from log; select 99; insert into log values (2)");
    ASSERT_TRUE(cursor->hasResultSet());
    EXPECT_EQ(readAll(*cursor), Rows({{Cell("1")}}));
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "select string_agg(x::text, ',' order by x) from log"), "1,2");

    // An error in a later statement comes from the fetch that reaches the
    // end, and the whole text is rolled back as the server does.
    cursor = connection->execute("select 7; insert into log values (3); select 1 / 0");
    RowStore rows(1);
    EXPECT_EQ(errorOf([&] { cursor->fetch(rows, 10); }).sqlState(), "22012");
    EXPECT_EQ(rows.rowCount(), 1u);
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "select count(*) from log"), "2");

    // Leaving the set early stops the text: the statements after it never run.
    cursor = connection->execute("select generate_series(1, 1000000); insert into log values (4)");
    RowStore some(1);
    cursor->fetch(some, 10);
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "select count(*) from log where x = 4"), "0");
}

TEST(PgStatements, CopyStatementsEndWithoutHangingTheSession) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    connection->execute("create temp table c (x integer)");
    auto out = connection->execute("copy (select generate_series(1, 1000)) to stdout");
    EXPECT_FALSE(out->hasResultSet());
    EXPECT_EQ(out->rowsAffected(), 1000);

    const DbError in = errorOf([&] { connection->execute("copy c from stdin"); });
    EXPECT_TRUE(contains(in.what(), "COPY FROM STDIN")) << in.what();
    EXPECT_EQ(scalar(*connection, "select count(*) from c"), "0");
}

// --- Threads, cancellation, lost servers --------------------------------------

TEST(PgThreads, CancelDuringFetchEndsTheStreamWithTheServersError) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    auto cursor = connection->execute("select generate_series(1, 10000000)");
    RowStore rows(1);
    ASSERT_EQ(cursor->fetch(rows, 1000), 1000u);
    std::thread canceller([&] { connection->cancel(); });
    canceller.join();
    const DbError error = errorOf([&] {
        while (!cursor->atEnd()) cursor->fetch(rows, 10000);
    });
    EXPECT_EQ(error.sqlState(), "57014");
    EXPECT_LT(rows.rowCount(), 10000000u);
    EXPECT_EQ(rows.cell(rows.rowCount() - 1, 0).bytes, std::to_string(rows.rowCount()));
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "select 1"), "1");
}

TEST(PgThreads, DestroyingAnUnfinishedCursorLeavesTheConnectionReadyAtOnce) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    auto cursor = connection->execute("select g, md5(g::text) from (select generate_series(1, 5000000) g) s");
    RowStore rows(2);
    EXPECT_EQ(cursor->fetch(rows, 1000), 1000u);
    cursor.reset();
    EXPECT_EQ(scalar(*connection, "select 'next'"), "next");

    // A caller that forgets the old cursor: the next execute ends it first,
    // and the old one then reports its end.
    auto forgotten = connection->execute("select generate_series(1, 5000000)");
    RowStore first(1);
    forgotten->fetch(first, 10);
    auto fresh = connection->execute("select 'fresh'");
    EXPECT_EQ(readAll(*fresh), Rows({{Cell("fresh")}}));
    EXPECT_TRUE(forgotten->atEnd());
    EXPECT_EQ(forgotten->fetch(first, 10), 0u);
}

TEST(PgThreads, AConnectionClosedBeforeItsCursorLeavesTheCursorAtItsEnd) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = openPostgres(server.conninfo);
    auto cursor = connection->execute("select generate_series(1, 100000)");
    RowStore rows(1);
    cursor->fetch(rows, 10);
    connection.reset();
    EXPECT_TRUE(cursor->atEnd());
    EXPECT_EQ(cursor->fetch(rows, 10), 0u);
}

// --- The catalog ------------------------------------------------------------

tarnwell::db::BackendSettings backendOf(const tarnwell::test::TestServer& server, const std::string& user,
                                        const std::string& password) {
    tarnwell::db::BackendSettings settings;
    settings.kind = tarnwell::db::BackendKind::Postgres;
    settings.host = server.host;
    settings.port = server.port;
    settings.database = server.database;
    settings.user = user;
    settings.password = password;
    return settings;
}

TEST(PgCatalog, ASchemaTheUserMayNotUseIsSkippedAndCountedAndTheSearchPathComesFirst) {
    TARNWELL_REQUIRE_PG(server);
    const std::string suffix = std::to_string(::getpid());
    const std::string role = "tarnwell_reader_" + suffix;
    const std::string secret = "cat_secret_" + suffix;
    const std::string path = "cat_path_" + suffix;
    const std::string twice = "cat_twice_" + suffix;
    auto admin = openPostgres(server.conninfo);
    const auto dropAll = [&] {
        admin->execute("DROP SCHEMA IF EXISTS " + secret + " CASCADE; DROP SCHEMA IF EXISTS " + path +
                       " CASCADE; DROP TABLE IF EXISTS public." + twice + "; DROP ROLE IF EXISTS " + role);
    };
    dropAll();
    admin->execute("CREATE ROLE " + role + " LOGIN PASSWORD 'reader-pw'; CREATE SCHEMA " + secret + "; CREATE TABLE " +
                   secret + ".hidden (x integer); CREATE SCHEMA " + path + "; GRANT USAGE ON SCHEMA " + path +
                   " TO " + role + "; CREATE TABLE " + path + "." + twice + " (p integer); CREATE TABLE public." +
                   twice + " (q integer); ALTER ROLE " + role + " SET search_path = " + path + ", public");
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{dropAll};

    tarnwell::db::CatalogLoader loader({backendOf(server, role, "reader-pw"), {}, {}});
    const tarnwell::db::Catalog catalog = loader.load();
    ASSERT_GE(catalog.schemaCount(), 2u);
    EXPECT_EQ(catalog.schemaName(0), path);
    EXPECT_EQ(catalog.schemaName(1), "public");
    EXPECT_FALSE(catalog.findSchema(secret)) << "no USAGE, no schema";
    EXPECT_GE(catalog.gaps().schemasSkipped, 1);
    EXPECT_FALSE(catalog.gaps().endedEarly);
    const auto found = catalog.findRelation(twice);
    ASSERT_TRUE(found);
    EXPECT_EQ(catalog.relation(*found).schema, path) << "an unqualified name resolves along the search path";
    EXPECT_EQ(catalog.column(*found, 0).name, "p");
    EXPECT_EQ(catalog.column(*found, 0).typeName, "integer");
    EXPECT_TRUE(catalog.findRelation("pg_catalog", "pg_class")) << "the system's own schemas come last";
}

// On a server of the test's own: what it does would stall or end every other
// test's session.
TEST(PgCatalog, ACancelStopsAReadTheServerHoldsUpAndAServerGoneKeepsWhatWasRead) {
    tarnwell::test::PrivatePgServer own;
    TARNWELL_REQUIRE_PRIVATE_PG(server, own);
    openPostgres(server.conninfo)->execute("CREATE TABLE listed (x integer)");
    const tarnwell::db::BackendSettings settings = backendOf(server, server.user, server.password);

    // The columns wait for a lock another session holds; the cancel reaches
    // the server, and the lock is still held when the load has ended.
    auto locker = openPostgres(server.conninfo);
    auto watcher = openPostgres(server.conninfo);
    const std::string waiting = "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'";
    ASSERT_EQ(scalar(*watcher, waiting), "0");  // and the watcher has what it needs to plan it again
    auto blocked = std::make_shared<tarnwell::db::CatalogLoader>(tarnwell::db::CatalogRequest{settings, {}, {[&](std::size_t) {
        locker->execute("BEGIN; LOCK TABLE pg_catalog.pg_attribute IN ACCESS EXCLUSIVE MODE");
    }}});
    std::future<std::string> outcome = std::async(std::launch::async, [blocked] {
        try {
            blocked->load();
            return std::string("loaded");
        } catch (const DbError& error) {
            return std::string(error.what());
        }
    });
    while (scalar(*watcher, waiting) != "1") {
        ASSERT_NE(outcome.wait_for(std::chrono::milliseconds(10)), std::future_status::ready) << outcome.get();
    }
    blocked->cancel();
    const bool ended = outcome.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    locker->execute("COMMIT");
    ASSERT_TRUE(ended) << "the cancel did not reach the server";
    EXPECT_EQ(outcome.get(), std::string(tarnwell::db::catalogCancelledError().what()));

    bool restarted = false;
    tarnwell::db::CatalogLoader loader({settings, {}, {[&](std::size_t) { restarted = own.restart(); }}});
    const tarnwell::db::Catalog catalog = loader.load();
    ASSERT_TRUE(restarted);
    EXPECT_TRUE(catalog.gaps().endedEarly);
    EXPECT_TRUE(contains(catalog.gaps().message, "terminating connection") ||
                contains(catalog.gaps().message, "server closed the connection"))
        << catalog.gaps().message;
    const auto listed = catalog.findRelation("public", "listed");
    ASSERT_TRUE(listed) << "the relations read before stay";
    EXPECT_EQ(catalog.columnCount(*listed), 0u);
}

}  // namespace
