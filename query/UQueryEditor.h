#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "dataaccess/StatementTurn.h"
#include "query/AdoRun.h"
#include "query/ScriptRun.h"
#include "query/UQueryThread.h"
#include "sqlsyntax/Dialect.h"
#include "ui/WindowStyle.h"

class QMdiArea;
class QShortcut;
class QSplitter;
class QToolButton;

namespace Ui {
class TfrmQueryEditor;
}

namespace tarnwell {

namespace db {
class ClientDataSet;
class Database;
class Query;
struct BackendSettings;
}  // namespace db

class CatalogTableList;
class Feedback;
class ProgressFeedback;
class ResultFetcher;
class ResultGridModel;
struct ResultEngine;
class SqlEditor;
class SharedCatalog;
class SqlCompleter;
class Workspace;
struct QueryWindowEngine;

// Query windows made since the program started; never goes down, so every
// window's database name ("BDE_SQL_" + the count after its creation) is new.
int& QueryEditorCount();

// How the window's text exports write a result: the main window's
// SaveDataSetAsText, which the main window hands in. It raises the dataset's
// or the file's error.
using SaveDataSetAsTextFunction = void (*)(db::ClientDataSet& dataSet, const QString& path,
                                           const QString& separator, Feedback& feedback);

// A file dialog's memory: the name chosen in it last is offered next time.
struct RememberedFileDialog {
    QString fileName;
};

// The query window: SQL in the memo, a connection kind and connection to run
// it on, the run (a statement of the window's own database on a query thread,
// or one of the shared connection-string connection, on a thread of its own
// when "EoAsyncExecute" is ticked, else on the user-interface thread), the
// history of what was run, and the read-only result grid, whose further
// packets are fetched off the user-interface thread (for a connection-string
// result, when "EoAsyncFetch" was ticked at its run).
//
// It uses the workspace's session, registry and shared connection-string
// objects, and changes its style within `home`, the main window's MDI area;
// it refills its connection list whenever the registry tells it to. Its
// object name is "frmQueryEditor_<n>", n growing with every window. Closing
// it frees it; a statement still running is cancelled, and the window does
// not wait for it (the workspace does, before its session goes).
class TfrmQueryEditor : public QWidget, private AdoRunSink {
    Q_OBJECT
public:
    TfrmQueryEditor(Workspace& workspace, QMdiArea& home, SaveDataSetAsTextFunction saveDataSetAsText);
    ~TfrmQueryEditor() override;

    // Presets a new window before it is first shown: the connection kind
    // `linkType` (0 "ADO", 1 "BDE"; any other value leaves the kind
    // unchosen), the connection of that kind named `connection` (none when no
    // entry of the refilled list has that name), and the style the window
    // lives in, with its style button down. A choice made by program: no
    // change handler runs.
    void preset(int linkType, const QString& connection, WindowStyle style);

    // --- Engine objects -----------------------------------------------------
    db::Database& BDE_DB() const;
    db::Query& BDE_Query1() const;
    db::ClientDataSet& CDS1() const;
    // The thread of the run in progress, if any.
    TQueryThread* queryThread() const { return queryThread_.data(); }
    bool runInProgress() const { return bdeRunInProgress_ || adoRunInProgress_; }
    // Whether further packets of the result are being fetched.
    bool fetchInProgress() const;

    // --- State --------------------------------------------------------------
    const QStringList& FSQLHistory() const { return sqlHistory_; }
    RememberedFileDialog& SaveDialog1() { return saveDialog1_; }
    RememberedFileDialog& OpenDialog1() { return openDialog1_; }

    // --- Handlers -------------------------------------------------------------
    void CbxLinkTypeChange();
    void CbxConnectAliasChange();
    void SBtnQueryClick();
    void MemSQLChange();
    void SpeedButton1Click();
    void SBtnSQLPriorClick();
    void SBtnSQLNextClick();
    void ToolButton6Click();
    void ToolButton7Click();
    void ToolButton8Click();
    void ToolButton5Click();
    void ToolButton10Click();
    void ToolButton12Click();
    void ToolButton3Click();
    void SpeedButton7Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    void SEdt_PacketRecordsChange();
    void CDS1AfterScroll();
    void TabFieldShow();
    void ToolButton13Click();
    void ToolButton14Click();
    void ToolButton15Click();
    void ToolButton16Click();
    void ToolButton17Click();
    void ToolButton19Click();
    void ToolButton2Click();
    void ToolButton4Click();
    void FileListBox1DblClick();
    void FileListBox2DblClick();
    void TabSQLShow();
    void BDE_DBAfterConnect();
    void BDE_DBAfterDisconnect();
    // The registry changed: the connection list shows the entries of the
    // kind chosen.
    void refillConnectAlias();

    // --- Runs of part of the memo --------------------------------------------
    // Ctrl+Enter: the statement the caret is in (or the selection), sent as
    // it stands in the memo, marked there a moment; what enters the history.
    // Only while the run button is enabled.
    void runStatementAtCaret();
    // Ctrl+Shift+Enter: every statement of the memo (or of the selection) in
    // turn, each reported on the Messages page; the first failure stops the
    // script and selects its statement. The script enters the history once.
    void runScript();
    // Whether the caller holds the turn on the shared connection-string
    // connection (another window's run may be replacing it on its thread):
    // a connection-string window's dialect reads the connection only then,
    // or when nobody uses it.
    enum class SharedConnection { TurnFree, TurnHeld };
    // The SQL dialect of the connection chosen, by which the memo is coloured
    // and cut into statements.
    sql::Dialect connectionDialect(SharedConnection shared = SharedConnection::TurnFree) const;
    // --- The catalog of the connection: completion and the table list --------
    // The catalog the window shares with the others on its connection, once
    // it has connected; none before.
    const SharedCatalog* sharedCatalog() const { return catalog_.get(); }
    SqlCompleter& completer() const { return *completer_; }
    // The button beside 顯示SQL檔案清單: shows or hides the table list.
    void TBtnTableListClick();

signals:
    // ToolButton10: the connection browser, as the tray opens it.
    void connectionBrowserRequested();
    // ToolButton12: a further query window, preset from the browser.
    void queryWindowRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // QueryRunSink (through AdoRunSink): what the query thread does to the
    // window.
    void clearMessages() override;
    void addMessageLines(const QString& text) override;
    void setStatusText(const QString& text) override;
    void bindResult(db::RowSource& source, int packetRecords) override;
    void clearResult() override;
    void showPage(QueryPage page) override;
    void setRunButtonEnabled(bool enabled) override;
    void runFailedAt(std::size_t index, const std::optional<db::ErrorPosition>& position) override;
    // AdoRunSink: the steps of a connection-string run on its thread.
    void adoConnected(const AdoRunRequest& request) override;
    void adoRunEnded(const AdoRunOutcome& outcome) override;

    // A run as the window sends it: its statements, where each stands in the
    // memo, and the text that enters the history.
    struct RunRequest {
        QList<RunStatement> statements;
        QString historyText;
        bool script = false;
    };

    void FormShow();
    void setUpControls();
    void setUpPictures();
    void connectHandlers();
    void setUpKeys();

    // The connection step for the kind shown; throws the engine's error.
    void connectionStep();
    void bdeConnectionStep();
    void adoConnectionStep();
    // The Properties page's settings for a connection-string run of `sql`
    // on the connection chosen; throws when none is chosen.
    AdoRunRequest adoRunRequest(const QString& sql) const;
    static QString adoCatalogKey(const AdoRunRequest& request);
    // After the shared connection's connection step, with its turn held: the
    // memo's dialect and the catalog of the connection.
    void useSharedConnection(const AdoRunRequest& request);
    void runAdoStatement(const AdoRunRequest& request);
    // Lets go of `turn` before it tells of a failure.
    void runAdoScript(const QList<RunStatement>& statements, const AdoRunRequest& request,
                      db::StatementTurn::Held& turn);
    bool startAdoRun(const AdoRunRequest& request);
    bool startQueryThread(const RunRequest& request);
    void commonTail();
    // The run of SBtnQueryClick for any request.
    void runRequest(RunRequest request);
    // The statements of memo text from `begin`, each with its place.
    QList<RunStatement> statementsOf(const QString& text, int begin) const;
    SqlEditor& memo() const;
    void updateDialect(SharedConnection shared = SharedConnection::TurnFree);

    // How the further packets of the result opened on `source` are fetched.
    ResultEngine resultEngineFor(const db::RowSource& source) const;
    // A fetch under way is abandoned: the result is about to be run again or
    // closed.
    void dropFetch();
    void fetchStarted();
    void fetchEnded(bool stoppedByUser);
    // Esc is taken while something it stops is under way.
    void updateStopKey();
    void stopWhatRuns();
    // An export or print asked for while a run or fetch of this window is
    // under way is refused (true) with a message.
    bool refusedWhileBusy();
    void setStatus(const QString& text);
    void showRecordCount();
    void enableRunButtonForText();
    // Shown in PalQueryCount.
    void setHistoryPosition(int position);
    void changeStyle(WindowStyle style);
    void loadIntoMemo(const QString& path);
    // The text exports' common part: the result written with `separator`.
    void exportResult(const QString& path, const QString& separator);
    // Work that walks the result (the exports): a progress dialog over the
    // window, the grid catching up with the walk now and then instead of
    // following every record, and a close of the window meanwhile put off
    // until the work has unwound.
    void walkResult(const QString& labelText, std::int64_t total,
                    const std::function<void(ProgressFeedback&)>& work);

    // --- The catalog of the connection: completion and the table list --------
    void setUpCatalogViews();
    // Takes the catalog of the connection `key`, shared with the windows on
    // it (made and loaded from `settings` when none holds it).
    void useCatalogOf(const QString& key, const std::function<db::BackendSettings()>& settings);
    // Lets go of the catalog unless it is the one of `key`: the connection
    // about to be made is another.
    void leaveCatalogUnlessOf(const QString& key);
    // The catalog as it is now, in the completion and the table list.
    void showCatalog();
    void connectForCatalog();
    void reloadCatalogIfChangedBy(const QString& sql);

    std::unique_ptr<Ui::TfrmQueryEditor> ui;
    Workspace& workspace_;
    QMdiArea& home_;
    const SaveDataSetAsTextFunction saveDataSetAsText_;
    std::shared_ptr<QueryWindowEngine> engine_;
    ResultGridModel* gridModel_ = nullptr;
    ResultFetcher* fetcher_ = nullptr;
    QPointer<TQueryThread> queryThread_;
    QPointer<AdoRunThread> adoRun_;
    bool adoRunInProgress_ = false;
    // Whether the connection-string result shown fetches its further
    // packets off the user-interface thread ("EoAsyncFetch" at its run).
    bool adoFetchInBackground_ = true;
    QShortcut* stopRunKey_ = nullptr;
    QStringList sqlHistory_;
    // The run last started, for placing its failure in the memo, and the
    // memo's edits then: after an edit its places no longer hold.
    RunRequest lastRun_;
    int memoEditsAtRun_ = 0;
    // The history entry the memo shows, from 1; one past the last when the
    // memo shows new text; 0 before the first run.
    int historyPosition_ = 0;
    RememberedFileDialog saveDialog1_;
    RememberedFileDialog openDialog1_;
    bool refillingConnectAlias_ = false;
    bool bdeRunInProgress_ = false;
    bool formShown_ = false;
    // While an export walks the result: its feedback, whether the dataset
    // moved since the grid last caught up, and whether the window was asked
    // to close meanwhile (it closes once the export has unwound).
    ProgressFeedback* exportFeedback_ = nullptr;
    bool scrolledDuringExport_ = false;
    bool closeAfterExport_ = false;
    // The catalog of the connection, and what shows it.
    std::shared_ptr<SharedCatalog> catalog_;
    SqlCompleter* completer_ = nullptr;
    CatalogTableList* tableList_ = nullptr;
    QSplitter* tablesSplitter_ = nullptr;
    QToolButton* tableListButton_ = nullptr;
};

}  // namespace tarnwell
