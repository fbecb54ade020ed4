#include "dataaccess/CursorBase.h"

#include <stdexcept>

namespace tarnwell::db {

std::size_t CursorBase::fetch(RowStore& rows, std::size_t maxRows) {
    if (failure_) {
        throw *failure_;
    }
    if (atEnd_ || maxRows == 0) {
        return 0;
    }
    if (rows.columnCount() != columns_.size()) {
        throw std::invalid_argument("Cursor::fetch: the row store does not have the result's columns");
    }
    try {
        return fetchRows(rows, maxRows);
    } catch (const DbError& error) {
        failure_ = error;
        atEnd_ = true;
        throw;
    }
}

}  // namespace tarnwell::db
