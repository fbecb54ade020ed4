#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <vector>

#include "dataaccess/Column.h"
#include "output/SpreadsheetAutomation.h"

namespace tarnwell {

namespace db {
class RowStore;
class ValueFormatter;
}  // namespace db

// The sheet a result is copied into, step by step, so that the query window's
// export and the command line's make the same sheet: an empty merged title
// row in row 1, the field names in row 2, record r (from 0) in row r + 3, the
// table's borders, font and alignment, text format for every field that is no
// number, fitted column widths.
class ResultSheet {
public:
    // The sheet's first rows, with a new workbook and sheet of `excel`:
    // landscape, the title row and the header row of `columns`' names.
    ResultSheet(SpreadsheetApplication& excel, const std::vector<db::Column>& columns);

    // The table's format over rows `firstRow` to `lastRow` (the header row is
    // row 2). The window sets it over the whole table at once; a result read
    // packet by packet gets it row by row as each comes, to the same cells.
    void formatTable(int firstRow, int lastRow);
    // Record `record` from row `row` of `rows`, as the grid shows its values.
    void writeRecord(std::size_t record, const db::RowStore& rows, std::size_t row,
                     const db::ValueFormatter& formatter);
    // Every column as wide as its content.
    void fitColumns();

    // The rows before the records.
    static constexpr int kRowsBeforeRecords = 2;

private:
    Worksheet sheet_;
    std::vector<db::Column> columns_;
    QString lastLetters_;
    QStringList letters_;
    std::vector<bool> asText_;
};

}  // namespace tarnwell
