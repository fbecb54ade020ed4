// SQLite's lexical rules and where its statements end, as the sqlite3 shell
// and sqlite3_prepare() cut them (see ReferenceClientsTest.cpp).
#include <gtest/gtest.h>

#include "SyntaxTestSupport.h"

namespace tarnwell::sql::test {
namespace {

constexpr Dialect kSqlite = Dialect::SQLite;

TEST(SqliteLexer, QuotesParametersAndComments) {
    // A backslash escapes nothing: 'a\' is a whole string.
    EXPECT_EQ(tokens(kSqlite, R"('a\' ; "b;""c" [d;e] `f;``g` X'0A' E'x')"),
              R"(str['a\'] semi[;] qid["b;""c"] qid[[d;e]] qid[`f;``g`] str[X'0A'] id[E] str['x'])");
    EXPECT_EQ(tokens(kSqlite, "? ?12 :name @name $name :1 a$b"),
              "par[?] par[?12] par[:name] par[@name] par[$name] par[:1] id[a$b]");
    // Block comments do not nest.
    EXPECT_EQ(tokens(kSqlite, "/* a /* b */ c */"), "com[/* a /* b */] id[c] op[*/]");
    EXPECT_EQ(tokens(kSqlite, "1abc 0x1f 2.5e+3 # x"), "num[1] id[abc] num[0x1f] num[2.5e+3] other[#] id[x]");
}

TEST(SqliteSplitter, TriggerBodyIsOneStatementWithItsCaseEnds) {
    const std::string trigger =
        "CREATE TEMP TRIGGER IF NOT EXISTS tr AFTER INSERT ON t\n"
        "WHEN new.a = (CASE WHEN 1 THEN 1 END)\n"
        "BEGIN\n"
        "  INSERT INTO log(begin, end) VALUES (new.a, ';');\n"
        "  UPDATE log SET n = CASE WHEN new.a > 0 THEN 'pos;' ELSE 'neg' END;\n"
        "  SELECT RAISE(IGNORE);\n"
        "END";
    EXPECT_EQ(statementTexts(kSqlite, "BEGIN;\n" + trigger + ";\nEND;\nBEGIN DEFERRED TRANSACTION;\nCOMMIT;"),
              (std::vector<std::string>{"BEGIN", trigger, "END", "BEGIN DEFERRED TRANSACTION", "COMMIT"}));
    // Outside a trigger, begin and end may be names.
    EXPECT_EQ(statementTexts(kSqlite, "CREATE TABLE t(begin, end); SELECT begin, end FROM t;"),
              (std::vector<std::string>{"CREATE TABLE t(begin, end)", "SELECT begin, end FROM t"}));
}

TEST(SqliteSplitter, TrapsOfQuotesCommentsAndEmptyStatements) {
    EXPECT_EQ(statementTexts(kSqlite, "SELECT [a;b], `c;d`, \"e;f\", 'g;h' /* ; /* ; */; ;\n"
                                      "-- x;\n"
                                      ";SELECT '全形；分號'；\n"
                                      "  SELECT 2"),
              (std::vector<std::string>{"SELECT [a;b], `c;d`, \"e;f\", 'g;h'", "SELECT '全形；分號'；\n  SELECT 2"}));
}

TEST(SqliteSplitter, SchemaChanges) {
    EXPECT_TRUE(changesSchema(kSqlite, "ATTACH 'x.db' AS x"));
    EXPECT_TRUE(changesSchema(kSqlite, "detach x"));
    EXPECT_TRUE(changesSchema(kSqlite, "ALTER TABLE t RENAME TO u"));
    EXPECT_FALSE(changesSchema(kSqlite, "SELECT a INTO b FROM t"));
    EXPECT_FALSE(changesSchema(kSqlite, "PRAGMA table_info(t)"));
}

}  // namespace
}  // namespace tarnwell::sql::test
