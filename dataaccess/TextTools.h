#pragma once

#include <string>
#include <string_view>

namespace tarnwell::db {

// The small text rules the engines share. Names, keys and settings are ASCII
// where these apply; bytes outside ASCII (UTF-8 text) pass unchanged.

// Space, tab, line feed, carriage return, form feed and vertical tab.
bool isBlank(char c) noexcept;
// The text without blanks at either end.
std::string_view trimBlanks(std::string_view text) noexcept;

char upperAscii(char c) noexcept;
// The text with the letters a to z turned into capitals.
std::string upperAscii(std::string_view text);

// ASCII-case-insensitive equality, the comparison of parameter, alias and
// connection-string key names.
bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept;

// A setting in whole seconds: decimal digits and nothing else. Anything
// else, an empty or negative text included, gives `fallback`.
int secondsOr(std::string_view text, int fallback) noexcept;

}  // namespace tarnwell::db
