#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

#include "session/ConnectionRegistry.h"
#include "session/Workspace.h"

namespace tarnwell::db {
class AdoConnection;
class AdoQuery;
class ClientDataSet;
class Database;
class Session;
}  // namespace tarnwell::db

class QMenu;
class QWidget;

namespace Ui {
class TfrmMain;
}

namespace tarnwell {

class Feedback;
class TfrmConnectEditor;
class TfrmQueryEditor;

// The ways a query window is opened; they differ in title, in what happens
// when nothing is registered and in where the window lives.
enum class QueryWindowForm { MainMenu, Tray, QueryWindow };

// The main window: an MDI frame that starts hidden and only hides when
// closed, the tray icon with its menu, and the commands that open the other
// windows. The engine objects and the connection registry it names belong to
// the workspace, which outlives it.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(Workspace& workspace, QWidget* parent = nullptr);
    ~TfrmMain() override;

    Workspace& workspace() const { return workspace_; }

    // --- Engine objects shared by the browser and the query windows ----------
    db::Session& Session1() const { return workspace_.Session1(); }
    db::Database& BDE_DB() const { return workspace_.BDE_DB(); }
    db::AdoConnection& ADOCon1() const { return workspace_.ADOCon1(); }
    db::AdoQuery& ADQ1() const { return workspace_.ADQ1(); }

    // Puts up the tray icon. Without a system tray the window shows at once,
    // as the program could not be reached otherwise.
    void startUp();

    // --- Connection registry ------------------------------------------------
    const std::vector<TAConnectedBDE>& ConnectedBDE() const { return registry().ConnectedBDE(); }
    const std::vector<TAConnectedADO>& ConnectedADO() const { return registry().ConnectedADO(); }
    ConnectionRegistry& registry() const { return workspace_.registry(); }

    // Registers a logged-in alias unless its name is registered already; only
    // a registration refreshes the query windows' connection lists.
    void AddConnectedBDE(const QString& aliasName, const QString& serverName,
                         const QString& databaseName, const QString& userName,
                         const QString& password);
    // Registers an opened ADO connection; its position, or nothing when an
    // earlier entry covers it.
    std::optional<int> AddConnectedADO(const QString& connectionString, const QString& provider,
                                       const QString& dataSource);
    // Every open query window refills its connection list `CbxConnectAlias`
    // for the kind its `CbxLinkType` shows, in creation order.
    // Convention for the query windows: their user-change handlers listen to
    // QComboBox::activated, which only a user's pick emits; a choice made by
    // program (setCurrentIndex, this refill) runs none of them. The refill
    // also blocks the list's signals while it works.
    void RefreshConnectAliases() { registry().RefreshConnectAliases(); }

    // --- Commands of other windows ------------------------------------------
    // The browser, made when absent (docked, not yet shown) and listened to.
    TfrmConnectEditor& obtainConnectionBrowser();
    void OpenConnectionBrowser();
    void PlaceConnectionBrowser();
    // The new window, or null when nothing is registered yet.
    TfrmQueryEditor* OpenQueryWindow(QueryWindowForm form);
    // The new-connection command of the toolbar and of the browser.
    void ToolButton1Click();
    // Restores the program's visible windows and raises them; a hidden main
    // window stays hidden. A second start asks for this.
    void bringApplicationForward();

    // The delimited text export of a result (DelimitedTextWriter.h): `dataSet`
    // from its first record to its last into the file `path`, values joined
    // by `separator`. Raises the dataset's or the file's error; nothing of the
    // main window is used. The query windows are handed it when they are
    // made.
    static void SaveDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator,
                                  Feedback& feedback);

    // The connection browser, once it exists; the exit through the main menu
    // destroys it.
    QPointer<QWidget> connectionBrowser;

    // Picture lists of the toolbar and of the browser's two trees.
    const QList<QIcon>& ImageToolBar() const { return workspace_.ImageToolBar(); }
    const QList<QIcon>& ImageADO() const { return workspace_.ImageADO(); }
    const QList<QIcon>& ImageBDE() const { return workspace_.ImageBDE(); }

    // The tray icon's click handling: only a right button press opens the menu.
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class ExitForm { MainMenu, Tray };

    void buildTrayMenu();
    void buildTrayIcon();
    void connectCommands();
    void centreOnScreen();

    // Menu, toolbar and tray commands.
    void MainHideWindowClick();
    void MainLinkerClick();
    void MainParmesClick();
    void ToolButton2Click();
    void PopupShowWindowClick();
    void N7Click();
    void exitProgram(ExitForm form);

    // Operations of windows that are built in their own units.
    void showConnectionBrowserOnMainWindowShown();
    void showConnectionBrowser();  // in the style it has
    void turnConnectionBrowserToPage(int page);
    void showParameterViewer();
    void clearMainLinker();
    void clearMainParmes();

    Workspace& workspace_;
    std::unique_ptr<Ui::TfrmMain> ui;
    QMenu* pMenuMain_;
    QSystemTrayIcon* trayIcon_;
};

// The main window of the process while it exists; null before it is made and
// once it is being destroyed.
TfrmMain* frmMain();

}  // namespace tarnwell
