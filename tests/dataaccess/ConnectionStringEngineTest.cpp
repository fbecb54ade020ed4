// The connection-string engine: connection strings, providers, data link
// files, and connections and queries opened from them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "DataTestSupport.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/DataLink.h"
#include "dataaccess/DbError.h"
#include "dataaccess/NoResultSetError.h"
#include "dataaccess/sqlite/SqliteConnection.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {
namespace {

using db::AdoConnection;
using db::AdoQuery;
using db::ConnectionString;
using db::DbError;
using db::RowStore;

std::string failureText(const std::function<void()>& action) {
    try {
        action();
    } catch (const DbError& error) {
        return error.what();
    }
    return "<no error>";
}

TEST(ConnectionString, KeysIgnoreCaseValuesMayBeQuotedAndTheLastOneCounts) {
    const ConnectionString parsed = ConnectionString::parse(
        " Provider = SQLite.1 ;data source=/tmp/a b.db;Password=\"p;w=\"\"x\"\"\";"
        "Extended Properties='DSN=x;UID=y';;User ID=first;user id=second; Empty=;");
    EXPECT_EQ(parsed.value("PROVIDER"), "SQLite.1");
    EXPECT_EQ(parsed.value("Data Source"), "/tmp/a b.db");
    EXPECT_EQ(parsed.value("password"), "p;w=\"x\"");
    EXPECT_EQ(parsed.value("Extended Properties"), "DSN=x;UID=y");
    EXPECT_EQ(parsed.value("User ID"), "second");
    EXPECT_TRUE(parsed.contains("empty"));
    EXPECT_EQ(parsed.value("missing"), "");
    EXPECT_EQ(parsed.entries().size(), 6u);
    EXPECT_EQ(parsed.entries()[4].first, "User ID") << "keys keep their first spelling";

    const std::string text = parsed.text();
    EXPECT_EQ(ConnectionString::parse(text).entries(), parsed.entries());
    EXPECT_EQ(ConnectionString::parse("a=' x ';b=it's").text(), "a=\" x \";b=it's");

    EXPECT_EQ(failureText([] { ConnectionString::parse("Provider=SQLite.1;garbage"); }),
              "The connection string is not valid: \"garbage\" has no \"=\" and value");
    EXPECT_NE(failureText([] { ConnectionString::parse("Password=\"open"); }).find("no closing \""), std::string::npos);
    EXPECT_NE(failureText([] { ConnectionString::parse("=value"); }).find("without a key"), std::string::npos);
    EXPECT_NE(failureText([] { ConnectionString::parse("a=\"x\" y"); }).find("after the quoted value"),
              std::string::npos);
}

TEST(ConnectionString, ProvidersHaveDistinctPrefixesAndCanonicalNames) {
    const auto& providers = db::connectionProviders();
    ASSERT_EQ(providers.size(), 4u);
    for (std::size_t i = 0; i < providers.size(); ++i) {
        EXPECT_FALSE(providers[i].description.empty());
        for (std::size_t j = i + 1; j < providers.size(); ++j) {
            EXPECT_NE(providers[i].name.substr(0, 7), providers[j].name.substr(0, 7));
        }
    }
    EXPECT_EQ(db::canonicalProviderName("sqlite"), "SQLite.1");
    EXPECT_EQ(db::canonicalProviderName("SQLITE.1"), "SQLite.1");
    EXPECT_EQ(db::canonicalProviderName("postgresql"), "PostgreSQL.1");
    EXPECT_EQ(db::canonicalProviderName("Odbc.1"), "ODBC.1");
    EXPECT_EQ(db::canonicalProviderName("MSDASQL.1"), "ODBC.1");
    EXPECT_EQ(db::canonicalProviderName("mariadb"), "MariaDB.1");
    EXPECT_EQ(db::canonicalProviderName("MySQL.1"), "MariaDB.1");
    EXPECT_EQ(db::canonicalProviderName("SQLite.2"), "");
    EXPECT_EQ(db::canonicalProviderName("MSDAORA.1"), "");
    EXPECT_EQ(db::canonicalProviderName(""), "");
}

TEST(DataLinkFile, WrittenInTheExactFormatAndReadBack) {
    TempDir dir;
    const std::string path = dir.file("銷售.udl");
    const std::string text = "Provider=SQLite.1;Data Source=/資料/demo.db;Password=\"a;b\"";
    db::writeDataLinkFile(path, text);

    std::string expected = "\xFF\xFE";
    for (char16_t c : u"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                      u"Provider=SQLite.1;Data Source=/資料/demo.db;Password=\"a;b\"\r\n") {
        if (c != 0) {
            expected += static_cast<char>(c & 0xFF);
            expected += static_cast<char>(c >> 8);
        }
    }
    EXPECT_EQ(readFile(path), expected);
    EXPECT_EQ(db::readDataLinkFile(path), text);
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path().filename().string(), "銷售.udl")
        << "no temporary file left behind";

    db::writeDataLinkFile(path, "Provider=ODBC.1;Data Source=x");
    EXPECT_EQ(db::readDataLinkFile(path), "Provider=ODBC.1;Data Source=x") << "replaced whole";
    EXPECT_THROW(db::writeDataLinkFile(path, "a=1\r\nb=2"), DbError);
    EXPECT_THROW(db::writeDataLinkFile(dir.file("no/such/folder.udl"), "a=1"), DbError);
    EXPECT_EQ(db::readDataLinkFile(path), "Provider=ODBC.1;Data Source=x");
}

TEST(DataLinkFile, ReadLenientlyAndBadFilesNamed) {
    TempDir dir;
    writeFile(dir.file("utf8.udl"), "\xEF\xBB\xBF[OLEDB]\n; comment\n\nProvider=SQLite.1;Data Source=/x 中.db\n");
    EXPECT_EQ(db::readDataLinkFile(dir.file("utf8.udl")), "Provider=SQLite.1;Data Source=/x 中.db");
    writeFile(dir.file("plain.udl"), "[oledb]\r\nProvider=ODBC.1;Data Source=dsn\r\n");
    EXPECT_EQ(db::readDataLinkFile(dir.file("plain.udl")), "Provider=ODBC.1;Data Source=dsn");
    writeFile(dir.file("nobom.udl"), std::string("[\0o\0l\0e\0d\0b\0]\0\n\0a\0=\0\x31\0", 22));
    EXPECT_EQ(db::readDataLinkFile(dir.file("nobom.udl")), "a=1");

    const auto fails = [&](const std::string& name, const std::string& bytes, const std::string& why) {
        if (!bytes.empty() || name != "missing.udl") {
            writeFile(dir.file(name), bytes);
        }
        const std::string message = failureText([&] { db::readDataLinkFile(dir.file(name)); });
        EXPECT_NE(message.find(why), std::string::npos) << name << ": " << message;
        EXPECT_NE(message.find(dir.file(name)), std::string::npos) << name << ": " << message;
    };
    fails("missing.udl", "", "not found");
    fails("empty.udl", "", "is empty");
    fails("blank.udl", "\xFF\xFE \0\r\0\n\0", "is empty");
    fails("garbage.udl", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11), "Not a data link file");
    // Big5 bytes: neither UTF-16 nor UTF-8.
    fails("big5.udl", "[oledb]\r\nProvider=SQLite.1;Data Source=/\xb8\xea\xae\xc6.db\r\n", "neither UTF-16 nor UTF-8");
    fails("header.udl", "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n", "no connection string");
    std::filesystem::create_directories(dir.file("folder.udl"));
    EXPECT_THROW(db::readDataLinkFile(dir.file("folder.udl")), DbError);
}

TEST(DataLinkFile, TheFolderFollowsXdgDataHome) {
    TempDir dir;
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(db::dataLinkFolder(), dir.path() + "/tarnwell/Data Links");
    EXPECT_TRUE(db::dataLinkFileNames().empty());
    std::filesystem::create_directories(db::dataLinkFolder() + "/sub.udl");
    writeFile(db::dataLinkFolder() + "/b.udl", "");
    writeFile(db::dataLinkFolder() + "/A.UDL", "");
    writeFile(db::dataLinkFolder() + "/notes.txt", "");
    EXPECT_EQ(db::dataLinkFileNames(), (std::vector<std::string>{"A.UDL", "b.udl"}));
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    ::setenv("HOME", dir.path().c_str(), 1);
    EXPECT_EQ(db::dataLinkFolder(), dir.path() + "/.local/share/tarnwell/Data Links");
}

class AdoEngine : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("ado.db");
        auto connection = db::openSqlite({path_, false, true});
        connection->execute("CREATE TABLE t (n INTEGER, s VARCHAR(20))");
        connection->execute(
            "INSERT INTO t WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 50) "
            "SELECT n, 'row ' || n FROM c");
    }
    TempDir dir_;
    std::string path_;
};

TEST_F(AdoEngine, NewConnectionSettingsAreKeptAndReset) {
    AdoConnection connection;
    connection.setCommandTimeout(5);
    connection.setConnectionTimeout(2);
    connection.setCursorLocation(db::CursorLocation::Server);
    connection.setIsolationLevel(db::IsolationLevel::Serializable);
    connection.setKeepConnection(false);
    connection.setLoginPrompt(true);
    connection.setMode(db::ConnectMode::Read);
    connection.setDefaultDatabase("x");
    connection.setConnectOptions(db::ConnectOption::AsyncConnect);
    connection.setConnectionString("Provider=SQLite.1;Data Source=" + path_);
    connection.open();
    connection.resetToNewConnectionDefaults();
    EXPECT_FALSE(connection.connected());
    EXPECT_EQ(connection.commandTimeout(), 30);
    EXPECT_EQ(connection.connectionString(), "");
    EXPECT_EQ(connection.connectionTimeout(), 15);
    EXPECT_EQ(connection.connectOptions(), db::ConnectOption::Unspecified);
    EXPECT_EQ(connection.cursorLocation(), db::CursorLocation::Client);
    EXPECT_EQ(connection.defaultDatabase(), "");
    EXPECT_EQ(connection.isolationLevel(), db::IsolationLevel::CursorStability);
    EXPECT_TRUE(connection.keepConnection());
    EXPECT_FALSE(connection.loginPrompt());
    EXPECT_EQ(connection.mode(), db::ConnectMode::Unknown);
    EXPECT_EQ(connection.provider(), "");
}

TEST_F(AdoEngine, OpenCompletesTheConnectionStringAndNamesTheProvider) {
    AdoConnection connection;
    connection.setConnectionString("provider=sqlite; DATA SOURCE = " + path_ + " ;Mode=Read;Password='x;y'");
    EXPECT_EQ(connection.provider(), "SQLite.1");
    connection.open();
    EXPECT_TRUE(connection.connected());
    EXPECT_EQ(connection.provider(), "SQLite.1");
    EXPECT_EQ(connection.connectionString(),
              "Provider=SQLite.1;Data Source=" + path_ + ";Mode=Read;Password=\"x;y\"");

    // The completed string connects again, and setting it again keeps the
    // open connection.
    const std::string completed = connection.connectionString();
    db::Connection* before = connection.connection();
    connection.setConnectionString(completed);
    EXPECT_EQ(connection.connection(), before);
    AdoQuery query(connection);
    query.setSql("INSERT INTO t VALUES (0, 'x')");
    EXPECT_THROW(query.execSql(), DbError) << "Mode=Read opens read-only";
    connection.close();
    EXPECT_EQ(connection.connectionString(), completed);

    const auto refused = [&](const std::string& text) {
        AdoConnection other;
        other.setConnectionString(text);
        const std::string message = failureText([&] { other.open(); });
        EXPECT_FALSE(other.connected());
        return message;
    };
    EXPECT_NE(refused("Data Source=" + path_).find("names no provider"), std::string::npos);
    EXPECT_NE(refused("Provider=MSDAORA.1;Data Source=orcl").find("Unknown provider \"MSDAORA.1\""),
              std::string::npos);
    EXPECT_NE(refused("Provider=SQLite.1").find("no Data Source"), std::string::npos);
    EXPECT_NE(refused("Provider=SQLite.1;Data Source=" + dir_.file("none.db")).find("none.db"), std::string::npos);
    EXPECT_NE(refused("Provider=PostgreSQL.1;Data Source=host:port/db").find("not a port number"),
              std::string::npos);
    EXPECT_NE(refused("Provider=ODBC.1").find("no Data Source"), std::string::npos);
    EXPECT_NE(refused("Provider=SQLite.1;Data Source=\"unclosed").find("not valid"), std::string::npos);
}

TEST_F(AdoEngine, FileNameStringsReadTheDataLinkFile) {
    db::writeDataLinkFile(dir_.file("link.udl"), "Provider=SQLite.1;Data Source=" + dir_.file("other.db"));
    AdoConnection connection;
    connection.setConnectionString("FILE NAME=" + dir_.file("link.udl") + ";Data Source=" + path_);
    connection.open();
    EXPECT_EQ(connection.connectionString(), "Provider=SQLite.1;Data Source=" + path_)
        << "keys beside FILE NAME win over the file's, and the completed string holds no FILE NAME";

    db::writeDataLinkFile(dir_.file("loop.udl"), "File Name=" + dir_.file("link.udl"));
    AdoConnection loop;
    loop.setConnectionString("File Name=" + dir_.file("loop.udl"));
    EXPECT_NE(failureText([&] { loop.open(); }).find("cannot name another"), std::string::npos);

    // Each way a file can be wrong reaches the caller as the reader's words,
    // and the connection stays closed.
    writeFile(dir_.file("empty.udl"), "");
    writeFile(dir_.file("big5.udl"), "[oledb]\r\nProvider=SQLite.1;Data Source=" + dir_.file("\xb8\xea.db") + "\r\n");
    writeFile(dir_.file("noprovider.udl"), "[oledb]\r\nData Source=" + path_ + "\r\n");
    writeFile(dir_.file("oracle.udl"), "[oledb]\r\nProvider=MSDAORA.1;Data Source=orcl\r\n");
    const std::pair<std::string, std::string> bad[] = {
        {"absent.udl", "Data link file not found: " + dir_.file("absent.udl")},
        {"empty.udl", "Data link file is empty: " + dir_.file("empty.udl")},
        {"big5.udl", "neither UTF-16 nor UTF-8): " + dir_.file("big5.udl")},
        {"noprovider.udl", "names no provider"},
        {"oracle.udl", "Unknown provider \"MSDAORA.1\""},
    };
    for (const auto& [file, words] : bad) {
        loop.setConnectionString("FILE NAME=" + dir_.file(file));
        EXPECT_NE(failureText([&] { loop.open(); }).find(words), std::string::npos) << file;
        EXPECT_FALSE(loop.connected());
    }
}

TEST_F(AdoEngine, QueriesHonourMaxRecordsExecuteOptionsAndFeedTheProvider) {
    AdoConnection connection;
    connection.setConnectionString("Provider=SQLite.1;Data Source=" + path_);
    AdoQuery query(connection);
    query.setExecuteOptions(AdoQuery::AsyncFetch | AdoQuery::AsyncExecute);
    EXPECT_EQ(query.executeOptions(), 3u);
    query.setCacheSize(50);
    EXPECT_EQ(query.cacheSize(), 50);

    query.setMaxRecords(7);
    query.setSql("SELECT n FROM t ORDER BY n");
    query.open();  // connects on demand
    EXPECT_TRUE(connection.connected());
    RowStore rows(1);
    EXPECT_EQ(query.fetch(rows, 5), 5u);
    EXPECT_FALSE(query.atEnd());
    EXPECT_EQ(query.fetch(rows, 5), 2u);
    EXPECT_TRUE(query.atEnd());
    EXPECT_EQ(query.fetch(rows, 5), 0u);
    EXPECT_EQ(cellText(rows, 6, 0), "7");

    query.setMaxRecords(0);
    query.setExecuteOptions(AdoQuery::ExecuteNoRecords);
    query.setSql("SELECT n FROM t");
    EXPECT_THROW(query.open(), db::NoResultSetError);
    EXPECT_FALSE(query.active());

    query.setExecuteOptions(0);
    query.open();
    connection.close();
    EXPECT_FALSE(query.active()) << "closing the connection closes its queries";
    EXPECT_THROW(query.fetch(rows, 1), DbError);
}

TEST_F(AdoEngine, TheCommandTimeoutStopsALongStatement) {
    AdoConnection connection;
    connection.setConnectionString("Provider=SQLite.1;Data Source=" + path_);
    connection.setCommandTimeout(1);
    AdoQuery query(connection);
    query.setSql("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT max(x) FROM c");
    const std::string message = failureText([&] { query.open(); });
    EXPECT_NE(message.find("command timeout of 1 seconds"), std::string::npos) << message;
    query.setSql("SELECT count(*) FROM t");
    query.open();
    RowStore rows(1);
    query.fetch(rows, 1);
    EXPECT_EQ(cellText(rows, 0, 0), "50") << "the connection goes on";
}

// Zero would mean no limit at all, where the README promises one; nonsense
// would silently become the default.
TEST_F(AdoEngine, AConnectTimeoutOfZeroOrNonsenseIsRefusedNamingIt) {
    for (const char* value : {"0", "-1", "abc", "86401", "2147483648"}) {
        AdoConnection connection;
        connection.setConnectionString("Provider=PostgreSQL.1;Data Source=127.0.0.1:1/db;Connect Timeout=" +
                                       std::string(value));
        const std::string message = failureText([&] { connection.open(); });
        EXPECT_EQ(message, "Connect Timeout 的值「" + std::string(value) + "」不是 1 到 86400 之間的秒數") << value;
    }
    AdoConnection fine;
    fine.setConnectionString("Provider=SQLite.1;Data Source=" + path_ + ";Connect Timeout=86400");
    fine.open();
    EXPECT_TRUE(fine.connected());
}

TEST(AdoPostgres, DataSourceNamesHostPortAndDatabase) {
    TARNWELL_REQUIRE_PG(server);
    AdoConnection connection;
    connection.setConnectionString("Provider=postgresql;Data Source=" + server.host + ":" + server.port + "/" +
                                   server.database + ";User ID=" + server.user + ";Password=" + server.password);
    connection.open();
    EXPECT_EQ(connection.provider(), "PostgreSQL.1");
    EXPECT_EQ(connection.connectionString(), "Provider=PostgreSQL.1;Data Source=" + server.host + ":" + server.port +
                                                 "/" + server.database + ";User ID=" + server.user +
                                                 ";Password=" + server.password);
    AdoQuery query(connection);
    query.setSql("SELECT current_database()");
    query.open();
    RowStore rows(1);
    query.fetch(rows, 1);
    EXPECT_EQ(cellText(rows, 0, 0), server.database);
}

}  // namespace
}  // namespace tarnwell::test
