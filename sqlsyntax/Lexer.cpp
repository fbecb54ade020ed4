#include "sqlsyntax/Lexer.h"

#include <algorithm>
#include <array>

#include "sqlsyntax/Keywords.h"

namespace tarnwell::sql {

namespace {

constexpr std::uint8_t kBlank = 1;
constexpr std::uint8_t kWordStart = 2;
constexpr std::uint8_t kWordPart = 4;
constexpr std::uint8_t kDigit = 8;
constexpr std::uint8_t kOperator = 16;
constexpr std::uint8_t kHexDigit = 32;
// Every unit outside ASCII is a letter.
constexpr std::uint8_t kNonAscii = kWordStart | kWordPart;

using CharClasses = std::array<std::uint8_t, 128>;

constexpr void mark(CharClasses& classes, std::string_view chars, std::uint8_t charClass) {
    for (char c : chars) {
        classes[static_cast<unsigned char>(c)] |= charClass;
    }
}

constexpr CharClasses charClassesOf(Dialect dialect) {
    CharClasses classes{};
    mark(classes, " \t\n\r\f\v", kBlank);
    mark(classes, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_", kWordStart | kWordPart);
    mark(classes, "0123456789", kDigit | kWordPart | kHexDigit);
    mark(classes, "abcdefABCDEF", kHexDigit);
    mark(classes, "$", kWordPart);
    switch (dialect) {
    case Dialect::PostgreSQL:
        mark(classes, "+-*/<>=~!@#%^&|`?", kOperator);
        break;
    case Dialect::MariaDB:
        // Names may start with $ (and with a digit: see readNumber()).
        mark(classes, "$", kWordStart);
        mark(classes, "+-*/<>=~!%^&|", kOperator);
        break;
    case Dialect::Generic:
        // SQL Server's #temporary tables, Oracle's V$ and A#.
        mark(classes, "#", kWordStart | kWordPart);
        mark(classes, "+-*/<>=~!%^&|", kOperator);
        break;
    case Dialect::SQLite:
        mark(classes, "+-*/<>=~!%^&|", kOperator);
        break;
    }
    return classes;
}

constexpr std::array<CharClasses, 4> kCharClasses = {
    charClassesOf(Dialect::Generic), charClassesOf(Dialect::SQLite), charClassesOf(Dialect::PostgreSQL),
    charClassesOf(Dialect::MariaDB)};

const CharClasses& charClasses(Dialect dialect) noexcept { return kCharClasses[static_cast<std::size_t>(dialect)]; }

// The mode that a quoted string opened by a word prefix (E'..', N'..',
// X'..', MariaDB's _utf8mb4'..') continues in; Normal when the word is no
// such prefix.
template <typename Char>
LexMode stringPrefixMode(Dialect dialect, std::basic_string_view<Char> word) noexcept {
    const auto oneOf = [&](std::string_view letters) {
        return word.size() == 1 && std::any_of(letters.begin(), letters.end(), [&](char letter) {
                   return isWordIgnoringCase(word, std::string_view(&letter, 1));
               });
    };
    switch (dialect) {
    case Dialect::PostgreSQL:
        if (oneOf("E")) {
            return LexMode::EscapeString;
        }
        return oneOf("BXN") ? LexMode::String : LexMode::Normal;
    case Dialect::MariaDB:
        return oneOf("BXN") || (word.size() > 1 && word.front() == '_') ? LexMode::EscapeString : LexMode::Normal;
    case Dialect::SQLite:
        return oneOf("X") ? LexMode::String : LexMode::Normal;
    case Dialect::Generic:
        break;
    }
    return oneOf("BXN") ? LexMode::String : LexMode::Normal;
}

}  // namespace

// ---- LexState ----

int LexState::toInt() const noexcept {
    return static_cast<int>(mode) | static_cast<int>(std::min(detail, kMaxDetail) << 4);
}

LexState LexState::fromInt(int value) noexcept {
    if (value < 0 || (value & 15) > static_cast<int>(LexMode::DollarString)) {
        return {};
    }
    return {static_cast<LexMode>(value & 15), static_cast<std::uint32_t>(value) >> 4};
}

// ---- BasicDollarTags ----

template <typename Char>
std::uint32_t BasicDollarTags<Char>::numberOf(View tag) {
    if (tag.empty()) {
        return 0;
    }
    const std::basic_string<Char> key(tag);
    if (const auto found = numbers_.find(key); found != numbers_.end()) {
        return found->second;
    }
    // Past the state's room every further tag shares the last number; no
    // document comes near it.
    if (tags_.size() >= LexState::kMaxDetail) {
        return LexState::kMaxDetail;
    }
    tags_.push_back(key);
    const auto number = static_cast<std::uint32_t>(tags_.size());
    numbers_.emplace(key, number);
    return number;
}

template <typename Char>
auto BasicDollarTags<Char>::tag(std::uint32_t number) const noexcept -> View {
    if (number == 0 || number > tags_.size()) {
        return {};
    }
    return tags_[number - 1];
}

// ---- BasicLexer ----

template <typename Char>
BasicLexer<Char>::BasicLexer(Dialect dialect, View text, LexState start, BasicDollarTags<Char>* tags)
    : dialect_(dialect), charClasses_(charClasses(dialect).data()), text_(text), mode_(start.mode), tags_(tags) {
    if (mode_ == LexMode::BlockComment || mode_ == LexMode::ExecutableComment) {
        depth_ = std::max<std::uint32_t>(start.detail, 1);
    } else if (mode_ == LexMode::DollarString && tags_ != nullptr) {
        tag_ = tags_->tag(start.detail);
    }
}

template <typename Char>
bool BasicLexer<Char>::next(Token& token) {
    if (mode_ == LexMode::Normal) {
        skipWhile(kBlank);
    }
    if (pos_ >= text_.size()) {
        return false;
    }
    token.begin = pos_;
    token.kind = mode_ == LexMode::Normal ? readToken() : continueToken();
    token.end = pos_;
    return true;
}

template <typename Char>
LexState BasicLexer<Char>::state() {
    switch (mode_) {
    case LexMode::BlockComment:
    case LexMode::ExecutableComment:
        return {mode_, depth_};
    case LexMode::DollarString:
        return {mode_, tags().numberOf(tag_)};
    default:
        return {mode_, 0};
    }
}

template <typename Char>
void BasicLexer<Char>::seek(std::size_t offset) noexcept {
    pos_ = std::min(offset, text_.size());
    mode_ = LexMode::Normal;
}

template <typename Char>
BasicDollarTags<Char>& BasicLexer<Char>::tags() {
    if (tags_ == nullptr) {
        ownTags_ = std::make_unique<BasicDollarTags<Char>>();
        tags_ = ownTags_.get();
    }
    return *tags_;
}

template <typename Char>
auto BasicLexer<Char>::at(std::size_t i) const noexcept -> Unit {
    return i < text_.size() ? static_cast<Unit>(static_cast<std::make_unsigned_t<Char>>(text_[i])) : 0;
}

template <typename Char>
bool BasicLexer<Char>::is(std::size_t i, char c) const noexcept {
    return i < text_.size() && text_[i] == static_cast<Char>(c);
}

template <typename Char>
bool BasicLexer<Char>::has(std::size_t i, std::uint8_t charClass) const noexcept {
    if (i >= text_.size()) {
        return false;
    }
    const Unit unit = at(i);
    return ((unit < 0x80 ? charClasses_[unit] : kNonAscii) & charClass) != 0;
}

template <typename Char>
void BasicLexer<Char>::skipWhile(std::uint8_t charClass) noexcept {
    while (has(pos_, charClass)) {
        ++pos_;
    }
}

template <typename Char>
bool BasicLexer<Char>::startsLineComment(std::size_t i) const noexcept {
    if (dialect_ == Dialect::MariaDB && is(i, '#')) {
        return true;
    }
    if (!is(i, '-') || !is(i + 1, '-')) {
        return false;
    }
    // MariaDB reads --1 as two minus signs: its comment needs a blank or a
    // control character after the dashes.
    return dialect_ != Dialect::MariaDB || i + 2 >= text_.size() || at(i + 2) <= ' ';
}

template <typename Char>
bool BasicLexer<Char>::startsBlockComment(std::size_t i) const noexcept {
    return is(i, '/') && is(i + 1, '*');
}

template <typename Char>
TokenKind BasicLexer<Char>::readToken() {
    // Words first: most tokens are. No comment starts with a letter.
    if (has(pos_, kWordStart)) {
        return readWord();
    }
    const Unit c = at(pos_);
    if (has(pos_, kDigit) || (c == '.' && has(pos_ + 1, kDigit))) {
        return readNumber();
    }
    if (startsLineComment(pos_)) {
        return readLineComment();
    }
    if (startsBlockComment(pos_)) {
        return readBlockComment();
    }
    if (dialect_ == Dialect::PostgreSQL && c == '.' && is(pos_ + 1, '.')) {
        pos_ += 2;  // a range: FOR i IN 1..10
        return TokenKind::Operator;
    }
    switch (c) {
    case '\'':
        return open(dialect_ == Dialect::MariaDB ? LexMode::EscapeString : LexMode::String, 1);
    case '"':
        return open(dialect_ == Dialect::MariaDB ? LexMode::DoubleQuotedString : LexMode::QuotedIdentifier, 1);
    case '`':
        if (dialect_ != Dialect::PostgreSQL) {
            return open(LexMode::BacktickIdentifier, 1);
        }
        break;
    case '[':
        if (dialect_ == Dialect::SQLite || dialect_ == Dialect::Generic) {
            return open(LexMode::BracketIdentifier, 1);
        }
        ++pos_;
        return TokenKind::Punctuation;
    case ';':
        ++pos_;
        return TokenKind::Semicolon;
    case '(':
    case ')':
    case ',':
    case '.':
    case ']':
    case '{':
    case '}':
        ++pos_;
        return TokenKind::Punctuation;
    case '$':
        return readDollar();
    case ':':
        return readColon();
    case '@':
        if (dialect_ != Dialect::PostgreSQL) {
            return readAt();
        }
        break;
    case '?':
        if (dialect_ != Dialect::PostgreSQL) {
            ++pos_;
            skipWhile(kDigit);
            return TokenKind::Parameter;
        }
        break;
    default:
        break;
    }
    if (has(pos_, kOperator)) {
        return readOperator();
    }
    ++pos_;
    return TokenKind::Other;
}

template <typename Char>
TokenKind BasicLexer<Char>::readWord() {
    const std::size_t begin = pos_;
    skipWhile(kWordPart);
    const View word = text_.substr(begin, pos_ - begin);
    if (is(pos_, '\'')) {
        if (const LexMode mode = stringPrefixMode(dialect_, word); mode != LexMode::Normal) {
            return open(mode, 1);
        }
    }
    if (dialect_ == Dialect::PostgreSQL && is(pos_, '&') && isWordIgnoringCase(word, std::string_view("U"))) {
        if (is(pos_ + 1, '\'')) {
            return open(LexMode::String, 2);
        }
        if (is(pos_ + 1, '"')) {
            return open(LexMode::QuotedIdentifier, 2);
        }
    }
    return classifyKeywords_ && isKeyword(dialect_, word) ? TokenKind::Keyword : TokenKind::Identifier;
}

template <typename Char>
TokenKind BasicLexer<Char>::readNumber() {
    const std::size_t begin = pos_;
    if (is(pos_, '0') && (is(pos_ + 1, 'x') || is(pos_ + 1, 'X')) && has(pos_ + 2, kHexDigit)) {
        pos_ += 2;
        skipWhile(kHexDigit);
    } else {
        skipWhile(kDigit);
        // 1..10 is 1 and an operator (PostgreSQL's ranges), not 1. and .10.
        if (is(pos_, '.') && !is(pos_ + 1, '.')) {
            ++pos_;
            skipWhile(kDigit);
        }
        const bool sign = is(pos_ + 1, '+') || is(pos_ + 1, '-');
        if ((is(pos_, 'e') || is(pos_, 'E')) && has(pos_ + (sign ? 2 : 1), kDigit)) {
            pos_ += sign ? 2 : 1;
            skipWhile(kDigit);
        }
    }
    // MariaDB's names may start with digits: 1st_quarter is a name.
    if (dialect_ == Dialect::MariaDB && has(pos_, kWordPart) &&
        std::all_of(text_.begin() + static_cast<std::ptrdiff_t>(begin), text_.begin() + static_cast<std::ptrdiff_t>(pos_),
                    [](Char c) { return c >= static_cast<Char>('0') && c <= static_cast<Char>('9'); })) {
        skipWhile(kWordPart);
        return TokenKind::Identifier;
    }
    return TokenKind::Number;
}

template <typename Char>
TokenKind BasicLexer<Char>::readDollar() {
    ++pos_;
    if (dialect_ == Dialect::PostgreSQL) {
        if (has(pos_, kDigit)) {
            skipWhile(kDigit);
            return TokenKind::Parameter;
        }
        // $$ or $tag$: a tag is a word without $.
        std::size_t end = pos_;
        if (has(end, kWordStart)) {
            while (has(end, kWordPart) && !is(end, '$')) {
                ++end;
            }
        }
        if (is(end, '$')) {
            tag_ = text_.substr(pos_, end - pos_);
            pos_ = end + 1;
            mode_ = LexMode::DollarString;
            return continueToken();
        }
    } else if (dialect_ == Dialect::SQLite && has(pos_, kWordPart)) {
        skipWhile(kWordPart);
        return TokenKind::Parameter;
    }
    return TokenKind::Other;
}

template <typename Char>
TokenKind BasicLexer<Char>::readColon() {
    ++pos_;
    if (is(pos_, ':') || is(pos_, '=')) {
        ++pos_;
        return TokenKind::Operator;
    }
    if (dialect_ == Dialect::MariaDB) {
        return TokenKind::Punctuation;
    }
    // psql's :'name' and :"name" quote a variable's value.
    if (dialect_ == Dialect::PostgreSQL && (is(pos_, '\'') || is(pos_, '"'))) {
        std::size_t end = pos_ + 1;
        while (has(end, kWordPart) && !is(end, '$')) {
            ++end;
        }
        if (end > pos_ + 1 && is(end, static_cast<char>(at(pos_)))) {
            pos_ = end + 1;
            return TokenKind::Parameter;
        }
        return TokenKind::Punctuation;
    }
    if (has(pos_, dialect_ == Dialect::PostgreSQL ? kWordStart : kWordPart)) {
        skipWhile(kWordPart);
        return TokenKind::Parameter;
    }
    return TokenKind::Punctuation;
}

template <typename Char>
TokenKind BasicLexer<Char>::readAt() {
    ++pos_;
    if (dialect_ == Dialect::MariaDB) {
        // @@session.sql_mode, @var, @'var', @`var`, @"var".
        if (is(pos_, '@')) {
            ++pos_;
            skipWhile(kWordPart);
            if (is(pos_, '.') && has(pos_ + 1, kWordPart)) {
                ++pos_;
                skipWhile(kWordPart);
            }
            return TokenKind::Parameter;
        }
        const Unit quote = at(pos_);
        if (quote == '\'' || quote == '"' || quote == '`') {
            open(quote == '`' ? LexMode::BacktickIdentifier
                              : (quote == '"' ? LexMode::DoubleQuotedString : LexMode::EscapeString),
                 1);
            return TokenKind::Parameter;
        }
    }
    if (has(pos_, kWordPart)) {
        skipWhile(kWordPart);
        return TokenKind::Parameter;
    }
    return TokenKind::Other;
}

template <typename Char>
TokenKind BasicLexer<Char>::readOperator() {
    ++pos_;
    // A comment may follow an operator without a blank: a=--1 is a= and a
    // comment, as the engines read it.
    while (has(pos_, kOperator) && !startsLineComment(pos_) && !startsBlockComment(pos_)) {
        ++pos_;
    }
    return TokenKind::Operator;
}

template <typename Char>
TokenKind BasicLexer<Char>::readLineComment() {
    while (pos_ < text_.size() && !is(pos_, '\n') && !is(pos_, '\r')) {
        ++pos_;
    }
    return TokenKind::Comment;
}

template <typename Char>
TokenKind BasicLexer<Char>::readBlockComment() {
    if (dialect_ == Dialect::MariaDB && (is(pos_ + 2, '!') || (is(pos_ + 2, 'M') && is(pos_ + 3, '!')))) {
        depth_ = 1;
        return open(LexMode::ExecutableComment, is(pos_ + 2, '!') ? 3 : 4);
    }
    depth_ = 1;
    return open(LexMode::BlockComment, 2);
}

template <typename Char>
TokenKind BasicLexer<Char>::open(LexMode mode, std::size_t openerLength) {
    pos_ += openerLength;
    mode_ = mode;
    return continueToken();
}

template <typename Char>
TokenKind BasicLexer<Char>::continueToken() {
    switch (mode_) {
    case LexMode::String:
        scanQuoted('\'', false);
        return TokenKind::String;
    case LexMode::EscapeString:
        scanQuoted('\'', true);
        return TokenKind::String;
    case LexMode::DoubleQuotedString:
        scanQuoted('"', true);
        return TokenKind::String;
    case LexMode::QuotedIdentifier:
        scanQuoted('"', false);
        return TokenKind::QuotedIdentifier;
    case LexMode::BacktickIdentifier:
        scanQuoted('`', false);
        return TokenKind::QuotedIdentifier;
    case LexMode::BracketIdentifier: {
        const std::size_t close = text_.find(static_cast<Char>(']'), pos_);
        pos_ = close == View::npos ? text_.size() : close + 1;
        mode_ = close == View::npos ? mode_ : LexMode::Normal;
        return TokenKind::QuotedIdentifier;
    }
    case LexMode::BlockComment:
        scanBlockComment(dialect_ == Dialect::PostgreSQL);
        return TokenKind::Comment;
    case LexMode::ExecutableComment:
        scanBlockComment(false);
        return TokenKind::ExecutableComment;
    case LexMode::DollarString:
        scanDollarString();
        return TokenKind::String;
    case LexMode::Normal:
        break;
    }
    return readToken();
}

template <typename Char>
void BasicLexer<Char>::scanQuoted(char quote, bool backslashEscapes) noexcept {
    const Char q = static_cast<Char>(quote);
    const std::size_t size = text_.size();
    while (pos_ < size) {
        const Char c = text_[pos_];
        if (backslashEscapes && c == static_cast<Char>('\\')) {
            pos_ = std::min(pos_ + 2, size);
            continue;
        }
        ++pos_;
        if (c == q) {
            if (pos_ < size && text_[pos_] == q) {
                ++pos_;
                continue;
            }
            mode_ = LexMode::Normal;
            return;
        }
    }
}

template <typename Char>
void BasicLexer<Char>::scanBlockComment(bool nesting) noexcept {
    const std::size_t size = text_.size();
    while (pos_ < size) {
        if (text_[pos_] == static_cast<Char>('*') && is(pos_ + 1, '/')) {
            pos_ += 2;
            if (--depth_ == 0) {
                mode_ = LexMode::Normal;
                return;
            }
        } else if (nesting && text_[pos_] == static_cast<Char>('/') && is(pos_ + 1, '*')) {
            pos_ += 2;
            depth_ = std::min(depth_ + 1, LexState::kMaxDetail);
        } else {
            ++pos_;
        }
    }
}

template <typename Char>
void BasicLexer<Char>::scanDollarString() noexcept {
    while (true) {
        const std::size_t dollar = text_.find(static_cast<Char>('$'), pos_);
        if (dollar == View::npos) {
            pos_ = text_.size();
            return;
        }
        const std::size_t tagEnd = dollar + 1 + tag_.size();
        if (is(tagEnd, '$') && text_.substr(dollar + 1, tag_.size()) == tag_) {
            pos_ = tagEnd + 1;
            mode_ = LexMode::Normal;
            return;
        }
        // $a$...$junk$a$: the $ that ends junk may start the closing tag.
        pos_ = dollar + 1;
    }
}

template class BasicDollarTags<char>;
template class BasicDollarTags<char16_t>;
template class BasicLexer<char>;
template class BasicLexer<char16_t>;

}  // namespace tarnwell::sql
