#include "dataaccess/SqlText.h"

#include <algorithm>

namespace tarnwell::db {

bool isRowReturning(std::string_view sql) noexcept {
    constexpr std::string_view kSelect = "SELECT";
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return std::search(sql.begin(), sql.end(), kSelect.begin(), kSelect.end(),
                       [&](char a, char b) { return upper(a) == b; }) != sql.end();
}

}  // namespace tarnwell::db
