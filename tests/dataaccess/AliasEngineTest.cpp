// The alias engine: parameter lists, the alias file, the session, databases
// and queries over the sample database and scratch SQLite files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "DataTestSupport.h"
#include "dataaccess/AliasFile.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/DemoDatabase.h"
#include "dataaccess/ParamList.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/sqlite/SqliteConnection.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {
namespace {

using db::Database;
using db::DbError;
using db::ParamList;
using db::Query;
using db::RowStore;
using db::Session;
using db::SessionConfig;

const std::string kDemoDatabase = TARNWELL_TEST_DEMO_DATABASE;

TEST(ParamList, LookupIsCaseInsensitiveFirstEntryWinsMissingIsEmpty) {
    ParamList params = ParamList::fromText("SERVER NAME=db1\nuser name=scott\nPASSWORD=first\nPASSWORD=second\n");
    EXPECT_EQ(params.size(), 4u);
    EXPECT_EQ(params.value("USER NAME"), "scott");
    EXPECT_EQ(params.value("Password"), "first");
    EXPECT_EQ(params.value("DATABASE NAME"), "");
    EXPECT_FALSE(params.contains("DATABASE NAME"));
    EXPECT_EQ(params.value("USER"), "") << "names match whole, not as prefixes";

    // The login: remove the configured user, append the typed one.
    EXPECT_TRUE(params.removeFirst("USER NAME"));
    EXPECT_FALSE(params.removeFirst("USER NAME"));
    params.append("USER NAME", "typed");
    params.append("PASSWORD", "typed-pw");
    EXPECT_EQ(params.value("USER NAME"), "typed");
    EXPECT_EQ(params.value("PASSWORD"), "first") << "a configured password stays in front";
    EXPECT_EQ(params.nameAt(params.size() - 1), "PASSWORD");

    // Values may hold "=", keep blanks, and be empty.
    params.appendLine("EXTRA= a=b ");
    params.appendLine("NOVALUE=");
    EXPECT_EQ(params.value("EXTRA"), " a=b ");
    EXPECT_TRUE(params.contains("NOVALUE"));
    EXPECT_EQ(params.value("NOVALUE"), "");
}

TEST(ParamList, TextRoundTripKeepsOrderOddLinesAndLineEnds) {
    const ParamList params = ParamList::fromText("A=1\r\n\r\nno equals sign\rB=2\nC=");
    ASSERT_EQ(params.size(), 5u);
    EXPECT_EQ(params.line(1), "");
    EXPECT_EQ(params.line(2), "no equals sign");
    EXPECT_EQ(params.nameAt(2), "") << "a line without = has no name";
    EXPECT_EQ(params.value("no equals sign"), "");
    EXPECT_EQ(params.text(), "A=1\n\nno equals sign\nB=2\nC=\n");
    EXPECT_EQ(ParamList::fromText(params.text()), params);
    EXPECT_TRUE(ParamList::fromText("").empty());
    EXPECT_EQ(ParamList::fromText("\n").size(), 1u);

    ParamList set = ParamList::fromText("user name=a\n");
    set.set("USER NAME", "b");
    set.set("PORT", "5432");
    EXPECT_EQ(set.text(), "user name=b\nPORT=5432\n");
}

TEST(AliasFile, SectionsInFileOrderWithTypeApartAndProblemsByLine) {
    const db::AliasFileContents file = db::parseAliasText(
        "\xEF\xBB\xBF; aliases of the sales department\n"
        "stray=before any section\n"
        "[SALES]\n"
        "type = postgresql\n"
        "SERVER NAME = db.example.com \n"
        "DATABASE NAME=sales\n"
        "PASSWORD=\" spaced \"\n"
        "\n"
        "# a comment\n"
        "[本地資料]\n"
        "TYPE=SQLITE\n"
        "PATH=/data/本地.db\n"
        "this line is garbage\n"
        "[sales]\n"
        "TYPE=ODBC\n"
        "[NOTYPE]\n"
        "PATH=/x\n"
        "[BROKEN\n"
        "TYPE=SQLITE\n"
        "[LEGACY]\n"
        "TYPE=ORACLE\n"
        "SERVER NAME=orcl\n",
        "aliases.conf");
    ASSERT_EQ(file.aliases.size(), 3u);
    EXPECT_EQ(file.aliases[0].name, "SALES");
    EXPECT_EQ(file.aliases[0].driver, "POSTGRESQL");
    EXPECT_EQ(file.aliases[0].params.text(), "SERVER NAME=db.example.com\nDATABASE NAME=sales\nPASSWORD= spaced \n");
    EXPECT_EQ(file.aliases[1].name, "本地資料");
    EXPECT_EQ(file.aliases[1].params.value("PATH"), "/data/本地.db");
    EXPECT_EQ(file.aliases[2].name, "LEGACY") << "an unknown driver is listed; opening it will say why";

    const std::vector<std::string> expected = {
        "aliases.conf:2: parameter \"stray\" before the first [ALIAS] line; skipped",
        "aliases.conf:13: not a \"KEY=value\" line, an \"[ALIAS]\" line or a comment; skipped",
        "aliases.conf:14: alias \"sales\" is defined again; the first definition counts",
        "aliases.conf:16: alias \"NOTYPE\" has no TYPE; skipped",
        "aliases.conf:18: broken section line [BROKEN; the section is skipped",
        "aliases.conf:21: alias \"LEGACY\" has the unknown driver type \"ORACLE\" (known: SQLITE, POSTGRESQL, MARIADB, MYSQL, ODBC)",
    };
    EXPECT_EQ(file.problems, expected);
}

TEST(AliasFile, StandardLocationsInTheirOrder) {
    TempDir dir;
    ::unsetenv("TARNWELL_ALIASES");
    ::setenv("HOME", dir.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    const bool systemFile = std::filesystem::exists("/etc/tarnwell/aliases.conf");
    EXPECT_EQ(db::standardAliasFile(), systemFile ? "/etc/tarnwell/aliases.conf" : "");

    std::filesystem::create_directories(dir.path() + "/.config/tarnwell");
    writeFile(dir.path() + "/.config/tarnwell/aliases.conf", "");
    EXPECT_EQ(db::standardAliasFile(), dir.path() + "/.config/tarnwell/aliases.conf");

    ::setenv("XDG_CONFIG_HOME", (dir.path() + "/xdg").c_str(), 1);
    EXPECT_EQ(db::standardAliasFile(), systemFile ? "/etc/tarnwell/aliases.conf" : "");

    ::setenv("TARNWELL_ALIASES", dir.file("named.conf").c_str(), 1);
    EXPECT_EQ(db::standardAliasFile(), dir.file("named.conf"));
    const db::AliasFileContents missing = db::readAliasFile(dir.file("named.conf"));
    ASSERT_EQ(missing.problems.size(), 1u) << "a file named on purpose but missing is a problem";
    EXPECT_NE(missing.problems[0].find("TARNWELL_ALIASES"), std::string::npos);
    ::unsetenv("TARNWELL_ALIASES");
    EXPECT_TRUE(db::readAliasFile(dir.file("named.conf")).problems.empty());
}

// A file named by mistake (/dev/zero, a pipe, a folder, a log) is reported
// at once rather than read for ever; what a report quotes of a file stays one
// short, readable line.
TEST(AliasFile, OnlyARegularFileOfBoundedSizeIsReadAndReportsQuoteItShort) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.conf").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder.conf"));
    writeFile(dir.file("huge.conf"), "[HUGE]\nTYPE=SQLITE\n" + std::string(1024 * 1024, ';'));
    const std::pair<std::string, std::string> files[] = {
        {"/dev/zero", "/dev/zero: is not a regular file (a device or a pipe); not read"},
        {dir.file("pipe.conf"), dir.file("pipe.conf") + ": is not a regular file (a device or a pipe); not read"},
        {dir.file("folder.conf"), dir.file("folder.conf") + ": is a folder, not an alias file"},
        {dir.file("huge.conf"), dir.file("huge.conf") + ": is larger than an alias file may be (1024 KiB); not read"},
    };
    for (const auto& [file, problem] : files) {
        const db::AliasFileContents contents = db::readAliasFile(file);
        EXPECT_TRUE(contents.aliases.empty()) << file;
        EXPECT_EQ(contents.problems, std::vector<std::string>{problem});
    }

    const db::AliasFileContents odd = db::parseAliasText(
        "[" + std::string(10 * 1024 * 1024, 'N') + "\n[ODD]\nTYPE=S\x01\xffQL\n", "aliases.conf");
    ASSERT_EQ(odd.problems.size(), 2u);
    EXPECT_EQ(odd.problems[0], "aliases.conf:1: broken section line [" + std::string(59, 'N') +
                                   "…; the section is skipped");
    EXPECT_EQ(odd.problems[1], "aliases.conf:3: alias \"ODD\" has the unknown driver type \"S\\x01\\xFFQL\" "
                               "(known: SQLITE, POSTGRESQL, MARIADB, MYSQL, ODBC)");
}

class AliasSessionTest : public ::testing::Test {
protected:
    std::unique_ptr<Session> session(const std::string& aliasText, bool odbc = false) {
        writeFile(dir_.file("aliases.conf"), aliasText);
        return std::make_unique<Session>(SessionConfig{dir_.file("aliases.conf"), kDemoDatabase, odbc});
    }
    std::string scratchDatabase(const std::string& name) {
        const std::string path = dir_.file(name);
        db::openSqlite({path, false, true})->execute("CREATE TABLE t (n INTEGER, s VARCHAR(20))");
        return path;
    }
    TempDir dir_;
};

TEST_F(AliasSessionTest, DemoComesFirstAndAFileSectionReplacesItsParametersInPlace) {
    auto plain = session("[FILES]\nTYPE=SQLITE\nPATH=/x.db\n");
    EXPECT_EQ(plain->aliasNames(), (std::vector<std::string>{"DEMO", "FILES"}));
    EXPECT_EQ(plain->aliasDriverName("demo"), "SQLITE");
    EXPECT_EQ(plain->aliasParams("DEMO").text(), "PATH=" + kDemoDatabase + "\n");
    EXPECT_TRUE(plain->configurationProblems().empty());

    auto replaced = session("[FIRST]\nTYPE=SQLITE\nPATH=/a.db\n[demo]\nPATH=/elsewhere/demo.db\nOPEN MODE=READ ONLY\n");
    EXPECT_EQ(replaced->aliasNames(), (std::vector<std::string>{"DEMO", "FIRST"}));
    EXPECT_EQ(replaced->aliasDriverName("DEMO"), "SQLITE");
    EXPECT_EQ(replaced->aliasParams("DEMO").text(), "PATH=/elsewhere/demo.db\nOPEN MODE=READ ONLY\n");

    EXPECT_THROW(replaced->aliasParams("NOSUCH"), DbError);
    EXPECT_THROW(replaced->aliasDriverName("NOSUCH"), DbError);

    auto broken = session("[A]\nTYPE=SQLITE\nnonsense\n[B]\nTYPE=SQLITE\n");
    EXPECT_EQ(broken->aliasNames(), (std::vector<std::string>{"DEMO", "A", "B"})) << "the rest still loads";
    ASSERT_EQ(broken->configurationProblems().size(), 1u);
    EXPECT_EQ(broken->configurationProblems()[0].rfind(dir_.file("aliases.conf") + ":3: ", 0), 0u);
}

TEST_F(AliasSessionTest, OdbcDataSourcesFollowTheFileAsOdbcAliases) {
    TARNWELL_REQUIRE_ODBC();
    const std::vector<db::OdbcDataSource> sources = db::listOdbcDataSources();
    if (sources.empty()) {
        GTEST_SKIP() << "the ODBC backend lists no data sources yet";
    }
    auto odbc = session("[tarnwell_sqlite]\nTYPE=SQLITE\nPATH=/x.db\n[LOCAL]\nTYPE=SQLITE\nPATH=/y.db\n", true);
    const std::vector<std::string> names = odbc->aliasNames();
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names[0], "DEMO");
    EXPECT_EQ(names[1], "tarnwell_sqlite") << "the file's alias keeps the name";
    EXPECT_EQ(names[2], "LOCAL");
    EXPECT_EQ(odbc->aliasDriverName("tarnwell_sqlite"), "SQLITE");
    ASSERT_TRUE(odbc->isAlias("tarnwell_pg"));
    EXPECT_EQ(odbc->aliasDriverName("tarnwell_pg"), "ODBC");
    const ParamList pg = odbc->aliasParams("tarnwell_pg");
    EXPECT_EQ(pg.value("Driver"), "PostgreSQL Unicode");
    EXPECT_EQ(pg.value("Database"), "tarnwell_test");
    EXPECT_FALSE(odbc->isAlias("ODBC")) << "the [ODBC] section is no data source";

    // A listed data source connects by its name.
    Database database(*odbc, "BDE_DBS");
    database.setAliasName("tarnwell_pg");
    database.params() = odbc->aliasParams("tarnwell_pg");
    database.params().append("USER NAME", pg.value("Username"));
    database.params().append("PASSWORD", pg.value("Password"));
    database.open();
    Query query(*odbc);
    query.setDatabaseName("BDE_DBS");
    query.setSql("SELECT 6 * 7");
    query.open();
    RowStore rows(1);
    query.fetch(rows, 1);
    EXPECT_EQ(cellText(rows, 0, 0), "42");
}

TEST_F(AliasSessionTest, TheDemoAliasOpensTheSampleDatabase) {
    auto demo = session("");
    Database database(*demo, "BDE_DBS");
    database.setAliasName("DEMO");
    int connects = 0;
    int disconnects = 0;
    database.setAfterConnect([&] { ++connects; });
    database.setAfterDisconnect([&] { ++disconnects; });
    database.open();
    database.open();
    EXPECT_TRUE(database.connected());
    EXPECT_EQ(connects, 1);

    Query query(*demo);
    query.setDatabaseName("bde_dbs");
    query.setSql("SELECT (SELECT count(*) FROM Customers), (SELECT count(*) FROM Orders), "
                 "(SELECT count(*) FROM pragma_table_info('SalesSummary')), "
                 "(SELECT count(*) FROM Customers WHERE Fax IS NULL) > 0");
    query.open();
    RowStore rows(query.columns().size());
    query.fetch(rows, 1);
    EXPECT_EQ(cellText(rows, 0, 0), "200");
    EXPECT_EQ(cellText(rows, 0, 1), "2000");
    EXPECT_EQ(cellText(rows, 0, 2), "40");
    EXPECT_EQ(cellText(rows, 0, 3), "1");

    query.setSql("SELECT * FROM 客戶訂單總覽 ORDER BY 訂單編號");
    query.open();
    EXPECT_EQ(query.columns()[1].name, "客戶名稱");
    database.close();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(query.active());
}

TEST_F(AliasSessionTest, DatabaseParametersComeBeforeTheAliasesAndFailuresKeepItClosed) {
    const std::string good = scratchDatabase("good.db");
    auto aliases = session("[GOOD]\nTYPE=SQLITE\nPATH=" + good + "\n[GONE]\nTYPE=SQLITE\nPATH=" +
                           dir_.file("gone.db") + "\n[ODD]\nTYPE=ORACLE\n");
    Database database(*aliases, "BDE_DBS");
    database.setAliasName("GOOD");
    database.params().append("USER NAME", "scott");
    EXPECT_EQ(database.effectiveParams().text(), "USER NAME=scott\nPATH=" + good + "\n");
    EXPECT_EQ(database.effectiveDriverName(), "SQLITE");

    // Parameters given to the database win over the alias's.
    database.params().append("PATH", dir_.file("gone.db"));
    try {
        database.open();
        FAIL() << "opened a missing file";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("gone.db"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(database.connected());
    database.params().removeFirst("PATH");
    database.params().append("OPEN MODE", "READ ONLY");
    database.open();
    Query query(*aliases);
    query.setDatabaseName("BDE_DBS");
    query.setSql("INSERT INTO t VALUES (1, 'a')");
    EXPECT_THROW(query.execSql(), DbError) << "opened read-only";
    database.close();

    Database odd(*aliases, "BDE_SQL_1");
    odd.setAliasName("ODD");
    EXPECT_THROW(odd.open(), DbError);
    odd.setAliasName("NOSUCH");
    EXPECT_THROW(odd.open(), DbError);
    odd.setAliasName("");
    odd.setDriverName("sqlite");
    odd.params().append("PATH", good);
    odd.open();
    EXPECT_TRUE(odd.connected()) << "a driver name and parameters need no alias";

    // Zero would wait for ever on a server that never answers; nonsense
    // would silently become the default.
    auto servers = session("[PG]\nTYPE=POSTGRESQL\nSERVER NAME=127.0.0.1\nPORT=1\n[DSN]\nTYPE=ODBC\nDSN=none\n");
    for (const char* alias : {"PG", "DSN"}) {
        for (const char* value : {"0", "-1", "abc", "86401"}) {
            Database timed(*servers, std::string("TIMED_") + alias + value);
            timed.setAliasName(alias);
            timed.params().append("CONNECT TIMEOUT", value);
            std::string message = "<opened>";
            try {
                timed.open();
            } catch (const DbError& error) {
                message = error.what();
            }
            EXPECT_EQ(message, "CONNECT TIMEOUT 的值「" + std::string(value) + "」不是 1 到 86400 之間的秒數") << alias;
        }
    }

    EXPECT_THROW(Database(*aliases, "bde_dbs"), DbError) << "database names are unique in a session";
    EXPECT_EQ(aliases->databaseNames(), (std::vector<std::string>{"BDE_DBS", "BDE_SQL_1"}));
}

TEST_F(AliasSessionTest, QueriesOpenExecuteAndReportWhatRan) {
    const std::string path = scratchDatabase("q.db");
    auto aliases = session("[Q]\nTYPE=SQLITE\nPATH=" + path + "\n");
    Query query(*aliases);
    query.setDatabaseName("BDE_SQL_1");
    query.setSql("SELECT 1");
    EXPECT_THROW(query.open(), DbError) << "no such database yet";

    Database database(*aliases, "BDE_SQL_1");
    database.setAliasName("Q");
    EXPECT_THROW(query.open(), DbError) << "the database is not connected";
    database.open();

    query.setSql("INSERT INTO t SELECT 1, 'a' UNION ALL SELECT 2, 'b' UNION ALL SELECT 3, 'c'");
    query.execSql();
    EXPECT_EQ(query.rowsAffected(), 3);
    EXPECT_FALSE(query.active());

    query.setSql("SELECT n, s FROM t ORDER BY n");
    query.open();
    EXPECT_TRUE(query.active());
    const auto firstRun = query.runId();
    RowStore rows(2);
    EXPECT_EQ(query.fetch(rows, 2), 2u);
    EXPECT_FALSE(query.atEnd());
    query.rerun();
    EXPECT_NE(query.runId(), firstRun);
    rows.clear();
    EXPECT_EQ(query.fetch(rows, 10), 3u);
    EXPECT_TRUE(query.atEnd());
    query.close();
    EXPECT_THROW(query.fetch(rows, 1), DbError);
}

TEST(DemoDatabase, FoundBesideTheProgramElseInTheInstallation) {
    TempDir dir;
    const std::string installed = db::findDemoDatabase(dir.path());
    EXPECT_EQ(installed.substr(installed.size() - 16), "tarnwell/demo.db");
    std::filesystem::create_directories(dir.path() + "/share/tarnwell");
    std::filesystem::create_directories(dir.path() + "/bin");
    writeFile(dir.path() + "/share/tarnwell/demo.db", "");
    EXPECT_EQ(db::findDemoDatabase(dir.path() + "/bin"), dir.path() + "/bin/../share/tarnwell/demo.db");
    std::filesystem::create_directories(dir.path() + "/bin/data");
    writeFile(dir.path() + "/bin/data/demo.db", "");
    EXPECT_EQ(db::findDemoDatabase(dir.path() + "/bin"), dir.path() + "/bin/data/demo.db");
}

}  // namespace
}  // namespace tarnwell::test
