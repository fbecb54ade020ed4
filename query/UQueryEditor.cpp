#include "query/UQueryEditor.h"

#include <QAction>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScopeGuard>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/DbError.h"
#include "dataaccess/FieldKind.h"
#include "printing/UPrint.h"
#include "query/CatalogTableList.h"
#include "query/MemoText.h"
#include "query/QueryEngine.h"
#include "query/QueryWidgets.h"
#include "query/ResultFetch.h"
#include "query/ResultGrid.h"
#include "query/ResultGridModel.h"
#include "query/SpreadsheetExport.h"
#include "query/SqlEditor.h"
#include "query/SqlFile.h"
#include "query/SqlFileBrowser.h"
#include "query/SqlStringForm.h"
#include "query/UQueryThread.h"
#include "query/UReplaceString.h"
#include "session/ConnectionCatalogs.h"
#include "session/QueryWindowLists.h"
#include "session/RunMessages.h"
#include "session/Workspace.h"
#include "sqlsyntax/StatementSplitter.h"
#include "ui/Controls.h"
#include "ui/ErrorReport.h"
#include "ui/ProgressFeedback.h"
#include "ui/Prompt.h"
#include "ui/SqlCompleter.h"
#include "ui_UQueryEditor.h"

namespace tarnwell {

namespace {

const QLatin1String kKindBde("BDE");
const QLatin1String kKindAdo("ADO");
const QString kWindowFont = QStringLiteral("細明體");
constexpr int kWindowFontPixels = 13;
constexpr int kPage1Height = 137;
constexpr int kSideListWidth = 219;

// Blanks and control characters (codes up to 32) off both ends.
QString trimmedBlank(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 32) {
        ++first;
    }
    while (last > first && text.at(last - 1).unicode() <= 32) {
        --last;
    }
    return text.mid(first, last - first);
}

QFont windowFont() {
    QFont font(kWindowFont);
    font.setPixelSize(kWindowFontPixels);
    return font;
}

void makeFlat(QFrame& frame) {
    frame.setFrameShape(QFrame::Box);
    frame.setFrameShadow(QFrame::Plain);
    frame.setLineWidth(1);
}

void setTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

QString errorText(const std::exception& error) { return QString::fromUtf8(error.what()); }

// The save dialog of an export: "*.CSV" or "*.TXT" shown and matched, the
// extension added to a name typed without one, `previousFile` offered again.
Prompt::FileRequest exportFileRequest(const QString& extension, const QString& previousFile) {
    Prompt::FileRequest request;
    offerPreviousFile(request, previousFile, true);
    request.filter = QStringLiteral("*.%1 (*.%1 *.%2)").arg(extension, extension.toLower());
    request.defaultSuffix = extension;
    return request;
}

// How often the grid catches up with an export's walk.
constexpr int kGridFollowsEveryMs = 100;

// Shows or hides the list at `index` of a splitter beside the memo, at its
// first width when it comes.
void showBesideMemo(QSplitter& splitter, int index, bool show) {
    splitter.widget(index)->setVisible(show);
    splitter.handle(index)->setVisible(show);
    if (show) {
        QList<int> sizes = splitter.sizes();
        sizes[index] = kSideListWidth;
        sizes[0] = std::max(0, splitter.width() - kSideListWidth - splitter.handleWidth());
        splitter.setSizes(sizes);
    }
}

}  // namespace

int& QueryEditorCount() {
    static int count = 0;
    return count;
}

TfrmQueryEditor::TfrmQueryEditor(Workspace& workspace, QMdiArea& home,
                                 SaveDataSetAsTextFunction saveDataSetAsText)
    : QWidget(home.window(), Qt::Window),
      ui(std::make_unique<Ui::TfrmQueryEditor>()),
      workspace_(workspace),
      home_(home),
      saveDataSetAsText_(saveDataSetAsText) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    // FormCreate
    const int number = ++QueryEditorCount();
    setObjectName(QStringLiteral("frmQueryEditor_%1").arg(number));
    engine_ = std::make_shared<QueryWindowEngine>(workspace_.Session1(),
                                                  "BDE_SQL_" + std::to_string(number));
    ui->MemSQL->clear();
    sqlHistory_.clear();

    setUpControls();
    setUpPictures();
    connectHandlers();
    setUpKeys();
    setUpCatalogViews();
}

TfrmQueryEditor::~TfrmQueryEditor() {
    // Nothing of the run or the engine may call back into the window from
    // here on, and the grid, as it lets go of its model, must not fetch for
    // it.
    if (queryThread_) {
        queryThread_->abandon();
    }
    if (adoRun_) {
        adoRun_->abandon();
    }
    fetcher_->abandonWithWindow();
    gridModel_->setFetchingHeld(true);
    ui->DBGrid->setModel(nullptr);
    gridModel_->detach();
    engine_->CDS1.setAfterScroll({});
    engine_->BDE_DB.setAfterConnect({});
    engine_->BDE_DB.setAfterDisconnect({});
    engine_.reset();
}

// --- Creation and layout -----------------------------------------------------

void TfrmQueryEditor::setUpControls() {
    setFont(windowFont());
    ui->CbxLinkType->setCurrentIndex(-1);
    ui->CbxConnectAlias->clear();

    QFont versionFont(QStringLiteral("Arial"));
    versionFont.setPixelSize(9);
    for (QLabel* label : {ui->LabVersion, ui->LabVersionNo}) {
        label->setFont(versionFont);
        setTextColour(*label, QColor(0, 0, 0x80));  // navy
    }
    for (QLabel* label : {ui->Label2, ui->Label3, ui->Label4, ui->Label5}) {
        setTextColour(*label, QColor(0x80, 0, 0));  // maroon
    }

    ui->Splitter1->setStretchFactor(0, 0);
    ui->Splitter1->setStretchFactor(1, 1);
    ui->Splitter1->setSizes({kPage1Height, 400 - kPage1Height});
    ui->SplitterSQL->setStretchFactor(0, 1);
    ui->SplitterSQL->setStretchFactor(1, 0);
    ui->SplitterSQL->handle(1)->setObjectName(QStringLiteral("Splitter3"));
    ui->FileListBox2->setVisible(false);

    ui->SBar->setPanelWidths({200, 200, 100});

    gridModel_ = new ResultGridModel(engine_->CDS1, this);
    fetcher_ = new ResultFetcher(engine_->CDS1, ui->SEdt_PacketRecords->Value(), this);
    gridModel_->setFetchRequest([this] { fetcher_->fetchPacket(); });
    ui->DBGrid->setModel(gridModel_);
    ui->DBGrid->horizontalHeader()->setFont(windowFont());
    ui->DBGrid->verticalHeader()->setDefaultSectionSize(ui->DBGrid->fontMetrics().height() + 4);
    ui->DBGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->DBGrid->verticalHeader()->setMinimumWidth(12);
    ui->DBGrid->setEnabled(false);

    QTreeWidget* fields = ui->LSVFieldList;
    fields->setColumnWidth(0, 30);
    fields->setColumnWidth(1, 260);
    fields->setColumnWidth(2, 100);
    fields->setColumnWidth(3, 130);
    // Report style with grid lines.
    fields->setItemDelegate(new GridLinesDelegate(fields));

    ui->Page1->setCurrentWidget(ui->TabSQL);
    ui->Page2->setCurrentWidget(ui->TabData);

    auto* styles = new QButtonGroup(this);
    styles->setObjectName(QStringLiteral("WindowStyleButtons"));
    styles->setExclusive(true);
    styles->addButton(ui->ToolButton6);
    styles->addButton(ui->ToolButton7);
    styles->addButton(ui->ToolButton8);

    connectSqlFileBrowser(*ui->DriveComboBox1, *ui->DirectoryListBox1, *ui->FileListBox1);
    ui->FileListBox2->setDirectory(ui->DirectoryListBox1->directory());

    engine_->CDS1.setPacketRecords(ui->SEdt_PacketRecords->Value());
}

void TfrmQueryEditor::setUpPictures() {
    const QList<QAbstractButton*> buttons = findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        const QString path = QStringLiteral(":/images/query/%1.svg").arg(button->objectName());
        if (QFile::exists(path)) {
            button->setIcon(QIcon(path));
        }
    }
}

void TfrmQueryEditor::connectHandlers() {
    // Windows listen in the order they were made: the lists refill in
    // creation order.
    connect(&workspace_.registry(), &ConnectionRegistry::changed, this, &TfrmQueryEditor::refillConnectAlias);

    // activated: only a user's pick; a choice made by program runs nothing.
    connect(ui->CbxLinkType, &QComboBox::activated, this, &TfrmQueryEditor::CbxLinkTypeChange);
    connect(ui->CbxConnectAlias, &QComboBox::activated, this, &TfrmQueryEditor::CbxConnectAliasChange);

    connect(ui->SBtnQuery, &QToolButton::clicked, this, &TfrmQueryEditor::SBtnQueryClick);
    connect(ui->MemSQL, &QPlainTextEdit::textChanged, this, &TfrmQueryEditor::MemSQLChange);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton1Click);
    connect(ui->SBtnSQLPrior, &QToolButton::clicked, this, &TfrmQueryEditor::SBtnSQLPriorClick);
    connect(ui->SBtnSQLNext, &QToolButton::clicked, this, &TfrmQueryEditor::SBtnSQLNextClick);

    connect(ui->ToolButton6, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton6Click);
    connect(ui->ToolButton7, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton7Click);
    connect(ui->ToolButton8, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton8Click);
    connect(ui->ToolButton5, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton5Click);
    connect(ui->ToolButton10, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton10Click);
    connect(ui->ToolButton12, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton12Click);
    connect(ui->SpeedButton7, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton7Click);
    connect(ui->ToolButton3, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton3Click);

    connect(ui->ToolButton13, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton13Click);
    connect(ui->ToolButton14, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton14Click);
    connect(ui->ToolButton15, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton15Click);
    connect(ui->ToolButton16, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton16Click);
    connect(ui->ToolButton17, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton17Click);
    connect(ui->ToolButton19, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton19Click);
    connect(ui->ToolButton2, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton2Click);
    connect(ui->ToolButton4, &QToolButton::clicked, this, &TfrmQueryEditor::ToolButton4Click);
    ui->FileListBox1->viewport()->installEventFilter(this);
    ui->FileListBox2->viewport()->installEventFilter(this);
    connect(ui->Page1, &QTabWidget::currentChanged, this, [this] {
        if (ui->Page1->currentWidget() == ui->TabSQL) {
            TabSQLShow();
        }
    });
    connect(ui->Page2, &QTabWidget::currentChanged, this, [this] {
        if (ui->Page2->currentWidget() == ui->TabField) {
            TabFieldShow();
        }
    });

    connect(ui->SpeedButton2, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton2Click);
    connect(ui->SpeedButton3, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton3Click);
    connect(ui->SpeedButton4, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton4Click);
    connect(ui->SpeedButton5, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton5Click);
    connect(ui->SpeedButton6, &QToolButton::clicked, this, &TfrmQueryEditor::SpeedButton6Click);
    // Typing changes the text; the arrows and setValue() change the value
    // with the text's signals held back.
    connect(ui->SEdt_PacketRecords->lineEdit(), &QLineEdit::textChanged, this,
            &TfrmQueryEditor::SEdt_PacketRecordsChange);
    connect(ui->SEdt_PacketRecords, &QSpinBox::valueChanged, this, &TfrmQueryEditor::SEdt_PacketRecordsChange);
    // The grid fetches ahead of the current row as it scrolls; the count
    // tells what is held.
    connect(gridModel_, &QAbstractItemModel::rowsInserted, this, &TfrmQueryEditor::showRecordCount);
    // Shown as the general error report would show it.
    connect(gridModel_, &ResultGridModel::fetchFailed, this,
            [](const QString& message) { prompt().showMessage(message); });
    connect(fetcher_, &ResultFetcher::failed, this, [](const QString& message) { prompt().showMessage(message); });
    connect(fetcher_, &ResultFetcher::started, this, &TfrmQueryEditor::fetchStarted);
    connect(fetcher_, &ResultFetcher::ended, this, &TfrmQueryEditor::fetchEnded);
    connect(ui->DBGrid, &ResultGrid::lastRecordRequested, this, &TfrmQueryEditor::SpeedButton5Click);
    // The user drags or pages the scroll bar: rows wanted again after Esc.
    connect(ui->DBGrid->verticalScrollBar(), &QScrollBar::actionTriggered, fetcher_, &ResultFetcher::resume);

    engine_->CDS1.setAfterScroll([this] { CDS1AfterScroll(); });
    engine_->BDE_DB.setAfterConnect([this] { BDE_DBAfterConnect(); });
    engine_->BDE_DB.setAfterDisconnect([this] { BDE_DBAfterDisconnect(); });

    // The grid's current row and the dataset's move together.
    connect(ui->DBGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                db::ClientDataSet& dataSet = gridModel_->dataSet();
                if (!current.isValid() || !dataSet.active() ||
                    static_cast<std::size_t>(current.row()) == dataSet.currentRow()) {
                    return;
                }
                fetcher_->moveDropped();
                fetcher_->resume();
                reportingErrors([&] { dataSet.moveTo(static_cast<std::size_t>(current.row())); });
            });
    connect(gridModel_, &ResultGridModel::currentRowChanged, this, [this](int row) {
        const QModelIndex current = ui->DBGrid->currentIndex();
        if (current.isValid() && current.row() == row) {
            return;
        }
        const QModelIndex target = gridModel_->index(row, current.isValid() ? current.column() : 0);
        ui->DBGrid->setCurrentIndex(target);
        ui->DBGrid->scrollTo(target);
    });
}

void TfrmQueryEditor::setUpKeys() {
    // Esc stops the run or the fetch in progress; otherwise it is left to
    // whoever wants it.
    stopRunKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopRunKey_->setContext(Qt::WidgetWithChildrenShortcut);
    stopRunKey_->setEnabled(false);
    connect(stopRunKey_, &QShortcut::activated, this, &TfrmQueryEditor::stopWhatRuns);
    // F9 runs the SQL, as the run button would when enabled.
    auto* runAll = new QShortcut(QKeySequence(Qt::Key_F9), this);
    runAll->setContext(Qt::WidgetWithChildrenShortcut);
    connect(runAll, &QShortcut::activated, this, [this] {
        if (ui->SBtnQuery->isEnabled()) {
            ui->SBtnQuery->click();
        }
    });
    // The runs of part of the memo, by key and from the memo's context menu
    // (which shows the first key: Enter, as the keys are named).
    const auto addRun = [this](const QString& text, const char* name, Qt::KeyboardModifiers modifiers,
                               void (TfrmQueryEditor::*handler)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts({QKeySequence(modifiers | Qt::Key_Enter), QKeySequence(modifiers | Qt::Key_Return)});
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    memo().setContextActions(
        {addRun(QStringLiteral("執行游標所在的SQL敘述"), "ActRunStatement", Qt::ControlModifier,
                &TfrmQueryEditor::runStatementAtCaret),
         addRun(QStringLiteral("逐句執行全部SQL敘述"), "ActRunScript", Qt::ControlModifier | Qt::ShiftModifier,
                &TfrmQueryEditor::runScript)});
}

void TfrmQueryEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!formShown_ && !event->spontaneous()) {
        formShown_ = true;
        FormShow();
    }
}

void TfrmQueryEditor::FormShow() {
    setWindowSize(*this, QSize(470, 400));
    ui->QueryMessage->clear();
    const QList<QFrame*> framed{ui->MemSQL,       ui->DBGrid,       ui->FileListBox1,
                                ui->FileListBox2, ui->LSVFieldList, ui->QueryMessage,
                                ui->DirectoryListBox1};
    for (QFrame* frame : framed) {
        makeFlat(*frame);
    }
    ui->GroupBox1->setFlat(true);
    ui->GroupBox2->setFlat(true);
}

void TfrmQueryEditor::closeEvent(QCloseEvent* event) {
    // An export in progress walks this window's result further down the
    // stack: it is cancelled, and the window closes once it has unwound.
    if (exportFeedback_ != nullptr) {
        exportFeedback_->cancel();
        closeAfterExport_ = true;
        event->ignore();
        return;
    }
    // FormClose: the window frees itself (WA_DeleteOnClose); an MDI frame
    // around it goes with it.
    event->accept();
    if (QMdiSubWindow* frame = mdiSubWindowOf(*this)) {
        frame->deleteLater();
    }
}

bool TfrmQueryEditor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == ui->FileListBox1->viewport()) {
            FileListBox1DblClick();
        } else if (watched == ui->FileListBox2->viewport()) {
            FileListBox2DblClick();
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- Accessors -------------------------------------------------------------------

db::Database& TfrmQueryEditor::BDE_DB() const { return engine_->BDE_DB; }
db::Query& TfrmQueryEditor::BDE_Query1() const { return engine_->BDE_Query1; }
db::ClientDataSet& TfrmQueryEditor::CDS1() const { return engine_->CDS1; }

// --- Connection choice -------------------------------------------------------------

void TfrmQueryEditor::preset(int linkType, const QString& connection, WindowStyle style) {
    if (linkType == 0 || linkType == 1) {
        ui->CbxLinkType->setCurrentIndex(linkType);
    }
    // Every window's list is refilled, this one's for the kind just chosen.
    workspace_.registry().RefreshConnectAliases();
    ui->CbxConnectAlias->setCurrentIndex(
        ui->CbxConnectAlias->findText(connection, Qt::MatchExactly | Qt::MatchCaseSensitive));
    updateDialect();
    setWindowStyle(*this, style, home_);
    QAbstractButton* styleButton = style == WindowStyle::MdiChild ? ui->ToolButton6
                                   : style == WindowStyle::Normal ? ui->ToolButton7
                                                                  : ui->ToolButton8;
    styleButton->setChecked(true);
}

void TfrmQueryEditor::refillConnectAlias() {
    refillConnectionList(workspace_.registry(), *ui->CbxLinkType, *ui->CbxConnectAlias);
    updateDialect();
}

void TfrmQueryEditor::CbxLinkTypeChange() {
    refillingConnectAlias_ = true;
    workspace_.registry().RefreshConnectAliases();
    refillingConnectAlias_ = false;
    CbxConnectAliasChange();
}

void TfrmQueryEditor::CbxConnectAliasChange() {
    if (refillingConnectAlias_) {
        return;
    }
    ui->DBGrid->setEnabled(false);
    const QString kind = ui->CbxLinkType->currentText();
    try {
        connectionStep();
    } catch (const std::exception& error) {
        prompt().showMessage(
            connectionFailurePrefix(kind == kKindBde ? RunEngine::Alias : RunEngine::ConnectionString) +
            errorText(error));
    }
    updateDialect();
}

void TfrmQueryEditor::connectionStep() {
    const QString kind = ui->CbxLinkType->currentText();
    if (kind == kKindBde) {
        bdeConnectionStep();
    } else if (kind == kKindAdo) {
        // The shared query the result may read is closed.
        dropFetch();
        const db::StatementTurn::Held turn = workspace_.adoTurn().take(db::StatementTurn::Use::Run);
        adoConnectionStep();
    }
}

void TfrmQueryEditor::bdeConnectionStep() {
    db::Database& database = engine_->BDE_DB;
    const QString chosen = ui->CbxConnectAlias->currentText();
    const QString catalogKey = QStringLiteral("BDE:") + chosen;
    if (database.aliasName() != chosen.toStdString()) {
        const TAConnectedBDE* entry = workspace_.registry().findBde(chosen);
        // The query the result reads goes with its database.
        dropFetch();
        leaveCatalogUnlessOf(catalogKey);
        database.close();
        database.params().clear();
        database.setAliasName(chosen.toStdString());
        database.params().append("USER NAME", entry != nullptr ? entry->UserName.toStdString() : std::string());
        database.params().append("PASSWORD", entry != nullptr ? entry->Password.toStdString() : std::string());
        database.open();
    } else if (!database.connected()) {
        database.open();
    }
    useCatalogOf(catalogKey, [&database] { return database.backendSettings(); });
}

void TfrmQueryEditor::adoConnectionStep() {
    const AdoRunRequest request = adoRunRequest(QString());
    leaveCatalogUnlessOf(adoCatalogKey(request));
    connectSharedConnection(workspace_.ADOCon1(), workspace_.ADQ1(), request.connectionString);
    useSharedConnection(request);
}

void TfrmQueryEditor::BDE_DBAfterConnect() {
    setWindowTitle(QStringLiteral("連線[BDE_") + QString::fromStdString(engine_->BDE_DB.aliasName()) +
                   QStringLiteral("]"));
    updateDialect();
}

void TfrmQueryEditor::BDE_DBAfterDisconnect() { setWindowTitle(QStringLiteral("離線")); }

// --- The run ------------------------------------------------------------------------

void TfrmQueryEditor::setStatus(const QString& text) { ui->SBar->setPanelText(0, text); }

void TfrmQueryEditor::enableRunButtonForText() {
    // Asked at every keystroke: the text is read no further than its first
    // word, never copied.
    ui->SBtnQuery->setEnabled(!isBlankText(*ui->MemSQL->document()));
}

void TfrmQueryEditor::SBtnQueryClick() {
    const QString sql = ui->MemSQL->toPlainText();
    runRequest({{RunStatement{sql, 1, 0}}, sql, false});
}

void TfrmQueryEditor::runRequest(RunRequest request) {
    lastRun_ = std::move(request);
    memoEditsAtRun_ = memo().textEdits();
    memo().clearErrorMark();
    ui->SBtnQuery->setEnabled(false);
    ui->DBGrid->setEnabled(false);
    setStatus(QStringLiteral("執行中...."));
    if (trimmedBlank(ui->CbxConnectAlias->currentText()).isEmpty()) {
        prompt().showMessage(QStringLiteral("請至少選擇一項連結"));
        enableRunButtonForText();
        ui->CbxConnectAlias->setFocus();
        return;
    }
    const QString kind = ui->CbxLinkType->currentText();
    // Running again: a fetch of the result shown is cancelled in the engine,
    // without waiting for the server.
    dropFetch();
    if (kind == kKindBde) {
        try {
            bdeConnectionStep();
            setStatus(QStringLiteral("資料庫已連線"));
        } catch (const std::exception& error) {
            addMemoLines(*ui->QueryMessage, u'\r' + connectionFailurePrefix(RunEngine::Alias) + errorText(error) + u'\r');
            ui->Page2->setCurrentWidget(ui->TabErrMessage);
            setStatus(QStringLiteral("資料庫連線失敗"));
            ui->SBtnQuery->setEnabled(true);
            return;
        }
        if (!startQueryThread(lastRun_)) {
            prompt().showMessage(QStringLiteral("查詢失敗！請重新執行"));
            enableRunButtonForText();
        }
    } else if (kind == kKindAdo) {
        // The shared connection serves one statement at a time.
        db::StatementTurn::Held turn;
        AdoRunRequest adoRequest;
        try {
            adoRequest = adoRunRequest(lastRun_.statements.at(0).text);
            if (ui->Chk1->isChecked()) {
                if (lastRun_.script) {
                    adoRequest.script = lastRun_.statements;
                }
                // EoAsyncExecute: the rest of the run, common tail included,
                // follows on the run's thread.
                if (!startAdoRun(adoRequest)) {
                    prompt().showMessage(QStringLiteral("查詢失敗！請重新執行"));
                    enableRunButtonForText();
                }
                return;
            }
            turn = workspace_.adoTurn().take(db::StatementTurn::Use::Run);
            adoConnectionStep();
            setStatus(QStringLiteral("資料庫已連線"));
        } catch (const std::exception& error) {
            addMemoLines(*ui->QueryMessage,
                         u'\r' + connectionFailurePrefix(RunEngine::ConnectionString) + errorText(error) + u'\r');
            setStatus(QStringLiteral("資料庫連線失敗"));
            return;
        }
        if (lastRun_.script) {
            runAdoScript(lastRun_.statements, adoRequest, turn);
        } else {
            try {
                setStatus(QStringLiteral("查詢中....."));
                runAdoStatement(adoRequest);
            } catch (const std::exception& error) {
                turn.release();
                prompt().showMessage(queryFailurePrefix(RunEngine::ConnectionString) + errorText(error));
                setStatus(QStringLiteral("查詢失敗"));
                runFailedAt(0, errorPositionOf(error));
            }
        }
        turn.release();
        reloadCatalogIfChangedBy(lastRun_.historyText);
    }
    commonTail();
}

bool TfrmQueryEditor::startQueryThread(const RunRequest& request) {
    // The previous result must not fetch through the query while the thread
    // uses it.
    engine_->CDS1.close();
    bdeRunInProgress_ = true;
    // The thread deletes itself when it ends.
    const int packetRecords = ui->SEdt_PacketRecords->Value();
    auto* thread = request.script ? new TQueryThread(engine_, request.statements, packetRecords, *this)
                                  : new TQueryThread(engine_, request.statements.at(0).text, packetRecords, *this);
    if (thread->startFailed()) {
        delete thread;
        bdeRunInProgress_ = false;
        return false;
    }
    queryThread_ = thread;
    updateStopKey();
    const auto runOver = [this] {
        bdeRunInProgress_ = false;
        updateStopKey();
    };
    connect(thread, &TQueryThread::runEnded, this, runOver);
    connect(thread, &QThread::finished, this, runOver);
    connect(thread, &TQueryThread::runEnded, this,
            [this, sql = request.historyText] { reloadCatalogIfChangedBy(sql); });
    return true;
}

AdoRunRequest TfrmQueryEditor::adoRunRequest(const QString& sql) const {
    const TAConnectedADO* entry = workspace_.registry().adoAt(ui->CbxConnectAlias->currentIndex());
    // Without a chosen entry there is nothing to connect to; the shared
    // connection is left as it is.
    if (entry == nullptr) {
        throw db::DbError("沒有選擇ADO連結");
    }
    AdoRunRequest request;
    request.connectionString = entry->ConnectionString.toStdString();
    request.sql = sql.toStdString();
    const std::pair<const QCheckBox*, unsigned> options[] = {
        {ui->Chk1, db::AdoQuery::AsyncExecute},
        {ui->Chk2, db::AdoQuery::AsyncFetch},
        {ui->Chk3, db::AdoQuery::AsyncFetchNonBlocking},
        {ui->Chk4, db::AdoQuery::ExecuteNoRecords},
    };
    for (const auto& [box, option] : options) {
        if (box->isChecked()) {
            request.executeOptions |= option;
        }
    }
    request.cacheSize = ui->SEdt_CacheSize->Value();
    request.maxRecords = ui->SEdt_MaxRecords->Value();
    request.packetRecords = ui->SEdt_PacketRecords->Value();
    return request;
}

namespace {

// "EoAsyncFetchNonBlocking" asks for fetches that never block as well.
bool fetchesInBackground(const AdoRunRequest& request) {
    return (request.executeOptions & (db::AdoQuery::AsyncFetch | db::AdoQuery::AsyncFetchNonBlocking)) != 0;
}

}  // namespace

void TfrmQueryEditor::runAdoStatement(const AdoRunRequest& request) {
    adoFetchInBackground_ = fetchesInBackground(request);
    // A statement that returned no result set, whatever its text, has run:
    // it is no failure, and the grid keeps what it shows.
    if (runSharedStatement(workspace_.ADQ1(), request)) {
        bindResult(workspace_.ADQ1(), request.packetRecords);
    }
}

// The statements run on the user-interface thread, holding the shared
// connection's turn; the Messages page reports them as a script on the query
// thread does, a failure comes in a message box once the turn is let go.
void TfrmQueryEditor::runAdoScript(const QList<RunStatement>& statements, const AdoRunRequest& request,
                                   db::StatementTurn::Held& turn) {
    setStatus(QStringLiteral("查詢中....."));
    clearMessages();
    addMessageLines(runStartedLine(currentDateTimeText()));
    adoFetchInBackground_ = fetchesInBackground(request);
    db::AdoQuery& query = workspace_.ADQ1();
    setUpSharedQuery(query, request);
    ScriptHooks hooks;
    hooks.inWindow = [this](const std::function<void(QueryRunSink&)>& step) { step(*this); };
    hooks.runInEngine = [&query] { return query.run(); };
    hooks.stopRequested = [] { return false; };
    const ScriptOutcome outcome =
        tarnwell::runScript(query, engine_->heldResult, engine_->CDS1, statements, request.packetRecords, hooks);
    addMessageLines(runEndedLine(currentDateTimeText()));
    turn.release();
    if (outcome.stoppedAt) {
        prompt().showMessage(queryFailurePrefix(RunEngine::ConnectionString) + scriptFailureText(statements, outcome));
        setStatus(QStringLiteral("查詢失敗"));
        runFailedAt(*outcome.stoppedAt, outcome.position);
    }
}

bool TfrmQueryEditor::startAdoRun(const AdoRunRequest& request) {
    // The result shown reads the shared query this run closes: no packet of
    // it is fetched meanwhile.
    fetcher_->setHeld(true);
    adoRunInProgress_ = true;
    adoFetchInBackground_ = fetchesInBackground(request);
    leaveCatalogUnlessOf(adoCatalogKey(request));
    auto* thread = new AdoRunThread(workspace_.ADOCon1(), workspace_.ADQ1(), workspace_.adoTurn(), request, *this,
                                    {&engine_->heldResult, &engine_->CDS1, engine_});
    thread->begin();
    if (thread->startFailed()) {
        delete thread;
        adoRunInProgress_ = false;
        fetcher_->setHeld(false);
        return false;
    }
    adoRun_ = thread;
    updateStopKey();
    return true;
}

void TfrmQueryEditor::adoConnected(const AdoRunRequest& request) {
    setStatus(QStringLiteral("資料庫已連線"));
    useSharedConnection(request);
}

void TfrmQueryEditor::adoRunEnded(const AdoRunOutcome& outcome) {
    adoRunInProgress_ = false;
    fetcher_->setHeld(false);
    updateStopKey();
    switch (outcome.end) {
        case AdoRunEnd::NotConnected:
            // As a failed connection step on this thread: the run button
            // comes back with the next change of the SQL text.
            return;
        case AdoRunEnd::Stopped:
            setStatus(QStringLiteral("查詢已取消"));
            ui->DBGrid->setEnabled(true);
            enableRunButtonForText();
            return;
        case AdoRunEnd::Failed:
            prompt().showMessage(queryFailurePrefix(RunEngine::ConnectionString) + outcome.message);
            setStatus(QStringLiteral("查詢失敗"));
            runFailedAt(outcome.failedAt, outcome.position);
            break;
        case AdoRunEnd::Done:
            break;
    }
    reloadCatalogIfChangedBy(lastRun_.historyText);
    commonTail();
}

QString TfrmQueryEditor::adoCatalogKey(const AdoRunRequest& request) {
    return QStringLiteral("ADO:") + QString::fromStdString(request.connectionString);
}

void TfrmQueryEditor::useSharedConnection(const AdoRunRequest& request) {
    updateDialect(SharedConnection::TurnHeld);
    db::AdoConnection& connection = workspace_.ADOCon1();
    useCatalogOf(adoCatalogKey(request), [&connection] { return connection.backendSettings(); });
}

// --- What the query thread does to the window ----------------------------------------

void TfrmQueryEditor::clearMessages() { ui->QueryMessage->clear(); }

void TfrmQueryEditor::addMessageLines(const QString& text) { addMemoLines(*ui->QueryMessage, text); }

void TfrmQueryEditor::setStatusText(const QString& text) { setStatus(text); }

void TfrmQueryEditor::bindResult(db::RowSource& source, int packetRecords) {
    fetcher_->setEngine(std::nullopt);
    engine_->bindResult(source, packetRecords);
    fetcher_->setEngine(resultEngineFor(source));
}

void TfrmQueryEditor::clearResult() {
    fetcher_->setEngine(std::nullopt);
    engine_->CDS1.close();
}

ResultEngine TfrmQueryEditor::resultEngineFor(const db::RowSource& source) const {
    ResultEngine engine;
    if (&source == &engine_->heldResult) {
        // Rows a script keeps in memory, and takes anew on its thread for a
        // later statement once the dataset let go of them: read here, where
        // nothing waits for a server.
        engine.inBackground = false;
        return engine;
    }
    if (&source == &workspace_.ADQ1()) {
        db::AdoConnection& connection = workspace_.ADOCon1();
        engine.cancel = [&connection] { connection.cancel(); };
        engine.cut = [&connection] { connection.cutConnection(); };
        engine.turn = &workspace_.adoTurn();
        engine.inBackground = adoFetchInBackground_;
        return engine;
    }
    // The window's own query, on its own database: the fetch keeps them
    // alive, as a run does, so a closed window never waits for the server.
    const std::weak_ptr<QueryWindowEngine> weak = engine_;
    engine.cancel = [weak] {
        if (const auto objects = weak.lock()) {
            objects->BDE_Query1.cancel();
            objects->BDE_DB.cancel();
        }
    };
    engine.cut = [weak] {
        if (const auto objects = weak.lock()) {
            objects->BDE_DB.cutConnection();
        }
    };
    engine.close = [weak] {
        if (const auto objects = weak.lock()) {
            objects->BDE_Query1.close();
        }
    };
    engine.keepAlive = engine_;
    return engine;
}

bool TfrmQueryEditor::fetchInProgress() const { return fetcher_->inProgress(); }

void TfrmQueryEditor::dropFetch() {
    const bool wasFetching = fetcher_->inProgress();
    fetcher_->abandon();
    if (wasFetching) {
        fetchEnded(false);
    }
}

void TfrmQueryEditor::fetchStarted() {
    ui->SBar->setPanelText(2, QStringLiteral("讀取資料中....."));
    updateStopKey();
}

void TfrmQueryEditor::fetchEnded(bool stoppedByUser) {
    ui->SBar->setPanelText(2, stoppedByUser ? QStringLiteral("已停止讀取") : QString());
    updateStopKey();
}

void TfrmQueryEditor::updateStopKey() {
    stopRunKey_->setEnabled(bdeRunInProgress_ || adoRunInProgress_ || fetcher_->inProgress());
}

void TfrmQueryEditor::stopWhatRuns() {
    if (queryThread_) {
        queryThread_->cancelRun();
    } else if (adoRun_) {
        adoRun_->stop();
    } else {
        fetcher_->stop();
    }
}

bool TfrmQueryEditor::refusedWhileBusy() {
    if (runInProgress()) {
        prompt().showMessage(QStringLiteral("查詢執行中，請待完成(或按Esc停止)後再轉存或列印"));
        return true;
    }
    if (fetcher_->inProgress()) {
        prompt().showMessage(QStringLiteral("資料讀取中，請待讀取完成(或按Esc停止)後再轉存或列印"));
        return true;
    }
    return false;
}

void TfrmQueryEditor::showPage(QueryPage page) {
    ui->Page2->setCurrentWidget(page == QueryPage::Data ? ui->TabData : ui->TabErrMessage);
}

void TfrmQueryEditor::setRunButtonEnabled(bool enabled) { ui->SBtnQuery->setEnabled(enabled); }

void TfrmQueryEditor::runFailedAt(std::size_t index, const std::optional<db::ErrorPosition>& position) {
    // Places in the memo hold only while its text is the one that was run.
    if (index >= static_cast<std::size_t>(lastRun_.statements.size()) || memo().textEdits() != memoEditsAtRun_) {
        return;
    }
    const RunStatement& failed = lastRun_.statements.at(static_cast<qsizetype>(index));
    QTextCursor cursor = memo().textCursor();
    if (lastRun_.script) {
        cursor.setPosition(failed.position);
        cursor.setPosition(failed.position + static_cast<int>(failed.text.size()), QTextCursor::KeepAnchor);
    }
    if (position) {
        const int place = failed.position + static_cast<int>(positionOfUtf8Offset(failed.text, position->offset));
        memo().markError(place, position->lineOnly);
        if (!lastRun_.script) {
            cursor.setPosition(place);
        }
    }
    memo().setTextCursor(cursor);
    memo().ensureCursorVisible();
}

// --- Runs of part of the memo -------------------------------------------------------

SqlEditor& TfrmQueryEditor::memo() const { return *ui->MemSQL; }

QList<RunStatement> TfrmQueryEditor::statementsOf(const QString& text, int begin) const {
    const std::u16string_view units = utf16Units(text);
    const QTextDocument& document = *memo().document();
    QList<RunStatement> statements;
    for (const sql::Utf16Statement& statement : sql::splitStatements(memo().dialect(), units)) {
        const int position = begin + static_cast<int>(statement.begin);
        statements.append({text.mid(static_cast<qsizetype>(statement.begin),
                                    static_cast<qsizetype>(statement.end - statement.begin)),
                           document.findBlock(position).blockNumber() + 1, position});
    }
    return statements;
}

void TfrmQueryEditor::runStatementAtCaret() {
    if (!ui->SBtnQuery->isEnabled()) {
        return;
    }
    // toPlainText() has the positions of the document, as documentText(),
    // with the characters the run button's text has.
    const QString text = ui->MemSQL->toPlainText();
    const QTextCursor caret = memo().textCursor();
    RunStatement chosen;
    if (caret.hasSelection()) {
        chosen.position = caret.selectionStart();
        chosen.text = text.mid(chosen.position, caret.selectionEnd() - chosen.position);
        chosen.line = caret.document()->findBlock(chosen.position).blockNumber() + 1;
        // A selection of nothing but blanks and comments runs nothing.
        if (statementsOf(chosen.text, chosen.position).isEmpty()) {
            return;
        }
    } else {
        const std::u16string_view units = utf16Units(text);
        const std::vector<sql::Utf16Statement> statements = sql::splitStatements(memo().dialect(), units);
        const std::optional<std::size_t> at =
            sql::statementAt(statements, units, static_cast<std::size_t>(caret.position()));
        if (!at) {
            return;
        }
        const sql::Utf16Statement& statement = statements[*at];
        chosen.position = static_cast<int>(statement.begin);
        chosen.text = text.mid(chosen.position, static_cast<qsizetype>(statement.end - statement.begin));
        chosen.line = statement.line;
    }
    memo().flashRange(chosen.position, chosen.position + static_cast<int>(chosen.text.size()));
    const QString sql = chosen.text;
    runRequest({{std::move(chosen)}, sql, false});
}

void TfrmQueryEditor::runScript() {
    if (!ui->SBtnQuery->isEnabled()) {
        return;
    }
    const QString text = ui->MemSQL->toPlainText();
    const QTextCursor caret = memo().textCursor();
    const int begin = caret.hasSelection() ? caret.selectionStart() : 0;
    const QString script = caret.hasSelection() ? text.mid(begin, caret.selectionEnd() - begin) : text;
    QList<RunStatement> statements = statementsOf(script, begin);
    if (statements.isEmpty()) {
        return;
    }
    runRequest({std::move(statements), script, true});
}

sql::Dialect TfrmQueryEditor::connectionDialect(SharedConnection shared) const {
    const QString kind = ui->CbxLinkType->currentText();
    const QString chosen = ui->CbxConnectAlias->currentText();
    if (kind == kKindBde && !chosen.isEmpty()) {
        // The database's own name for itself once connected (through ODBC,
        // the driver's); before that, the alias's driver.
        if (engine_->BDE_DB.aliasName() == chosen.toStdString()) {
            if (const std::string name = engine_->BDE_DB.dbmsName(); !name.empty()) {
                return sql::dialectForDbmsName(name);
            }
        }
        try {
            return sql::dialectForDbmsName(workspace_.Session1().aliasDriverName(chosen.toStdString()));
        } catch (const std::exception&) {
            return sql::Dialect::Generic;
        }
    }
    if (kind == kKindAdo) {
        if (const TAConnectedADO* entry = workspace_.registry().adoAt(ui->CbxConnectAlias->currentIndex())) {
            // Another window's run may be replacing the shared connection
            // on its thread: it is looked at only while nobody uses it.
            db::StatementTurn::Held turn;
            if (shared == SharedConnection::TurnFree) {
                turn = workspace_.adoTurn().tryTake(db::StatementTurn::Use::Run);
            }
            const db::AdoConnection& connection = workspace_.ADOCon1();
            if ((shared == SharedConnection::TurnHeld || turn) && connection.connection() != nullptr &&
                connection.connectionString() == entry->ConnectionString.toStdString()) {
                if (const std::string name = connection.connection()->dbmsName(); !name.empty()) {
                    return sql::dialectForDbmsName(name);
                }
            }
            return sql::dialectForDbmsName(entry->Provider.toStdString());
        }
    }
    return sql::Dialect::Generic;
}

void TfrmQueryEditor::updateDialect(SharedConnection shared) { memo().setDialect(connectionDialect(shared)); }

void TfrmQueryEditor::commonTail() {
    ui->DBGrid->setEnabled(true);
    sqlHistory_.append(lastRun_.historyText);
    setHistoryPosition(static_cast<int>(sqlHistory_.size()));
    if (historyPosition_ != 1) {
        ui->SBtnSQLPrior->setEnabled(true);
    }
    ui->SBtnSQLNext->setEnabled(true);
    if (!runInProgress()) {
        ui->SBtnQuery->setEnabled(true);
    }
}

void TfrmQueryEditor::MemSQLChange() {
    // The run button stays down while this window's run is in progress.
    if (runInProgress()) {
        return;
    }
    enableRunButtonForText();
}

void TfrmQueryEditor::SpeedButton1Click() {
    setMemoText(*ui->MemSQL, QString());
    ui->SBtnQuery->setEnabled(false);
}

// --- History ------------------------------------------------------------------------

void TfrmQueryEditor::setHistoryPosition(int position) {
    historyPosition_ = position;
    ui->PalQueryCount->setText(QString::number(position));
}

void TfrmQueryEditor::SBtnSQLPriorClick() {
    const int position = historyPosition_;
    if (position < 2 || position - 2 >= sqlHistory_.size()) {
        return;
    }
    setMemoText(*ui->MemSQL, sqlHistory_.at(position - 2));
    setHistoryPosition(position - 1);
    if (position - 1 == 1) {
        ui->SBtnSQLPrior->setEnabled(false);
    }
    ui->SBtnSQLNext->setEnabled(true);
}

void TfrmQueryEditor::SBtnSQLNextClick() {
    const int position = historyPosition_;
    const int count = static_cast<int>(sqlHistory_.size());
    if (position == count) {
        setMemoText(*ui->MemSQL, QString());
        ui->SBtnQuery->setEnabled(false);
        setHistoryPosition(count + 1);
        ui->SBtnSQLPrior->setEnabled(true);
    } else if (position > count) {
        setMemoText(*ui->MemSQL, QString());
        ui->SBtnQuery->setEnabled(false);
    } else if (position >= 1) {
        setMemoText(*ui->MemSQL, sqlHistory_.at(position));
        setHistoryPosition(position + 1);
        ui->SBtnSQLPrior->setEnabled(true);
    }
}

// --- Window style and other windows ----------------------------------------------------

void TfrmQueryEditor::changeStyle(WindowStyle style) {
    const QSize size = windowSize(*this);
    setWindowStyle(*this, style, home_);
    setWindowSize(*this, size);
}

void TfrmQueryEditor::ToolButton6Click() { changeStyle(WindowStyle::MdiChild); }
void TfrmQueryEditor::ToolButton7Click() { changeStyle(WindowStyle::Normal); }
void TfrmQueryEditor::ToolButton8Click() { changeStyle(WindowStyle::StayOnTop); }

void TfrmQueryEditor::ToolButton10Click() { emit connectionBrowserRequested(); }

void TfrmQueryEditor::ToolButton12Click() { emit queryWindowRequested(); }

void TfrmQueryEditor::SpeedButton7Click() { close(); }

void TfrmQueryEditor::ToolButton5Click() {
    if (refusedWhileBusy()) {
        return;
    }
    db::ClientDataSet& result = engine_->CDS1;
    if (!result.active() || result.isEmpty()) {
        return;
    }
    reportingErrors([&] {
        // The report reads the records on this thread, fetching as it goes.
        const db::StatementTurn::Held turn = fetcher_->takeTurnHere();
        fetcher_->setHeld(true);
        gridModel_->setFetchingHeld(true);
        // The print window's loop may outlast this window, which takes its
        // fetcher and grid model with it.
        const auto printed = qScopeGuard([fetcher = QPointer(fetcher_), model = QPointer(gridModel_)] {
            if (fetcher) {
                fetcher->setHeld(false);
            }
            if (model) {
                model->setFetchingHeld(false);
            }
        });
        showPrintWindow(result, *ui->MemSQL, *this);
    });
}

// --- Result grid ----------------------------------------------------------------------

void TfrmQueryEditor::SpeedButton2Click() {
    fetcher_->moveDropped();
    reportingErrors([this] { gridModel_->dataSet().first(); });
}
void TfrmQueryEditor::SpeedButton3Click() {
    fetcher_->moveDropped();
    reportingErrors([this] { gridModel_->dataSet().prior(); });
}
// After a fetch failed, the rows held are all the result shows until the
// next run or refresh: moving past them would only report the failure again
// (the grid stops asking too, ResultGridModel::canFetchMore).
void TfrmQueryEditor::SpeedButton4Click() {
    reportingErrors([this] {
        db::ClientDataSet& dataSet = gridModel_->dataSet();
        if (dataSet.fetchFailed() && dataSet.currentRow() + 1 >= dataSet.recordCount()) {
            return;
        }
        fetcher_->next();
    });
}
// Also Ctrl+End in the grid. The rows come packet by packet off this thread;
// the last one becomes current once they are all in.
void TfrmQueryEditor::SpeedButton5Click() {
    reportingErrors([this] {
        db::ClientDataSet& dataSet = gridModel_->dataSet();
        if (!dataSet.fetchFailed()) {
            fetcher_->last();
        } else if (!dataSet.isEmpty()) {
            dataSet.moveTo(dataSet.recordCount() - 1);
        }
    });
}
void TfrmQueryEditor::SpeedButton6Click() {
    reportingErrors([this] {
        // The statement runs again here: a fetch of it under way ends first.
        const bool wasFetching = fetcher_->inProgress();
        fetcher_->abandonAndWait();
        if (wasFetching) {
            fetchEnded(false);
        }
        const db::StatementTurn::Held turn = fetcher_->takeTurnHere();
        gridModel_->dataSet().refresh();
    });
}

void TfrmQueryEditor::SEdt_PacketRecordsChange() {
    engine_->CDS1.setPacketRecords(ui->SEdt_PacketRecords->Value());
    fetcher_->setPacketRecords(ui->SEdt_PacketRecords->Value());
}

void TfrmQueryEditor::showRecordCount() {
    ui->SBar->setPanelText(1, QStringLiteral("目前資料筆數: ") + QString::number(engine_->CDS1.recordCount()));
}

void TfrmQueryEditor::CDS1AfterScroll() {
    // An export moves the dataset through every record: the grid catches up
    // now and then instead (exportResult).
    if (exportFeedback_ != nullptr) {
        scrolledDuringExport_ = true;
        return;
    }
    showRecordCount();
    gridModel_->dataSetScrolled();
}

// --- Spreadsheet export ------------------------------------------------------------------

void TfrmQueryEditor::ToolButton3Click() {
    if (refusedWhileBusy()) {
        return;
    }
    walkResult(QStringLiteral("轉存試算表: %1 筆"), 0,
               [this](ProgressFeedback& feedback) { exportToSpreadsheet(gridModel_->dataSet(), feedback); });
}

// --- Field list -------------------------------------------------------------------------

void TfrmQueryEditor::TabFieldShow() {
    QTreeWidget& list = *ui->LSVFieldList;
    list.clear();
    const db::ClientDataSet& dataSet = gridModel_->dataSet();
    const int count = gridModel_->columnCount();
    for (int i = 0; i < count; ++i) {
        const db::Field& field = dataSet.field(static_cast<std::size_t>(i));
        auto* row = new QTreeWidgetItem(&list);
        row->setText(0, QString::number(i + 1));
        row->setText(1, QString::fromStdString(field.fieldName));
        row->setText(2, QString::number(field.size));
        row->setText(3, QString::fromLatin1(db::fieldKindName(field.dataType)));
    }
}

// --- SQL text tools and SQL files --------------------------------------------------------

void TfrmQueryEditor::ToolButton13Click() {
    setMemoText(*ui->MemSQL, toProgramStringForm(memoText(*ui->MemSQL)));
}

void TfrmQueryEditor::ToolButton14Click() {
    setMemoText(*ui->MemSQL, fromProgramStringForm(memoText(*ui->MemSQL)));
}

void TfrmQueryEditor::ToolButton15Click() { showReplaceDialog(*ui->MemSQL); }

void TfrmQueryEditor::loadIntoMemo(const QString& path) {
    // Read first: a file that cannot be read leaves the memo as it was.
    const QString text = loadSqlFile(path);
    setMemoText(*ui->MemSQL, text);
}

void TfrmQueryEditor::ToolButton17Click() {
    const std::optional<QString> path = prompt().saveFileName(sqlFileRequest(saveDialog1_.fileName, true));
    if (!path) {
        return;
    }
    saveDialog1_.fileName = *path;
    reportingErrors([this, &path] { saveSqlFile(*path, memoText(*ui->MemSQL)); });
}

void TfrmQueryEditor::ToolButton16Click() {
    const std::optional<QString> path = prompt().openFileName(sqlFileRequest(openDialog1_.fileName));
    if (!path) {
        return;
    }
    openDialog1_.fileName = *path;
    reportingErrors([this, &path] { loadIntoMemo(*path); });
}

void TfrmQueryEditor::FileListBox1DblClick() {
    reportingErrors([this] {
        loadIntoMemo(ui->FileListBox1->fileName());
        ui->Page1->setCurrentWidget(ui->TabSQL);
    });
}

void TfrmQueryEditor::FileListBox2DblClick() {
    reportingErrors([this] { loadIntoMemo(ui->FileListBox2->fileName()); });
}

void TfrmQueryEditor::TabSQLShow() { ui->FileListBox2->setDirectory(ui->DirectoryListBox1->directory()); }

void TfrmQueryEditor::ToolButton19Click() { showBesideMemo(*ui->SplitterSQL, 1, ui->ToolButton19->isChecked()); }

// --- Delimited text exports ------------------------------------------------------------

void TfrmQueryEditor::ToolButton2Click() {
    if (refusedWhileBusy()) {
        return;
    }
    const std::optional<QString> path =
        prompt().saveFileName(exportFileRequest(QStringLiteral("CSV"), saveDialog1_.fileName));
    if (!path) {
        return;
    }
    saveDialog1_.fileName = *path;
    exportResult(*path, QStringLiteral(","));
}

void TfrmQueryEditor::ToolButton4Click() {
    if (refusedWhileBusy()) {
        return;
    }
    const QString comma = QStringLiteral(",");
    const QString separator =
        prompt().inputText(QStringLiteral("有分隔符號文字檔"), QStringLiteral("清輸入分隔符號"), comma).value_or(comma);
    const std::optional<QString> path =
        prompt().saveFileName(exportFileRequest(QStringLiteral("TXT"), saveDialog1_.fileName));
    if (!path) {
        return;
    }
    saveDialog1_.fileName = *path;
    exportResult(*path, separator);
}

void TfrmQueryEditor::exportResult(const QString& path, const QString& separator) {
    db::ClientDataSet& dataSet = gridModel_->dataSet();
    const std::int64_t total =
        dataSet.active() && dataSet.allFetched() ? static_cast<std::int64_t>(dataSet.recordCount()) : 0;
    walkResult(QStringLiteral("轉存中... 已寫入 %1 筆資料"), total, [&](ProgressFeedback& feedback) {
        reportingErrors([&] { saveDataSetAsText_(dataSet, path, separator, feedback); });
    });
}

void TfrmQueryEditor::walkResult(const QString& labelText, std::int64_t total,
                                 const std::function<void(ProgressFeedback&)>& work) {
    // A run or fetch that began while a dialog of the export was open.
    if (refusedWhileBusy()) {
        return;
    }
    db::StatementTurn::Held turn;
    try {
        turn = fetcher_->takeTurnHere();
    } catch (const std::exception& error) {
        reportUnhandledError(error);
        return;
    }
    fetcher_->setHeld(true);
    const auto walked = qScopeGuard([this] { fetcher_->setHeld(false); });
    {
        ProgressFeedback feedback(this, labelText, total);
        QTimer gridFollows;
        gridFollows.setInterval(kGridFollowsEveryMs);
        connect(&gridFollows, &QTimer::timeout, this, [this] {
            if (scrolledDuringExport_) {
                scrolledDuringExport_ = false;
                showRecordCount();
                gridModel_->dataSetScrolled();
            }
        });
        // The grid would fetch ahead of the walk; a failure would then be
        // reported twice.
        gridModel_->setFetchingHeld(true);
        exportFeedback_ = &feedback;
        gridFollows.start();
        const auto walkEnded = qScopeGuard([this] {
            exportFeedback_ = nullptr;
            gridModel_->setFetchingHeld(false);
            if (scrolledDuringExport_) {
                scrolledDuringExport_ = false;
                CDS1AfterScroll();
            }
        });
        work(feedback);
    }
    if (closeAfterExport_) {
        closeAfterExport_ = false;
        close();
    }
}

// --- The catalog of the connection: completion and the table list ----------------

void TfrmQueryEditor::setUpCatalogViews() {
    completer_ = new SqlCompleter(*ui->MemSQL);

    // The memo and the table list share the place the memo had, so the SQL
    // file list stays where it was; the table list starts hidden.
    tablesSplitter_ = new QSplitter(Qt::Horizontal);
    tablesSplitter_->setObjectName(QStringLiteral("SplitterTables"));
    tablesSplitter_->setHandleWidth(ui->SplitterSQL->handleWidth());
    tablesSplitter_->setChildrenCollapsible(false);
    ui->SplitterSQL->replaceWidget(0, tablesSplitter_);
    tablesSplitter_->addWidget(ui->MemSQL);
    ui->MemSQL->show();
    tableList_ = new CatalogTableList;
    tableList_->setMinimumWidth(40);
    tablesSplitter_->addWidget(tableList_);
    tablesSplitter_->setStretchFactor(0, 1);
    tablesSplitter_->setStretchFactor(1, 0);
    showBesideMemo(*tablesSplitter_, 1, false);

    tableListButton_ = new QToolButton(ui->ToolBar1);
    tableListButton_->setObjectName(QStringLiteral("TBtnTableList"));
    tableListButton_->setFixedSize(ui->ToolButton19->minimumSize());
    tableListButton_->setIconSize(ui->ToolButton19->iconSize());
    tableListButton_->setAutoRaise(true);
    tableListButton_->setFocusPolicy(Qt::NoFocus);
    tableListButton_->setCheckable(true);
    tableListButton_->setToolTip(QStringLiteral("顯示資料表清單"));
    tableListButton_->setIcon(QIcon(QStringLiteral(":/images/catalog/TableList.svg")));
    auto* tools = qobject_cast<QBoxLayout*>(ui->ToolBar1->layout());
    tools->insertWidget(tools->indexOf(ui->ToolButton19) + 1, tableListButton_);

    connect(tableListButton_, &QToolButton::clicked, this, &TfrmQueryEditor::TBtnTableListClick);
    connect(tableList_, &CatalogTableList::refreshRequested, this, [this] {
        if (catalog_) {
            catalog_->reload();
        } else {
            connectForCatalog();
        }
    });
    connect(tableList_, &CatalogTableList::nameChosen, this, [this](const QString& name) {
        ui->MemSQL->insertPlainText(name);
        ui->MemSQL->setFocus();
    });
    showCatalog();
}

void TfrmQueryEditor::TBtnTableListClick() {
    showBesideMemo(*tablesSplitter_, 1, tableListButton_->isChecked());
    if (tableListButton_->isChecked()) {
        connectForCatalog();
    }
}

// A window opened on a connection connects at its first run; one who opens
// the table list before that wants the tables now, as choosing the connection
// would give them.
void TfrmQueryEditor::connectForCatalog() {
    if (catalog_ || runInProgress() || trimmedBlank(ui->CbxConnectAlias->currentText()).isEmpty()) {
        return;
    }
    const QString kind = ui->CbxLinkType->currentText();
    try {
        connectionStep();
    } catch (const std::exception& error) {
        prompt().showMessage(connectionFailurePrefix(kind == kKindBde ? RunEngine::Alias : RunEngine::ConnectionString) +
                             errorText(error));
    }
}

void TfrmQueryEditor::leaveCatalogUnlessOf(const QString& key) {
    if (catalog_ && catalog_->key() != key) {
        catalog_->disconnect(this);
        catalog_.reset();
        showCatalog();
    }
}

void TfrmQueryEditor::useCatalogOf(const QString& key, const std::function<db::BackendSettings()>& settings) {
    if (catalog_ && catalog_->key() == key) {
        return;
    }
    leaveCatalogUnlessOf(key);
    try {
        catalog_ = workspace_.catalogs().catalogOf(key, settings);
    } catch (const std::exception&) {
        // A connection whose backend reads no catalog: completion offers
        // the keywords.
        return;
    }
    connect(catalog_.get(), &SharedCatalog::loadStarted, this, &TfrmQueryEditor::showCatalog);
    connect(catalog_.get(), &SharedCatalog::loadEnded, this, &TfrmQueryEditor::showCatalog);
    showCatalog();
}

void TfrmQueryEditor::showCatalog() {
    const std::shared_ptr<const db::Catalog> catalog = catalog_ ? catalog_->catalog() : nullptr;
    const sql::Dialect dialect = catalog_ ? catalog_->dialect() : sql::Dialect::Generic;
    completer_->setDialect(dialect);
    completer_->setCatalog(catalog);
    tableList_->setCatalog(catalog, dialect);
    tableList_->setLoadState(catalog_ && catalog_->loading(),
                             catalog_ ? catalog_->problem() : QStringLiteral("尚未連線，按重新整理即連線讀取"));
}

void TfrmQueryEditor::reloadCatalogIfChangedBy(const QString& sql) {
    if (catalog_) {
        catalog_->reloadIfChangedBy(sql);
    }
}

}  // namespace tarnwell
