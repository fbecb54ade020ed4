#include "query/SpreadsheetExport.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <memory>
#include <vector>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/FieldKind.h"
#include "query/UQueryEditor.h"
#include "shell/Feedback.h"
#include "shell/Prompt.h"
#include "shell/SpreadsheetAutomation.h"

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

void exportToSpreadsheet(db::ClientDataSet& dataSet, Feedback& feedback) {
    // 1. Nothing to copy: the application is not even started.
    if (dataSet.isEmpty()) {
        return;
    }
    // 2. Everything up to the fitted widths is guarded.
    std::unique_ptr<SpreadsheetApplication> excel;
    try {
        // 3. A new application, shown, with a new workbook and sheet.
        excel = spreadsheetServer().create();
        excel->setVisible(true);
        Worksheet S = excel->WorkBooks().Add().WorkSheets().Add();

        // 4.
        S.PageSetup().setOrientation(xlLandscape);

        // 5. The title row: merged and left empty.
        const int k = static_cast<int>(dataSet.fieldCount());
        const QString title = QStringLiteral("A1:") + ColumnLetters(k) + QStringLiteral("1");
        S.Range(title).Merge();
        S.Range(title).Font().setName(kSheetFont);
        S.Range(title).Font().setSize(18);
        S.Range(title).setNumberFormatLocal(kTextFormat);
        S.Range(title).setHorizontalAlignment(xlCenter);

        // 6. The header row: the field names.
        for (int c = 1; c <= k; ++c) {
            S.Cells(2, c).setValue(QString::fromStdString(dataSet.field(static_cast<std::size_t>(c - 1)).fullName));
            S.Cells(2, c).Font().setName(kSheetFont);
            S.Cells(2, c).Font().setSize(16);
            S.Cells(2, c).setHorizontalAlignment(xlCenter);
        }

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
        const QString table = QStringLiteral("A2:") + ColumnLetters(k) + QString::number(n + 2);
        S.Range(table).Borders().setLineStyle(xlContinuous);
        S.Range(table).Font().setName(kSheetFont);
        S.Range(table).Font().setSize(12);
        S.Range(table).setHorizontalAlignment(xlRight);

        // 9. The records, record r in row r + 2. They are read in place, so
        // the grid does not follow every record; the last one stays current.
        QStringList letters;
        std::vector<bool> asText;
        for (int c = 1; c <= k; ++c) {
            letters << ColumnLetters(c);
            asText.push_back(!keepsDefaultFormat(dataSet.field(static_cast<std::size_t>(c - 1)).dataType));
        }
        for (std::size_t r = 0; r < n; ++r) {
            const int R = static_cast<int>(r) + 3;
            const QString rowText = QString::number(R);
            for (int c = 1; c <= k; ++c) {
                if (asText[static_cast<std::size_t>(c - 1)]) {
                    const QString cell = letters[c - 1] + rowText;
                    S.Range(cell + u':' + cell).setNumberFormatLocal(kTextFormat);
                }
                S.Cells(R, c).setValue(dataSet.text(r, static_cast<std::size_t>(c - 1)));
            }
            feedback.setProgress(static_cast<std::int64_t>(r + 1));
            feedback.throwIfCanceled();
        }

        // 10.
        S.Cells().EntireColumn().AutoFit();
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
        prompt().showMessage(message);
        return;
    }
    // 11.
    prompt().showMessage(QStringLiteral("存檔完成"));
}

}  // namespace tarnwell
