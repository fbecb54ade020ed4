// PostgreSQL's lexical rules and where its statements end, as psql cuts
// them (see ReferenceClientsTest.cpp for psql itself).
#include <gtest/gtest.h>

#include "SyntaxTestSupport.h"

namespace tarnwell::sql::test {
namespace {

constexpr Dialect kPg = Dialect::PostgreSQL;

TEST(PostgresLexer, StringsOfEveryFormKeepTheirSemicolons) {
    EXPECT_EQ(tokens(kPg, R"(SELECT 'a;''b', E'c\';', e'\\', U&'\0041;', B'01', X'1F', N'n')"),
              R"(kw[SELECT] str['a;''b'] p[,] str[E'c\';'] p[,] str[e'\\'] p[,] str[U&'\0041;'] p[,] )"
              R"(str[B'01'] p[,] str[X'1F'] p[,] str[N'n'])");
    // A backslash ends nothing in a standard string.
    EXPECT_EQ(tokens(kPg, R"('a\' ; 'b')"), R"(str['a\'] semi[;] str['b'])");
    EXPECT_EQ(tokens(kPg, R"("a;""b" U&"c;" "")"), R"(qid["a;""b"] qid[U&"c;"] qid[""])");
}

TEST(PostgresLexer, DollarQuotesMatchTheirOwnTag) {
    EXPECT_EQ(tokens(kPg, "$$a;'b$$ $t$ $$ ; $x$ $t$ $_1$;$_1$"),
              "str[$$a;'b$$] str[$t$ $$ ; $x$ $t$] str[$_1$;$_1$]");
    // $a$...$junk$a$: the $ that ends junk starts the closing tag, as psql reads it.
    EXPECT_EQ(tokens(kPg, "$a$ x $junk$a$ y"), "str[$a$ x $junk$a$] id[y]");
    // $ inside a word and $1 are no dollar quotes; a lone $ starts nothing.
    EXPECT_EQ(tokens(kPg, "a$b$ $1 $ x"), "id[a$b$] par[$1] other[$] id[x]");
    EXPECT_EQ(tokens(kPg, "$body$ never closed; $bod$"), "str[$body$ never closed; $bod$]");
}

TEST(PostgresLexer, CommentsNestAndOperatorsStopAtThem) {
    EXPECT_EQ(tokens(kPg, "/* a /* b */ c; */ x -- d;\ny"), "com[/* a /* b */ c; */] id[x] com[-- d;] id[y]");
    EXPECT_EQ(tokens(kPg, "a=--1\n1<>/*c*/2"), "id[a] op[=] com[--1] num[1] op[<>] com[/*c*/] num[2]");
}

TEST(PostgresLexer, NumbersParametersAndCasts) {
    EXPECT_EQ(tokens(kPg, "1 1.5 .5 1e-3 1..10 0x1F 1abc"),
              "num[1] num[1.5] num[.5] num[1e-3] num[1] op[..] num[10] num[0x1F] num[1] id[abc]");
    EXPECT_EQ(tokens(kPg, "x::int :name :'var' :\"var\" a[1:2] ? @ #"),
              "id[x] op[::] kw[int] par[:name] par[:'var'] par[:\"var\"] id[a] p[[] num[1] p[:] num[2] p[]] "
              "op[?] op[@] op[#]");
}

TEST(PostgresSplitter, SemicolonsInsideQuotesAndCommentsEndNothing) {
    const auto texts = statementTexts(kPg,
                                      "SELECT 'a;b', E'\\';', $$;$$, $f$ ; $f$, \"c;d\" /* ; */;\n"
                                      "-- only a comment;\n"
                                      "/* a /* nested ; */ still ; */\n"
                                      "SELECT 2 -- trailing;\n"
                                      ";");
    EXPECT_EQ(texts, (std::vector<std::string>{"SELECT 'a;b', E'\\';', $$;$$, $f$ ; $f$, \"c;d\"", "SELECT 2"}));
}

TEST(PostgresSplitter, EmptyAndCommentOnlyStatementsAreLeftOutAndTheLastNeedsNoSemicolon) {
    EXPECT_EQ(statementTexts(kPg, ";;  ;\n/* x */;\n-- y\n;SELECT 1;;\nSELECT 2\n"),
              (std::vector<std::string>{"SELECT 1", "SELECT 2"}));
    EXPECT_EQ(statementTexts(kPg, "  \n-- nothing\n/* at all */"), std::vector<std::string>{});
    EXPECT_EQ(statementLines(kPg, "\n\n  SELECT 1;\n/*\n*/ SELECT\n2;"), (std::vector<int>{3, 5}));
}

TEST(PostgresSplitter, SemicolonsInsideParenthesesEndNothingAsInPsql) {
    EXPECT_EQ(statementTexts(kPg, "CREATE RULE r AS ON INSERT TO t DO ALSO (INSERT INTO a VALUES (1); "
                                  "INSERT INTO b VALUES (2)); SELECT 3;"),
              (std::vector<std::string>{"CREATE RULE r AS ON INSERT TO t DO ALSO (INSERT INTO a VALUES (1); "
                                        "INSERT INTO b VALUES (2))",
                                        "SELECT 3"}));
    // A stray ) does not make the next ( harmless.
    EXPECT_EQ(statementTexts(kPg, "SELECT 1); SELECT 2;"), (std::vector<std::string>{"SELECT 1)", "SELECT 2"}));
}

TEST(PostgresSplitter, BeginAtomicBodyIsOneStatementAndBeginAloneStartsATransaction) {
    const std::string function =
        "CREATE OR REPLACE FUNCTION f(begin int) RETURNS int LANGUAGE sql\n"
        "BEGIN ATOMIC\n"
        "  SELECT CASE WHEN $1 > 0 THEN 1 ELSE 0 END;\n"
        "  SELECT 2;\n"
        "END";
    EXPECT_EQ(statementTexts(kPg, "BEGIN;\n" + function + ";\nBEGIN ISOLATION LEVEL SERIALIZABLE;\n"
                                  "START TRANSACTION; BEGIN WORK; COMMIT;"),
              (std::vector<std::string>{"BEGIN", function, "BEGIN ISOLATION LEVEL SERIALIZABLE", "START TRANSACTION",
                                        "BEGIN WORK", "COMMIT"}));
    EXPECT_EQ(statementTexts(kPg, "CREATE PROCEDURE p() BEGIN ATOMIC INSERT INTO t VALUES (1); END; SELECT 1;"),
              (std::vector<std::string>{"CREATE PROCEDURE p() BEGIN ATOMIC INSERT INTO t VALUES (1); END",
                                        "SELECT 1"}));
    // PL/pgSQL bodies are dollar-quoted: their BEGIN and END are text.
    EXPECT_EQ(statementTexts(kPg, "DO $$ BEGIN PERFORM 1; END $$; SELECT 1;"),
              (std::vector<std::string>{"DO $$ BEGIN PERFORM 1; END $$", "SELECT 1"}));
}

TEST(PostgresSplitter, UnfinishedQuotesAndBodiesRunToTheEnd) {
    EXPECT_EQ(statementTexts(kPg, "SELECT 1; SELECT $x$ ; SELECT 3;"),
              (std::vector<std::string>{"SELECT 1", "SELECT $x$ ; SELECT 3;"}));
    EXPECT_EQ(statementTexts(kPg, "SELECT 1; SELECT 'a; SELECT 3;"),
              (std::vector<std::string>{"SELECT 1", "SELECT 'a; SELECT 3;"}));
    EXPECT_EQ(statementTexts(kPg, "SELECT 1; /* open /* */ ; SELECT 3;"), (std::vector<std::string>{"SELECT 1"}));
}

TEST(PostgresSplitter, FullWidthPunctuationIsText) {
    // To the engine the bytes of ；and （ are letters, as they are here.
    EXPECT_EQ(statementTexts(kPg, "SELECT '中文；' AS 欄位；x;\nSELECT 名稱（1） FROM 客戶;"),
              (std::vector<std::string>{"SELECT '中文；' AS 欄位；x", "SELECT 名稱（1） FROM 客戶"}));
}

TEST(PostgresSplitter, SchemaChanges) {
    EXPECT_TRUE(changesSchema(kPg, "/* c */ create table t (a int)"));
    EXPECT_TRUE(changesSchema(kPg, "IMPORT FOREIGN SCHEMA s FROM SERVER x INTO y"));
    EXPECT_TRUE(changesSchema(kPg, "SELECT (SELECT 1) AS a INTO new_table FROM t"));
    EXPECT_FALSE(changesSchema(kPg, "SELECT a FROM t WHERE b IN (SELECT c INTO x)"));
    EXPECT_FALSE(changesSchema(kPg, "INSERT INTO t VALUES (1)"));
    EXPECT_FALSE(changesSchema(kPg, "-- DROP TABLE t\nSELECT 1"));
}

}  // namespace
}  // namespace tarnwell::sql::test
