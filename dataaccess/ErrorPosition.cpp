#include "dataaccess/ErrorPosition.h"

#include <charconv>

namespace tarnwell::db {

namespace {

bool continuationByte(char c) noexcept { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; }

// The end of the text without the blanks after its last word.
std::size_t endWithoutTrailingBlanks(std::string_view text) noexcept {
    std::size_t end = text.size();
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= ' ') {
        --end;
    }
    return end;
}

// Where line `line` (from 1; lines end at LF, as the server counts them)
// starts; nothing when the text has fewer lines.
std::optional<std::size_t> lineStart(std::string_view text, long line) noexcept {
    std::size_t start = 0;
    for (long current = 1; current < line; ++current) {
        const std::size_t lineFeed = text.find('\n', start);
        if (lineFeed == std::string_view::npos) {
            return std::nullopt;
        }
        start = lineFeed + 1;
    }
    return start;
}

}  // namespace

std::size_t byteOffsetOfCharacter(std::string_view utf8, std::size_t index) noexcept {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (continuationByte(utf8[i])) {
            continue;
        }
        if (seen == index) {
            return i;
        }
        ++seen;
    }
    return utf8.size();
}

std::optional<ErrorPosition> mariaDbErrorPosition(std::string_view message, std::string_view sql) noexcept {
    constexpr std::string_view kNear = "near '";
    constexpr std::string_view kAtLine = "' at line ";
    const std::size_t atLine = message.rfind(kAtLine);
    const std::size_t near = message.find(kNear);
    if (atLine == std::string_view::npos || near == std::string_view::npos || near + kNear.size() > atLine) {
        return std::nullopt;
    }
    const std::string_view digits = message.substr(atLine + kAtLine.size());
    long line = 0;
    const auto [end, fault] = std::from_chars(digits.data(), digits.data() + digits.size(), line);
    if (fault != std::errc() || end == digits.data() || line < 1) {
        return std::nullopt;
    }
    const std::optional<std::size_t> start = lineStart(sql, line);
    if (!start) {
        return std::nullopt;
    }
    std::string_view quoted = message.substr(near + kNear.size(), atLine - near - kNear.size());
    if (quoted.empty()) {
        return ErrorPosition{endWithoutTrailingBlanks(sql), false};
    }
    // The server quotes at most 80 characters, the last three of a longer
    // text being "...".
    if (quoted.size() > 3 && quoted.substr(quoted.size() - 3) == "...") {
        quoted.remove_suffix(3);
    }
    const std::size_t found = sql.find(quoted, *start);
    if (found != std::string_view::npos) {
        return ErrorPosition{found, false};
    }
    return ErrorPosition{*start, true};
}

}  // namespace tarnwell::db
