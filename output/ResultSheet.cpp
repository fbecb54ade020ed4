#include "output/ResultSheet.h"

#include "dataaccess/FieldKind.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/ValueText.h"
#include "output/ColumnLetters.h"

namespace tarnwell {

namespace {

const QString kSheetFont = QStringLiteral("標楷體");
const QString kTextFormat = QStringLiteral("@");

// Numbers keep the sheet's own format, so that they are numbers there; every
// other kind is text, so that "007" or a long key stays as it was.
bool keepsDefaultFormat(db::FieldKind kind) {
    using K = db::FieldKind;
    return kind == K::Smallint || kind == K::Integer || kind == K::Word || kind == K::Float || kind == K::Currency;
}

}  // namespace

ResultSheet::ResultSheet(SpreadsheetApplication& excel, const std::vector<db::Column>& columns)
    : sheet_(excel.WorkBooks().Add().WorkSheets().Add()), columns_(columns) {
    Worksheet& S = sheet_;
    S.PageSetup().setOrientation(xlLandscape);

    // A result of no fields (PostgreSQL's "SELECT FROM t") makes an empty
    // sheet: there is no range to merge, name or format.
    const int k = static_cast<int>(columns_.size());
    if (k == 0) {
        return;
    }

    // The title row: merged and left empty.
    lastLetters_ = ColumnLetters(k);
    const QString title = QStringLiteral("A1:") + lastLetters_ + QStringLiteral("1");
    S.Range(title).Merge();
    S.Range(title).Font().setName(kSheetFont);
    S.Range(title).Font().setSize(18);
    S.Range(title).setNumberFormatLocal(kTextFormat);
    S.Range(title).setHorizontalAlignment(xlCenter);

    // The header row: the field names.
    for (int c = 1; c <= k; ++c) {
        S.Cells(2, c).setValue(QString::fromStdString(columns_[static_cast<std::size_t>(c - 1)].name));
        S.Cells(2, c).Font().setName(kSheetFont);
        S.Cells(2, c).Font().setSize(16);
        S.Cells(2, c).setHorizontalAlignment(xlCenter);
    }

    for (int c = 1; c <= k; ++c) {
        letters_ << ColumnLetters(c);
        asText_.push_back(!keepsDefaultFormat(columns_[static_cast<std::size_t>(c - 1)].kind));
    }
}

void ResultSheet::formatTable(int firstRow, int lastRow) {
    if (columns_.empty()) {
        return;
    }
    const QString table = QStringLiteral("A%1:").arg(firstRow) + lastLetters_ + QString::number(lastRow);
    sheet_.Range(table).Borders().setLineStyle(xlContinuous);
    sheet_.Range(table).Font().setName(kSheetFont);
    sheet_.Range(table).Font().setSize(12);
    sheet_.Range(table).setHorizontalAlignment(xlRight);
}

void ResultSheet::writeRecord(std::size_t record, const db::RowStore& rows, std::size_t row,
                              const db::ValueFormatter& formatter) {
    const int R = static_cast<int>(record) + kRowsBeforeRecords + 1;
    const QString rowText = QString::number(R);
    const int k = static_cast<int>(columns_.size());
    for (int c = 1; c <= k; ++c) {
        const auto column = static_cast<std::size_t>(c - 1);
        if (asText_[column]) {
            const QString cell = letters_[c - 1] + rowText;
            sheet_.Range(cell + u':' + cell).setNumberFormatLocal(kTextFormat);
        }
        sheet_.Cells(R, c).setValue(formatter.text(columns_[column].kind, rows.cell(row, column)));
    }
}

void ResultSheet::fitColumns() { sheet_.Cells().EntireColumn().AutoFit(); }

}  // namespace tarnwell
