#include "dataaccess/SqlText.h"

#include <algorithm>
#include <string>

#include "dataaccess/DbError.h"
#include "dataaccess/TextTools.h"

namespace tarnwell::db {

bool isRowReturning(std::string_view sql) noexcept {
    constexpr std::string_view kSelect = "SELECT";
    return std::search(sql.begin(), sql.end(), kSelect.begin(), kSelect.end(),
                       [](char a, char b) { return upperAscii(a) == b; }) != sql.end();
}

void refuseNulCharacter(std::string_view sql) {
    const std::string_view::size_type nul = sql.find('\0');
    if (nul == std::string_view::npos) {
        return;
    }
    // Characters, not bytes: the continuation bytes of UTF-8 do not count.
    std::size_t character = 1;
    for (std::string_view::size_type i = 0; i < nul; ++i) {
        if ((static_cast<unsigned char>(sql[i]) & 0xC0) != 0x80) {
            ++character;
        }
    }
    throw DbError("SQL 語法的第 " + std::to_string(character) + " 個字是 NUL 字元 (U+0000)，無法執行");
}

}  // namespace tarnwell::db
