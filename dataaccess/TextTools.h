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

// The longest time limit a setting may ask for: a day.
inline constexpr int kMostTimeoutSeconds = 86400;

// A time limit in whole seconds from the setting `name` (CONNECT TIMEOUT,
// Connect Timeout): an empty text gives `fallback`; anything but a whole
// number from 1 to kMostTimeoutSeconds (0, which would mean no limit at
// all, a negative number, text) is refused with a DbError naming the
// setting and its value.
int timeoutSetting(std::string_view name, std::string_view text, int fallback);

}  // namespace tarnwell::db
