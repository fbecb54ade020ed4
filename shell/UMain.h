#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

#include "dataaccess/Session.h"
#include "shell/ConnectionRegistry.h"

namespace tarnwell::db {
class AdoConnection;
class AdoQuery;
class ClientDataSet;
class Database;
}  // namespace tarnwell::db

class QAction;
class QMdiArea;
class QMenu;
class QStatusBar;
class QWidget;

namespace Ui {
class TfrmMain;
}

namespace tarnwell {

class Feedback;

// The ways a query window is opened; they differ in title, in what happens
// when nothing is registered and in where the window lives.
enum class QueryWindowForm { MainMenu, Tray, QueryWindow };

// The main window: an MDI frame that starts hidden and only hides when
// closed, the tray icon with its menu, and the connection registry of the run.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `session` is the alias engine's session the program shares; without one
    // the standard configuration is read (at its first use).
    explicit TfrmMain(std::unique_ptr<db::Session> session = nullptr, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // --- Engine objects shared by the browser and the query windows ----------
    db::Session& Session1() const { return *session_; }
    // The browser's test connection, database name "BDE_DBS".
    db::Database& BDE_DB() const { return *bdeDb_; }
    // The one connection-string connection and query of the process.
    db::AdoConnection& ADOCon1() const { return *adoCon1_; }
    db::AdoQuery& ADQ1() const { return *adq1_; }

    // Puts up the tray icon. Without a system tray the window shows at once,
    // as the program could not be reached otherwise.
    void startUp();

    // --- Connection registry ------------------------------------------------
    const std::vector<TAConnectedBDE>& ConnectedBDE() const { return registry_.ConnectedBDE(); }
    const std::vector<TAConnectedADO>& ConnectedADO() const { return registry_.ConnectedADO(); }
    const ConnectionRegistry& registry() const { return registry_; }

    // Registers a logged-in alias unless its name is registered already; only
    // a registration refreshes the query windows' connection lists.
    void AddConnectedBDE(const QString& aliasName, const QString& serverName,
                         const QString& databaseName, const QString& userName,
                         const QString& password);
    // Registers an opened ADO connection; its position, or nothing when an
    // earlier entry covers it.
    std::optional<int> AddConnectedADO(const QString& connectionString, const QString& provider,
                                       const QString& dataSource);
    // Refills the connection list `CbxConnectAlias` of every open query window
    // (object name "frmQueryEditor_<n>") for the kind its `CbxLinkType` shows.
    // Convention for the query windows: their user-change handlers listen to
    // QComboBox::activated, which only a user's pick emits; a choice made by
    // program (setCurrentIndex, this refill) runs none of them. The refill
    // also blocks the list's signals while it works.
    void RefreshConnectAliases();

    // --- Commands of other windows ------------------------------------------
    void OpenConnectionBrowser();
    void PlaceConnectionBrowser();
    void OpenQueryWindow(QueryWindowForm form);
    void ToolButton1Click();
    // Restores the program's visible windows and raises them; a hidden main
    // window stays hidden. A second start asks for this.
    void bringApplicationForward();

    // The delimited text export of a result (DelimitedTextWriter.h): `dataSet`
    // from its first record to its last into the file `path`, values joined
    // by `separator`. Raises the dataset's or the file's error; nothing of the
    // main window is used.
    static void SaveDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator);
    static void SaveDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator,
                                  Feedback& feedback);

    // --- What other windows read or set -------------------------------------
    QAction* MainLinker() const;
    QAction* MainParmes() const;
    QMdiArea* MdiArea() const;
    QWidget* CoolBar1() const;
    QStatusBar* StatusBar1() const;
    QMenu* PMenuMain() const { return pMenuMain_; }
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }

    // The connection browser, once it exists; the exit through the main menu
    // destroys it.
    QPointer<QWidget> connectionBrowser;

    // Picture lists of the toolbar and of the browser's two trees.
    const QList<QIcon>& ImageToolBar() const { return imageToolBar_; }
    const QList<QIcon>& ImageADO() const { return imageADO_; }
    const QList<QIcon>& ImageBDE() const { return imageBDE_; }

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

    void destroyOwnedWindows();

    // Declared before the windows' state: the engine objects outlive every
    // window that uses them (see the destructor).
    std::unique_ptr<db::Session> session_;
    std::unique_ptr<db::Database> bdeDb_;
    std::unique_ptr<db::AdoConnection> adoCon1_;
    std::unique_ptr<db::AdoQuery> adq1_;
    std::unique_ptr<Ui::TfrmMain> ui;
    QMenu* pMenuMain_;
    QSystemTrayIcon* trayIcon_;
    ConnectionRegistry registry_;
    QList<QIcon> imageToolBar_;
    QList<QIcon> imageADO_;
    QList<QIcon> imageBDE_;
};

// The main window of the process while it exists; null before it is made and
// once it is being destroyed.
TfrmMain* frmMain();

// The pictures of a list kept as numbered SVG resources under `folder`.
QList<QIcon> loadImageList(const QString& folder, int count);

}  // namespace tarnwell
