#include "dataaccess/SqlText.h"

#include <algorithm>

#include "dataaccess/TextTools.h"

namespace tarnwell::db {

bool isRowReturning(std::string_view sql) noexcept {
    constexpr std::string_view kSelect = "SELECT";
    return std::search(sql.begin(), sql.end(), kSelect.begin(), kSelect.end(),
                       [](char a, char b) { return upperAscii(a) == b; }) != sql.end();
}

}  // namespace tarnwell::db
