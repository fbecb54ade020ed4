#include "ConformanceSuite.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "DataTestSupport.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/NoResultSetError.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {

using db::ClientDataSet;
using db::Column;
using db::Database;
using db::DataSetProvider;
using db::DbError;
using db::FieldKind;
using db::Query;
using db::RowStore;
using db::Session;

std::string adapterName(const ::testing::TestParamInfo<BackendAdapter>& info) { return info.param.name; }

void PrintTo(const BackendAdapter& adapter, std::ostream* out) { *out << adapter.name; }

std::string sqlText(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

void ConnectionConformance::SetUp() {
    const std::string reason = adapter().unavailable ? adapter().unavailable() : std::string();
    if (!reason.empty()) {
        if (underCi()) {
            FAIL() << adapter().name << ": " << reason;
        }
        GTEST_SKIP() << reason;
    }
    target_ = adapter().makeTarget();
}

std::string ConnectionConformance::table(std::string_view base) const {
    return std::string(base) + "_" + std::to_string(::getpid());
}

namespace {

// A session whose only alias (besides DEMO) is TARGET, reaching the test's
// database.
struct AliasSession {
    TempDir dir;
    std::unique_ptr<Session> session;

    explicit AliasSession(const BackendTarget& target) {
        std::string file = "[TARGET]\nTYPE=" + target.driver + "\n";
        for (std::size_t i = 0; i < target.aliasParams.size(); ++i) {
            file += target.aliasParams.line(i) + "\n";
        }
        writeFile(dir.file("aliases.conf"), file);
        session = std::make_unique<Session>(db::SessionConfig{dir.file("aliases.conf"), "", false});
    }
};

std::unique_ptr<Database> openDatabase(Session& session, const std::string& name) {
    auto database = std::make_unique<Database>(session, name);
    database->setAliasName("TARGET");
    database->open();
    return database;
}

// Fills `table` with the numbers 1..count in column n.
void createNumbers(db::Connection& connection, const std::string& table, int count) {
    connection.execute("DROP TABLE IF EXISTS " + table);
    connection.execute("CREATE TABLE " + table + " (n INTEGER, label VARCHAR(20))");
    connection.execute("INSERT INTO " + table +
                       " WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < " +
                       std::to_string(count) + ") SELECT n, 'row ' || n FROM seq");
}

}  // namespace

TEST_P(ConnectionConformance, KindsSizesCanonicalTextAndNullsOfEveryType) {
    auto connection = connect();
    const std::string name = table("kinds");
    std::string create = "CREATE TABLE " + name + " (";
    std::string values;
    std::string nulls;
    for (std::size_t i = 0; i < adapter().kinds.size(); ++i) {
        const KindCase& kind = adapter().kinds[i];
        create += (i ? ", c" : "c") + std::to_string(i) + " " + kind.ddlType;
        values += (i ? ", " : "") + kind.literal;
        nulls += i ? ", NULL" : "NULL";
    }
    connection->execute("DROP TABLE IF EXISTS " + name);
    connection->execute(create + ")");
    connection->execute("INSERT INTO " + name + " VALUES (" + values + ")");
    connection->execute("INSERT INTO " + name + " VALUES (" + nulls + ")");

    auto cursor = connection->execute("SELECT * FROM " + name);
    ASSERT_TRUE(cursor->hasResultSet());
    const std::vector<Column>& columns = cursor->columns();
    ASSERT_EQ(columns.size(), adapter().kinds.size());
    RowStore rows(columns.size());
    EXPECT_EQ(cursor->fetch(rows, 10), 2u);
    EXPECT_TRUE(cursor->atEnd());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const KindCase& kind = adapter().kinds[i];
        SCOPED_TRACE(kind.ddlType);
        EXPECT_EQ(columns[i].name, "c" + std::to_string(i));
        EXPECT_EQ(db::fieldKindName(columns[i].kind), db::fieldKindName(kind.kind));
        EXPECT_EQ(columns[i].size, kind.size);
        EXPECT_EQ(cellText(rows, 0, i), kind.canonical);
        EXPECT_TRUE(rows.cell(1, i).isNull);
    }
}

TEST_P(ConnectionConformance, BinaryDataControlCharactersAndAMegabyteSurviveByteForByte) {
    auto connection = connect();
    const std::string name = table("bytes");
    connection->execute("DROP TABLE IF EXISTS " + name);
    connection->execute("CREATE TABLE " + name + " (id INTEGER, b " + adapter().binaryType + ", t " +
                        adapter().textType + ")");
    std::string everyByte;
    for (int i = 0; i < 256; ++i) {
        everyByte += static_cast<char>(i);
    }
    const std::string controls = "line 1\r\nline 2\nline 3\r\ttabbed\t中文「引號」'quoted'";
    const std::string megabyte = std::string(1024 * 1024 - 3, 'x') + "尾";
    connection->execute("INSERT INTO " + name + " VALUES (1, " + adapter().binaryLiteral(everyByte) + ", " +
                        sqlText(controls) + ")");
    connection->execute("INSERT INTO " + name + " VALUES (2, " + adapter().binaryLiteral("") + ", " +
                        sqlText(megabyte) + ")");
    connection->execute("INSERT INTO " + name + " VALUES (3, NULL, '')");

    RowStore rows = fetchAll(*connection, "SELECT b, t FROM " + name + " ORDER BY id");
    ASSERT_EQ(rows.rowCount(), 3u);
    EXPECT_EQ(rows.cell(0, 0).bytes, everyByte);
    EXPECT_EQ(rows.cell(0, 1).bytes, controls);
    EXPECT_FALSE(rows.cell(1, 0).isNull);
    EXPECT_EQ(rows.cell(1, 0).bytes, "");
    EXPECT_EQ(rows.cell(1, 1).bytes.size(), megabyte.size());
    EXPECT_EQ(rows.cell(1, 1).bytes, megabyte);
    EXPECT_TRUE(rows.cell(2, 0).isNull);
    EXPECT_FALSE(rows.cell(2, 1).isNull) << "an empty text is not NULL";
}

TEST_P(ConnectionConformance, EmptyResultsAndStatementsWithoutResultSets) {
    auto connection = connect();
    const std::string name = table("empty");
    createNumbers(*connection, name, 5);

    auto empty = connection->execute("SELECT n, label FROM " + name + " WHERE n > 100");
    ASSERT_TRUE(empty->hasResultSet());
    ASSERT_EQ(empty->columns().size(), 2u);
    EXPECT_EQ(empty->columns()[1].name, "label");
    RowStore rows(2);
    EXPECT_EQ(empty->fetch(rows, 100), 0u);
    EXPECT_TRUE(empty->atEnd());
    empty.reset();

    auto update = connection->execute("UPDATE " + name + " SET label = 'changed' WHERE n <= 3");
    EXPECT_FALSE(update->hasResultSet());
    EXPECT_TRUE(update->columns().empty());
    EXPECT_EQ(update->rowsAffected(), 3);
    update.reset();
    auto none = connection->execute("DELETE FROM " + name + " WHERE n > 100");
    EXPECT_EQ(none->rowsAffected(), 0);
    none.reset();
    EXPECT_EQ(scalar(*connection, "SELECT count(*) FROM " + name + " WHERE label = 'changed'"), "3");
}

TEST_P(ConnectionConformance, AThousandColumns) {
    auto connection = connect();
    std::string sql = "SELECT ";
    for (int i = 1; i <= 1000; ++i) {
        sql += (i > 1 ? ", " : "") + std::to_string(i) + " AS c" + std::to_string(i);
    }
    RowStore rows = fetchAll(*connection, sql);
    ASSERT_EQ(rows.columnCount(), 1000u);
    ASSERT_EQ(rows.rowCount(), 1u);
    EXPECT_EQ(cellText(rows, 0, 0), "1");
    EXPECT_EQ(cellText(rows, 0, 999), "1000");
    auto cursor = connection->execute(sql);
    EXPECT_EQ(cursor->columns()[999].name, "c1000");
}

TEST_P(ConnectionConformance, EngineErrorsKeepTheirMessageAndLeaveTheConnectionUsable) {
    auto connection = connect();
    try {
        connection->execute("SELEC 1");
        FAIL() << "a syntax error was accepted";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find(adapter().syntaxErrorFragment), std::string::npos) << error.what();
    }
    try {
        connection->execute("SELECT * FROM " + table("no_such_table"));
        FAIL() << "a missing table was accepted";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find(table("no_such_table")), std::string::npos) << error.what();
    }
    EXPECT_EQ(scalar(*connection, "SELECT 6 * 7"), "42");
}

TEST_P(ConnectionConformance, CancelFromAnotherThreadStopsALongStatement) {
    auto connection = connect();
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        // Until the statement gives up: a cancel that comes before the
        // statement started has nothing to stop.
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            connection->cancel();
        }
    });
    bool stopped = false;
    try {
        auto cursor = connection->execute(adapter().longRunningSql);
        RowStore rows(cursor->columns().size());
        while (cursor->fetch(rows, 1000) > 0) {
            rows.clear();
        }
    } catch (const DbError&) {
        stopped = true;
    }
    done = true;
    canceller.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(scalar(*connection, "SELECT 1"), "1") << "the next statement runs normally";
}

TEST_P(ConnectionConformance, PacketsThroughTheAliasEngineAndTheClientDataSet) {
    {
        auto connection = connect();
        createNumbers(*connection, table("packets"), 250);
    }
    AliasSession aliases(target());
    auto database = openDatabase(*aliases.session, "BDE_SQL_1");
    Query query(*aliases.session);
    query.setDatabaseName("BDE_SQL_1");
    query.setSql("SELECT n, label FROM " + table("packets") + " ORDER BY n");
    query.open();

    DataSetProvider provider;
    provider.setDataSet(&query);
    ClientDataSet cds;
    cds.setProvider(&provider);
    cds.setPacketRecords(100);
    cds.open();
    EXPECT_EQ(cds.recordCount(), 100u);
    EXPECT_EQ(cds.field(1).size, 20);
    ASSERT_TRUE(cds.moveTo(99));
    EXPECT_EQ(cds.recordCount(), 100u);
    cds.next();
    EXPECT_EQ(cds.recordCount(), 200u);
    EXPECT_EQ(cds.fieldText(1).toStdString(), "row 101");
    cds.last();
    EXPECT_EQ(cds.recordCount(), 250u);
    EXPECT_EQ(cds.fieldText(0).toStdString(), "250");
    EXPECT_TRUE(cds.allFetched());
    cds.close();
    query.close();
}

TEST_P(ConnectionConformance, DatabaseConnectedOnOneThreadRunsItsQueryOnAnother) {
    {
        auto connection = connect();
        createNumbers(*connection, table("threads"), 30);
    }
    AliasSession aliases(target());
    auto database = openDatabase(*aliases.session, "BDE_SQL_1");
    Query query(*aliases.session);
    query.setDatabaseName("BDE_SQL_1");

    std::string failure;
    std::int64_t changed = -2;
    std::thread worker([&] {
        try {
            query.setSql("UPDATE " + table("threads") + " SET label = 'x' WHERE n <= 7");
            query.execSql();
            changed = query.rowsAffected();
            query.setSql("SELECT n FROM " + table("threads") + " ORDER BY n");
            query.open();
        } catch (const std::exception& error) {
            failure = error.what();
        }
    });
    worker.join();
    ASSERT_EQ(failure, "");
    EXPECT_EQ(changed, 7);
    // The result opened on the worker is read on this thread.
    RowStore rows(1);
    EXPECT_EQ(query.fetch(rows, 100), 30u);
    EXPECT_EQ(cellText(rows, 29, 0), "30");
    database->close();
    EXPECT_FALSE(query.active()) << "closing a database closes its queries";
}

TEST_P(ConnectionConformance, SeveralThreadsUseOneSessionAtOnce) {
    {
        auto connection = connect();
        createNumbers(*connection, table("shared"), 100);
    }
    AliasSession aliases(target());
    constexpr int kThreads = 4;
    constexpr int kRuns = 10;
    std::vector<std::thread> threads;
    std::vector<std::string> failures(kThreads);
    std::vector<int> sums(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            try {
                Database database(*aliases.session, "BDE_SQL_" + std::to_string(t + 1));
                database.setAliasName("TARGET");
                database.open();
                Query query(*aliases.session);
                query.setDatabaseName(database.databaseName());
                for (int run = 0; run < kRuns; ++run) {
                    EXPECT_FALSE(aliases.session->aliasNames().empty());
                    query.setSql("SELECT sum(n) FROM " + table("shared") + " WHERE n <= " + std::to_string(t + 10));
                    query.open();
                    RowStore rows(1);
                    query.fetch(rows, 10);
                    sums[t] = std::stoi(cellText(rows, 0, 0));
                    query.close();
                }
            } catch (const std::exception& error) {
                failures[t] = error.what();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], "");
        EXPECT_EQ(sums[t], (t + 10) * (t + 11) / 2);
    }
    EXPECT_TRUE(aliases.session->databaseNames().empty());
}

TEST_P(ConnectionConformance, ClosingADatabaseStopsAStatementRunningOnAnotherThread) {
    AliasSession aliases(target());
    auto database = openDatabase(*aliases.session, "BDE_SQL_1");
    Query query(*aliases.session);
    query.setDatabaseName("BDE_SQL_1");
    query.setSql(adapter().longRunningSql);
    std::atomic<bool> started{false};
    std::string failure;
    std::thread worker([&] {
        started = true;
        try {
            query.open();
            RowStore rows(query.columns().size());
            while (query.fetch(rows, 1000) > 0) {
                rows.clear();
            }
        } catch (const DbError& error) {
            failure = error.what();
        }
    });
    while (!started) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    database->close();
    worker.join();
    EXPECT_NE(failure, "") << "the statement was stopped";
    EXPECT_FALSE(database->connected());
    EXPECT_FALSE(query.active());
}

}  // namespace tarnwell::test
