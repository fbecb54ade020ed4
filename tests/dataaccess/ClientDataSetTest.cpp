// The provider and the client dataset over real queries of an SQLite file.
#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "dataaccess/sqlite/SqliteConnection.h"

namespace tarnwell::test {
namespace {

using db::ClientDataSet;
using db::DataSetProvider;
using db::DbError;
using db::FieldKind;

class ClientDataSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = dir_.file("cds.db");
        auto connection = db::openSqlite({path, false, true});
        // Readers do not keep writers out: the refresh test changes rows
        // while a result is open.
        connection->execute("PRAGMA journal_mode = WAL");
        connection->execute(
            "CREATE TABLE numbers (n INTEGER, label VARCHAR(20), price NUMERIC(8,2), day DATE, at TIMESTAMP, "
            "flag BOOLEAN, code CHAR(4), memo TEXT)");
        connection->execute(
            "INSERT INTO numbers WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 250) "
            "SELECT n, 'row ' || n, n / 4.0, '2024-01-01', '2024-01-01 12:00:00', n % 2, 'C' || n, NULL FROM c");
        writeFile(dir_.file("aliases.conf"), "[CDS]\nTYPE=SQLITE\nPATH=" + path + "\n");
        session_ = std::make_unique<db::Session>(db::SessionConfig{dir_.file("aliases.conf"), "", false});
        database_ = std::make_unique<db::Database>(*session_, "BDE_SQL_1");
        database_->setAliasName("CDS");
        database_->open();
        query_ = std::make_unique<db::Query>(*session_);
        query_->setDatabaseName("BDE_SQL_1");
        provider_.setDataSet(query_.get());
        cds_.setProvider(&provider_);
        cds_.setValueFormatter(db::ValueFormatter(QLocale(QLocale::English, QLocale::UnitedStates)));
        cds_.setAfterScroll([this] { counts_.push_back(cds_.recordCount()); });
        cds_.setRowsAppended([this](std::size_t first, std::size_t count) { appended_.emplace_back(first, count); });
        cds_.setBeforeReset([this] { ++beforeResets_; });
        cds_.setAfterReset([this] { ++afterResets_; });
    }

    void run(const std::string& sql, int packetRecords) {
        query_->setSql(sql);
        query_->open();
        cds_.close();
        cds_.setPacketRecords(packetRecords);
        cds_.open();
    }

    std::string current(std::size_t column = 0) const { return cds_.fieldText(column).toStdString(); }

    TempDir dir_;
    std::unique_ptr<db::Session> session_;
    std::unique_ptr<db::Database> database_;
    std::unique_ptr<db::Query> query_;
    DataSetProvider provider_;
    ClientDataSet cds_;
    std::vector<std::size_t> counts_;
    std::vector<std::pair<std::size_t, std::size_t>> appended_;
    int beforeResets_ = 0;
    int afterResets_ = 0;
};

TEST_F(ClientDataSetTest, PacketsArriveAsNavigationMovesPastTheFetchedRows) {
    run("SELECT n FROM numbers ORDER BY n", 100);
    EXPECT_EQ(cds_.recordCount(), 100u);
    EXPECT_TRUE(cds_.bof());
    EXPECT_FALSE(cds_.eof());
    EXPECT_FALSE(cds_.allFetched());
    EXPECT_EQ(counts_, (std::vector<std::size_t>{100})) << "the first row after opening counts as a scroll";
    EXPECT_TRUE(appended_.empty()) << "the first packet comes with the reset, not as appended rows";

    ASSERT_TRUE(cds_.moveTo(99));
    EXPECT_EQ(current(), "100");
    cds_.next();
    EXPECT_EQ(cds_.recordCount(), 200u);
    EXPECT_EQ(current(), "101");
    EXPECT_EQ(appended_, (std::vector<std::pair<std::size_t, std::size_t>>{{100, 100}}));

    cds_.setPacketRecords(30);  // applies to the next packet of the same result
    ASSERT_TRUE(cds_.moveTo(200));
    EXPECT_EQ(cds_.recordCount(), 230u);
    cds_.last();
    EXPECT_EQ(cds_.recordCount(), 250u);
    EXPECT_TRUE(cds_.allFetched());
    EXPECT_TRUE(cds_.eof());
    EXPECT_EQ(current(), "250");
    EXPECT_EQ(appended_.back(), (std::pair<std::size_t, std::size_t>{230, 20}));

    cds_.next();
    EXPECT_EQ(current(), "250") << "next on the last row stays there";
    EXPECT_TRUE(cds_.eof());
    EXPECT_FALSE(cds_.moveTo(250));
    EXPECT_EQ(current(), "250");

    cds_.first();
    EXPECT_TRUE(cds_.bof());
    EXPECT_EQ(current(), "1");
    cds_.prior();
    EXPECT_TRUE(cds_.bof());
    EXPECT_EQ(current(), "1");
    cds_.next();
    cds_.prior();
    EXPECT_EQ(current(), "1");
    EXPECT_FALSE(cds_.bof()) << "bof marks an attempt to move before the first row";
}

TEST_F(ClientDataSetTest, PacketOfOneAndExactMultiples) {
    run("SELECT n FROM numbers WHERE n <= 3 ORDER BY n", 1);
    EXPECT_EQ(cds_.recordCount(), 1u);
    cds_.next();
    EXPECT_EQ(cds_.recordCount(), 2u);
    EXPECT_EQ(cds_.fetchMore(), 1u);
    EXPECT_EQ(cds_.recordCount(), 3u);
    EXPECT_EQ(current(), "2") << "fetchMore does not move";
    EXPECT_TRUE(cds_.allFetched()) << "the end is known as soon as the last row came";
    EXPECT_EQ(cds_.fetchMore(), 0u);

    run("SELECT n FROM numbers WHERE n <= 200", 100);
    cds_.moveTo(199);
    EXPECT_EQ(cds_.recordCount(), 200u);
    EXPECT_TRUE(cds_.allFetched());
}

TEST_F(ClientDataSetTest, EmptyResultsAndClosedDatasets) {
    EXPECT_THROW(cds_.open(), DbError) << "the provider's query is not open";
    try {
        cds_.next();
        FAIL();
    } catch (const DbError& error) {
        EXPECT_STREQ(error.what(), "Cannot perform this operation on a closed dataset");
    }
    EXPECT_THROW(cds_.first(), DbError);
    EXPECT_THROW(cds_.last(), DbError);
    EXPECT_THROW(cds_.refresh(), DbError);
    EXPECT_THROW(cds_.bookmark(), DbError);
    EXPECT_EQ(cds_.recordCount(), 0u);
    EXPECT_TRUE(cds_.eof());
    EXPECT_EQ(cds_.fetchMore(), 0u);

    run("SELECT n, label FROM numbers WHERE n > 1000", 100);
    EXPECT_TRUE(cds_.active());
    EXPECT_TRUE(cds_.isEmpty());
    EXPECT_TRUE(cds_.eof());
    EXPECT_TRUE(cds_.bof());
    EXPECT_EQ(cds_.fieldCount(), 2u);
    EXPECT_TRUE(counts_.empty()) << "an empty result does not scroll";
    EXPECT_EQ(current(), "");
    cds_.next();
    cds_.last();
    EXPECT_TRUE(cds_.eof());

    cds_.close();
    EXPECT_FALSE(cds_.active());
    EXPECT_EQ(cds_.fieldCount(), 0u);
    EXPECT_EQ(beforeResets_, afterResets_);
}

TEST_F(ClientDataSetTest, RefreshAsksAgainForAsManyRowsAndKeepsThePosition) {
    run("SELECT n, label FROM numbers ORDER BY n", 100);
    cds_.moveTo(150);
    ASSERT_EQ(cds_.recordCount(), 200u);
    {
        auto writer = db::openSqlite({dir_.file("cds.db"), false, false});
        writer->execute("UPDATE numbers SET label = 'new' WHERE n = 151");
    }
    const int resets = afterResets_;
    cds_.refresh();
    EXPECT_EQ(afterResets_, resets + 1);
    EXPECT_EQ(cds_.recordCount(), 200u);
    EXPECT_FALSE(cds_.allFetched());
    EXPECT_EQ(cds_.currentRow(), 150u);
    EXPECT_EQ(current(1), "new");
    EXPECT_EQ(counts_.back(), 200u);

    cds_.last();
    {
        auto writer = db::openSqlite({dir_.file("cds.db"), false, false});
        writer->execute("INSERT INTO numbers (n, label) VALUES (251, 'late')");
    }
    cds_.refresh();
    EXPECT_EQ(cds_.recordCount(), 251u) << "all rows, when all had been fetched";
    EXPECT_TRUE(cds_.allFetched());

    {
        auto writer = db::openSqlite({dir_.file("cds.db"), false, false});
        writer->execute("DELETE FROM numbers WHERE n > 10");
    }
    cds_.refresh();
    EXPECT_EQ(cds_.recordCount(), 10u);
    EXPECT_EQ(cds_.currentRow(), 9u) << "the last row, when fewer came back";
}

TEST_F(ClientDataSetTest, ARefreshThatFailsKeepsTheRowsHeldAndFetchesNothingMore) {
    run("SELECT n FROM numbers ORDER BY n", 10);
    cds_.moveTo(5);
    {
        auto writer = db::openSqlite({dir_.file("cds.db"), false, false});
        writer->execute("ALTER TABLE numbers RENAME TO renamed");
    }
    EXPECT_THROW(cds_.refresh(), DbError);
    EXPECT_EQ(cds_.recordCount(), 10u);
    EXPECT_EQ(current(), "6");
    {
        auto writer = db::openSqlite({dir_.file("cds.db"), false, false});
        writer->execute("ALTER TABLE renamed RENAME TO numbers");
    }
    query_->open();  // the same statement succeeds again, as a new run
    EXPECT_THROW(cds_.last(), DbError) << "rows of a new run are not appended to the old ones";
    EXPECT_EQ(cds_.recordCount(), 10u);
}

TEST_F(ClientDataSetTest, BookmarksLeadBackWithinOneOpening) {
    run("SELECT n FROM numbers ORDER BY n", 50);
    cds_.moveTo(42);
    const db::Bookmark mark = cds_.bookmark();
    cds_.last();
    EXPECT_TRUE(cds_.bookmarkValid(mark));
    cds_.gotoBookmark(mark);
    EXPECT_EQ(current(), "43");
    cds_.refresh();
    EXPECT_TRUE(cds_.bookmarkValid(mark));

    run("SELECT n FROM numbers ORDER BY n", 50);
    EXPECT_FALSE(cds_.bookmarkValid(mark)) << "a bookmark of an earlier opening";
    EXPECT_THROW(cds_.gotoBookmark(mark), DbError);
    EXPECT_THROW(cds_.gotoBookmark(db::Bookmark{}), DbError);
}

TEST_F(ClientDataSetTest, FieldsDescribeTheResultAndValuesShowAsText) {
    run("SELECT n, label, price, day, at, flag, code, memo, n * 2 AS twice FROM numbers ORDER BY n", 10);
    ASSERT_EQ(cds_.fieldCount(), 9u);
    const db::Field& label = cds_.field(1);
    EXPECT_EQ(label.fieldName, "label");
    EXPECT_EQ(label.fullName, "label");
    EXPECT_EQ(label.displayLabel, "label");
    EXPECT_EQ(label.displayName, "label");
    EXPECT_EQ(label.dataType, FieldKind::String);
    EXPECT_EQ(label.size, 20);
    EXPECT_EQ(label.displayWidth, 20);
    EXPECT_EQ(label.fieldNo, 2);
    EXPECT_EQ(cds_.field(0).dataType, FieldKind::Integer);
    EXPECT_EQ(cds_.field(2).dataType, FieldKind::BCD);
    EXPECT_EQ(cds_.field(2).size, 2);
    EXPECT_EQ(cds_.field(2).precision, 8);
    EXPECT_EQ(cds_.field(2).displayWidth, 10);
    EXPECT_EQ(cds_.field(3).dataType, FieldKind::Date);
    EXPECT_EQ(cds_.field(3).displayWidth, 8) << "12/28/00 in the en_US short date";
    EXPECT_EQ(cds_.field(4).dataType, FieldKind::DateTime);
    EXPECT_EQ(cds_.field(6).dataType, FieldKind::FixedChar);
    EXPECT_EQ(cds_.field(6).size, 4);
    EXPECT_EQ(cds_.field(7).dataType, FieldKind::Memo);
    EXPECT_EQ(cds_.field(8).dataType, FieldKind::LargeInt);
    EXPECT_EQ(cds_.fieldIndex("CODE"), 6);
    EXPECT_EQ(cds_.fieldIndex("nothing"), -1);

    cds_.moveTo(2);
    EXPECT_EQ(current(1), "row 3");
    EXPECT_EQ(current(2), "0.75");
    EXPECT_EQ(current(3), "1/1/24");
    EXPECT_EQ(current(4), "1/1/24 12:00:00 PM");
    EXPECT_EQ(current(5), "True");
    EXPECT_TRUE(cds_.fieldText(7).isNull());
    EXPECT_EQ(cds_.cell(2, 2).bytes, "0.75");
    EXPECT_EQ(cds_.text(9, 0).toStdString(), "10");
}

TEST_F(ClientDataSetTest, AResultWhoseQueryRanAgainIsNotMixedWithTheNewOne) {
    run("SELECT n FROM numbers ORDER BY n", 10);
    query_->setSql("SELECT label FROM numbers");
    query_->open();
    try {
        cds_.last();
        FAIL() << "rows of another statement were appended";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("closed or run again"), std::string::npos);
    }
    EXPECT_EQ(cds_.recordCount(), 10u) << "the rows fetched before stay";
    query_->close();
    ASSERT_TRUE(cds_.moveTo(9));
    EXPECT_THROW(cds_.next(), DbError) << "the fetched rows are used up and the source is closed";
    EXPECT_EQ(current(), "10");
    cds_.first();
    EXPECT_EQ(current(), "1");
}

TEST_F(ClientDataSetTest, AFetchFailingMidwayKeepsTheRowsThatCame) {
    run("SELECT CASE WHEN n = 150 THEN abs(-9223372036854775807 - 1) ELSE n END FROM numbers", 100);
    EXPECT_THROW(cds_.last(), DbError);
    EXPECT_EQ(cds_.recordCount(), 149u);
    EXPECT_EQ(appended_.back(), (std::pair<std::size_t, std::size_t>{100, 49}));
    EXPECT_EQ(cds_.text(148, 0).toStdString(), "149");
}

TEST_F(ClientDataSetTest, AnAdoQueryWithMaxRecordsFeedsItToo) {
    db::AdoConnection connection;
    connection.setConnectionString("Provider=SQLite.1;Data Source=" + dir_.file("cds.db"));
    db::AdoQuery query(connection);
    query.setMaxRecords(25);
    query.setSql("SELECT n FROM numbers ORDER BY n");
    query.open();
    provider_.setDataSet(&query);
    cds_.setPacketRecords(10);
    cds_.open();
    cds_.last();
    EXPECT_EQ(cds_.recordCount(), 25u);
    EXPECT_EQ(current(), "25");
    cds_.refresh();
    EXPECT_EQ(cds_.recordCount(), 25u);
    cds_.close();
}

}  // namespace
}  // namespace tarnwell::test
