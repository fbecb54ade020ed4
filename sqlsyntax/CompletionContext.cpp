#include "sqlsyntax/CompletionContext.h"

#include <algorithm>
#include <initializer_list>

#include "sqlsyntax/Keywords.h"
#include "sqlsyntax/Lexer.h"
#include "sqlsyntax/StatementSplitter.h"

namespace tarnwell::sql {

namespace {

using View = std::u16string_view;

// The words that tell what a place in a statement takes; every other word,
// keyword or not, is read as part of a name or an expression.
constexpr std::string_view kRelationWords[] = {"FROM", "JOIN", "UPDATE", "INTO", "TABLE", "VIEW", "TRUNCATE", "DESCRIBE"};
constexpr std::string_view kColumnWords[] = {
    "SELECT", "WHERE", "ON",  "AND",  "OR",      "SET",      "BY",     "HAVING",    "VALUES", "USING",
    "WHEN",   "THEN",  "ELSE", "CASE", "IN",     "IS",       "LIKE",   "BETWEEN",   "RETURNING",
    "DISTINCT", "LIMIT", "OFFSET", "UNION", "INTERSECT", "EXCEPT", "ILIKE", "REGEXP"};
// Words that name nothing and change no place: DROP TABLE IF EXISTS t,
// FROM ONLY t, JOIN LATERAL (...).
constexpr std::string_view kPassedOverWords[] = {"IF", "NOT", "EXISTS", "ONLY", "LATERAL"};

class StatementTokens {
public:
    StatementTokens(Dialect dialect, View text) : dialect_(dialect), text_(text) {}

    View of(const Token& token) const noexcept { return text_.substr(token.begin, token.end - token.begin); }

    bool isWord(const Token& token) const noexcept {
        return token.kind == TokenKind::Keyword || token.kind == TokenKind::Identifier;
    }

    template <std::size_t N>
    bool isOneOf(const Token& token, const std::string_view (&words)[N]) const noexcept {
        return isWord(token) && std::any_of(std::begin(words), std::end(words),
                                            [&](std::string_view word) { return isWordIgnoringCase(of(token), word); });
    }

    bool isWordOf(const Token& token, std::string_view upper) const noexcept {
        return isWord(token) && isWordIgnoringCase(of(token), upper);
    }

    bool is(const Token& token, char16_t c) const noexcept {
        return token.end - token.begin == 1 && text_[token.begin] == c;
    }

    bool isContextWord(const Token& token) const noexcept {
        return isOneOf(token, kRelationWords) || isOneOf(token, kColumnWords) || isWordOf(token, "AS") ||
               isWordOf(token, "WITH");
    }

    // A token that can be (a part of) a table's or an alias's name: a plain
    // or quoted identifier, or a keyword the engine takes as a name.
    bool isName(const Token& token) const {
        if (token.kind == TokenKind::Identifier || token.kind == TokenKind::QuotedIdentifier) {
            return true;
        }
        if (token.kind != TokenKind::Keyword || isContextWord(token) || isOneOf(token, kPassedOverWords)) {
            return false;
        }
        const View word = of(token);
        return !isReservedWord(dialect_, std::string(word.begin(), word.end()));
    }

private:
    Dialect dialect_;
    View text_;
};

bool isLineComment(View token) noexcept { return !token.starts_with(u"/*"); }

// The tokens of text[from, to), comments left out. A ';' at or after
// `clearAt` ends a statement: what came before it is dropped.
std::vector<Token> codeTokens(Dialect dialect, View text, std::size_t from, std::size_t to, std::size_t clearAt) {
    BasicLexer<char16_t> lexer(dialect, text.substr(0, to));
    lexer.seek(from);
    std::vector<Token> tokens;
    Token token;
    while (lexer.next(token)) {
        if (token.kind == TokenKind::Semicolon && token.begin >= clearAt) {
            tokens.clear();
        } else if (token.kind != TokenKind::Comment && token.kind != TokenKind::ExecutableComment) {
            tokens.push_back(token);
        }
    }
    return tokens;
}

// Index of the token after the parenthesis that tokens[open] opens, or the
// end.
std::size_t afterParentheses(const StatementTokens& words, const std::vector<Token>& tokens, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < tokens.size(); ++i) {
        depth += words.is(tokens[i], u'(') ? 1 : words.is(tokens[i], u')') ? -1 : 0;
        if (depth == 0) {
            return i + 1;
        }
    }
    return tokens.size();
}

// The table references of a statement's tokens: the lists after FROM, and
// the table after JOIN, UPDATE, INTO, TABLE and the like.
std::vector<TableReference> tableReferences(const StatementTokens& words, const std::vector<Token>& tokens) {
    std::vector<TableReference> tables;
    std::size_t i = 0;
    while (i < tokens.size()) {
        if (!words.isOneOf(tokens[i], kRelationWords)) {
            ++i;
            continue;
        }
        const bool list = words.isWordOf(tokens[i], "FROM");
        ++i;
        while (i < tokens.size()) {
            while (i < tokens.size() && words.isOneOf(tokens[i], kPassedOverWords)) {
                ++i;
            }
            if (i >= tokens.size()) {
                break;
            }
            TableReference table;
            bool named = false;
            if (words.is(tokens[i], u'(')) {
                i = afterParentheses(words, tokens, i);  // a subquery: an alias of no known table
            } else if (words.isName(tokens[i])) {
                std::vector<std::u16string> parts{unquotedName(words.of(tokens[i]))};
                ++i;
                while (i + 1 < tokens.size() && words.is(tokens[i], u'.') && words.isName(tokens[i + 1])) {
                    parts.push_back(unquotedName(words.of(tokens[i + 1])));
                    i += 2;
                }
                table.name = parts.back();
                table.schema = parts.size() >= 2 ? parts[parts.size() - 2] : std::u16string();
                named = true;
            } else {
                break;
            }
            const bool as = i < tokens.size() && words.isWordOf(tokens[i], "AS");
            if (as) {
                ++i;
            }
            if (i < tokens.size() && (words.isName(tokens[i]) || (as && words.isWord(tokens[i])))) {
                table.alias = unquotedName(words.of(tokens[i]));
                ++i;
            }
            if (named) {
                tables.push_back(std::move(table));
            }
            if (!list || i >= tokens.size() || !words.is(tokens[i], u',')) {
                break;
            }
            ++i;
        }
    }
    return tables;
}

// The place of a caret that follows `before` (the statement's tokens up to
// the name being typed), when no dot precedes it.
CompletionPlace placeAfter(const StatementTokens& words, const std::vector<Token>& before) {
    if (before.empty()) {
        return CompletionPlace::Keyword;
    }
    std::size_t j = before.size();
    while (j > 0 && !words.isContextWord(before[j - 1])) {
        --j;
    }
    if (j == 0) {
        return CompletionPlace::Column;  // "DELETE", "INSERT": what follows is a keyword or a name
    }
    const Token& word = before[j - 1];
    const auto parenthesisAfter = [&] {
        return std::any_of(before.begin() + static_cast<std::ptrdiff_t>(j), before.end(),
                           [&](const Token& token) { return words.is(token, u'('); });
    };
    if (words.isWordOf(word, "AS") || words.isWordOf(word, "WITH")) {
        // A name being given to a column, a table or a common table expression.
        return parenthesisAfter() ? CompletionPlace::Column : CompletionPlace::None;
    }
    if (!words.isOneOf(word, kRelationWords)) {
        return CompletionPlace::Column;
    }
    if (parenthesisAfter()) {
        return CompletionPlace::Column;  // INSERT INTO t (a, b; FROM (SELECT ...
    }
    if ((words.isWordOf(word, "TABLE") || words.isWordOf(word, "VIEW")) && words.isWordOf(before.front(), "CREATE")) {
        return CompletionPlace::None;  // a new name
    }
    // The item of a FROM list being typed: a name there already makes this
    // an alias.
    std::size_t item = j;
    for (std::size_t k = j; k < before.size(); ++k) {
        if (words.is(before[k], u',')) {
            item = k + 1;
        }
    }
    for (std::size_t k = item; k < before.size(); ++k) {
        if (words.isName(before[k])) {
            return CompletionPlace::AfterName;
        }
    }
    return CompletionPlace::Relation;
}

}  // namespace

std::u16string unquotedName(std::u16string_view token) {
    if (token.size() < 2) {
        return std::u16string(token);
    }
    const char16_t open = token.front();
    const char16_t close = open == u'[' ? u']' : open;
    if (open != u'"' && open != u'`' && open != u'[') {
        return std::u16string(token);
    }
    std::u16string name;
    const std::size_t end = token.back() == close ? token.size() - 1 : token.size();
    for (std::size_t i = 1; i < end; ++i) {
        name += token[i];
        if (token[i] == close && i + 1 < end && token[i + 1] == close) {
            ++i;
        }
    }
    return name;
}

CompletionContext completionContext(Dialect dialect, std::u16string_view text, std::size_t caret) {
    CompletionContext context;
    caret = std::min(caret, text.size());
    context.replaceBegin = caret;

    // The statement the caret is in or after: the last one that starts
    // before it.
    const std::vector<Utf16Statement> statements = splitStatements(dialect, text);
    const auto after = std::upper_bound(statements.begin(), statements.end(), caret,
                                        [](std::size_t offset, const Utf16Statement& s) { return offset < s.begin; });
    std::size_t scopeBegin = 0;
    std::size_t statementEnd = 0;
    if (after != statements.begin()) {
        scopeBegin = std::prev(after)->begin;
        statementEnd = std::prev(after)->end;
    }

    // What the caret is in: lexed from the statement's start (where the
    // lexer's state is known to be plain), the token at the caret cut there.
    BasicLexer<char16_t> lexer(dialect, text.substr(0, caret));
    lexer.seek(scopeBegin);
    std::vector<Token> before;
    bool afterTerminator = false;
    Token token;
    while (lexer.next(token)) {
        if (token.kind == TokenKind::Semicolon && token.begin >= statementEnd) {
            before.clear();
            afterTerminator = true;
        } else {
            before.push_back(token);
        }
    }
    const StatementTokens words(dialect, text);
    const LexMode mode = lexer.state().mode;
    if (mode == LexMode::QuotedIdentifier || mode == LexMode::BacktickIdentifier || mode == LexMode::BracketIdentifier) {
        context.quoted = true;
        context.prefix = unquotedName(words.of(before.back()));
        context.replaceBegin = before.back().begin;
        before.pop_back();
    } else if (mode != LexMode::Normal) {
        return context;  // in a string or a comment
    } else if (!before.empty() && before.back().end == caret) {
        const Token& last = before.back();
        switch (last.kind) {
        case TokenKind::Identifier:
        case TokenKind::Keyword:
            context.prefix = std::u16string(words.of(last));
            context.replaceBegin = last.begin;
            before.pop_back();
            break;
        case TokenKind::Comment:
            if (isLineComment(words.of(last))) {
                return context;
            }
            break;
        case TokenKind::Punctuation:
        case TokenKind::Operator:
        case TokenKind::Semicolon:
            break;
        default:
            return context;  // a string, a number, a parameter just ended: nothing to name
        }
    }
    std::erase_if(before, [](const Token& t) {
        return t.kind == TokenKind::Comment || t.kind == TokenKind::ExecutableComment;
    });

    // The statement's tables, from all of it (an alias may be given after
    // the caret: SELECT c.| FROM Customers c).
    if (!afterTerminator) {
        const std::vector<Token> statement =
            codeTokens(dialect, text, scopeBegin, std::max(statementEnd, caret), statementEnd);
        context.tables = tableReferences(words, statement);
    }

    // name.name. before the caret, each dot right after a name.
    std::size_t end = before.size();
    std::size_t next = context.replaceBegin;
    while (end >= 2 && words.is(before[end - 1], u'.') && before[end - 1].end == next &&
           before[end - 2].end == before[end - 1].begin &&
           (words.isWord(before[end - 2]) || before[end - 2].kind == TokenKind::QuotedIdentifier)) {
        context.qualifier.insert(context.qualifier.begin(), unquotedName(words.of(before[end - 2])));
        next = before[end - 2].begin;
        end -= 2;
    }
    if (!context.qualifier.empty()) {
        context.place = CompletionPlace::Member;
        return context;
    }
    if (end > 0 && words.is(before[end - 1], u'.')) {
        return context;  // a dot after no name
    }
    context.place = placeAfter(words, before);
    return context;
}

}  // namespace tarnwell::sql
