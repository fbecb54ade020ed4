// MariaDB's (and MySQL's) lexical rules and where its statements end: the
// mariadb client's DELIMITER, and routine bodies that need none.
#include <gtest/gtest.h>

#include "SyntaxTestSupport.h"

namespace tarnwell::sql::test {
namespace {

constexpr Dialect kMaria = Dialect::MariaDB;

TEST(MariaDbLexer, StringsEscapeWithBackslashesAndDoubleQuotesAreStrings) {
    EXPECT_EQ(tokens(kMaria, R"('a\';' "b\";""c" `d;``e` N'x' _utf8mb4'y\'' X'0A')"),
              R"(str['a\';'] str["b\";""c"] qid[`d;``e`] str[N'x'] str[_utf8mb4'y\''] str[X'0A'])");
    EXPECT_EQ(tokens(kMaria, "[a]"), "p[[] id[a] p[]]");
}

TEST(MariaDbLexer, CommentsNeedABlankAfterTheDashes) {
    EXPECT_EQ(tokens(kMaria, "1--1\n1 -- c;\n# d;\n/* e; */ /*! f; */ /*M!100000 g */ /*+ h */"),
              "num[1] op[--] num[1] num[1] com[-- c;] com[# d;] com[/* e; */] exec[/*! f; */] "
              "exec[/*M!100000 g */] com[/*+ h */]");
    EXPECT_EQ(tokens(kMaria, "--\tx\n--"), "com[--\tx] com[--]");
    // Not nested: the first */ ends the comment.
    EXPECT_EQ(tokens(kMaria, "/* /* */ x"), "com[/* /* */] id[x]");
}

TEST(MariaDbLexer, VariablesPlaceholdersAndNamesStartingWithDigits) {
    EXPECT_EQ(tokens(kMaria, "@v @@global.sql_mode @'q;' @`b` ? :x := $a 1st 1e5 0x1F .5e"),
              "par[@v] par[@@global.sql_mode] par[@'q;'] par[@`b`] par[?] p[:] id[x] op[:=] id[$a] id[1st] "
              "num[1e5] num[0x1F] num[.5] id[e]");
}

TEST(MariaDbSplitter, RoutineBodiesNeedNoDelimiter) {
    const std::string procedure =
        "CREATE DEFINER=`root`@`localhost` PROCEDURE p(IN n INT)\n"
        "BEGIN\n"
        "  DECLARE i INT DEFAULT 0;\n"
        "  lbl: LOOP\n"
        "    IF i > n THEN LEAVE lbl; END IF;\n"
        "    CASE i WHEN 1 THEN SELECT 'one;'; ELSE BEGIN END; END CASE;\n"
        "    SET i = CASE WHEN i < 0 THEN 0 ELSE i + 1 END;\n"
        "  END LOOP lbl;\n"
        "  WHILE i > 0 DO SET i = i - 1; END WHILE;\n"
        "  REPEAT SET i = i + 1; UNTIL i > 3 END REPEAT;\n"
        "END";
    const std::string function = "CREATE OR REPLACE DEFINER = 'u'@'%' FUNCTION f() RETURNS INT BEGIN RETURN 1; END";
    const std::string trigger = "CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN SET NEW.a = 1; END";
    const std::string event = "CREATE EVENT e ON SCHEDULE EVERY 1 DAY DO BEGIN DELETE FROM t; END";
    EXPECT_EQ(statementTexts(kMaria, procedure + ";\n" + function + ";\n" + trigger + ";\n" + event + ";\nSELECT 1;"),
              (std::vector<std::string>{procedure, function, trigger, event, "SELECT 1"}));
}

TEST(MariaDbSplitter, BeginStartsATransactionUnlessNotAtomic) {
    EXPECT_EQ(statementTexts(kMaria, "BEGIN; BEGIN WORK; START TRANSACTION; XA BEGIN 'x'; "
                                     "BEGIN NOT ATOMIC SELECT 1; SELECT 2; END; COMMIT;"),
              (std::vector<std::string>{"BEGIN", "BEGIN WORK", "START TRANSACTION", "XA BEGIN 'x'",
                                        "BEGIN NOT ATOMIC SELECT 1; SELECT 2; END", "COMMIT"}));
}

TEST(MariaDbSplitter, DelimiterCommandChangesTheTerminatorAndIsNoStatement) {
    const std::string script =
        "DELIMITER //\n"
        "CREATE PROCEDURE p() BEGIN SELECT 'a//b'; SELECT 1; END//\n"
        "SELECT 2 // SELECT 3; SELECT 4//\n"
        "delimiter $$\n"
        "SELECT 5 -- $$ in a comment\n"
        "$$SELECT 6$$\n"
        "DELIMITER ;\n"
        "SELECT 7; SELECT 8";
    EXPECT_EQ(statementTexts(kMaria, script),
              (std::vector<std::string>{"CREATE PROCEDURE p() BEGIN SELECT 'a//b'; SELECT 1; END", "SELECT 2",
                                        "SELECT 3; SELECT 4", "SELECT 5", "SELECT 6", "SELECT 7", "SELECT 8"}));
    EXPECT_EQ(statementLines(kMaria, script), (std::vector<int>{2, 3, 3, 5, 6, 8, 8}));
    // Only at a statement's start, and only with an argument.
    EXPECT_EQ(statementTexts(kMaria, "SELECT delimiter FROM t; DELIMITER\n;"),
              (std::vector<std::string>{"SELECT delimiter FROM t", "DELIMITER"}));
    // Other dialects have no such command.
    EXPECT_EQ(statementTexts(Dialect::PostgreSQL, "DELIMITER //\nSELECT 1;"),
              (std::vector<std::string>{"DELIMITER //\nSELECT 1"}));
}

TEST(MariaDbSplitter, ExecutableCommentsAreStatementsAndOtherCommentsAreNot) {
    EXPECT_EQ(statementTexts(kMaria, "/*!40101 SET NAMES utf8mb4 */;\n# only a comment;\n-- another\n;"),
              (std::vector<std::string>{"/*!40101 SET NAMES utf8mb4 */"}));
}

TEST(MariaDbSplitter, SchemaChanges) {
    EXPECT_TRUE(changesSchema(kMaria, "RENAME TABLE a TO b"));
    EXPECT_TRUE(changesSchema(kMaria, "# why\nDROP VIEW v"));
    EXPECT_FALSE(changesSchema(kMaria, "SELECT a INTO @x FROM t"));
    EXPECT_FALSE(changesSchema(kMaria, "/*!40000 ALTER TABLE t DISABLE KEYS */"));
}

}  // namespace
}  // namespace tarnwell::sql::test
