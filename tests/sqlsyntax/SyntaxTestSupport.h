#pragma once

// What the lexer and the splitter tests share: statements and tokens as
// short texts to compare, and UTF-16 forms of UTF-8 test texts.

#include <string>
#include <string_view>
#include <vector>

#include "sqlsyntax/Lexer.h"
#include "sqlsyntax/StatementSplitter.h"

namespace tarnwell::sql::test {

inline std::vector<std::string> statementTexts(Dialect dialect, std::string_view script) {
    std::vector<std::string> texts;
    for (const Statement& statement : splitStatements(dialect, script)) {
        texts.emplace_back(statement.text);
    }
    return texts;
}

inline std::vector<int> statementLines(Dialect dialect, std::string_view script) {
    std::vector<int> lines;
    for (const Statement& statement : splitStatements(dialect, script)) {
        lines.push_back(statement.line);
    }
    return lines;
}

inline const char* kindName(TokenKind kind) {
    switch (kind) {
    case TokenKind::Keyword: return "kw";
    case TokenKind::Identifier: return "id";
    case TokenKind::QuotedIdentifier: return "qid";
    case TokenKind::String: return "str";
    case TokenKind::Number: return "num";
    case TokenKind::Parameter: return "par";
    case TokenKind::Comment: return "com";
    case TokenKind::ExecutableComment: return "exec";
    case TokenKind::Operator: return "op";
    case TokenKind::Punctuation: return "p";
    case TokenKind::Semicolon: return "semi";
    case TokenKind::Other: return "other";
    }
    return "?";
}

// The tokens as "kind[text]" separated by blanks.
inline std::string tokens(Dialect dialect, std::string_view text) {
    Lexer lexer(dialect, text);
    std::string out;
    Token token;
    while (lexer.next(token)) {
        out += (out.empty() ? "" : " ") + std::string(kindName(token.kind)) + "[" +
               std::string(text.substr(token.begin, token.end - token.begin)) + "]";
    }
    return out;
}

// Valid UTF-8 as UTF-16.
inline std::u16string utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const int length = byte < 0x80 ? 1 : byte < 0xe0 ? 2 : byte < 0xf0 ? 3 : 4;
        char32_t code = length == 1 ? byte : byte & (0x3f >> (length - 1));
        for (int k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
        }
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xd800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xdc00 + ((code - 0x10000) & 0x3ff));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

}  // namespace tarnwell::sql::test
