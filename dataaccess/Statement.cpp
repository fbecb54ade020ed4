#include "dataaccess/Statement.h"

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
