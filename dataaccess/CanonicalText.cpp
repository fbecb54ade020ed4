#include "dataaccess/CanonicalText.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tarnwell::db {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The shortest scientific text ("-1.25e+17") rewritten in plain notation
// when its exponent lies in [-4, plainBelow). The text sits at the start of
// `buffer`, `length` characters long.
std::string_view toCanonicalNotation(NumberBuffer& buffer, std::size_t length, int plainBelow) {
    const char* text = buffer.data();
    const char* e = static_cast<const char*>(std::memchr(text, 'e', length));
    if (e == nullptr) {
        return std::string_view(text, length);
    }
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), text + length, exponent);
    if (exponent < -4 || exponent >= plainBelow) {
        return std::string_view(text, length);
    }
    const bool negative = text[0] == '-';
    char digits[24];
    std::size_t count = 0;
    for (const char* p = text + (negative ? 1 : 0); p < e; ++p) {
        if (*p != '.') {
            digits[count++] = *p;
        }
    }
    char plain[40];
    std::size_t n = 0;
    if (negative) {
        plain[n++] = '-';
    }
    if (exponent < 0) {
        plain[n++] = '0';
        plain[n++] = '.';
        for (int i = -1; i > exponent; --i) {
            plain[n++] = '0';
        }
        std::memcpy(plain + n, digits, count);
        n += count;
    } else {
        const auto whole = static_cast<std::size_t>(exponent) + 1;
        for (std::size_t i = 0; i < whole; ++i) {
            plain[n++] = i < count ? digits[i] : '0';
        }
        if (count > whole) {
            plain[n++] = '.';
            std::memcpy(plain + n, digits + whole, count - whole);
            n += count - whole;
        }
    }
    std::memcpy(buffer.data(), plain, n);
    return std::string_view(buffer.data(), n);
}

template <typename Float>
std::string_view canonicalFloating(Float value, NumberBuffer& buffer, int plainBelow) noexcept {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "Infinity" : "-Infinity";
    }
    const auto written =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
    return toCanonicalNotation(buffer, static_cast<std::size_t>(written.ptr - buffer.data()), plainBelow);
}

bool matchesTime(std::string_view text, std::size_t pos, std::size_t length) {
    static constexpr std::string_view kShape = "dd:dd:dd";
    if (pos + length > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[pos + i];
        if (kShape[i] == 'd' ? !isDigit(c) : c != kShape[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string_view canonicalDouble(double value, NumberBuffer& buffer) noexcept {
    return canonicalFloating(value, buffer, 15);
}

std::string_view canonicalSingle(float value, NumberBuffer& buffer) noexcept {
    return canonicalFloating(value, buffer, 6);
}

bool timeNeedsCanonicalizing(std::string_view text, std::size_t pos) noexcept {
    if (pos + 5 == text.size()) {
        return true;  // "HH:MM": the seconds are missing
    }
    const std::size_t secondsEnd = pos + 8;
    if (secondsEnd >= text.size() || text[secondsEnd] != '.') {
        return false;
    }
    std::size_t end = secondsEnd + 1;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return end == secondsEnd + 1 || text[end - 1] == '0' || end - secondsEnd - 1 > 6;
}

bool canonicalizeTimeAt(std::string& text, std::size_t pos) {
    if (pos + 5 == text.size() && matchesTime(text, pos, 5)) {
        text += ":00";
        return true;
    }
    if (!matchesTime(text, pos, 8)) {
        return false;
    }
    const std::size_t secondsEnd = pos + 8;
    if (secondsEnd == text.size() || text[secondsEnd] != '.') {
        return secondsEnd == text.size() || !isDigit(text[secondsEnd]);
    }
    std::size_t fractionEnd = secondsEnd + 1;
    while (fractionEnd < text.size() && isDigit(text[fractionEnd])) {
        ++fractionEnd;
    }
    if (fractionEnd == secondsEnd + 1) {
        return false;  // a point without digits
    }
    std::size_t significantEnd = fractionEnd;
    while (significantEnd > secondsEnd + 1 && text[significantEnd - 1] == '0') {
        --significantEnd;
    }
    if (significantEnd - secondsEnd - 1 > 6) {
        return false;  // finer than microseconds: kept as the engine gave it
    }
    const std::size_t keepUntil = significantEnd == secondsEnd + 1 ? secondsEnd : significantEnd;
    text.erase(keepUntil, fractionEnd - keepUntil);
    return true;
}

bool isUpperCaseGuid(std::string_view text) noexcept {
    if (text.size() != 36) {
        return false;
    }
    bool upper = false;
    for (std::size_t i = 0; i < 36; ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') {
                return false;
            }
        } else if (!isHex(c)) {
            return false;
        } else if (c >= 'A' && c <= 'F') {
            upper = true;
        }
    }
    return upper;
}

void lowerCaseGuid(std::string& text) noexcept {
    if (!isUpperCaseGuid(text)) {
        return;
    }
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
}

}  // namespace tarnwell::db
