#include "dataaccess/Statement.h"

#include "dataaccess/DbError.h"
#include "dataaccess/NoResultSetError.h"
#include "dataaccess/SqlText.h"

namespace tarnwell::db {

namespace {

// Rows read and dropped at a time.
constexpr std::size_t kDrainBatch = 256;

}  // namespace

bool Statement::run() {
    if (!isRowReturning(sql())) {
        execSql();
        return false;
    }
    return openResult();
}

void Statement::open() {
    if (!openResult()) {
        throw NoResultSetError(rowsAffected(), noResultSetReason());
    }
}

void Statement::checkRunnable(const std::string& sql) {
    const std::string::size_type nul = sql.find('\0');
    if (nul == std::string::npos) {
        return;
    }
    // Characters, not bytes: the continuation bytes of UTF-8 do not count.
    std::size_t character = 1;
    for (std::string::size_type i = 0; i < nul; ++i) {
        if ((static_cast<unsigned char>(sql[i]) & 0xC0) != 0x80) {
            ++character;
        }
    }
    throw DbError("SQL 語法的第 " + std::to_string(character) + " 個字是 NUL 字元 (U+0000)，無法執行");
}

std::string Statement::noResultSetReason() const { return "The statement returned no result set"; }

std::int64_t Statement::readToEnd(Cursor& cursor) {
    std::int64_t read = 0;
    RowStore scratch(cursor.columns().size());
    while (!cursor.atEnd()) {
        scratch.clear();
        read += static_cast<std::int64_t>(cursor.fetch(scratch, kDrainBatch));
    }
    return read;
}

}  // namespace tarnwell::db
