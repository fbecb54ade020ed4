#include "query/SpreadsheetExport.h"

#include <QString>
#include <exception>
#include <memory>

#include "dataaccess/ClientDataSet.h"
#include "output/Feedback.h"
#include "output/ResultSheet.h"
#include "output/SpreadsheetAutomation.h"
#include "ui/Prompt.h"

namespace tarnwell {

namespace {

constexpr std::size_t kMostRecords = 65535;

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
