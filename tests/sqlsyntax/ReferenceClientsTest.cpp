// The engines' own clients are the reference for where statements end: a
// script of traps, in which every statement leaves its number in a table,
// run by psql, the sqlite3 shell and the mariadb client, and again
// statement by statement as the splitter cuts it, through interfaces that
// take one statement at a time (so a statement cut too long fails, and one
// cut short does too). Both runs must leave the same rows. The keyword
// lists are checked against what the engines list.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>

#include "SyntaxTestSupport.h"
#include "dataaccess/DataTestSupport.h"
#include "sqlsyntax/Keywords.h"
#include "support/TestEnvironment.h"

namespace tarnwell::sql::test {
namespace {

using tarnwell::test::readFile;
using tarnwell::test::TempDir;
using tarnwell::test::testMariaDbDataSource;
using tarnwell::test::writeFile;

std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs a shell command; its output and errors go to `log`. The exit status.
int run(const std::string& command, const std::string& log) {
    const int status = std::system((command + " >" + shellQuoted(log) + " 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The script with each {t} replaced by `name`.
std::string withName(std::string script, const std::string& name) {
    for (std::size_t at = script.find("{t}"); at != std::string::npos; at = script.find("{t}", at)) {
        script.replace(at, 3, name);
    }
    return script;
}

// ---- PostgreSQL and psql ----

const char* const kPostgresScript = R"(-- a comment before anything; with a semicolon
CREATE TABLE seen (n int, note text);
INSERT INTO seen VALUES (1, 'semi;colon'), (1, 'it''s; quoted');
INSERT INTO seen VALUES (2, E'back\\slash\'; quote');
INSERT INTO seen VALUES (3, $$dollar; 'quoted'$$), (3, $tag$ $$; $x$ $tag$);
/* block ; /* nested ; */ still a comment ; */ INSERT INTO seen VALUES (4, 'after a nested comment');
INSERT INTO seen VALUES (5, U&'\0041; unicode escape');
INSERT INTO seen SELECT 6 AS "a;""b", 'quoted; name';
CREATE FUNCTION add_seven() RETURNS void LANGUAGE sql
BEGIN ATOMIC
  INSERT INTO seen VALUES (7, 'atomic; body');
  INSERT INTO seen SELECT 7, CASE WHEN true THEN 'case; end' END;
END;
SELECT add_seven();
BEGIN;
INSERT INTO seen VALUES (8, 'in a transaction');
COMMIT;
;;
CREATE TABLE other (a int);
CREATE RULE other_rule AS ON INSERT TO other DO ALSO (INSERT INTO seen VALUES (9, 'rule; one'); INSERT INTO seen VALUES (9, 'rule; two'));
INSERT INTO other VALUES (1);
INSERT INTO seen VALUES (10, '中文；全形分號') -- a comment; then the end
;
-- only a comment;
INSERT INTO seen VALUES (11, 'last, without a semicolon'))";

class PgSession {
public:
    explicit PgSession(const std::string& conninfo) : connection_(PQconnectdb(conninfo.c_str()), &PQfinish) {
        PQsetNoticeProcessor(connection_.get(), [](void*, const char*) {}, nullptr);
    }

    bool ok() const { return PQstatus(connection_.get()) == CONNECTION_OK; }

    // One statement through the extended protocol, which refuses two; the
    // engine's message when it fails.
    std::string runOne(const std::string& statement) {
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(
            PQexecParams(connection_.get(), statement.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0), &PQclear);
        const ExecStatusType status = PQresultStatus(result.get());
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQresultErrorMessage(result.get());
    }

    std::vector<std::string> column(const std::string& query) {
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection_.get(), query.c_str()), &PQclear);
        std::vector<std::string> values;
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            values.emplace_back(PQgetvalue(result.get(), row, 0));
        }
        return values;
    }

private:
    std::unique_ptr<PGconn, decltype(&PQfinish)> connection_;
};

TEST(PostgresReference, PsqlEndsStatementsWhereTheSplitterDoes) {
    TARNWELL_REQUIRE_PG(server);
    PgSession session(server.conninfo);
    ASSERT_TRUE(session.ok());
    const std::string suffix = std::to_string(::getpid());
    const std::string reference = "split_psql_" + suffix;
    const std::string ours = "split_ours_" + suffix;
    for (const std::string& schema : {reference, ours}) {
        ASSERT_EQ(session.runOne("DROP SCHEMA IF EXISTS " + schema + " CASCADE"), "");
        ASSERT_EQ(session.runOne("CREATE SCHEMA " + schema), "");
    }
    TempDir scratch;
    const std::string script = scratch.file("traps.sql");
    writeFile(script, kPostgresScript);
    const std::string log = scratch.file("psql.log");
    EXPECT_EQ(run("PGOPTIONS=" + shellQuoted("-c search_path=" + reference) + " psql -X -q -v ON_ERROR_STOP=1 -d " +
                      shellQuoted(server.conninfo) + " -f " + shellQuoted(script),
                  log),
              0)
        << readFile(log);

    ASSERT_EQ(session.runOne("SET search_path = " + ours), "");
    const auto statements = splitStatements(Dialect::PostgreSQL, kPostgresScript);
    EXPECT_EQ(statements.size(), 17u);
    for (const Statement& statement : statements) {
        ASSERT_EQ(session.runOne(std::string(statement.text)), "") << "line " << statement.line;
    }
    const auto inSchema = [&](const std::string& schema) {
        return session.column("SELECT n || ':' || note FROM " + schema + ".seen ORDER BY n, note");
    };
    EXPECT_EQ(inSchema(ours), inSchema(reference));
    EXPECT_EQ(inSchema(ours).size(), 15u);
    for (const std::string& schema : {reference, ours}) {
        session.runOne("DROP SCHEMA " + schema + " CASCADE");
    }
}

TEST(PostgresReference, KeywordsAreTheServers) {
    TARNWELL_REQUIRE_PG(server);
    PgSession session(server.conninfo);
    ASSERT_TRUE(session.ok());
    const auto serverWords =
        session.column("SELECT upper(word) || CASE catcode WHEN 'U' THEN '' ELSE ' reserved' END FROM pg_get_keywords()");
    std::set<std::string> ours;
    for (std::string_view word : keywords(Dialect::PostgreSQL)) {
        ours.insert(std::string(word) + (isReservedWord(Dialect::PostgreSQL, word) ? " reserved" : ""));
    }
    EXPECT_EQ(ours, std::set<std::string>(serverWords.begin(), serverWords.end()));
}

// ---- SQLite and the sqlite3 shell ----

// The sqlite3 shell decides at each line's end whether its input is whole
// (sqlite3_complete()), which takes a CASE's "END;" for a trigger's end: the
// trigger's CASE stays on the line of its END.
const char* const kSqliteScript = R"(-- a comment before anything;
CREATE TABLE seen (n INTEGER, note TEXT);
INSERT INTO seen VALUES (1, 'semi;colon'), (1, 'it''s; quoted');
INSERT INTO [seen] VALUES (2, 'bracket; name');
INSERT INTO `seen` VALUES (3, 'backtick; name');
INSERT INTO "seen" VALUES (4, 'double-quoted; name');
/* block ; /* not nested */ INSERT INTO seen VALUES (5, 'after a comment');
CREATE TABLE src (a);
CREATE TRIGGER src_insert AFTER INSERT ON src
BEGIN
  INSERT INTO seen VALUES (6, 'trigger; body');
  INSERT INTO seen SELECT 6, CASE WHEN new.a > 0 THEN 'case; end' END; END;
INSERT INTO src VALUES (1);
BEGIN;
INSERT INTO seen VALUES (7, 'in a transaction');
END;
BEGIN IMMEDIATE TRANSACTION;
INSERT INTO seen VALUES (8, '中文；全形分號');
COMMIT;
;;
-- only a comment;
INSERT INTO seen VALUES (9, 'last, without a semicolon'))";

std::vector<std::string> sqliteColumn(sqlite3* db, const std::string& query) {
    sqlite3_stmt* statement = nullptr;
    std::vector<std::string> values;
    if (sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            values.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        }
    }
    sqlite3_finalize(statement);
    return values;
}

// One statement through sqlite3_prepare(), which stops after the first: what
// it leaves over must be nothing. The engine's message when it fails.
std::string runOneSqlite(sqlite3* db, std::string_view text) {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, text.data(), static_cast<int>(text.size()), &statement, &tail) != SQLITE_OK) {
        return sqlite3_errmsg(db);
    }
    if (std::string_view(tail, text.data() + text.size()).find_first_not_of(" \t\r\n") != std::string_view::npos) {
        sqlite3_finalize(statement);
        return "more than one statement";
    }
    int step = SQLITE_ROW;
    while (step == SQLITE_ROW) {
        step = sqlite3_step(statement);
    }
    std::string error = step == SQLITE_DONE ? "" : sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    return error;
}

TEST(SqliteReference, TheShellEndsStatementsWhereTheSplitterDoes) {
    TempDir scratch;
    const std::string script = scratch.file("traps.sql");
    writeFile(script, kSqliteScript);
    const std::string log = scratch.file("sqlite3.log");
    EXPECT_EQ(run("sqlite3 -bail " + shellQuoted(scratch.file("reference.db")) + " < " + shellQuoted(script), log), 0)
        << readFile(log);

    sqlite3* raw = nullptr;
    sqlite3_open(scratch.file("ours.db").c_str(), &raw);
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> ours(raw, &sqlite3_close);
    const auto statements = splitStatements(Dialect::SQLite, kSqliteScript);
    EXPECT_EQ(statements.size(), 16u);
    for (const Statement& statement : statements) {
        ASSERT_EQ(runOneSqlite(ours.get(), statement.text), "") << "line " << statement.line;
    }
    sqlite3* referenceRaw = nullptr;
    sqlite3_open(scratch.file("reference.db").c_str(), &referenceRaw);
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> reference(referenceRaw, &sqlite3_close);
    const std::string rows = "SELECT n || ':' || note FROM seen ORDER BY n, note";
    EXPECT_EQ(sqliteColumn(ours.get(), rows), sqliteColumn(reference.get(), rows));
    EXPECT_EQ(sqliteColumn(ours.get(), rows).size(), 11u);
}

TEST(SqliteReference, KeywordsAreTheLibrarys) {
    std::vector<std::string> library;
    for (int i = 0; i < sqlite3_keyword_count(); ++i) {
        const char* word = nullptr;
        int length = 0;
        sqlite3_keyword_name(i, &word, &length);
        library.emplace_back(word, static_cast<std::size_t>(length));
    }
    std::sort(library.begin(), library.end());
    const auto ours = keywords(Dialect::SQLite);
    EXPECT_EQ(std::vector<std::string>(ours.begin(), ours.end()), library);
}

// ---- MariaDB and the mariadb client ----

// The client knows no BEGIN ... END: a routine needs its DELIMITER there.
const char* const kMariaDbScript = R"(-- a comment before anything;
CREATE TABLE {t} (n INT, note TEXT) CHARACTER SET utf8mb4;
INSERT INTO {t} VALUES (1, 'semi;colon'), (1, 'it''s; \'escaped\'');
INSERT INTO {t} VALUES (2, "double; quoted");
# a hash comment;
INSERT INTO {t} VALUES (3, CONCAT('minus; ', 1--1));
/* block ; */ INSERT INTO `{t}` VALUES (4, 'after a comment');
DELIMITER //
CREATE PROCEDURE {t}_five() BEGIN INSERT INTO {t} VALUES (5, 'body; one'); IF 1 THEN INSERT INTO {t} VALUES (5, 'body; two'); END IF; END//
CALL {t}_five()//
DELIMITER ;
BEGIN;
INSERT INTO {t} VALUES (6, '中文；全形分號');
COMMIT;
/*!40101 INSERT INTO {t} VALUES (7, 'executable; comment') */;
INSERT INTO {t} VALUES (8, 'last, without a semicolon'))";

// What only the splitter takes without a DELIMITER.
const char* const kMariaDbRoutines = R"(CREATE TABLE {t} (n INT, note TEXT);
CREATE PROCEDURE {t}_nine()
BEGIN
  INSERT INTO {t} VALUES (9, 'no delimiter; one');
  CASE WHEN 1 THEN INSERT INTO {t} VALUES (9, 'case; two'); END CASE;
  BEGIN NOT ATOMIC INSERT INTO {t} VALUES (9, 'inner; three'); END;
END;
CALL {t}_nine();
BEGIN NOT ATOMIC INSERT INTO {t} VALUES (10, 'block; one'); INSERT INTO {t} VALUES (10, 'block; two'); END)";

// A connection to the test run's MariaDB data source, statement by
// statement (the driver sends one at a time: it is not asked for several).
class MariaDbSession {
public:
    MariaDbSession() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment_);
        SQLSetEnvAttr(environment_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, environment_, &connection_);
        const std::string dsn = "DSN=" + testMariaDbDataSource();
        connected_ = SQL_SUCCEEDED(SQLDriverConnect(connection_, nullptr, (SQLCHAR*)dsn.c_str(), SQL_NTS, nullptr, 0,
                                                    nullptr, SQL_DRIVER_NOPROMPT));
    }
    ~MariaDbSession() {
        SQLDisconnect(connection_);
        SQLFreeHandle(SQL_HANDLE_DBC, connection_);
        SQLFreeHandle(SQL_HANDLE_ENV, environment_);
    }
    MariaDbSession(const MariaDbSession&) = delete;
    MariaDbSession& operator=(const MariaDbSession&) = delete;

    bool ok() const { return connected_; }

    // The engine's message when it fails. UTF-16 on the way, so the driver
    // gets the text's characters whatever the locale.
    std::string runOne(std::string_view statement) {
        StatementHandle handle(connection_);
        std::u16string text = utf16(statement);
        const SQLRETURN ret = SQLExecDirectW(handle.get(), reinterpret_cast<SQLWCHAR*>(text.data()),
                                             static_cast<SQLINTEGER>(text.size()));
        if (SQL_SUCCEEDED(ret) || ret == SQL_NO_DATA) {
            return "";
        }
        SQLCHAR state[6] = {}, message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLGetDiagRec(SQL_HANDLE_STMT, handle.get(), 1, state, &native, message, sizeof message, &length);
        return message[0] != 0 ? std::string(reinterpret_cast<char*>(message)) : "failed";
    }

    std::vector<std::string> column(const std::string& query) {
        StatementHandle handle(connection_);
        std::vector<std::string> values;
        if (SQL_SUCCEEDED(SQLExecDirect(handle.get(), (SQLCHAR*)query.c_str(), SQL_NTS))) {
            while (SQL_SUCCEEDED(SQLFetch(handle.get()))) {
                SQLCHAR value[4096] = {};
                SQLLEN length = 0;
                SQLGetData(handle.get(), 1, SQL_C_CHAR, value, sizeof value, &length);
                values.emplace_back(reinterpret_cast<char*>(value));
            }
        }
        return values;
    }

private:
    class StatementHandle {
    public:
        explicit StatementHandle(SQLHDBC connection) { SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_); }
        ~StatementHandle() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
        StatementHandle(const StatementHandle&) = delete;
        StatementHandle& operator=(const StatementHandle&) = delete;
        SQLHSTMT get() const { return handle_; }

    private:
        SQLHSTMT handle_ = SQL_NULL_HSTMT;
    };

    SQLHENV environment_ = SQL_NULL_HENV;
    SQLHDBC connection_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

// The data source's setting `key` (Server, Port, User, ...).
std::string dataSourceSetting(const char* key) {
    char value[512] = {};
    SQLGetPrivateProfileString(testMariaDbDataSource().c_str(), key, "", value, sizeof value, "odbc.ini");
    return value;
}

std::string mariadbClient() {
    return "mariadb --default-character-set=utf8mb4 -h " + shellQuoted(dataSourceSetting("Server")) + " -P " +
           shellQuoted(dataSourceSetting("Port")) + " -u " + shellQuoted(dataSourceSetting("User")) + " " +
           shellQuoted("-p" + dataSourceSetting("Password")) + " " + shellQuoted(dataSourceSetting("Database"));
}

#define REQUIRE_MARIADB_DATA_SOURCE()                                                   \
    TARNWELL_REQUIRE_ODBC();                                                         \
    if (testMariaDbDataSource().empty()) {                                           \
        if (::tarnwell::test::underCi()) {                                           \
            FAIL() << "the MariaDB test server or its ODBC driver is missing";       \
        }                                                                            \
        GTEST_SKIP() << "no MariaDB test server (packages mariadb-server, odbc-mariadb)"; \
    }

void dropObjects(MariaDbSession& session, const std::string& name) {
    for (const std::string& drop : {"DROP TABLE IF EXISTS " + name, "DROP PROCEDURE IF EXISTS " + name + "_five",
                                    "DROP PROCEDURE IF EXISTS " + name + "_nine"}) {
        ASSERT_EQ(session.runOne(drop), "");
    }
}

void runSplit(MariaDbSession& session, const std::string& script) {
    for (const Statement& statement : splitStatements(Dialect::MariaDB, script)) {
        ASSERT_EQ(session.runOne(statement.text), "") << "line " << statement.line << ": " << statement.text;
    }
}

TEST(MariaDbReference, TheClientEndsStatementsWhereTheSplitterDoes) {
    REQUIRE_MARIADB_DATA_SOURCE();
    MariaDbSession session;
    ASSERT_TRUE(session.ok());
    const std::string name = "split_ref_" + std::to_string(::getpid());
    const std::string rows = "SELECT CONCAT(n, ':', HEX(note)) FROM " + name + " ORDER BY n, note";
    const std::string script = withName(kMariaDbScript, name);

    dropObjects(session, name);
    TempDir scratch;
    const std::string file = scratch.file("traps.sql");
    writeFile(file, script);
    const std::string log = scratch.file("mariadb.log");
    EXPECT_EQ(run(mariadbClient() + " < " + shellQuoted(file), log), 0) << readFile(log);
    const auto reference = session.column(rows);

    dropObjects(session, name);
    EXPECT_EQ(splitStatements(Dialect::MariaDB, script).size(), 12u);
    runSplit(session, script);
    EXPECT_EQ(session.column(rows), reference);
    EXPECT_EQ(reference.size(), 10u);
    dropObjects(session, name);
}

TEST(MariaDbReference, RoutineBodiesRunWithoutADelimiter) {
    REQUIRE_MARIADB_DATA_SOURCE();
    MariaDbSession session;
    ASSERT_TRUE(session.ok());
    const std::string name = "split_body_" + std::to_string(::getpid());
    dropObjects(session, name);
    runSplit(session, withName(kMariaDbRoutines, name));
    EXPECT_EQ(session.column("SELECT CONCAT(n, ':', note) FROM " + name + " ORDER BY n, note"),
              (std::vector<std::string>{"9:case; two", "9:inner; three", "9:no delimiter; one", "10:block; one",
                                        "10:block; two"}));
    dropObjects(session, name);
}

TEST(MariaDbReference, KeywordsAreTheServersAndTheReservedOnesAreRefusedAsNames) {
    REQUIRE_MARIADB_DATA_SOURCE();
    MariaDbSession session;
    ASSERT_TRUE(session.ok());
    std::set<std::string> server;
    for (const std::string& word : session.column("SELECT UPPER(WORD) FROM INFORMATION_SCHEMA.KEYWORDS")) {
        // It lists operators too (<=>, &&).
        if (std::isalpha(static_cast<unsigned char>(word.front()))) {
            server.insert(word);
        }
    }
    const auto ours = keywords(Dialect::MariaDB);
    EXPECT_EQ(std::set<std::string>(ours.begin(), ours.end()), server);
    for (std::string_view word : ours) {
        const std::string error = session.runOne("CREATE TEMPORARY TABLE split_probe (" + std::string(word) + " INT)");
        session.runOne("DROP TEMPORARY TABLE IF EXISTS split_probe");
        EXPECT_EQ(error.empty(), !isReservedWord(Dialect::MariaDB, word)) << word << ": " << error;
    }
}

}  // namespace
}  // namespace tarnwell::sql::test
