#include "ConformanceSuite.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "DataTestSupport.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/CatalogLoader.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/DataLink.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/NoResultSetError.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "dataaccess/TextTools.h"
#include "sqlsyntax/Keywords.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {

using db::AdoConnection;
using db::AdoQuery;
using db::Catalog;
using db::CatalogColumn;
using db::CatalogLoader;
using db::ClientDataSet;
using db::Column;
using db::Database;
using db::DataSetProvider;
using db::DbError;
using db::FieldKind;
using db::Query;
using db::RelationKind;
using db::RowSource;
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

enum class Engine { Alias, ConnectionString };
constexpr Engine kEngines[] = {Engine::Alias, Engine::ConnectionString};

std::string engineName(Engine engine) {
    return engine == Engine::Alias ? "alias engine" : "connection-string engine";
}

// The way a query window reaches a database through one of the engines: the
// alias engine's session, database and query, or the connection-string
// engine's connection and query; the query feeds a client dataset through a
// provider.
class EngineClient {
public:
    EngineClient(const BackendTarget& target, Engine engine) : engine_(engine) {
        if (engine == Engine::Alias) {
            aliases_ = std::make_unique<AliasSession>(target);
            database_ = std::make_unique<Database>(*aliases_->session, "BDE_SQL_1");
            database_->setAliasName("TARGET");
            aliasQuery_ = std::make_unique<Query>(*aliases_->session);
            aliasQuery_->setDatabaseName("BDE_SQL_1");
        } else {
            connection_ = std::make_unique<AdoConnection>();
            connection_->setConnectionString(target.connectionString);
            adoQuery_ = std::make_unique<AdoQuery>(*connection_);
        }
        provider_.setDataSet(&query());
        dataSet_.setProvider(&provider_);
    }

    ~EngineClient() { dataSet_.close(); }

    // Throws DbError with the engine's message.
    void connect() { engine_ == Engine::Alias ? database_->open() : connection_->open(); }
    bool connected() const { return engine_ == Engine::Alias ? database_->connected() : connection_->connected(); }

    db::Statement& query() {
        return engine_ == Engine::Alias ? static_cast<db::Statement&>(*aliasQuery_) : *adoQuery_;
    }

    // Opens a row-returning statement (connecting first when needed).
    void openQuery(const std::string& sql) {
        if (!connected()) {
            connect();
        }
        query().setSql(sql);
        query().open();
    }

    // Runs a statement for its effect; the rows it changed.
    std::int64_t execute(const std::string& sql) {
        if (!connected()) {
            connect();
        }
        query().setSql(sql);
        query().execSql();
        return query().rowsAffected();
    }

    // Opens the statement and binds it into the client dataset, as a run of
    // a query window does.
    ClientDataSet& open(const std::string& sql, int packetRecords = ClientDataSet::kAllRecords) {
        dataSet_.close();
        openQuery(sql);
        dataSet_.setPacketRecords(packetRecords);
        dataSet_.open();
        return dataSet_;
    }

    // The first cell of a statement's result.
    std::string scalar(const std::string& sql) {
        ClientDataSet& data = open(sql);
        const std::string value = data.isEmpty() ? "<no row>" : cellText(data.rows(), 0, 0);
        data.close();
        return value;
    }

    ClientDataSet& dataSet() { return dataSet_; }
    DataSetProvider& provider() { return provider_; }

private:
    Engine engine_;
    std::unique_ptr<AliasSession> aliases_;
    std::unique_ptr<Database> database_;
    std::unique_ptr<Query> aliasQuery_;
    std::unique_ptr<AdoConnection> connection_;
    std::unique_ptr<AdoQuery> adoQuery_;
    DataSetProvider provider_;
    ClientDataSet dataSet_;
};

// Passes a source on to a client dataset, noting the rows held after each
// fetch, so a test sees how many packets were fetched and how large.
class CountingSource : public RowSource {
public:
    explicit CountingSource(RowSource& inner) : inner_(inner) {}

    bool active() const override { return inner_.active(); }
    const std::vector<Column>& columns() const override { return inner_.columns(); }
    std::size_t fetch(RowStore& rows, std::size_t maxRows) override {
        const std::size_t fetched = inner_.fetch(rows, maxRows);
        rowsAfterFetch.push_back(rows.rowCount());
        return fetched;
    }
    bool atEnd() const override { return inner_.atEnd(); }
    void rerun() override { inner_.rerun(); }
    std::uint64_t runId() const override { return inner_.runId(); }

    std::vector<std::size_t> rowsAfterFetch;

private:
    RowSource& inner_;
};

// Runs `action` and gives the DbError it throws ("" and a failure when it
// throws none).
template <typename Action>
std::string failureText(Action&& action) {
    try {
        action();
    } catch (const DbError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no DbError was thrown";
    return {};
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Fills `table` with the numbers 1..count in column n.
void createNumbers(db::Connection& connection, const std::string& table, int count) {
    connection.execute("DROP TABLE IF EXISTS " + table);
    connection.execute("CREATE TABLE " + table + " (n INTEGER, label VARCHAR(20))");
    connection.execute("INSERT INTO " + table +
                       " WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < " +
                       std::to_string(count) + ") SELECT n, 'row ' || n FROM seq");
}

// Text of two, three and four UTF-8 bytes a character, line breaks and tabs,
// about a megabyte of it: long values arrive in pieces, and no piece boundary
// may cut a character.
std::string megabyteOfText() {
    std::string text;
    for (int line = 0; text.size() < 1024 * 1024; ++line) {
        text += "第" + std::to_string(line) + "行 é𠀋\ttext\r\n";
    }
    return text;
}

// What a catalog load through one of the engines reaches: the settings of
// the alias engine's database or of the connection-string engine's
// connection, as a window's catalog takes them.
db::BackendSettings catalogSettings(const BackendTarget& target, Engine engine) {
    if (engine == Engine::Alias) {
        AliasSession aliases(target);
        Database database(*aliases.session, "BDE_SQL_1");
        database.setAliasName("TARGET");
        return database.backendSettings();
    }
    AdoConnection connection;
    connection.setConnectionString(target.connectionString);
    return connection.backendSettings();
}

Catalog loadCatalog(const BackendTarget& target, Engine engine, db::CatalogProgress progress = {}) {
    CatalogLoader loader({catalogSettings(target, engine), {}, std::move(progress)});
    return loader.load();
}

std::string quoted(const BackendAdapter& adapter, std::string_view name) {
    return adapter.quoteName ? adapter.quoteName(name) : sql::quoteIdentifier(sql::Dialect::Generic, name);
}

std::vector<std::string> columnNames(const Catalog& catalog, Catalog::RelationId relation) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < catalog.columnCount(relation); ++i) {
        names.emplace_back(catalog.column(relation, i).name);
    }
    return names;
}

// The columns of a result of the whole relation: the kinds the field list
// shows.
std::vector<Column> resultColumns(db::Connection& connection, const std::string& relation) {
    const std::unique_ptr<db::Cursor> cursor = connection.execute("SELECT * FROM " + relation + " WHERE 1 = 0");
    return cursor->columns();
}

// The catalog's column has the kind and sizes of the result's, unless the
// adapter declares that its catalog says otherwise for `ddlType`.
void expectKindOfResult(const BackendAdapter& adapter, const CatalogColumn& listed, const Column& result,
                        const std::string& ddlType) {
    Column expected = result;
    for (const KindCase& quirk : adapter.catalogKindQuirks) {
        if (quirk.ddlType == ddlType) {
            expected = Column{result.name, quirk.kind, quirk.size, quirk.precision};
        }
    }
    EXPECT_EQ(db::fieldKindName(listed.kind), db::fieldKindName(expected.kind)) << ddlType;
    EXPECT_EQ(listed.size, expected.size) << ddlType;
    EXPECT_EQ(listed.precision, expected.precision) << ddlType;
}

}  // namespace

TEST_P(ConnectionConformance, KindsSizesCanonicalTextAndNullsOfEveryType) {
    const std::string name = table("kinds");
    {
        auto connection = connect();
        std::string create = "CREATE TABLE " + name + " (id INTEGER";
        std::string values = "1";
        for (std::size_t i = 0; i < adapter().kinds.size(); ++i) {
            create += ", c" + std::to_string(i) + " " + adapter().kinds[i].ddlType;
            values += ", " + adapter().kinds[i].literal;
        }
        connection->execute("DROP TABLE IF EXISTS " + name);
        connection->execute(create + ")");
        connection->execute("INSERT INTO " + name + " VALUES (" + values + ")");
        connection->execute("INSERT INTO " + name + " (id) VALUES (2)");
    }
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        const ClientDataSet& data = client.open("SELECT * FROM " + name + " ORDER BY id");
        ASSERT_EQ(data.fieldCount(), adapter().kinds.size() + 1);
        ASSERT_EQ(data.recordCount(), 2u);
        for (std::size_t i = 0; i < adapter().kinds.size(); ++i) {
            const KindCase& kind = adapter().kinds[i];
            const db::Field& field = data.field(i + 1);
            SCOPED_TRACE(kind.ddlType);
            EXPECT_EQ(field.fieldName, "c" + std::to_string(i));
            EXPECT_EQ(db::fieldKindName(field.dataType), db::fieldKindName(kind.kind));
            EXPECT_EQ(field.size, kind.size);
            EXPECT_EQ(field.precision, kind.precision);
            EXPECT_EQ(cellText(data.rows(), 0, i + 1), kind.canonical);
            EXPECT_TRUE(data.cell(1, i + 1).isNull);
            EXPECT_TRUE(data.text(1, i + 1).isNull()) << "NULL shows as nothing";
        }
    }
}

TEST_P(ConnectionConformance, BinaryDataControlCharactersAndAMegabyteSurviveByteForByte) {
    const std::string name = table("bytes");
    std::string everyByte;
    for (int i = 0; i < 256; ++i) {
        everyByte += static_cast<char>(i);
    }
    std::string megabyteOfBytes(1024 * 1024, '\0');
    for (std::size_t i = 0; i < megabyteOfBytes.size(); ++i) {
        megabyteOfBytes[i] = static_cast<char>((i * 7 + i / 256) % 256);
    }
    const std::string controls = "line 1\r\nline 2\nline 3\r\ttabbed\t中文「引號」'quoted'";
    const std::string longText = megabyteOfText();
    {
        auto connection = connect();
        connection->execute("DROP TABLE IF EXISTS " + name);
        connection->execute("CREATE TABLE " + name + " (id INTEGER, b " + adapter().binaryType + ", t " +
                            adapter().textType + ")");
        connection->execute("INSERT INTO " + name + " VALUES (1, " + adapter().binaryLiteral(everyByte) + ", " +
                            sqlText(controls) + ")");
        connection->execute("INSERT INTO " + name + " VALUES (2, " + adapter().binaryLiteral(megabyteOfBytes) +
                            ", " + sqlText(longText) + ")");
        connection->execute("INSERT INTO " + name + " VALUES (3, " + adapter().binaryLiteral("") + ", '')");
        connection->execute("INSERT INTO " + name + " VALUES (4, NULL, NULL)");
    }
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        const ClientDataSet& data = client.open("SELECT b, t FROM " + name + " ORDER BY id");
        ASSERT_EQ(data.recordCount(), 4u);
        EXPECT_EQ(data.cell(0, 0).bytes, everyByte);
        EXPECT_EQ(data.cell(0, 1).bytes, controls);
        EXPECT_EQ(data.text(0, 1).toStdString(), controls) << "shown with its line breaks and tabs";
        EXPECT_TRUE(data.cell(1, 0).bytes == megabyteOfBytes) << "the megabyte of bytes came back changed";
        EXPECT_EQ(data.cell(1, 1).bytes.size(), longText.size());
        EXPECT_TRUE(data.cell(1, 1).bytes == longText) << "the megabyte of text came back changed";
        EXPECT_EQ(data.text(1, 0).toStdString(), "(BLOB 1048576 bytes)");
        EXPECT_FALSE(data.cell(2, 0).isNull) << "empty binary data is not NULL";
        EXPECT_EQ(data.cell(2, 0).bytes, "");
        EXPECT_FALSE(data.cell(2, 1).isNull) << "an empty text is not NULL";
        EXPECT_TRUE(data.cell(3, 0).isNull);
        EXPECT_TRUE(data.cell(3, 1).isNull);
    }
}

TEST_P(ConnectionConformance, ChineseAndAccentedNamesAndTextSurviveEveryEngine) {
    const std::string name = table("cjk");
    const std::string text = "臺灣繁體中文測試：𠀋（擴充字）";
    // Two-byte letters that a driver once counted one character short each.
    const std::string accented = "Último Pau-De-Arara ØÙÚÛ";
    {
        auto connection = connect();
        connection->execute("DROP TABLE IF EXISTS " + name);
        connection->execute("CREATE TABLE " + name + " (編號 INTEGER, 名稱 VARCHAR(40), Último VARCHAR(40))");
        connection->execute("INSERT INTO " + name + " VALUES (1, " + sqlText(text) + ", " + sqlText(accented) +
                            "), (2, '其他', 'Û')");
    }
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        const ClientDataSet& data =
            client.open("SELECT 名稱, 編號, Último FROM " + name + " WHERE 名稱 = " + sqlText(text));
        ASSERT_EQ(data.recordCount(), 1u);
        EXPECT_EQ(data.field(0).fieldName, "名稱");
        EXPECT_EQ(data.field(1).fieldName, "編號");
        EXPECT_EQ(data.field(2).fieldName, "Último");
        EXPECT_EQ(data.text(0, 0).toStdString(), text);
        EXPECT_EQ(data.text(0, 2).toStdString(), accented);
        EXPECT_EQ(client.scalar("SELECT Último FROM " + name + " WHERE 編號 = 2"), "Û");
        const std::string message = failureText([&] { client.openQuery("SELECT 不存在的欄位 FROM " + name); });
        EXPECT_TRUE(contains(message, "不存在的欄位")) << message;
    }
}

TEST_P(ConnectionConformance, ZeroRowsAndStatementsWithoutResultSets) {
    const std::string name = table("empty");
    createNumbers(*connect(), name, 5);
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        ClientDataSet& empty = client.open("SELECT n, label FROM " + name + " WHERE n > 100", 100);
        EXPECT_TRUE(empty.active());
        EXPECT_TRUE(empty.isEmpty());
        EXPECT_TRUE(empty.eof());
        EXPECT_TRUE(empty.allFetched());
        ASSERT_EQ(empty.fieldCount(), 2u);
        EXPECT_EQ(empty.field(1).fieldName, "label");
        EXPECT_EQ(empty.field(1).size, 20);
        empty.next();
        empty.last();
        EXPECT_EQ(empty.recordCount(), 0u);
        empty.close();

        EXPECT_EQ(client.execute("UPDATE " + name + " SET label = 'changed' WHERE n <= 3"), 3);
        EXPECT_EQ(client.execute("DELETE FROM " + name + " WHERE n > 100"), 0);
        EXPECT_EQ(client.execute("CREATE TABLE " + name + "_ddl (x INTEGER)"), 0) << "DDL changes no rows";
        EXPECT_EQ(client.execute("DROP TABLE " + name + "_ddl"), 0);
        EXPECT_EQ(client.execute("SELECT n FROM " + name), 5) << "rows returned to a statement run for its effect";

        // Judged row-returning by its text, it returns none: it ran all the
        // same, says so, and leaves nothing for the dataset to show.
        try {
            client.openQuery("UPDATE " + name + " SET label = 'SELECT' WHERE n = 4");
            FAIL() << "a statement without a result set was opened";
        } catch (const db::NoResultSetError& error) {
            EXPECT_EQ(error.rowsAffected(), 1);
        }
        EXPECT_FALSE(client.query().active());
        EXPECT_EQ(failureText([&] { client.dataSet().open(); }), "Missing data provider or data packet");
        EXPECT_EQ(client.scalar("SELECT count(*) FROM " + name + " WHERE label IN ('changed', 'SELECT')"), "4");

        // The run of a window: the text decides between opening and
        // executing, the engine whether a result set came back.
        db::Statement& statement = client.query();
        statement.setSql("UPDATE " + name + " SET label = 'select' WHERE n <= 2");
        EXPECT_FALSE(statement.run());
        EXPECT_EQ(statement.rowsAffected(), 2);
        EXPECT_FALSE(statement.active());
        statement.setSql("DELETE FROM " + name + " WHERE n > 100");
        EXPECT_FALSE(statement.run());
        EXPECT_EQ(statement.rowsAffected(), 0);
        statement.setSql("select n FROM " + name + " WHERE n > 100");
        EXPECT_TRUE(statement.run()) << "an empty result set is a result set";
        EXPECT_TRUE(statement.active());
        statement.close();
        client.execute("UPDATE " + name + " SET label = 'row ' || n");
    }
}

TEST_P(ConnectionConformance, AThousandColumns) {
    std::string sql = "SELECT ";
    for (int i = 1; i <= 1000; ++i) {
        sql += (i > 1 ? ", " : "") + std::to_string(i * 3) + " AS c" + std::to_string(i);
    }
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        const ClientDataSet& data = client.open(sql, 100);
        ASSERT_EQ(data.fieldCount(), 1000u);
        ASSERT_EQ(data.recordCount(), 1u);
        EXPECT_EQ(data.field(999).fieldName, "c1000");
        EXPECT_EQ(data.field(999).fieldNo, 1000);
        EXPECT_EQ(cellText(data.rows(), 0, 0), "3");
        EXPECT_EQ(cellText(data.rows(), 0, 999), "3000");
    }
}

TEST_P(ConnectionConformance, EngineErrorsKeepTheirMessageAndLeaveTheConnectionUsable) {
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        try {
            client.openQuery("SELEC 1");
            FAIL() << "a syntax error was accepted";
        } catch (const DbError& error) {
            const std::string message = error.what();
            EXPECT_TRUE(contains(message, adapter().syntaxErrorFragment)) << message;
            EXPECT_NE(message.back(), '\n') << "shown behind a prefix, it ends with its last word";
            EXPECT_EQ(error.sqlState(), adapter().syntaxErrorState);
        }
        EXPECT_FALSE(client.query().active());
        // The place is a byte offset of the UTF-8 text, whatever the engine
        // counts in (PostgreSQL characters, MariaDB lines).
        try {
            client.openQuery("SELECT '中文',\n  FROM t");
            FAIL() << "a syntax error was accepted";
        } catch (const DbError& error) {
            if (adapter().placesSyntaxErrors) {
                ASSERT_TRUE(error.position().has_value()) << error.what();
                EXPECT_EQ(error.position()->offset, 19u) << error.what();
                EXPECT_FALSE(error.position()->lineOnly);
            } else {
                EXPECT_FALSE(error.position().has_value()) << error.what();
            }
        }
        const std::string missing = failureText([&] { client.openQuery("SELECT * FROM " + table("no_such_table")); });
        EXPECT_TRUE(contains(missing, table("no_such_table"))) << missing;
        // The engines' C interfaces would take a NUL for the text's end and
        // run what comes before it, or nothing at all; every engine refuses
        // it with the same words.
        const std::string nul = failureText([&] { client.openQuery(std::string("SELECT 1\0 + 1", 14)); });
        EXPECT_EQ(nul, "SQL 語法的第 9 個字是 NUL 字元 (U+0000)，無法執行");
        EXPECT_EQ(client.scalar("SELECT 6 * 7"), "42");
    }
}

TEST_P(ConnectionConformance, PacketsAreFetchedOnDemandAndCounted) {
    const std::string name = table("packets");
    createNumbers(*connect(), name, 250);
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        client.openQuery("SELECT n, label FROM " + name + " ORDER BY n");
        CountingSource counting(client.query());
        client.provider().setDataSet(&counting);
        ClientDataSet& data = client.dataSet();
        data.setPacketRecords(100);
        data.open();
        EXPECT_EQ(counting.rowsAfterFetch, (std::vector<std::size_t>{100}));
        EXPECT_EQ(data.field(1).size, 20);
        ASSERT_TRUE(data.moveTo(99));
        EXPECT_EQ(counting.rowsAfterFetch.size(), 1u) << "moving within the fetched rows fetches nothing";
        data.next();
        EXPECT_EQ(counting.rowsAfterFetch, (std::vector<std::size_t>{100, 200}));
        EXPECT_EQ(data.fieldText(1).toStdString(), "row 101");
        data.last();
        EXPECT_EQ(counting.rowsAfterFetch, (std::vector<std::size_t>{100, 200, 250}));
        EXPECT_EQ(data.fieldText(0).toStdString(), "250");
        EXPECT_TRUE(data.allFetched());
        EXPECT_EQ(data.fetchMore(), 0u);
        EXPECT_EQ(counting.rowsAfterFetch.size(), 3u) << "nothing is fetched past the end";

        // The same by a grid's fetchMore.
        data.close();
        counting.rowsAfterFetch.clear();
        client.openQuery("SELECT n, label FROM " + name + " ORDER BY n");
        data.open();
        while (data.fetchMore() > 0) {
        }
        EXPECT_EQ(counting.rowsAfterFetch, (std::vector<std::size_t>{100, 200, 250}));
        data.close();
    }
}

TEST_P(ConnectionConformance, LeavingAResultEarlyLetsTheNextStatementRun) {
    const std::string name = table("early");
    createNumbers(*connect(), name, 3);
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        ClientDataSet& data = client.open(
            "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 200000) "
            "SELECT n, 'row ' || n FROM s",
            10);
        EXPECT_EQ(data.recordCount(), 10u);
        EXPECT_FALSE(data.allFetched());
        // A new value each time: some engines count only the rows whose
        // value changed.
        const std::string label = engine == Engine::Alias ? "next 1" : "next 2";
        EXPECT_EQ(client.execute("UPDATE " + name + " SET label = '" + label + "' WHERE n = 2"), 1);
        EXPECT_FALSE(client.query().active()) << "the query ran another statement";
        EXPECT_THROW(data.fetchMore(), DbError) << "the earlier result is gone";
        EXPECT_EQ(data.recordCount(), 10u) << "its rows fetched so far stay";
        EXPECT_EQ(client.scalar("SELECT label FROM " + name + " WHERE n = 2"), label);
    }
}

TEST_P(ConnectionConformance, ConnectedOnOneThreadRunOnAnotherCancelledFromAThird) {
    AliasSession aliases(target());
    auto database = openDatabase(*aliases.session, "BDE_SQL_1");
    Query query(*aliases.session);
    query.setDatabaseName("BDE_SQL_1");
    query.setSql(adapter().longRunningSql);

    std::atomic<bool> finished{false};
    std::optional<DbError> failure;
    bool completed = false;
    std::thread runner([&] {
        try {
            query.open();
            RowStore rows(query.columns().size());
            while (query.fetch(rows, 1000) > 0) {
                rows.clear();
            }
            completed = true;
        } catch (const DbError& error) {
            failure = error;
        }
        finished = true;
    });
    std::thread canceller([&] {
        // A cancel that comes before the statement reaches the engine has
        // nothing to stop: keep asking until the run ends.
        while (!finished) {
            query.cancel();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    runner.join();
    canceller.join();

    ASSERT_FALSE(completed) << "the long statement ran to its end";
    ASSERT_TRUE(failure.has_value());
    const std::string message = failure->what();
    EXPECT_TRUE(contains(message, adapter().cancelFragment) || failure->sqlState() == "HY008") << message;
    EXPECT_TRUE(database->connected());

    query.setSql("SELECT 6 * 7");
    query.open();
    RowStore rows(1);
    query.fetch(rows, 10);
    EXPECT_EQ(cellText(rows, 0, 0), "42") << "the next statement runs normally";
    query.cancel();  // nothing runs: nothing happens
    query.open();
    EXPECT_TRUE(query.active());
}

TEST_P(ConnectionConformance, DatabaseConnectedOnOneThreadRunsItsQueryOnAnother) {
    createNumbers(*connect(), table("threads"), 30);
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
    createNumbers(*connect(), table("shared"), 100);
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
                    if (aliases.session->aliasNames().empty() || !aliases.session->hasDatabase(database.databaseName())) {
                        throw std::runtime_error("the session lost its aliases or a database");
                    }
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

TEST_P(ConnectionConformance, DataLinkFilesReachTheDatabase) {
    TempDir dir;
    db::writeDataLinkFile(dir.file("written.udl"), target().connectionString);
    // A file someone wrote by hand in UTF-8 is read too.
    writeFile(dir.file("utf8.udl"), "[oledb]\n; by hand\n" + target().connectionString + "\n");
    for (const std::string name : {"written.udl", "utf8.udl"}) {
        SCOPED_TRACE(name);
        AdoConnection connection;
        connection.setConnectionString("File Name=" + dir.file(name));
        connection.open();
        EXPECT_EQ(connection.provider(), db::ConnectionString::parse(target().connectionString).value("Provider"));
        AdoQuery query(connection);
        query.setSql("SELECT 6 * 7");
        query.open();
        RowStore rows(1);
        query.fetch(rows, 1);
        EXPECT_EQ(cellText(rows, 0, 0), "42");
    }
}

// Through ODBC the driver says which database it reaches.
TEST_P(ConnectionConformance, BothEnginesNameTheDatabasesDialect) {
    AliasSession aliases(target());
    Database database(*aliases.session, "BDE_SQL_1");
    database.setAliasName("TARGET");
    EXPECT_EQ(database.dbmsName(), "") << "closed";
    database.open();
    EXPECT_EQ(sql::dialectForDbmsName(database.dbmsName()), adapter().dialect) << database.dbmsName();
    AdoConnection connection;
    connection.setConnectionString(target().connectionString);
    connection.open();
    EXPECT_EQ(sql::dialectForDbmsName(connection.connection()->dbmsName()), adapter().dialect);
}

TEST_P(ConnectionConformance, CatalogListsTablesViewsColumnsAndKeysThroughBothEngines) {
    const std::string orders = table("cat_orders");
    const std::string open = table("cat_open");
    std::vector<Column> ordersResult;
    std::vector<Column> openResult;
    {
        auto connection = connect();
        connection->execute("DROP VIEW IF EXISTS " + open);
        connection->execute("DROP TABLE IF EXISTS " + orders);
        connection->execute("CREATE TABLE " + orders + " (order_no INTEGER NOT NULL, line_no INTEGER NOT NULL, " +
                            quoted(adapter(), "客戶名稱") +
                            " VARCHAR(40), amount NUMERIC(12,2), note TEXT NOT NULL, PRIMARY KEY (line_no, order_no))");
        connection->execute("CREATE VIEW " + open + " AS SELECT order_no, amount FROM " + orders);
        ordersResult = resultColumns(*connection, orders);
        openResult = resultColumns(*connection, open);
    }
    const std::string& schema = adapter().catalogSchema;
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        const Catalog catalog = loadCatalog(target(), engine);
        const std::optional<Catalog::RelationId> table = catalog.findRelation(schema, orders);
        const std::optional<Catalog::RelationId> view = catalog.findRelation(schema, open);
        ASSERT_TRUE(table && view) << catalog.gaps().message;
        EXPECT_EQ(catalog.relation(*table).schema, schema);
        EXPECT_EQ(catalog.relation(*table).kind, RelationKind::Table);
        EXPECT_EQ(catalog.relation(*view).kind, RelationKind::View);
        EXPECT_EQ(catalog.findRelation(db::upperAscii(orders)), table) << "found in any case, without its schema";
        const Catalog::RelationRange listed = catalog.relationsOf(catalog.schemaOf(*table));
        EXPECT_TRUE(*table >= listed.first && *view < listed.end);
        EXPECT_LT(*view, *table) << "a schema's relations by name";

        ASSERT_EQ(columnNames(catalog, *table),
                  (std::vector<std::string>{"order_no", "line_no", "客戶名稱", "amount", "note"}));
        const bool nullable[] = {false, false, true, true, false};
        const int key[] = {adapter().keyPositionsInColumnOrder ? 1 : 2, adapter().keyPositionsInColumnOrder ? 2 : 1, 0, 0, 0};
        for (std::size_t i = 0; i < 5; ++i) {
            const CatalogColumn column = catalog.column(*table, i);
            SCOPED_TRACE(std::string(column.name));
            EXPECT_EQ(column.nullable, nullable[i]);
            EXPECT_EQ(column.keyPosition, key[i]);
            EXPECT_FALSE(column.typeName.empty());
            expectKindOfResult(adapter(), column, ordersResult[i], "");
        }
        ASSERT_EQ(columnNames(catalog, *view), (std::vector<std::string>{"order_no", "amount"}));
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(catalog.column(*view, i).keyPosition, 0);
            expectKindOfResult(adapter(), catalog.column(*view, i), openResult[i], "");
        }
    }
}

TEST_P(ConnectionConformance, CatalogKindsAndSizesAreThoseAResultReports) {
    const std::string name = table("cat_kinds");
    std::vector<Column> result;
    {
        auto connection = connect();
        std::string create = "CREATE TABLE " + name + " (id INTEGER";
        for (std::size_t i = 0; i < adapter().kinds.size(); ++i) {
            create += ", c" + std::to_string(i) + " " + adapter().kinds[i].ddlType;
        }
        connection->execute("DROP TABLE IF EXISTS " + name);
        connection->execute(create + ")");
        result = resultColumns(*connection, name);
    }
    const Catalog catalog = loadCatalog(target(), Engine::ConnectionString);
    const std::optional<Catalog::RelationId> relation = catalog.findRelation(adapter().catalogSchema, name);
    ASSERT_TRUE(relation) << catalog.gaps().message;
    ASSERT_EQ(catalog.columnCount(*relation), adapter().kinds.size() + 1);
    for (std::size_t i = 0; i < adapter().kinds.size(); ++i) {
        const CatalogColumn column = catalog.column(*relation, i + 1);
        EXPECT_EQ(column.name, "c" + std::to_string(i));
        expectKindOfResult(adapter(), column, result[i + 1], adapter().kinds[i].ddlType);
    }
}

TEST_P(ConnectionConformance, CatalogKeepsNamesWithQuotesLineBreaksSemicolonsChineseAnd63Bytes) {
    const std::string odd = table("it's \"q\";\n表");
    std::string longest = table("長名稱_");
    longest.append(63 - longest.size(), 'x');
    const std::vector<std::string> columns = {"a;b", "c\"d", "e'f", "行\n二", std::string(63, 'y')};
    {
        auto connection = connect();
        for (const std::string& name : {odd, longest}) {
            connection->execute("DROP TABLE IF EXISTS " + quoted(adapter(), name));
            std::string create = "CREATE TABLE " + quoted(adapter(), name) + " (";
            for (const std::string& column : columns) {
                create += (column == columns.front() ? "" : ", ") + quoted(adapter(), column) + " INTEGER";
            }
            connection->execute(create + ")");
        }
    }
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        const Catalog catalog = loadCatalog(target(), engine);
        for (const std::string& name : {odd, longest}) {
            const std::optional<Catalog::RelationId> relation = catalog.findRelation(adapter().catalogSchema, name);
            ASSERT_TRUE(relation) << name << catalog.gaps().message;
            EXPECT_EQ(catalog.relation(*relation).name, name);
            EXPECT_EQ(columnNames(catalog, *relation), columns);
        }
    }
}

TEST_P(ConnectionConformance, CatalogSkipsAViewThatFailsCountsItAndKeepsTheRest) {
    if (!adapter().viewsCanFail) {
        return;  // the engine keeps a view's table from being dropped
    }
    const std::string kept = table("cat_kept");
    const std::string gone = table("cat_gone");
    const std::string broken = table("cat_broken");
    {
        auto connection = connect();
        connection->execute("DROP VIEW IF EXISTS " + broken);
        connection->execute("DROP TABLE IF EXISTS " + kept);
        connection->execute("DROP TABLE IF EXISTS " + gone);
        connection->execute("CREATE TABLE " + kept + " (k INTEGER)");
        connection->execute("CREATE TABLE " + gone + " (g INTEGER)");
        connection->execute("CREATE VIEW " + broken + " AS SELECT g FROM " + gone);
        connection->execute("DROP TABLE " + gone);
    }
    const Catalog catalog = loadCatalog(target(), Engine::Alias);
    EXPECT_FALSE(catalog.findRelation(adapter().catalogSchema, broken));
    const std::optional<Catalog::RelationId> relation = catalog.findRelation(adapter().catalogSchema, kept);
    ASSERT_TRUE(relation);
    EXPECT_EQ(columnNames(catalog, *relation), std::vector<std::string>{"k"});
    EXPECT_GE(catalog.gaps().relationsSkipped, 1);
    EXPECT_FALSE(catalog.gaps().endedEarly);
    EXPECT_FALSE(catalog.gaps().firstSkipped.empty());
    connect()->execute("DROP VIEW " + broken);
}

TEST_P(ConnectionConformance, CatalogOfATableDroppedBetweenListingAndColumns) {
    const std::string dropped = table("cat_dropped");
    const std::string kept = table("cat_stays");
    auto other = connect();
    if (!adapter().concurrentChangesSql.empty()) {
        other->execute(adapter().concurrentChangesSql);
    }
    for (const std::string& name : {dropped, kept}) {
        other->execute("DROP TABLE IF EXISTS " + name);
        other->execute("CREATE TABLE " + name + " (x INTEGER, y INTEGER)");
    }
    bool listed = false;
    const Catalog catalog = loadCatalog(target(), Engine::ConnectionString, {[&](std::size_t relations) {
                                            listed = relations >= 2;
                                            other->execute("DROP TABLE " + dropped);
                                        }});
    EXPECT_TRUE(listed);
    const std::optional<Catalog::RelationId> stays = catalog.findRelation(adapter().catalogSchema, kept);
    ASSERT_TRUE(stays) << catalog.gaps().message;
    EXPECT_EQ(columnNames(catalog, *stays), (std::vector<std::string>{"x", "y"}));
    const std::optional<Catalog::RelationId> gone = catalog.findRelation(adapter().catalogSchema, dropped);
    if (adapter().catalogReadsOneSnapshot) {
        ASSERT_TRUE(gone) << "the snapshot still holds it";
        EXPECT_EQ(columnNames(catalog, *gone), (std::vector<std::string>{"x", "y"}));
    } else {
        EXPECT_FALSE(gone);
        EXPECT_GE(catalog.gaps().relationsSkipped, 1);
    }
}

TEST_P(ConnectionConformance, CatalogLoadCancelledBeforeOrWhileItReadsEndsWithAnError) {
    const db::BackendSettings settings = catalogSettings(target(), Engine::Alias);
    CatalogLoader early({settings, {}, {}});
    early.cancel();
    EXPECT_THROW(early.load(), DbError);

    CatalogLoader* loader = nullptr;
    CatalogLoader midway({settings, {}, {[&loader](std::size_t) { loader->cancel(); }}});
    loader = &midway;
    const std::string message = failureText([&] { midway.load(); });
    EXPECT_EQ(message, std::string(db::catalogCancelledError().what()));
}

TEST_P(ServerConformance, WrongPasswordAndUnknownHostGiveTheEnginesWords) {
    const std::pair<LoginFault, std::string> faults[] = {
        {LoginFault::WrongPassword, adapter().wrongPasswordFragment},
        {LoginFault::UnknownHost, adapter().unknownHostFragment},
    };
    for (const auto& [fault, fragment] : faults) {
        const BackendTarget faulty = adapter().faultyTarget(fault);
        for (const Engine engine : kEngines) {
            SCOPED_TRACE(engineName(engine) + ": " + fragment);
            EngineClient client(faulty, engine);
            const std::string message = failureText([&] { client.connect(); });
            EXPECT_TRUE(contains(message, fragment)) << message;
            EXPECT_FALSE(client.connected());
            EXPECT_THROW(client.openQuery("SELECT 1"), DbError) << "a statement on it fails the same way";
        }
    }
}

TEST_P(ServerConformance, AServerGoneMidFetchKeepsTheRowsReadSaysWhyAndConnectsAgain) {
    // Rows enough that no driver reads ahead to the end, unless it reads the
    // whole result anyway.
    const int count = adapter().resultArrivesWhole ? 1000 : 5000000;
    const auto saysSessionEnded = [&](const std::string& message) {
        for (const std::string& fragment : adapter().sessionEndedFragments) {
            if (contains(message, fragment)) {
                return true;
            }
        }
        return false;
    };
    // A dead connection is replaced by the next statement: at once where the
    // driver can tell that its session went, else after the one statement
    // that finds it out.
    const auto expectTheNextStatementConnectsAgain = [&](EngineClient& client) {
        const auto nextStatement = [&]() -> std::string {
            try {
                client.openQuery("SELECT 1");
            } catch (const DbError& error) {
                return error.what();
            }
            return {};
        };
        std::string failure = nextStatement();
        if (!failure.empty()) {
            EXPECT_TRUE(saysSessionEnded(failure)) << failure;
            EXPECT_FALSE(client.connected());
            failure = nextStatement();
        }
        EXPECT_EQ(failure, "") << "the connection stayed dead";
    };
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        const std::string id = client.scalar(adapter().sessionIdSql);
        ClientDataSet& data = client.open(adapter().numberedRowsSql(count), 100);
        ASSERT_EQ(data.recordCount(), 100u);

        std::string endSession = adapter().endSessionSql;
        endSession.replace(endSession.find("{id}"), 4, id);
        {
            auto other = connect();
            auto ended = other->execute(endSession);
            if (ended->hasResultSet()) {
                db::RowStore rows(ended->columns().size());
                ended->fetch(rows, 1);
                EXPECT_EQ(cellText(rows, 0, 0), "1") << "the session was not ended";
            }
        }

        if (adapter().resultArrivesWhole) {
            while (data.fetchMore() > 0) {
            }
            EXPECT_EQ(data.recordCount(), static_cast<std::size_t>(count)) << "the rows held were lost";
            expectTheNextStatementConnectsAgain(client);
            continue;
        }
        std::string message;
        try {
            while (data.fetchMore() > 0) {
            }
            FAIL() << "the result ended normally";
        } catch (const DbError& error) {
            message = error.what();
        }
        EXPECT_TRUE(saysSessionEnded(message)) << message;
        const std::size_t held = data.recordCount();
        EXPECT_GE(held, 100u);
        EXPECT_LT(held, static_cast<std::size_t>(count));
        EXPECT_EQ(cellText(data.rows(), held - 1, 0), std::to_string(held)) << "every row kept is whole";
        EXPECT_TRUE(data.active());
        data.first();
        EXPECT_EQ(data.fieldText(0).toStdString(), "1");
        EXPECT_THROW(data.fetchMore(), DbError) << "the end stays an error";
        EXPECT_FALSE(client.connected()) << "the failed fetch found the session gone";
        expectTheNextStatementConnectsAgain(client);
    }
}

TEST_P(StoredBytesConformance, TextThatIsNotUtf8IsKeptAndShownWithReplacements) {
    const std::string name = table("bytes_text");
    {
        auto connection = connect();
        connection->execute("DROP TABLE IF EXISTS " + name);
        connection->execute("CREATE TABLE " + name + " (s TEXT, v VARCHAR(10))");
        connection->execute("INSERT INTO " + name + " VALUES (" + adapter().nonUtf8TextLiteral + ", " +
                            adapter().nonUtf8TextLiteral + ")");
    }
    const std::string& stored = adapter().nonUtf8TextBytes;
    for (const Engine engine : kEngines) {
        SCOPED_TRACE(engineName(engine));
        EngineClient client(target(), engine);
        const ClientDataSet& data = client.open("SELECT s, v FROM " + name);
        ASSERT_EQ(data.recordCount(), 1u);
        for (std::size_t column = 0; column < 2; ++column) {
            EXPECT_EQ(data.cell(0, column).bytes, stored);
            // Shown with one replacement character for each byte that is
            // not UTF-8, the rest as it is.
            EXPECT_EQ(data.text(0, column),
                      QString(3, QChar(0xFFFD)) + QString::fromUtf8(stored.substr(3).data(),
                                                                    static_cast<qsizetype>(stored.size() - 3)));
        }
    }
}

}  // namespace tarnwell::test
