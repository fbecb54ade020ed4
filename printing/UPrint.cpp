#include "printing/UPrint.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QRegularExpressionValidator>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QStyledItemDelegate>

#include "dataaccess/ClientDataSet.h"
#include "printing/ReportPreview.h"
#include "printing/UReport.h"
#include "report/ReportListing.h"
#include "ui/Controls.h"
#include "ui/ErrorReport.h"
#include "ui/FormFont.h"
#include "ui/ProgressFeedback.h"
#include "ui/Prompt.h"
#include "ui/WindowStyle.h"
#include "ui_UPrint.h"

namespace tarnwell {

namespace {

constexpr QSize kWindowSize(621, 445);
constexpr int kRowHeight = 18;
constexpr int kRecordCountAtStart = 50;
// Widths of the grid's columns 0 to 6, the fixed one first.
constexpr int kColumnWidths[TfrmPrint::ColumnCount] = {25, 18, 160, 160, 30, 18, 30};
const char* const kCaptions[TfrmPrint::ColumnCount] = {"", "印", "欄位", "列印名稱", "長度", "空", "對齊"};
// The print flag's place: the preview button's tag.
const char* const kTag = "tag";
constexpr int kZoomStep = 20;
constexpr int kZoomInBelow = 500;
constexpr int kZoomOutAbove = 20;

QPointer<TfrmPrint>& printWindowReference() {
    static QPointer<TfrmPrint> reference;
    return reference;
}

// The grid's columns 1 to 6 are the table's columns 0 to 5; its column 0 is
// the table's row headers and its row 0 the column headers, which stay in
// place when the table scrolls, as fixed cells do.
int tableColumn(int gridColumn) { return gridColumn - 1; }
int gridColumn(const QModelIndex& index) { return index.column() + 1; }

// A character typed, Backspace included, rather than a key that moves or a
// shortcut (copy, paste, select all).
bool isTyped(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    const QString text = event.text();
    return event.key() == Qt::Key_Backspace || (!text.isEmpty() && text.at(0).isPrint());
}

bool isDigit(const QKeyEvent& event) {
    const QString text = event.text();
    return text.size() == 1 && text.at(0) >= QLatin1Char('0') && text.at(0) <= QLatin1Char('9');
}

// Only digits are typed into "長度"; Backspace goes with the rest. Delete and
// cutting still empty the cell, and the validator keeps pasted text out.
class DigitKeysOnly : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto& key = static_cast<const QKeyEvent&>(*event);
            if (isTyped(key) && !isDigit(key)) {
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// The records of the print window's source dataset, read by position: the
// report never moves the query window's current record (nor its grid), so the
// result is on the record it was on whenever the report ends, however it
// ends. A dataset that goes away, or is closed or run again, has no more
// records.
class DataSetRecords final : public ListingRecords {
public:
    explicit DataSetRecords(const TfrmPrint& window) : window_(&window) {}

    void first() override {
        row_ = 0;
        db::ClientDataSet* dataSet = source();
        run_ = dataSet != nullptr && dataSet->active() ? dataSet->bookmark() : db::Bookmark{};
    }

    bool atEnd() override {
        db::ClientDataSet* dataSet = source();
        if (dataSet == nullptr || !dataSet->active() || !dataSet->bookmarkValid(run_)) {
            return true;
        }
        while (row_ >= dataSet->recordCount()) {
            if (dataSet->allFetched() || dataSet->fetchMore() == 0) {
                return row_ >= dataSet->recordCount();
            }
        }
        return false;
    }

    QString value(int field) override {
        const db::ClientDataSet* dataSet = source();
        if (dataSet == nullptr || field < 0 || static_cast<std::size_t>(field) >= dataSet->fieldCount() ||
            row_ >= dataSet->recordCount()) {
            return {};
        }
        return dataSet->text(row_, static_cast<std::size_t>(field));
    }

    void next() override { ++row_; }

private:
    db::ClientDataSet* source() const { return window_ ? window_->SourceDataSet() : nullptr; }

    QPointer<const TfrmPrint> window_;
    db::Bookmark run_;
    std::size_t row_ = 0;
};

}  // namespace

// Paints the cells of "印" and "空" as check boxes over the whole cell, so
// their text is never seen, and makes the editors of "列印名稱" and "長度".
class FieldGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The editor open now and the cell it edits, if any.
    QWidget* editor() const { return editor_.data(); }
    bool isEditing(const QModelIndex& index) const { return editor_ && editorIndex_ == index; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (!TfrmPrint::isCheckBoxColumn(gridColumn(index))) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        painter->fillRect(option.rect, option.palette.base());
        QStyleOptionButton box;
        box.rect = option.rect;
        box.palette = option.palette;
        box.state = QStyle::State_Enabled |
                    (TfrmPrint::isChecked(index.data().toString()) ? QStyle::State_On : QStyle::State_Off);
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
        // The box covers the cell's highlight; a frame in its colour still
        // shows which box the space bar toggles.
        if (option.state.testFlag(QStyle::State_Selected)) {
            painter->save();
            painter->setPen(option.palette.color(QPalette::Highlight));
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
            painter->restore();
        }
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* created = QStyledItemDelegate::createEditor(parent, option, index);
        auto* line = qobject_cast<QLineEdit*>(created);
        if (line != nullptr && gridColumn(index) == TfrmPrint::ColWidth) {
            line->setValidator(
                new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), line));
            line->installEventFilter(new DigitKeysOnly(line));
        }
        editor_ = created;
        editorIndex_ = index;
        return created;
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        if (editor_ == editor) {
            editor_ = nullptr;
            editorIndex_ = QPersistentModelIndex();
        }
        QStyledItemDelegate::destroyEditor(editor, index);
    }

private:
    mutable QPointer<QWidget> editor_;
    mutable QPersistentModelIndex editorIndex_;
};

TfrmPrint::TfrmPrint(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmPrint>()) {
    ui->setupUi(this);
    // No system menu, so no close, minimise or maximise button: "結束" is the
    // way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFormFont(*this, pixelFont("細明體", 13));
    resize(kWindowSize);

    ui->SedtRecordCount->setUnbounded();
    ui->SedtRecordCount->setValue(kRecordCountAtStart);
    setUpGrid();
    connectHandlers();
    printWindowReference() = this;
}

TfrmPrint::~TfrmPrint() {
    endReport();
    if (printWindowReference() == this) {
        printWindowReference() = nullptr;
    }
}

TfrmPrint* TfrmPrint::instance() { return printWindowReference().data(); }

void TfrmPrint::setUpGrid() {
    QTableWidget& grid = *ui->SGridField;
    grid.setColumnCount(ColumnCount - 1);
    gridDelegate_ = new FieldGridDelegate(&grid);
    grid.setItemDelegate(gridDelegate_);

    QHeaderView& captions = *grid.horizontalHeader();
    captions.setSectionResizeMode(QHeaderView::Fixed);
    captions.setMinimumSectionSize(1);
    captions.setFixedHeight(kRowHeight);
    captions.setSectionsClickable(false);
    captions.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QHeaderView& numbers = *grid.verticalHeader();
    numbers.setSectionResizeMode(QHeaderView::Fixed);
    numbers.setMinimumSectionSize(1);
    numbers.setDefaultSectionSize(kRowHeight);
    numbers.setFixedWidth(kColumnWidths[ColNumber]);
    numbers.setSectionsClickable(false);
    numbers.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = ColPrint; column < ColumnCount; ++column) {
        grid.setColumnWidth(tableColumn(column), kColumnWidths[column]);
    }

    // Presses on cells, captions and row numbers, and the grid's keys, follow
    // the rules below rather than the table's own selection and editing.
    grid.installEventFilter(this);
    grid.viewport()->installEventFilter(this);
    captions.viewport()->installEventFilter(this);
    numbers.viewport()->installEventFilter(this);
    resetGrid();
}

void TfrmPrint::resetGrid() {
    QTableWidget& grid = *ui->SGridField;
    grid.clearContents();
    grid.setRowCount(0);
    grid.setRowCount(1);
    for (int column = ColPrint; column < ColumnCount; ++column) {
        grid.setHorizontalHeaderItem(tableColumn(column), new QTableWidgetItem(QString::fromUtf8(kCaptions[column])));
    }
    for (int column = ColNumber; column < ColumnCount; ++column) {
        setCell(column, 1, QString());
    }
}

void TfrmPrint::connectHandlers() {
    connect(ui->SbtnCheckAll, &QToolButton::clicked, this, &TfrmPrint::SbtnCheckAllClick);
    connect(ui->SbtnDisCheckAll, &QToolButton::clicked, this, &TfrmPrint::SbtnDisCheckAllClick);
    connect(ui->ChkTitle, &QCheckBox::clicked, this, &TfrmPrint::ChkTitleClick);
    connect(ui->SpeedButton5, &QToolButton::clicked, this, &TfrmPrint::SpeedButton5Click);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TfrmPrint::SpeedButton1Click);
    connect(ui->SpeedButton2, &QToolButton::clicked, this, &TfrmPrint::SpeedButton2Click);
    connect(ui->SpeedButton4, &QToolButton::clicked, this, &TfrmPrint::SpeedButton4Click);
    connect(ui->SBtnPreView, &QToolButton::clicked, this, [this] { reportingErrors([this] { SBtnPreViewClick(); }); });
    connect(ui->SBtnPrint, &QToolButton::clicked, this, [this] { reportingErrors([this] { SBtnPrintClick(); }); });
    connect(ui->SBtnZoomIn, &QToolButton::clicked, this, &TfrmPrint::SBtnZoomInClick);
    connect(ui->SBtnZoomOut, &QToolButton::clicked, this, &TfrmPrint::SBtnZoomOutClick);
    connect(ui->SBtnZoom, &QToolButton::clicked, this, &TfrmPrint::SBtnZoomClick);
    connect(ui->SBtnPriorPage, &QToolButton::clicked, this, &TfrmPrint::SBtnPriorPageClick);
    connect(ui->SBtnNextPage, &QToolButton::clicked, this, &TfrmPrint::SBtnNextPageClick);
    connect(ui->QRPreview1, &ReportPreview::pageReady, this, &TfrmPrint::QRPreview1PageAvailable);
}

// --- The source ------------------------------------------------------------------------

void TfrmPrint::setSource(db::ClientDataSet* dataSet, QPlainTextEdit* sqlMemo, QObject* keeper) {
    if (sourceKeeper_) {
        disconnect(sourceKeeper_, &QObject::destroyed, this, nullptr);
    }
    sourceDataSet_ = dataSet;
    sourceKeeper_ = keeper;
    sourceSQLMemo_ = sqlMemo;
    if (keeper != nullptr) {
        // A widget announces its going before its children go, and this
        // window may be one of them.
        connect(keeper, &QObject::destroyed, this, [this] {
            sourceDataSet_ = nullptr;
            sourceKeeper_ = nullptr;
        });
    }
}

db::ClientDataSet* TfrmPrint::SourceDataSet() const { return sourceKeeper_ ? sourceDataSet_ : nullptr; }

QPlainTextEdit* TfrmPrint::SourceSQLMemo() const { return sourceSQLMemo_.data(); }

// --- Showing and closing -------------------------------------------------------------------

void TfrmPrint::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    if (!placed_) {
        placed_ = true;
        placeOnScreen();
    }
    FormShow();
}

void TfrmPrint::placeOnScreen() {
    setWindowSize(*this, kWindowSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TfrmPrint::FormShow() {
    resetGrid();
    if (const db::ClientDataSet* dataSet = SourceDataSet()) {
        QTableWidget& grid = *ui->SGridField;
        const std::vector<db::Field>& fields = dataSet->fields();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (!cell(ColNumber, gridRowCount() - 1).trimmed().isEmpty()) {
                grid.setRowCount(grid.rowCount() + 1);
                for (int column = ColNumber; column < ColumnCount; ++column) {
                    setCell(column, gridRowCount() - 1, QString());
                }
            }
            const int row = gridRowCount() - 1;
            const QString name = QString::fromStdString(fields[i].fieldName);
            setCell(ColNumber, row, QString::number(i + 1));
            setCell(ColPrint, row, QStringLiteral("0"));
            setCell(ColField, row, name);
            setCell(ColCaption, row, name);
            setCell(ColWidth, row, QString::number(fields[i].displayWidth));
        }
    }
    ui->SGridField->setCurrentCell(0, tableColumn(ColPrint));
    ui->LabPage->clear();
    const QLocale locale = QLocale::system();
    ui->EdtTitle->setText(locale.toString(QDate::currentDate(), locale.dateFormat(QLocale::ShortFormat)));
}

void TfrmPrint::endReport() {
    closePreview();
    delete report_.data();
}

void TfrmPrint::closePreview() {
    if (report_) {
        report_->QuickRep1().closePreview();
    }
    ui->QRPreview1->detach();
}

void TfrmPrint::SpeedButton4Click() { close(); }

void TfrmPrint::closeEvent(QCloseEvent* event) {
    endReport();
    QDialog::closeEvent(event);
}

void TfrmPrint::keyPressEvent(QKeyEvent* event) {
    // Escape would reject the dialog and lose every setting without "結束".
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// --- The field grid ----------------------------------------------------------------------------

int TfrmPrint::gridRowCount() const { return ui->SGridField->rowCount() + 1; }

QString TfrmPrint::cell(int column, int row) const {
    const QTableWidget& grid = *ui->SGridField;
    const QTableWidgetItem* item = nullptr;
    if (row == 0) {
        item = column > ColNumber ? grid.horizontalHeaderItem(tableColumn(column)) : nullptr;
    } else if (column == ColNumber) {
        item = grid.verticalHeaderItem(row - 1);
    } else {
        item = grid.item(row - 1, tableColumn(column));
    }
    return item != nullptr ? item->text() : QString();
}

void TfrmPrint::setCell(int column, int row, const QString& text) {
    QTableWidget& grid = *ui->SGridField;
    if (row < 0 || row >= gridRowCount() || column < 0 || column >= ColumnCount) {
        return;
    }
    if (row == 0) {
        if (column > ColNumber) {
            grid.setHorizontalHeaderItem(tableColumn(column), new QTableWidgetItem(text));
        }
        return;
    }
    if (column == ColNumber) {
        grid.setVerticalHeaderItem(row - 1, new QTableWidgetItem(text));
        return;
    }
    if (QTableWidgetItem* item = grid.item(row - 1, tableColumn(column))) {
        item->setText(text);
        return;
    }
    auto* item = new QTableWidgetItem(text);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (isEditColumn(column)) {
        flags |= Qt::ItemIsEditable;
    }
    item->setFlags(flags);
    grid.setItem(row - 1, tableColumn(column), item);
}

void TfrmPrint::toggleCell(int column, int row) {
    setCell(column, row, isChecked(cell(column, row)) ? QStringLiteral("0") : QStringLiteral("1"));
}

void TfrmPrint::openEditor(const QModelIndex& index) {
    if (gridDelegate_->isEditing(index)) {
        gridDelegate_->editor()->setFocus();
        return;
    }
    ui->SGridField->edit(index);
}

bool TfrmPrint::eventFilter(QObject* watched, QEvent* event) {
    QTableWidget& grid = *ui->SGridField;
    const bool onCells = watched == grid.viewport();
    const bool onFixedCells =
        watched == grid.horizontalHeader()->viewport() || watched == grid.verticalHeader()->viewport();
    if (onCells || onFixedCells) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            // A double click arrives as a press, a release and a double click:
            // two presses, which leave a box as it was.
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            SGridFieldMouseDown(mouse.button(),
                                onCells ? grid.indexAt(mouse.position().toPoint()) : QModelIndex());
            return true;
        }
        // Editing opens only where a press or a key asks for it, so a release
        // has nothing to switch off; dragging selects nothing.
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            return true;
        default:
            break;
        }
    } else if (watched == &grid && event->type() == QEvent::KeyPress) {
        if (SGridFieldKeyDown(static_cast<const QKeyEvent&>(*event))) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmPrint::SGridFieldMouseDown(Qt::MouseButton button, const QModelIndex& pressed) {
    QTableWidget& grid = *ui->SGridField;
    const QWidget* focused = QApplication::focusWidget();
    if (focused != &grid && !grid.isAncestorOf(focused)) {
        grid.setFocus(Qt::MouseFocusReason);
    }
    if (button == Qt::LeftButton && pressed.isValid()) {
        grid.setCurrentIndex(pressed);
    }
    const QModelIndex current = grid.currentIndex();
    if (!current.isValid()) {
        return;
    }
    const int column = gridColumn(current);
    if (isCheckBoxColumn(column)) {
        toggleCell(column, current.row() + 1);
    } else if (isEditColumn(column)) {
        openEditor(current);
    }
}

bool TfrmPrint::SGridFieldKeyDown(const QKeyEvent& event) {
    QTableWidget& grid = *ui->SGridField;
    const QModelIndex current = grid.currentIndex();
    const int column = current.isValid() ? gridColumn(current) : ColNumber;
    if (isCheckBoxColumn(column) && event.key() == Qt::Key_Space) {
        toggleCell(column, current.row() + 1);
        return true;
    }
    if (isEditColumn(column) &&
        (isTyped(event) || event.key() == Qt::Key_F2 || event.key() == Qt::Key_Return ||
         event.key() == Qt::Key_Enter)) {
        openEditor(current);
        // The key that opened the editor is its first key, as typing into a
        // cell replaces what it held.
        if (QWidget* editor = gridDelegate_->editor(); editor != nullptr && isTyped(event)) {
            QKeyEvent typed(event.type(), event.key(), event.modifiers(), event.text(), event.isAutoRepeat(),
                            event.count());
            QCoreApplication::sendEvent(editor, &typed);
        }
        return true;
    }
    // Elsewhere typing changes nothing, and moves nowhere either.
    return isTyped(event);
}

// --- Buttons ------------------------------------------------------------------------------------

void TfrmPrint::SbtnCheckAllClick() {
    for (int row = 1; row < gridRowCount(); ++row) {
        setCell(ColPrint, row, QStringLiteral("1"));
    }
}

void TfrmPrint::SbtnDisCheckAllClick() {
    for (int row = 1; row < gridRowCount(); ++row) {
        setCell(ColPrint, row, QStringLiteral("0"));
    }
}

void TfrmPrint::ChkTitleClick() {
    const bool on = ui->ChkTitle->isChecked();
    ui->EdtTitle->setEnabled(on);
    ui->SpeedButton1->setEnabled(on);
}

void TfrmPrint::SpeedButton5Click() {
    if (const std::optional<QFont> font = prompt().chooseFont(ui->EdtDetail->font())) {
        ui->EdtDetail->setFont(*font);
    }
}

void TfrmPrint::SpeedButton1Click() {
    if (const std::optional<QFont> font = prompt().chooseFont(ui->EdtTitle->font())) {
        ui->LabTitleFont->setFont(*font);
    }
}

void TfrmPrint::SpeedButton2Click() {
    if (const std::optional<QFont> font = prompt().chooseFont(ui->EdtTitle->font())) {
        ui->LabSQLFont->setFont(*font);
    }
}

// --- The report ------------------------------------------------------------------------------------------

int TfrmPrint::printFlag() const { return ui->SBtnPreView->property(kTag).toInt(); }

std::vector<ListingColumn> TfrmPrint::listingColumns() const {
    std::vector<ListingColumn> columns;
    for (int row = 1; row < gridRowCount(); ++row) {
        if (isChecked(cell(ColPrint, row))) {
            columns.push_back({cell(ColCaption, row), listingColumnWidth(cell(ColWidth, row), cell(ColField, row)),
                               row - 1});
        }
    }
    return columns;
}

ListingSettings TfrmPrint::listingSettings() const {
    ListingSettings settings;
    settings.paperLengthMm = paperLength();
    settings.paperWidthMm = paperWidth();
    settings.portrait = portrait();
    settings.printTitle = printTitle();
    settings.title = title();
    settings.titleFont = titleFont();
    settings.detailFont = detailFont();
    settings.printSql = ui->ChkSQL->isChecked();
    settings.sql = SourceSQLMemo() != nullptr ? SourceSQLMemo()->toPlainText() : QString();
    settings.sqlFont = sqlFont();
    return settings;
}

void TfrmPrint::commitGridEdit() {
    // The toolbar's buttons take no focus, so a cell being typed into still
    // holds its old text until the editor's text is handed to it.
    if (QWidget* editor = gridDelegate_->editor()) {
        emit gridDelegate_->commitData(editor);
    }
}

void TfrmPrint::SBtnPreViewClick() {
    closePreview();
    commitGridEdit();
    if (!report_) {
        report_ = new TfrmReport();
        report_->setPreviewArea(ui->QRPreview1);
        connect(&report_->QuickRep1(), &ReportEngine::productionFailed, this,
                [](const QString& message) { reportUnhandledError(ReportError(message)); });
    }
    report_->setUp(listingSettings(), std::make_unique<DataSetRecords>(*this), listingColumns(), recordLimit());
    if (printFlag() == 1) {
        printListing();
    } else {
        report_->QuickRep1().preview();
    }
}

void TfrmPrint::printListing() {
    // The print frees the report window whatever happens, and holds it until
    // the print returns, even when this window goes meanwhile (the program
    // ending while the pages print): nothing here is touched after that.
    const std::unique_ptr<TfrmReport> report(report_.data());
    report_ = nullptr;
    const ReportDefinition& definition = report->QuickRep1().definition();
    const QString documentName =
        definition.documentTitle.isEmpty() ? QCoreApplication::applicationName() : definition.documentTitle;
    const std::unique_ptr<QPrinter> printer = prompt().choosePrinter(definition.page.pageLayout(), documentName);
    if (!printer) {
        return;
    }
    ProgressFeedback feedback(this, QStringLiteral("列印中: 第 %1 頁"));
    // A file is written whole or not at all: a printer writing a PDF file
    // would leave half of one behind when stopped.
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
        report->QuickRep1().writePdf(printer->outputFileName(), feedback);
    } else {
        report->QuickRep1().print(*printer, feedback);
    }
}

void TfrmPrint::SBtnPrintClick() {
    QPointer<QAbstractButton> flag = ui->SBtnPreView;
    flag->setProperty(kTag, 1);
    const auto lower = qScopeGuard([flag] {
        if (flag) {
            flag->setProperty(kTag, 0);
        }
    });
    SBtnPreViewClick();
}

void TfrmPrint::SBtnZoomInClick() {
    if (ui->QRPreview1->zoom() < kZoomInBelow) {
        ui->QRPreview1->setZoom(ui->QRPreview1->zoom() + kZoomStep);
    }
}

void TfrmPrint::SBtnZoomOutClick() {
    if (ui->QRPreview1->zoom() > kZoomOutAbove) {
        ui->QRPreview1->setZoom(ui->QRPreview1->zoom() - kZoomStep);
    }
}

void TfrmPrint::SBtnZoomClick() { ui->QRPreview1->setZoom(100); }

void TfrmPrint::SBtnPriorPageClick() {
    if (ui->QRPreview1->document()) {
        ui->QRPreview1->setCurrentPage(ui->QRPreview1->currentPage() - 1);
        showPageLabel();
    }
}

void TfrmPrint::SBtnNextPageClick() {
    if (ui->QRPreview1->document()) {
        ui->QRPreview1->setCurrentPage(ui->QRPreview1->currentPage() + 1);
        showPageLabel();
    }
}

void TfrmPrint::QRPreview1PageAvailable(int) { showPageLabel(); }

void TfrmPrint::showPageLabel() {
    ui->LabPage->setText(QStringLiteral("頁數: %1/%2").arg(ui->QRPreview1->currentPage()).arg(ui->QRPreview1->pageCount()));
}

// --- Settings and controls -------------------------------------------------------------------------

int TfrmPrint::recordLimit() const { return ui->SedtRecordCount->Value(); }
bool TfrmPrint::printTitle() const { return ui->ChkTitle->isChecked(); }
QString TfrmPrint::title() const { return ui->EdtTitle->text(); }
QFont TfrmPrint::titleFont() const { return ui->LabTitleFont->font(); }
QFont TfrmPrint::detailFont() const { return ui->EdtDetail->font(); }
QFont TfrmPrint::sqlFont() const { return ui->LabSQLFont->font(); }
int TfrmPrint::paperLength() const { return ui->SEdtPLength->Value(); }
int TfrmPrint::paperWidth() const { return ui->SEdtPWidth->Value(); }
bool TfrmPrint::portrait() const { return ui->RbP1->isChecked(); }


// --- The print button ------------------------------------------------------------------------------------

void showPrintWindow(db::ClientDataSet& dataSet, QPlainTextEdit& sqlMemo, QWidget& keeper) {
    if (TfrmPrint* shown = TfrmPrint::instance(); shown != nullptr && shown->isVisible()) {
        shown->raise();
        shown->activateWindow();
        return;
    }
    QPointer<TfrmPrint> window = TfrmPrint::instance();
    if (!window) {
        window = new TfrmPrint(&keeper);
    }
    window->setSource(&dataSet, &sqlMemo, &keeper);
    window->exec();
    delete window.data();
}

}  // namespace tarnwell
