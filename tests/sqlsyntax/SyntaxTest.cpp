// The generic dialect, and what holds for every dialect: the statement at a
// caret, a text read a line at a time, UTF-16, bad input, keywords and
// quoting.
#include <gtest/gtest.h>

#include <algorithm>

#include "SyntaxTestSupport.h"
#include "sqlsyntax/Keywords.h"

namespace tarnwell::sql::test {
namespace {

using namespace std::string_view_literals;

constexpr Dialect kAllDialects[] = {Dialect::Generic, Dialect::SQLite, Dialect::PostgreSQL, Dialect::MariaDB};

TEST(GenericLexer, QuotesParametersAndEscapes) {
    EXPECT_EQ(tokens(Dialect::Generic, "SELECT [a;b], \"c\", `d`, N'e', ?, :p, @p, {fn NOW()} FROM #t, V$S"),
              "kw[SELECT] qid[[a;b]] p[,] qid[\"c\"] p[,] qid[`d`] p[,] str[N'e'] p[,] par[?] p[,] par[:p] p[,] "
              "par[@p] p[,] p[{] id[fn] id[NOW] p[(] p[)] p[}] kw[FROM] id[#t] p[,] id[V$S]");
    // Block comments do not nest here.
    EXPECT_EQ(tokens(Dialect::Generic, "/* /* */ x"), "com[/* /* */] id[x]");
}

TEST(GenericSplitter, ProcedureBodiesAndTransactions) {
    EXPECT_EQ(statementTexts(Dialect::Generic, "CREATE PROCEDURE p AS BEGIN SELECT 1; SELECT 2; END;\n"
                                               "BEGIN TRANSACTION; COMMIT; SELECT [x;y] FROM t"),
              (std::vector<std::string>{"CREATE PROCEDURE p AS BEGIN SELECT 1; SELECT 2; END", "BEGIN TRANSACTION",
                                        "COMMIT", "SELECT [x;y] FROM t"}));
    EXPECT_TRUE(changesSchema(Dialect::Generic, "select * into t2 from t"));
}

std::optional<std::size_t> statementAtMarker(std::string script) {
    const std::size_t caret = script.find('|');
    script.erase(caret, 1);
    return statementAt(splitStatements(Dialect::SQLite, script), script, caret);
}

TEST(StatementAtCaret, EachKindOfPlace) {
    const std::optional<std::size_t> none;
    // Before any statement.
    EXPECT_EQ(statementAtMarker("|"), none);
    EXPECT_EQ(statementAtMarker("-- head|\n\nSELECT 1;"), none);
    EXPECT_EQ(statementAtMarker("\n|\nSELECT 1;"), none);
    // In a statement, at its ends included.
    EXPECT_EQ(statementAtMarker("SELECT 1;\n|SELECT 2;"), 1u);
    EXPECT_EQ(statementAtMarker("SELECT 1;\nSEL|ECT 2;"), 1u);
    EXPECT_EQ(statementAtMarker("SELECT 1;\nSELECT 2|;"), 1u);
    // After the ; on its line, however much follows on that line.
    EXPECT_EQ(statementAtMarker("SELECT 1;| SELECT 2;"), 0u);
    EXPECT_EQ(statementAtMarker("SELECT 1; -- note|\nSELECT 2;"), 0u);
    // Before a statement on its own line: that statement.
    EXPECT_EQ(statementAtMarker("SELECT 1;\n|   SELECT 2;"), 1u);
    EXPECT_EQ(statementAtMarker("SELECT 1; | SELECT 2;"), 0u);
    // A blank line, a comment line, the end: the nearest above.
    EXPECT_EQ(statementAtMarker("SELECT 1;\n|\nSELECT 2;"), 0u);
    EXPECT_EQ(statementAtMarker("SELECT 1;\n/* c| */\nSELECT 2;"), 0u);
    EXPECT_EQ(statementAtMarker("SELECT 1;\nSELECT 2;\n\n|"), 1u);
    // A caret past the text is at its end.
    const std::string script = "SELECT 1;\n";
    EXPECT_EQ(statementAt(splitStatements(Dialect::SQLite, script), script, 99), 0u);
}

TEST(LexState, IntFormRoundTripsAndUnknownIntsAreNormal) {
    for (const LexState state : {LexState{}, LexState{LexMode::BlockComment, 3}, LexState{LexMode::DollarString, 7},
                                 LexState{LexMode::BracketIdentifier, 0}}) {
        EXPECT_EQ(LexState::fromInt(state.toInt()), state);
        EXPECT_GE(state.toInt(), 0);
    }
    EXPECT_EQ(LexState{}.toInt(), 0);
    EXPECT_EQ(LexState::fromInt(-1), LexState{});
    EXPECT_EQ(LexState::fromInt(15), LexState{});
}

// The kind of token over each unit of `text` (-1 for blanks and line ends),
// read whole or a line at a time with the state of the line before.
std::vector<int> kindsOfUnits(Dialect dialect, std::u16string_view text, bool lineByLine) {
    std::vector<int> kinds(text.size(), -1);
    Utf16DollarTags tags;
    const auto mark = [&](Utf16Lexer& lexer, std::size_t offset) {
        Token token;
        while (lexer.next(token)) {
            std::fill(kinds.begin() + static_cast<long>(offset + token.begin),
                      kinds.begin() + static_cast<long>(offset + token.end), static_cast<int>(token.kind));
        }
    };
    if (!lineByLine) {
        Utf16Lexer lexer(dialect, text);
        mark(lexer, 0);
    } else {
        int state = -1;
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find(u'\n', start), text.size());
            Utf16Lexer lexer(dialect, text.substr(start, end - start), LexState::fromInt(state), &tags);
            mark(lexer, start);
            state = lexer.state().toInt();
            start = end + 1;
        }
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        kinds[i] = text[i] == u'\n' ? -1 : kinds[i];
    }
    return kinds;
}

TEST(LineByLineLexing, ResumesWhereTheLineBeforeLeftOff) {
    const std::pair<Dialect, std::string> scripts[] = {
        {Dialect::PostgreSQL, "SELECT 'multi\nline; 字串', E'esc\\\naped', $fn$\nbody; 'q\n$x$ $fn$, $$\n$$,\n"
                              "/* a\n/* nested\n*/ still\n*/ \"quoted\nident\", U&'\\0041\n' -- c\nFROM t;\n$open$\n"},
        {Dialect::SQLite, "SELECT [brack\net], `back\ntick`, \"dq\nident\", '\n', /* a\n/* b */ x\n*/"},
        {Dialect::MariaDB, "SELECT \"dq\\\"\nstring\", `bt\nx`, /*! exec\n*/ 1, '\\\n' # c\n/* open\n"},
        {Dialect::Generic, "SELECT [a\nb], 'c\nd' /*\n*/"},
    };
    for (const auto& [dialect, script] : scripts) {
        const std::u16string text = utf16(script);
        EXPECT_EQ(kindsOfUnits(dialect, text, true), kindsOfUnits(dialect, text, false)) << dialectName(dialect);
    }
}

TEST(LineByLineLexing, DollarTagsKeepTheirNumbersInTheDocumentTable) {
    Utf16DollarTags tags;
    Utf16Lexer first(Dialect::PostgreSQL, u"SELECT $body$ one", {}, &tags);
    Token token;
    while (first.next(token)) {
    }
    const LexState open = first.state();
    EXPECT_EQ(open.mode, LexMode::DollarString);
    EXPECT_EQ(tags.tag(open.detail), u"body");
    // A $ in the body closes nothing; its own tag does.
    Utf16Lexer second(Dialect::PostgreSQL, u"$bod$ $$ $body$ x", open, &tags);
    ASSERT_TRUE(second.next(token));
    EXPECT_EQ(token.kind, TokenKind::String);
    EXPECT_EQ(token.end, 15u);
    EXPECT_EQ(second.state(), LexState{});
    EXPECT_EQ(tags.numberOf(u"body"), open.detail);
}

TEST(Utf16Splitting, GivesTheStatementsOfTheUtf8Text) {
    const std::string script = "-- 註解\nSELECT '中文；' AS 名稱 FROM 客戶;\nINSERT INTO t VALUES ('😀;');\nSELECT 3";
    const auto utf8Statements = splitStatements(Dialect::PostgreSQL, script);
    const std::u16string text = utf16(script);
    const auto utf16Statements = splitStatements(Dialect::PostgreSQL, text);
    ASSERT_EQ(utf16Statements.size(), utf8Statements.size());
    for (std::size_t i = 0; i < utf8Statements.size(); ++i) {
        EXPECT_EQ(utf16Statements[i].text, utf16(utf8Statements[i].text));
        EXPECT_EQ(utf16Statements[i].line, utf8Statements[i].line);
        EXPECT_EQ(text.substr(utf16Statements[i].begin, utf16Statements[i].end - utf16Statements[i].begin),
                  utf16Statements[i].text);
    }
}

TEST(BadInput, NulInvalidUtf8AndLoneSurrogatesAreCharacters) {
    for (const Dialect dialect : kAllDialects) {
        EXPECT_EQ(statementTexts(dialect, "SELECT 'a\0b'; SELECT \0;"sv),
                  (std::vector<std::string>{std::string("SELECT 'a\0b'"sv), std::string("SELECT \0"sv)}));
        EXPECT_EQ(statementTexts(dialect, "SELECT \xff\xfe; SELECT '\xc3'; -- \xe4\nSELECT 3\xe4"),
                  (std::vector<std::string>{"SELECT \xff\xfe", "SELECT '\xc3'", "SELECT 3\xe4"}));
        const std::u16string surrogates = u"SELECT \xD800; SELECT '\xDC00'; \xDBFF";
        EXPECT_EQ(splitStatements(dialect, surrogates).size(), 3u);
    }
}

TEST(BadInput, AByteOrderMarkOpeningTheScriptIsNoPartOfIt) {
    EXPECT_EQ(statementTexts(Dialect::PostgreSQL, "\xEF\xBB\xBFSELECT 1;\xEF\xBB\xBF"),
              (std::vector<std::string>{"SELECT 1", "\xEF\xBB\xBF"}));
    EXPECT_EQ(splitStatements(Dialect::SQLite, u"\xFEFF\nSELECT 1").front().text, u"SELECT 1");
}

TEST(BadInput, CrLfAndCrCountAsLineEnds) {
    EXPECT_EQ(statementLines(Dialect::SQLite, "SELECT 1;\rSELECT 2;\r\nSELECT 3;\nSELECT 4;\n\r\rSELECT 5"),
              (std::vector<int>{1, 2, 3, 4, 7}));
    EXPECT_EQ(statementTexts(Dialect::SQLite, "-- c\rSELECT 1"), std::vector<std::string>{"SELECT 1"});
}

TEST(BadInput, AMegabyteOnOneLine) {
    const std::string piece = "SELECT 'x;y', \"a\", 1.5e3 /*c*/; ";
    std::string line;
    while (line.size() < 1'000'000) {
        line += piece;
    }
    for (const Dialect dialect : kAllDialects) {
        EXPECT_EQ(splitStatements(dialect, line).size(), line.size() / piece.size());
        EXPECT_EQ(splitStatements(dialect, "SELECT '" + std::string(1'000'000, ';')).size(), 1u);
        EXPECT_EQ(splitStatements(dialect, std::string(1'000'000, 'a') + ";b").size(), 2u);
    }
}

TEST(Keywords, ListsAreSortedAndLookUpIgnoresCase) {
    for (const Dialect dialect : kAllDialects) {
        const auto words = keywords(dialect);
        EXPECT_GT(words.size(), 100u);
        EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
        EXPECT_TRUE(isKeyword(dialect, "select"));
        EXPECT_TRUE(isKeyword(dialect, u"SeLeCt"));
        EXPECT_FALSE(isKeyword(dialect, "selects"));
        EXPECT_FALSE(isKeyword(dialect, ""));
        EXPECT_FALSE(isKeyword(dialect, u"選擇"));
    }
}

TEST(Keywords, NamesAreQuotedWhenTheDialectWouldReadThemOtherwise) {
    struct Case {
        Dialect dialect;
        const char* name;
        bool quoted;
    };
    const Case cases[] = {
        {Dialect::PostgreSQL, "customers", false}, {Dialect::PostgreSQL, "Customers", true},
        {Dialect::PostgreSQL, "客戶", false},      {Dialect::PostgreSQL, "order", true},
        {Dialect::PostgreSQL, "name", false},      {Dialect::PostgreSQL, "a b", true},
        {Dialect::PostgreSQL, "a$1", false},       {Dialect::PostgreSQL, "1a", true},
        {Dialect::PostgreSQL, "", true},           {Dialect::SQLite, "Customers", false},
        {Dialect::SQLite, "action", true},         {Dialect::SQLite, "客戶", false},
        {Dialect::MariaDB, "Customers", false},    {Dialect::MariaDB, "order", true},
        {Dialect::MariaDB, "name", false},         {Dialect::MariaDB, "1st", true},
        {Dialect::MariaDB, "a-b", true},           {Dialect::Generic, "CUSTOMERS", false},
        {Dialect::Generic, "customers", true},     {Dialect::Generic, "ORDER", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(needsQuoting(c.dialect, c.name), c.quoted) << dialectName(c.dialect) << " " << c.name;
    }
    EXPECT_EQ(quoteIdentifier(Dialect::PostgreSQL, "a\"b;"), "\"a\"\"b;\"");
    EXPECT_EQ(quoteIdentifier(Dialect::MariaDB, "a`b"), "`a``b`");
    EXPECT_EQ(asIdentifier(Dialect::PostgreSQL, "Customers"), "\"Customers\"");
    EXPECT_EQ(asIdentifier(Dialect::SQLite, "Customers"), "Customers");
}

TEST(Dialects, FromTheEnginesOwnNames) {
    EXPECT_EQ(dialectForDbmsName("PostgreSQL"), Dialect::PostgreSQL);
    EXPECT_EQ(dialectForDbmsName("SQLite"), Dialect::SQLite);
    EXPECT_EQ(dialectForDbmsName("MySQL"), Dialect::MariaDB);
    EXPECT_EQ(dialectForDbmsName("MariaDB"), Dialect::MariaDB);
    EXPECT_EQ(dialectForDbmsName("Microsoft SQL Server"), Dialect::Generic);
    EXPECT_EQ(dialectForDbmsName(""), Dialect::Generic);
}

}  // namespace
}  // namespace tarnwell::sql::test
