// The ODBC backend against the real drivers of the test configuration: the
// SQLite driver on a file database and the PostgreSQL Unicode driver on the
// test server, each through unixODBC.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dataaccess/DbError.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "support/TestEnvironment.h"

using tarnwell::db::Column;
using tarnwell::db::Connection;
using tarnwell::db::Cursor;
using tarnwell::db::DbError;
using tarnwell::db::FieldKind;
using tarnwell::db::openOdbc;
using tarnwell::db::RowStore;

namespace {

const char* const kSqliteDsn = "tarnwell_sqlite";
const char* const kPostgresDsn = "tarnwell_pg";

std::string uniqueName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "tw_odbc_" + stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string textOf(const RowStore& rows, std::size_t row, std::size_t column) {
    const RowStore::Cell cell = rows.cell(row, column);
    return cell.isNull ? std::string("<null>") : std::string(cell.bytes);
}

// Every row of a cursor, fetched a packet at a time.
RowStore fetchAll(Cursor& cursor) {
    RowStore rows(cursor.columns().size());
    while (!cursor.atEnd()) {
        cursor.fetch(rows, 500);
    }
    return rows;
}

class OdbcConnectionTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        TARNWELL_REQUIRE_ODBC();
        connection_ = openOdbc({std::string("DSN=") + GetParam(), 15});
    }

    void TearDown() override {
        for (const std::string& table : tables_) {
            try {
                connection_->execute("drop table " + table);
            } catch (const DbError&) {
                // Dropped by the test itself, or never made.
            }
        }
    }

    bool postgres() const { return std::string(GetParam()) == kPostgresDsn; }

    // A table that the test's end drops again.
    std::string createTable(const std::string& stem, const std::string& columns) {
        const std::string name = uniqueName(stem);
        connection_->execute("create table " + name + " (" + columns + ")");
        tables_.push_back(name);
        return name;
    }

    std::int64_t run(const std::string& sql) { return connection_->execute(sql)->rowsAffected(); }

    RowStore query(const std::string& sql, std::vector<Column>* columns = nullptr) {
        const std::unique_ptr<Cursor> cursor = connection_->execute(sql);
        EXPECT_TRUE(cursor->hasResultSet()) << sql;
        if (columns != nullptr) {
            *columns = cursor->columns();
        }
        return fetchAll(*cursor);
    }

    std::string scalar(const std::string& sql) {
        const RowStore rows = query(sql);
        return rows.rowCount() == 1 ? textOf(rows, 0, 0) : "<" + std::to_string(rows.rowCount()) + " rows>";
    }

    std::string blobLiteral(const std::string& bytes) const {
        return postgres() ? "decode('" + hexOf(bytes) + "', 'hex')" : "x'" + hexOf(bytes) + "'";
    }

    std::unique_ptr<Connection> connection_;
    std::vector<std::string> tables_;
};

struct ExpectedColumn {
    const char* name;
    FieldKind kind;
    int size;
    int precision;
};

// One column of each kind as each driver declares it, and what it reports.
struct KindsTable {
    std::string columns;
    std::vector<ExpectedColumn> expected;
};

KindsTable kindsTableFor(bool postgres) {
    if (postgres) {
        return {"i integer, s smallint, b bigint, d double precision, r real, n numeric(10,2), w numeric(20,4), "
                "c char(10), v varchar(20), t text, bl bytea, dt date, tm time, ts timestamp, bo boolean, "
                "u uuid, m money",
                {{"i", FieldKind::Integer, 0, 0},
                 {"s", FieldKind::Smallint, 0, 0},
                 {"b", FieldKind::LargeInt, 0, 0},
                 {"d", FieldKind::Float, 0, 0},
                 {"r", FieldKind::Float, 0, 0},
                 {"n", FieldKind::BCD, 2, 10},
                 {"w", FieldKind::FMTBcd, 4, 20},
                 {"c", FieldKind::FixedChar, 10, 0},
                 {"v", FieldKind::String, 20, 0},
                 {"t", FieldKind::Memo, 0, 0},
                 {"bl", FieldKind::Blob, 0, 0},
                 {"dt", FieldKind::Date, 0, 0},
                 {"tm", FieldKind::Time, 0, 0},
                 {"ts", FieldKind::DateTime, 0, 0},
                 {"bo", FieldKind::Boolean, 0, 0},
                 {"u", FieldKind::Guid, 0, 0},
                 {"m", FieldKind::Currency, 2, 0}}};
    }
    // The SQLite driver reports numeric as a double and char(n) as varchar(n).
    return {"i integer, s smallint, b bigint, d double, r real, n numeric(10,2), c char(10), v varchar(20), "
            "t text, bl blob, vb varbinary(8), dt date, tm time, ts timestamp, bo boolean, u uuid",
            {{"i", FieldKind::Integer, 0, 0},
             {"s", FieldKind::Smallint, 0, 0},
             {"b", FieldKind::LargeInt, 0, 0},
             {"d", FieldKind::Float, 0, 0},
             {"r", FieldKind::Float, 0, 0},
             {"n", FieldKind::Float, 0, 0},
             {"c", FieldKind::String, 10, 0},
             {"v", FieldKind::String, 20, 0},
             {"t", FieldKind::Memo, 0, 0},
             {"bl", FieldKind::Blob, 0, 0},
             {"vb", FieldKind::VarBytes, 8, 0},
             {"dt", FieldKind::Date, 0, 0},
             {"tm", FieldKind::Time, 0, 0},
             {"ts", FieldKind::DateTime, 0, 0},
             {"bo", FieldKind::Boolean, 0, 0},
             {"u", FieldKind::Guid, 0, 0}}};
}

TEST_P(OdbcConnectionTest, ReportsTheKindAndSizeOfEveryDeclaredColumn) {
    const KindsTable kinds = kindsTableFor(postgres());
    const std::string table = createTable("kinds", kinds.columns);

    std::vector<Column> columns;
    const RowStore rows = query("select * from " + table, &columns);

    EXPECT_EQ(rows.rowCount(), 0u);
    ASSERT_EQ(columns.size(), kinds.expected.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ExpectedColumn& expected = kinds.expected[i];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(columns[i].name, expected.name);
        EXPECT_EQ(columns[i].kind, expected.kind) << tarnwell::db::fieldKindName(columns[i].kind);
        EXPECT_EQ(columns[i].size, expected.size);
        EXPECT_EQ(columns[i].precision, expected.precision);
    }
}

TEST_P(OdbcConnectionTest, GivesCanonicalTextForEveryKindAndKeepsNullsApart) {
    const KindsTable kinds = kindsTableFor(postgres());
    const std::string table = createTable("values", kinds.columns);
    const std::string controlCharacters = "one\r\ntwo\tthree";
    const std::string common = "-42, 7, 9007199254740993, 1e300, 2.5, -123.45, ";
    if (postgres()) {
        run("insert into " + table + " values (" + common + "98765432109876.5432, 'ab', '" + controlCharacters +
            "', '繁體中文', " + blobLiteral("\x01\x02") +
            ", '2024-02-29', '13:14:15.5', '2024-02-29 13:14:15.25', true, "
            "'6f9619ff-8b86-d011-b42d-00c04fc964ff', -1234.5)");
    } else {
        run("insert into " + table + " values (" + common + "'ab', '" + controlCharacters + "', '繁體中文', " +
            blobLiteral("\x01\x02") + ", " + blobLiteral("\x03") +
            ", '2024-02-29', '13:14:15.5', '2024-02-29T13:14:15.25', 1, "
            "'6f9619ff-8b86-d011-b42d-00c04fc964ff')");
    }
    run("insert into " + table + " default values");

    std::vector<Column> columns;
    const RowStore rows = query("select * from " + table + " order by i is null", &columns);
    ASSERT_EQ(rows.rowCount(), 2u);

    std::vector<std::string> expected = {"-42", "7", "9007199254740993", "1e+300", "2.5", "-123.45"};
    if (postgres()) {
        expected.insert(expected.end(), {"98765432109876.5432", "ab        ", controlCharacters, "繁體中文",
                                         std::string("\x01\x02"), "2024-02-29", "13:14:15.500000",
                                         "2024-02-29 13:14:15.250000", "1",
                                         "6F9619FF-8B86-D011-B42D-00C04FC964FF", "-1234.50"});
    } else {
        expected.insert(expected.end(),
                        {"ab", controlCharacters, "繁體中文", std::string("\x01\x02"), std::string("\x03"),
                         "2024-02-29", "13:14:15.500000", "2024-02-29 13:14:15.250000", "1",
                         "6f9619ff-8b86-d011-b42d-00c04fc964ff"});
    }
    ASSERT_EQ(columns.size(), expected.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(columns[i].name);
        EXPECT_EQ(textOf(rows, 0, i), expected[i]);
        EXPECT_TRUE(rows.cell(1, i).isNull);
    }

    // Each driver spells the infinities its own way ("Infinity", "Inf"). The
    // SQLite driver steps rows on demand and so types an expression by its
    // text: the values come from a column declared double.
    std::string infinitySql = "select cast('Infinity' as float8), cast('-Infinity' as float8), cast('NaN' as float8)";
    if (!postgres()) {
        const std::string table = createTable("infinities", "a double, b double");
        run("insert into " + table + " values (1e999, -1e999)");
        infinitySql = "select a, b from " + table;
    }
    const RowStore infinities = query(infinitySql);
    ASSERT_EQ(infinities.rowCount(), 1u);
    EXPECT_EQ(textOf(infinities, 0, 0), "Infinity");
    EXPECT_EQ(textOf(infinities, 0, 1), "-Infinity");
    if (postgres()) {
        EXPECT_EQ(textOf(infinities, 0, 2), "NaN");
    }
}

TEST_P(OdbcConnectionTest, KeepsEveryByteOfBinaryAndLongValuesWhole) {
    const std::string table =
        createTable("long", postgres() ? "id integer, b bytea, t text" : "id integer, b blob, t text");

    std::string allBytes;
    for (int i = 0; i < 256; ++i) {
        allBytes += static_cast<char>(i);
    }
    std::string megabyteOfBytes(1024 * 1024, '\0');
    for (std::size_t i = 0; i < megabyteOfBytes.size(); ++i) {
        megabyteOfBytes[i] = static_cast<char>((i * 7 + i / 256) % 256);
    }
    // Varied text with characters of two, three and four UTF-8 bytes, so
    // that the driver's pieces end in the middle of characters.
    std::string megabyteOfText;
    for (int line = 0; megabyteOfText.size() < 1024 * 1024; ++line) {
        megabyteOfText += "第" + std::to_string(line) + "行 é𠀋 text\r\n";
    }

    run("insert into " + table + " values (1, " + blobLiteral(allBytes) + ", 'short')");
    run("insert into " + table + " values (2, " + blobLiteral(megabyteOfBytes) + ", '" + megabyteOfText + "')");
    run("insert into " + table + " values (3, " + blobLiteral("") + ", '')");

    const RowStore rows = query("select b, t from " + table + " order by id");
    ASSERT_EQ(rows.rowCount(), 3u);
    EXPECT_EQ(textOf(rows, 0, 0), allBytes);
    EXPECT_EQ(textOf(rows, 0, 1), "short");
    EXPECT_TRUE(textOf(rows, 1, 0) == megabyteOfBytes) << "the megabyte of bytes came back changed";
    EXPECT_TRUE(textOf(rows, 1, 1) == megabyteOfText) << "the megabyte of text came back changed";
    EXPECT_FALSE(rows.cell(2, 0).isNull);
    EXPECT_EQ(textOf(rows, 2, 0), "");
    EXPECT_FALSE(rows.cell(2, 1).isNull);
    EXPECT_EQ(textOf(rows, 2, 1), "");
}

TEST_P(OdbcConnectionTest, TraditionalChineseTextAndNamesSurviveTheRoundTrip) {
    const std::string table = createTable("cjk", "編號 integer, 名稱 varchar(40)");
    const std::string name = "臺灣繁體中文測試：𠀋（擴充字）";

    run("insert into " + table + " values (1, '" + name + "'), (2, '其他')");

    std::vector<Column> columns;
    const RowStore rows = query("select 名稱, 編號 from " + table + " where 名稱 = '" + name + "'", &columns);
    ASSERT_EQ(rows.rowCount(), 1u);
    EXPECT_EQ(textOf(rows, 0, 0), name);
    EXPECT_EQ(textOf(rows, 0, 1), "1");
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0].name, "名稱");
    EXPECT_EQ(columns[1].name, "編號");

    try {
        connection_->execute("select 不存在的欄位 from " + table);
        FAIL() << "an unknown column was found";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("不存在的欄位"), std::string::npos) << error.what();
    }
}

TEST_P(OdbcConnectionTest, DescribesEmptyResultsAndAThousandColumns) {
    const std::unique_ptr<Cursor> empty = connection_->execute("select 1 as one, 'x' as two where 1 = 0");
    ASSERT_TRUE(empty->hasResultSet());
    ASSERT_EQ(empty->columns().size(), 2u);
    EXPECT_EQ(empty->columns()[1].name, "two");
    RowStore none(2);
    EXPECT_EQ(empty->fetch(none, 100), 0u);
    EXPECT_TRUE(empty->atEnd());
    EXPECT_EQ(none.rowCount(), 0u);

    std::string sql = "select ";
    for (int i = 1; i <= 1000; ++i) {
        sql += (i > 1 ? ", " : "") + std::to_string(i * 3) + " as c" + std::to_string(i);
    }
    std::vector<Column> columns;
    const RowStore wide = query(sql, &columns);
    ASSERT_EQ(columns.size(), 1000u);
    ASSERT_EQ(wide.rowCount(), 1u);
    EXPECT_EQ(columns[999].name, "c1000");
    EXPECT_EQ(textOf(wide, 0, 0), "3");
    EXPECT_EQ(textOf(wide, 0, 999), "3000");
}

TEST_P(OdbcConnectionTest, SyntaxErrorCarriesTheDriversMessageAndSqlState) {
    try {
        connection_->execute("selec 1");
        FAIL() << "a statement with a syntax error ran";
    } catch (const DbError& error) {
        const std::string message = error.what();
        if (postgres()) {
            EXPECT_EQ(error.sqlState(), "42601");
            EXPECT_NE(message.find("syntax error at or near \"selec\""), std::string::npos) << message;
        } else {
            EXPECT_EQ(error.sqlState(), "HY000");
            EXPECT_NE(message.find("near \"selec\": syntax error"), std::string::npos) << message;
        }
    }
    EXPECT_EQ(scalar("select 6 * 7"), "42");
}

TEST_P(OdbcConnectionTest, StatementsWithoutResultSetReportRowsAffected) {
    const std::string table = createTable("dml", "x integer");

    const std::unique_ptr<Cursor> insert = connection_->execute("insert into " + table + " values (1), (2), (3)");
    EXPECT_FALSE(insert->hasResultSet());
    EXPECT_TRUE(insert->columns().empty());
    EXPECT_EQ(insert->rowsAffected(), 3);

    EXPECT_EQ(run("update " + table + " set x = x * 10 where x >= 2"), 2);
    EXPECT_EQ(run("delete from " + table + " where x = 99"), 0);
    EXPECT_EQ(scalar("select sum(x) from " + table), "51");
}

TEST_P(OdbcConnectionTest, FetchesPacketsWithoutReadingAhead) {
    const std::unique_ptr<Cursor> cursor = connection_->execute(
        "with recursive s(n) as (select 1 union all select n + 1 from s where n < 250) select n from s");
    RowStore rows(1);

    EXPECT_EQ(cursor->fetch(rows, 100), 100u);
    EXPECT_FALSE(cursor->atEnd());
    EXPECT_EQ(cursor->fetch(rows, 100), 100u);
    EXPECT_FALSE(cursor->atEnd());
    EXPECT_EQ(cursor->fetch(rows, 100), 50u);
    EXPECT_TRUE(cursor->atEnd());
    EXPECT_EQ(cursor->fetch(rows, 100), 0u);

    ASSERT_EQ(rows.rowCount(), 250u);
    for (std::size_t i = 0; i < 250; ++i) {
        ASSERT_EQ(textOf(rows, i, 0), std::to_string(i + 1));
    }
}

TEST_P(OdbcConnectionTest, CancelFromAThirdThreadStopsTheStatementAndTheConnectionGoesOn) {
    // Opened on this thread, run on a second, cancelled from a third.
    const std::string longStatement =
        postgres() ? "select pg_sleep(30)"
                   : "with recursive c(x) as (select 1 union all select x + 1 from c where x < 500000000) "
                     "select count(*) from c";
    std::atomic<bool> finished{false};
    std::optional<DbError> failure;
    bool completed = false;

    std::thread runner([&] {
        try {
            const std::unique_ptr<Cursor> cursor = connection_->execute(longStatement);
            fetchAll(*cursor);
            completed = true;
        } catch (const DbError& error) {
            failure = error;
        }
        finished = true;
    });
    std::thread canceller([&] {
        // cancel() does nothing until the statement runs; keep asking.
        while (!finished) {
            connection_->cancel();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    runner.join();
    canceller.join();

    ASSERT_FALSE(completed) << "the long statement ran to its end";
    ASSERT_TRUE(failure.has_value());
    const std::string message = failure->what();
    if (failure->sqlState() != "HY008") {  // the cancel came before the driver started
        if (postgres()) {
            EXPECT_EQ(failure->sqlState(), "57014") << message;
            EXPECT_NE(message.find("canceling statement due to user request"), std::string::npos) << message;
        } else {
            EXPECT_NE(message.find("interrupted"), std::string::npos) << message;
        }
    }
    EXPECT_EQ(scalar("select 6 * 7"), "42");
    connection_->cancel();  // nothing runs: nothing happens
    EXPECT_EQ(scalar("select 'still here'"), "still here");
}

TEST_P(OdbcConnectionTest, DestroyingACursorMidResultLetsTheNextStatementRun) {
    {
        const std::unique_ptr<Cursor> big = connection_->execute(
            "with recursive s(n) as (select 1 union all select n + 1 from s where n < 200000) "
            "select n, 'row ' || n from s");
        RowStore rows(2);
        ASSERT_EQ(big->fetch(rows, 10), 10u);
        EXPECT_FALSE(big->atEnd());
    }
    EXPECT_EQ(scalar("select 7"), "7");
    if (postgres()) {
        // The driver's server-side cursor went with the cursor object. (This
        // query runs in a cursor of its own, whose text the pattern misses.)
        EXPECT_EQ(scalar("select count(*) from pg_cursors where statement like '%n < 2' || '00000%'"), "0");
    }
    const std::string table = createTable("after", "x integer");
    EXPECT_EQ(run("insert into " + table + " values (1)"), 1);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, OdbcConnectionTest, ::testing::Values(kSqliteDsn, kPostgresDsn),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == kPostgresDsn ? "PostgreSQL" : "SQLite";
                         });

TEST(OdbcConnection, RefusedLoginsAndUnknownDataSourcesFailWithTheDriversWords) {
    TARNWELL_REQUIRE_ODBC();
    try {
        openOdbc({"DSN=tarnwell_pg;PWD=wrong", 15});
        FAIL() << "a wrong password was accepted";
    } catch (const DbError& error) {
        EXPECT_EQ(error.sqlState(), "08001");
        EXPECT_NE(std::string(error.what()).find("password authentication failed"), std::string::npos)
            << error.what();
    }
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
