#pragma once

// The one place that knows SQL's lexical rules. It reads UTF-8 bytes
// (std::string_view) or UTF-16 units (std::u16string_view, a QString's
// storage) and gives offsets in those units. Every character outside ASCII
// is a letter to it, as it is to the engines (PostgreSQL and MariaDB take
// bytes above 0x7f as letters of names, SQLite does too), so the two forms of
// one text give the same tokens, and invalid UTF-8, lone surrogates and NUL
// characters are just characters: nothing is decoded.
//
// A text may be read in pieces, a line at a time: the state at the end of
// one piece is where the next one starts (see LexState).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sqlsyntax/Dialect.h"

namespace tarnwell::sql {

enum class TokenKind : std::uint8_t {
    Keyword,            // a word of the dialect's keyword list
    Identifier,         // any other word
    QuotedIdentifier,   // "name", `name`, [name]
    String,             // 'text', E'text', U&'text', $tag$text$tag$, MariaDB's "text"
    Number,
    Parameter,          // ?, ?1, :name, @name, $1, MariaDB's @var and @@var
    Comment,            // -- to the line's end, # on MariaDB, /* */
    ExecutableComment,  // MariaDB's /*! ... */ and /*M! ... */, which the server runs
    Operator,
    Punctuation,        // ( ) , . [ ] { } :
    Semicolon,
    Other,              // a character that starts nothing (\, NUL, a lone $)
};

struct Token {
    TokenKind kind = TokenKind::Other;
    std::size_t begin = 0;  // offsets in the text's units
    std::size_t end = 0;
};

// What a text ends inside of, when its last token is unfinished.
enum class LexMode : std::uint8_t {
    Normal,
    String,              // '...' with '' for a quote
    EscapeString,        // '...' where \ escapes (PostgreSQL's E'...', MariaDB's '...')
    DoubleQuotedString,  // MariaDB's "..." where \ escapes
    QuotedIdentifier,    // "..." with "" for a quote
    BacktickIdentifier,  // `...` with `` for a backtick
    BracketIdentifier,   // [...]
    BlockComment,
    ExecutableComment,
    DollarString,
};

// The state at the end of a piece of text: small and comparable, and kept in
// one int, as QSyntaxHighlighter keeps one per line. A highlighter reads a
// line with a lexer made from LexState::fromInt(previousBlockState()) and
// the document's DollarTags, and keeps lexer.state().toInt() as the line's
// state: a line whose state did not change leaves the next line as it is.
struct LexState {
    LexMode mode = LexMode::Normal;
    // BlockComment: how deep (PostgreSQL nests them; 1 elsewhere).
    // DollarString: the tag's number in the DollarTags table the lexer was
    // given (0: the empty tag of $$).
    std::uint32_t detail = 0;

    friend bool operator==(const LexState&, const LexState&) = default;

    // Not negative; 0 for Normal.
    int toInt() const noexcept;
    // Any negative number (QSyntaxHighlighter's -1 for a line not yet seen)
    // and any number toInt() cannot give are Normal.
    static LexState fromInt(int value) noexcept;

    static constexpr std::uint32_t kMaxDetail = (1u << 27) - 1;
};

// The tags of dollar quotes that a state refers to by number. One table per
// document: the numbers stay valid as long as it lives.
template <typename Char>
class BasicDollarTags {
public:
    using View = std::basic_string_view<Char>;

    // The tag's number, 0 for the empty tag; the same tag the same number.
    std::uint32_t numberOf(View tag);
    // The tag of a number numberOf() gave; empty for any other.
    View tag(std::uint32_t number) const noexcept;

private:
    std::unordered_map<std::basic_string<Char>, std::uint32_t> numbers_;
    std::deque<std::basic_string<Char>> tags_;  // a deque: views of them stay valid
};

template <typename Char>
class BasicLexer {
public:
    using View = std::basic_string_view<Char>;

    // Reads `text` from its start, which continues a piece that ended in
    // `start`. `tags` numbers dollar-quote tags for LexState: give the
    // document's table when a state goes in or out of the lexer (without
    // one the lexer keeps a table of its own). The text and the table must
    // outlive the lexer.
    explicit BasicLexer(Dialect dialect, View text, LexState start = {},
                        BasicDollarTags<Char>* tags = nullptr);
    BasicLexer(BasicLexer&&) noexcept = default;
    BasicLexer& operator=(BasicLexer&&) noexcept = default;

    // The next token, blanks skipped; false at the end of the text. A token
    // left unfinished by the end of the text ends there.
    bool next(Token& token);

    // Where the text leaves off after the tokens read so far: Normal unless
    // the last one is unfinished.
    LexState state();

    // Goes on from `offset`, outside any token.
    void seek(std::size_t offset) noexcept;

    // Words are Keyword or Identifier by the dialect's list; with this off
    // every word is an Identifier, which is all a splitter needs, and saves
    // a look-up a word.
    void classifyKeywords(bool on) noexcept { classifyKeywords_ = on; }

    Dialect dialect() const noexcept { return dialect_; }
    View text() const noexcept { return text_; }

private:
    using Unit = std::uint32_t;

    Unit at(std::size_t i) const noexcept;
    bool is(std::size_t i, char c) const noexcept;
    bool has(std::size_t i, std::uint8_t charClass) const noexcept;
    bool startsLineComment(std::size_t i) const noexcept;
    bool startsBlockComment(std::size_t i) const noexcept;

    TokenKind readToken();
    TokenKind readWord();
    TokenKind readNumber();
    TokenKind readDollar();
    TokenKind readColon();
    TokenKind readAt();
    TokenKind readOperator();
    TokenKind readLineComment();
    TokenKind readBlockComment();
    TokenKind open(LexMode mode, std::size_t openerLength);
    TokenKind continueToken();
    void scanQuoted(char quote, bool backslashEscapes) noexcept;
    void scanBlockComment(bool nesting) noexcept;
    void scanDollarString() noexcept;
    void skipWhile(std::uint8_t charClass) noexcept;
    BasicDollarTags<Char>& tags();

    Dialect dialect_;
    const std::uint8_t* charClasses_;  // of ASCII units, by the dialect
    View text_;
    std::size_t pos_ = 0;
    LexMode mode_ = LexMode::Normal;
    std::uint32_t depth_ = 0;  // of a block comment
    View tag_;                 // of a dollar quote
    BasicDollarTags<Char>* tags_ = nullptr;
    std::unique_ptr<BasicDollarTags<Char>> ownTags_;
    bool classifyKeywords_ = true;
};

// Whether `text` is the word `upper` (ASCII capitals) in any case: how
// keywords are told apart by those who read tokens.
template <typename Char>
bool isWordIgnoringCase(std::basic_string_view<Char> text, std::string_view upper) noexcept {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char u = upper[i];
        if (text[i] != static_cast<Char>(u) &&
            !(u >= 'A' && u <= 'Z' && text[i] == static_cast<Char>(u + ('a' - 'A')))) {
            return false;
        }
    }
    return true;
}

extern template class BasicDollarTags<char>;
extern template class BasicDollarTags<char16_t>;
extern template class BasicLexer<char>;
extern template class BasicLexer<char16_t>;

using DollarTags = BasicDollarTags<char>;
using Utf16DollarTags = BasicDollarTags<char16_t>;
using Lexer = BasicLexer<char>;
using Utf16Lexer = BasicLexer<char16_t>;

}  // namespace tarnwell::sql
