#pragma once

#include <optional>

#include "dataaccess/Connection.h"
#include "dataaccess/DbError.h"

namespace tarnwell::db {

// What every backend's cursor keeps alike: whether a result set came back,
// its columns, the rows a statement without one changed, whether the end was
// reached, and the failure that ended the result. fetch() is written here
// once, so a result that failed throws its failure again at every later fetch
// and never turns into one that merely ended.
class CursorBase : public Cursor {
public:
    bool hasResultSet() const final { return hasResultSet_; }
    const std::vector<Column>& columns() const final { return columns_; }
    std::int64_t rowsAffected() const final { return rowsAffected_; }
    bool atEnd() const final { return atEnd_; }
    std::size_t fetch(RowStore& rows, std::size_t maxRows) final;

protected:
    // A result set; the backend describes its columns.
    CursorBase() : hasResultSet_(true) {}
    // A statement without a result set, already complete.
    explicit CursorBase(std::int64_t rowsAffected) : rowsAffected_(rowsAffected), atEnd_(true) {}

    // Appends at most maxRows rows (at least one is asked for) of a result
    // that has not ended, and calls endReached() once no row is left. A
    // DbError it throws ends the result as failed.
    virtual std::size_t fetchRows(RowStore& rows, std::size_t maxRows) = 0;

    std::vector<Column>& describedColumns() noexcept { return columns_; }
    void endReached() noexcept { atEnd_ = true; }

private:
    std::vector<Column> columns_;
    std::optional<DbError> failure_;
    std::int64_t rowsAffected_ = -1;
    bool hasResultSet_ = false;
    bool atEnd_ = false;
};

}  // namespace tarnwell::db
