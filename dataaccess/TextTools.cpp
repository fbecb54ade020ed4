#include "dataaccess/TextTools.h"

#include "dataaccess/DbError.h"

#include <charconv>

namespace tarnwell::db {

bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trimBlanks(std::string_view text) noexcept {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char upperAscii(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = upperAscii(c);
    }
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upperAscii(a[i]) != upperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

int timeoutSetting(std::string_view name, std::string_view text, int fallback) {
    text = trimBlanks(text);
    if (text.empty()) {
        return fallback;
    }
    int seconds = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, seconds);
    if (ec != std::errc() || stop != end || seconds < 1 || seconds > kMostTimeoutSeconds) {
        // The value as given, cut, for a message that stays readable.
        const std::string shown = text.size() > 40 ? std::string(text.substr(0, 40)) + "…" : std::string(text);
        throw DbError(std::string(name) + " 的值「" + shown + "」不是 1 到 " + std::to_string(kMostTimeoutSeconds) +
                      " 之間的秒數");
    }
    return seconds;
}

}  // namespace tarnwell::db
