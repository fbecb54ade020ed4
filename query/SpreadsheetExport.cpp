#include "query/SpreadsheetExport.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <memory>
#include <vector>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/FieldKind.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/ValueText.h"
#include "output/ColumnLetters.h"
#include "output/Feedback.h"
#include "output/SpreadsheetAutomation.h"
#include "ui/Prompt.h"

namespace tarnwell {

namespace {

const QString kSheetFont = QStringLiteral("標楷體");
const QString kTextFormat = QStringLiteral("@");
constexpr std::size_t kMostRecords = 65535;

// Numbers keep the sheet's own format, so that they are numbers there; every
// other kind is text, so that "007" or a long key stays as it was.
bool keepsDefaultFormat(db::FieldKind kind) {
    using K = db::FieldKind;
    return kind == K::Smallint || kind == K::Integer || kind == K::Word || kind == K::Float || kind == K::Currency;
}

// Fetches every record not fetched yet, packet by packet so that the window
// stays alive, and makes the last record the current one.
void goToLast(db::ClientDataSet& dataSet, Feedback& feedback) {
    while (!dataSet.allFetched()) {
        dataSet.fetchMore();
        feedback.setProgress(static_cast<std::int64_t>(dataSet.recordCount()));
        feedback.throwIfCanceled();
    }
    dataSet.last();
}

bool exportAllAnyway() {
    return prompt().askYesNo({QStringLiteral("資料超過65535"),
                              QStringLiteral("資料超過Excel每一頁籤的最大容量，最多只能轉出65535筆,是否轉出？"),
                              Prompt::Question::Button::No});
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

void exportToSpreadsheet(db::ClientDataSet& dataSet, Feedback& feedback) {
    // 1. Nothing to copy: the application is not even started.
    if (dataSet.isEmpty()) {
        return;
    }
    // 2. Everything up to the fitted widths is guarded.
    std::unique_ptr<SpreadsheetApplication> excel;
    try {
        // 3. A new application, shown, with a new workbook and sheet; 4. to
        // 6., its page, title row and header row.
        excel = spreadsheetServer().create();
        excel->setVisible(true);
        ResultSheet sheet(*excel, dataSet.columns());

        // 7. Every record fetched; more than a sheet of the old format holds
        // is cut after a question.
        goToLast(dataSet, feedback);
        std::size_t n = dataSet.recordCount();
        if (n > kMostRecords) {
            if (!exportAllAnyway()) {
                excel->release();
                return;
            }
            n = kMostRecords;
        }

        // 8. The table's format, header row included.
        sheet.formatTable(2, static_cast<int>(n) + 2);

        // 9. The records, record r in row r + 2. They are read in place, so
        // the grid does not follow every record; the last one stays current.
        for (std::size_t r = 0; r < n; ++r) {
            sheet.writeRecord(r, dataSet.rows(), r, dataSet.valueFormatter());
            feedback.setProgress(static_cast<std::int64_t>(r + 1));
            feedback.throwIfCanceled();
        }

        // 10.
        sheet.fitColumns();
        excel->release();
    } catch (const OperationCanceled&) {
        // The user stopped it: the workbook goes with the application.
        return;
    } catch (const std::exception& error) {
        // What was written stays with the application.
        QString message = QString::fromUtf8(error.what());
        if (excel) {
            try {
                excel->release();
            } catch (const std::exception& alsoFailed) {
                message += u'\n' + QString::fromUtf8(alsoFailed.what());
            }
        }
        feedback.finished();
        prompt().showMessage(message);
        return;
    }
    // 11., with the progress (and its 取消) gone first.
    feedback.finished();
    prompt().showMessage(QStringLiteral("存檔完成"));
}

}  // namespace tarnwell
