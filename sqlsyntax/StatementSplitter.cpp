#include "sqlsyntax/StatementSplitter.h"

#include <algorithm>
#include <deque>
#include <initializer_list>

#include "sqlsyntax/Lexer.h"

namespace tarnwell::sql {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool isWord(const Token& token) noexcept {
    return token.kind == TokenKind::Keyword || token.kind == TokenKind::Identifier;
}

template <typename Char>
bool isLineEnd(Char c) noexcept {
    return c == static_cast<Char>('\n') || c == static_cast<Char>('\r');
}

template <typename Char>
bool isBlank(Char c) noexcept {
    return c == static_cast<Char>(' ') || c == static_cast<Char>('\t') || isLineEnd(c) ||
           c == static_cast<Char>('\f') || c == static_cast<Char>('\v');
}

// A byte-order mark that opens a script belongs to its file, not to its
// first statement (editors on Windows write one).
std::size_t byteOrderMarkLength(std::string_view script) noexcept {
    return script.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

std::size_t byteOrderMarkLength(std::u16string_view script) noexcept {
    return script.starts_with(u'\xFEFF') ? 1 : 0;
}

template <typename Char>
class TokenText {
public:
    using View = std::basic_string_view<Char>;

    explicit TokenText(View text) : text_(text) {}

    View of(const Token& token) const noexcept { return text_.substr(token.begin, token.end - token.begin); }

    // Whether the token is the word `upper`, in any case.
    bool isWord(const Token& token, std::string_view upper) const noexcept {
        return sql::isWord(token) && isWordIgnoringCase(of(token), upper);
    }

    bool isOneOf(const Token& token, std::initializer_list<std::string_view> words) const noexcept {
        return std::any_of(words.begin(), words.end(), [&](std::string_view word) { return isWord(token, word); });
    }

    bool is(const Token& token, char c) const noexcept {
        return token.end - token.begin == 1 && text_[token.begin] == static_cast<Char>(c);
    }

private:
    View text_;
};

template <typename Char>
class Splitter {
public:
    using View = std::basic_string_view<Char>;

    Splitter(Dialect dialect, View script) : dialect_(dialect), script_(script), words_(script), lexer_(dialect, script) {
        lexer_.classifyKeywords(false);
        lexer_.seek(byteOrderMarkLength(script));
        // Room for statements of 256 units on average, so that a long
        // script's list is not copied a dozen times while it grows.
        statements_.reserve(script.size() / 256 + 16);
    }

    std::vector<BasicStatement<Char>> run() {
        Token token;
        while (take(token)) {
            if (token.kind == TokenKind::Comment) {
                continue;
            }
            if (begin_ == kNone && isDelimiterCommand(token)) {
                continue;
            }
            if (!delimiter_.empty()) {
                takeUpToDelimiter(token);
            } else if (token.kind == TokenKind::Semicolon && endsStatementHere()) {
                finish();
            } else {
                include(token);
                follow(token);
            }
        }
        finish();
        return std::move(statements_);
    }

private:
    // How far the head of the statement has been read: whether it is a
    // routine (or trigger) whose BEGIN ... END body holds semicolons.
    enum class Head { First, AfterCreate, DefinerEquals, DefinerUser, DefinerHost, Decided };

    bool take(Token& token) {
        if (pending_.empty()) {
            return lexer_.next(token);
        }
        token = pending_.front();
        pending_.pop_front();
        return true;
    }

    // The next token that is no comment, left to be taken; nullptr at the end.
    const Token* peek() {
        for (const Token& token : pending_) {
            if (token.kind != TokenKind::Comment) {
                return &token;
            }
        }
        Token token;
        while (lexer_.next(token)) {
            pending_.push_back(token);
            if (token.kind != TokenKind::Comment) {
                return &pending_.back();
            }
        }
        return nullptr;
    }

    // Takes the token peek() gave into the statement.
    void takePeeked() {
        const auto peeked = std::find_if(pending_.begin(), pending_.end(),
                                         [](const Token& token) { return token.kind != TokenKind::Comment; });
        include(*peeked);
        pending_.erase(peeked);
    }

    void seek(std::size_t offset) {
        pending_.clear();
        lexer_.seek(offset);
    }

    bool endsStatementHere() const noexcept {
        return blockDepth_ == 0 && (dialect_ != Dialect::PostgreSQL || parenDepth_ == 0);
    }

    void include(const Token& token) {
        if (begin_ == kNone) {
            begin_ = token.begin;
        }
        end_ = token.end;
    }

    void finish() {
        if (begin_ != kNone) {
            line_ += lineEndsBetween(lineCounted_, begin_);
            lineCounted_ = begin_;
            statements_.push_back({script_.substr(begin_, end_ - begin_), begin_, end_, line_});
        }
        begin_ = kNone;
        parenDepth_ = 0;
        blockDepth_ = 0;
        routine_ = false;
        head_ = Head::First;
    }

    int lineEndsBetween(std::size_t from, std::size_t to) const noexcept {
        const View range = script_.substr(from, to - from);
        int count = 0;
        // find() is memchr() for UTF-8, much faster than a loop by hand.
        for (std::size_t lf = range.find(static_cast<Char>('\n')); lf != View::npos;
             lf = range.find(static_cast<Char>('\n'), lf + 1)) {
            ++count;
        }
        // A CR ends a line too, unless an LF follows it, which counts instead.
        for (std::size_t cr = range.find(static_cast<Char>('\r')); cr != View::npos;
             cr = range.find(static_cast<Char>('\r'), cr + 1)) {
            const std::size_t next = from + cr + 1;
            if (next == script_.size() || script_[next] != static_cast<Char>('\n')) {
                ++count;
            }
        }
        return count;
    }

    // The mariadb client's DELIMITER command, which ends at its line's end.
    bool isDelimiterCommand(const Token& token) {
        if (dialect_ != Dialect::MariaDB || !words_.isWord(token, "DELIMITER")) {
            return false;
        }
        std::size_t argument = token.end;
        while (argument < script_.size() && isBlank(script_[argument]) && !isLineEnd(script_[argument])) {
            ++argument;
        }
        std::size_t argumentEnd = argument;
        while (argumentEnd < script_.size() && !isBlank(script_[argumentEnd])) {
            ++argumentEnd;
        }
        if (argumentEnd == argument) {
            return false;  // a bare DELIMITER goes to the server, which refuses it
        }
        const View terminator = script_.substr(argument, argumentEnd - argument);
        const bool semicolon = terminator.size() == 1 && terminator[0] == static_cast<Char>(';');
        delimiter_ = semicolon ? View() : terminator;
        std::size_t lineEnd = argumentEnd;
        while (lineEnd < script_.size() && !isLineEnd(script_[lineEnd])) {
            ++lineEnd;
        }
        seek(lineEnd);
        return true;
    }

    // With a DELIMITER of the script's own, only it ends statements; the
    // client looks for it outside strings, quoted names and comments, also
    // inside what the lexer reads as one word ("END$$").
    void takeUpToDelimiter(const Token& token) {
        if (token.kind == TokenKind::String || token.kind == TokenKind::QuotedIdentifier ||
            token.kind == TokenKind::ExecutableComment) {
            include(token);
            return;
        }
        const std::size_t windowEnd = std::min(token.end + delimiter_.size() - 1, script_.size());
        const std::size_t found = script_.substr(token.begin, windowEnd - token.begin).find(delimiter_);
        if (found == View::npos) {
            include(token);
            return;
        }
        const std::size_t at = token.begin + found;
        if (at > token.begin) {
            include({token.kind, token.begin, at});
        }
        finish();
        seek(at + delimiter_.size());
    }

    void follow(const Token& token) {
        if (words_.is(token, '(')) {
            ++parenDepth_;
        } else if (words_.is(token, ')') && parenDepth_ > 0) {
            --parenDepth_;
        }
        if (head_ != Head::Decided && readHead(token)) {
            return;
        }
        // As psql does: words inside parentheses (a parameter named "begin")
        // open or close no block.
        if (routine_ && parenDepth_ == 0) {
            followBlock(token);
        }
    }

    // True when the token was the BEGIN of MariaDB's BEGIN NOT ATOMIC.
    bool readHead(const Token& token) {
        switch (head_) {
        case Head::First:
            head_ = Head::Decided;
            if (words_.isWord(token, "CREATE")) {
                head_ = Head::AfterCreate;
            } else if (dialect_ == Dialect::MariaDB && words_.isWord(token, "BEGIN")) {
                const Token* next = peek();
                if (next != nullptr && words_.isWord(*next, "NOT")) {
                    routine_ = true;
                    blockDepth_ = 1;
                }
                return true;
            }
            return false;
        case Head::AfterCreate:
            if (words_.isOneOf(token, {"TRIGGER", "FUNCTION", "PROCEDURE", "EVENT"})) {
                routine_ = true;
                head_ = Head::Decided;
            } else if (words_.isWord(token, "DEFINER")) {
                head_ = Head::DefinerEquals;
            } else if (!words_.isOneOf(token, {"OR", "REPLACE", "TEMP", "TEMPORARY", "AGGREGATE", "CONSTRAINT"})) {
                head_ = Head::Decided;
            }
            return false;
        case Head::DefinerEquals:
            head_ = words_.is(token, '=') ? Head::DefinerUser : Head::Decided;
            return false;
        case Head::DefinerUser:
            head_ = Head::DefinerHost;
            return false;
        case Head::DefinerHost:
            // user@host, 'user'@'host', CURRENT_USER(): then the routine's kind.
            if (token.kind == TokenKind::Parameter || token.kind == TokenKind::Punctuation) {
                return false;
            }
            head_ = Head::AfterCreate;
            return readHead(token);
        case Head::Decided:
            break;
        }
        return false;
    }

    void followBlock(const Token& token) {
        if (words_.isWord(token, "BEGIN")) {
            ++blockDepth_;
        } else if (words_.isWord(token, "CASE")) {
            if (blockDepth_ > 0) {
                ++blockDepth_;
            }
        } else if (blockDepth_ > 0 && words_.isWord(token, "END")) {
            const Token* next = peek();
            if (next != nullptr && words_.isOneOf(*next, {"IF", "LOOP", "WHILE", "REPEAT", "FOR"})) {
                takePeeked();  // closes a block that opened no depth
                return;
            }
            if (next != nullptr && words_.isWord(*next, "CASE")) {
                takePeeked();
            }
            --blockDepth_;
        }
    }

    Dialect dialect_;
    View script_;
    TokenText<Char> words_;
    BasicLexer<Char> lexer_;
    std::deque<Token> pending_;  // read ahead by peek()
    std::vector<BasicStatement<Char>> statements_;
    View delimiter_;             // empty: ';' and the block rules
    std::size_t begin_ = kNone;  // of the statement being read
    std::size_t end_ = 0;
    int line_ = 1;               // of lineCounted_
    std::size_t lineCounted_ = 0;
    int parenDepth_ = 0;
    int blockDepth_ = 0;
    bool routine_ = false;
    Head head_ = Head::First;
};

template <typename Char>
bool hasLineEnd(std::basic_string_view<Char> text, std::size_t from, std::size_t to) {
    return std::any_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.begin() + static_cast<std::ptrdiff_t>(to),
                       [](Char c) { return isLineEnd(c); });
}

template <typename Char>
std::optional<std::size_t> statementAtCaret(const std::vector<BasicStatement<Char>>& statements,
                                            std::basic_string_view<Char> script, std::size_t caret) {
    caret = std::min(caret, script.size());
    const auto after = std::upper_bound(statements.begin(), statements.end(), caret,
                                        [](std::size_t offset, const auto& statement) { return offset < statement.begin; });
    const auto indexOf = [&](auto it) { return static_cast<std::size_t>(it - statements.begin()); };
    const bool hasBefore = after != statements.begin();
    if (hasBefore) {
        const auto before = after - 1;
        if (caret <= before->end || !hasLineEnd(script, before->end, caret)) {
            return indexOf(before);
        }
    }
    if (after != statements.end() && !hasLineEnd(script, caret, after->begin)) {
        return indexOf(after);
    }
    if (hasBefore) {
        return indexOf(after - 1);
    }
    return std::nullopt;
}

template <typename Char>
bool changesSchemaOf(Dialect dialect, std::basic_string_view<Char> statement) {
    BasicLexer<Char> lexer(dialect, statement);
    lexer.classifyKeywords(false);
    const TokenText<Char> words(statement);
    Token token;
    const auto nextCode = [&] {
        while (lexer.next(token)) {
            if (token.kind != TokenKind::Comment && token.kind != TokenKind::ExecutableComment) {
                return true;
            }
        }
        return false;
    };
    if (!nextCode()) {
        return false;
    }
    if (words.isOneOf(token, {"CREATE", "ALTER", "DROP", "RENAME"}) ||
        (dialect == Dialect::SQLite && words.isOneOf(token, {"ATTACH", "DETACH"})) ||
        (dialect == Dialect::PostgreSQL && words.isWord(token, "IMPORT"))) {
        return true;
    }
    if (dialect == Dialect::MariaDB || dialect == Dialect::SQLite || !words.isWord(token, "SELECT")) {
        return false;
    }
    int parenDepth = 0;
    while (nextCode()) {
        parenDepth += words.is(token, '(') ? 1 : (words.is(token, ')') ? -1 : 0);
        if (parenDepth == 0 && words.isOneOf(token, {"FROM", "INTO"})) {
            return words.isWord(token, "INTO");
        }
    }
    return false;
}

}  // namespace

std::vector<Statement> splitStatements(Dialect dialect, std::string_view script) {
    return Splitter<char>(dialect, script).run();
}

std::vector<Utf16Statement> splitStatements(Dialect dialect, std::u16string_view script) {
    return Splitter<char16_t>(dialect, script).run();
}

std::optional<std::size_t> statementAt(const std::vector<Statement>& statements, std::string_view script,
                                       std::size_t caret) {
    return statementAtCaret(statements, script, caret);
}

std::optional<std::size_t> statementAt(const std::vector<Utf16Statement>& statements, std::u16string_view script,
                                       std::size_t caret) {
    return statementAtCaret(statements, script, caret);
}

bool changesSchema(Dialect dialect, std::string_view statement) { return changesSchemaOf(dialect, statement); }

bool changesSchema(Dialect dialect, std::u16string_view statement) { return changesSchemaOf(dialect, statement); }

}  // namespace tarnwell::sql
