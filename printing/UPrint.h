#pragma once

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <memory>
#include <vector>

class QModelIndex;
class QPlainTextEdit;

namespace Ui {
class TfrmPrint;
}

namespace tarnwell {

namespace db {
class ClientDataSet;
}

class FieldGridDelegate;
class TfrmReport;
struct ListingColumn;
struct ListingSettings;

// The print window: which fields of a query window's result go on paper, under
// which header and in how many characters, with the title, fonts, record limit
// and paper of the report, and the preview of that report below.
//
// At most one exists. It is shown modally and freed when it closes ("結束");
// every setting lives in its controls and goes with it. The report itself is
// kept by a report window (TfrmReport) that this window makes on the first
// preview or print and frees after a print and when it closes.
class TfrmPrint : public QDialog {
    Q_OBJECT
public:
    // The columns of the field grid `SGridField`.
    enum FieldColumn {
        ColNumber = 0,  // the fixed column: 1, 2, ... (the grid's row headers)
        ColPrint = 1,   // "印": "1" prints the field
        ColField = 2,   // "欄位": the field name
        ColCaption = 3, // "列印名稱": the column header text
        ColWidth = 4,   // "長度": the column width, digits only
        ColBlank = 5,   // "空": a check box the report does not read
        ColAlign = 6,   // "對齊": stays empty
        ColumnCount = 7
    };

    explicit TfrmPrint(QWidget* parent = nullptr);
    ~TfrmPrint() override;

    // The window while it exists, else null.
    static TfrmPrint* instance();

    // --- What the query window hands over -------------------------------------
    // Neither is owned. The dataset belongs to `keeper` (its query window)
    // and reads as null from the moment the keeper starts going.
    void setSource(db::ClientDataSet* dataSet, QPlainTextEdit* sqlMemo, QObject* keeper);
    db::ClientDataSet* SourceDataSet() const;
    QPlainTextEdit* SourceSQLMemo() const;

    // --- The field grid in its own numbering -------------------------------------
    // Row 0 holds the captions, row r the field r - 1; column 0 the row
    // numbers. Every cell holds text; a check-box cell is checked when its
    // text is exactly "1".
    int gridRowCount() const;
    QString cell(int column, int row) const;
    void setCell(int column, int row, const QString& text);
    static bool isChecked(const QString& cellText) { return cellText == QLatin1String("1"); }
    static bool isCheckBoxColumn(int column) { return column == ColPrint || column == ColBlank; }
    static bool isEditColumn(int column) { return column == ColCaption || column == ColWidth; }

    // --- Settings the report reads --------------------------------------------------
    // "筆數:": 0 means every record.
    int recordLimit() const;
    bool printTitle() const;
    QString title() const;
    QFont titleFont() const;   // shown by "中文Font" of "標題"
    QFont detailFont() const;  // shown by "字形123" of "資料"
    QFont sqlFont() const;     // shown by "中文Font" of "SQL語法"
    // Paper length (height) and width in millimetres, as entered.
    int paperLength() const;
    int paperWidth() const;
    bool portrait() const;

    // The print flag: the preview button's tag, 1 only while "列印" builds
    // the report.
    int printFlag() const;

    // --- Handlers -------------------------------------------------------------------------
    void SbtnCheckAllClick();
    void SbtnDisCheckAllClick();
    void ChkTitleClick();
    void SpeedButton5Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton4Click();
    // The preview toolbar. "預覽" builds the report (and prints it when the
    // print flag is set); an error it meets propagates to the caller (the
    // button's click shows it through the general error handler).
    void SBtnPreViewClick();
    void SBtnPrintClick();
    void SBtnZoomInClick();
    void SBtnZoomOutClick();
    void SBtnZoomClick();
    void SBtnPriorPageClick();
    void SBtnNextPageClick();
    void QRPreview1PageAvailable(int pageCount);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void setUpGrid();
    void resetGrid();
    void connectHandlers();
    void placeOnScreen();
    // Ends the report before the window goes, whichever way it goes: closes a
    // preview that is shown and frees the report window.
    void endReport();
    void closePreview();
    void commitGridEdit();
    // The ticked rows of the grid as printed columns; throws ReportError for
    // a width that is no integer or past the bound.
    std::vector<ListingColumn> listingColumns() const;
    ListingSettings listingSettings() const;
    void printListing();
    void showPageLabel();

    // The grid's check boxes and editing rules. `pressed` is the data cell
    // under the mouse, invalid on a caption, a row number or blank space.
    void SGridFieldMouseDown(Qt::MouseButton button, const QModelIndex& pressed);
    // True when the key was dealt with here and goes no further.
    bool SGridFieldKeyDown(const QKeyEvent& event);
    void toggleCell(int column, int row);
    void openEditor(const QModelIndex& index);

    std::unique_ptr<Ui::TfrmPrint> ui;
    FieldGridDelegate* gridDelegate_ = nullptr;
    db::ClientDataSet* sourceDataSet_ = nullptr;
    QPointer<QObject> sourceKeeper_;
    QPointer<QPlainTextEdit> sourceSQLMemo_;
    // Not a child: a print in progress keeps it while this window may go.
    QPointer<TfrmReport> report_;
    bool placed_ = false;
};

// What the query window's print button does with a result that has records:
// makes the print window when there is none, hands it the result and the SQL
// editor, shows it modally and frees it when it closes, so every request gets
// a fresh window. A print window already up is only brought forward.
void showPrintWindow(db::ClientDataSet& dataSet, QPlainTextEdit& sqlMemo, QWidget& keeper);

}  // namespace tarnwell
