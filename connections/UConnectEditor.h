#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "ui/WindowStyle.h"

class QMdiArea;
class QTreeWidgetItem;

namespace Ui {
class TfrmConnectEditor;
}

namespace tarnwell {

class Workspace;

// The connection browser: the tree of aliases on its BDE page, the tree of
// connection-string connections on its ADO page, and the current connection
// in EdtConnectDB, from which new query windows are preset. At most one
// exists; it is made on demand and lives until exit (closing only hides it).
//
// It docks in `home`, the main window's MDI area, and takes its height from
// the main window less the bars `coolBar` and `statusBar` of that window. The
// commands it starts that belong to the main window go out as signals.
class TfrmConnectEditor : public QWidget {
    Q_OBJECT
public:
    TfrmConnectEditor(Workspace& workspace, QMdiArea& home, const QWidget& coolBar, const QWidget& statusBar);
    ~TfrmConnectEditor() override;

    // The browser while it exists, else null.
    static TfrmConnectEditor* instance();
    // The browser, made when absent: a child of the main window's MDI area,
    // not yet shown.
    static TfrmConnectEditor& obtain(Workspace& workspace, QMdiArea& home, const QWidget& coolBar,
                                     const QWidget& statusBar);

    // The current connection, shown in EdtConnectDB, which new query windows
    // are preset from.
    QString currentConnection() const;
    // The page shown: 0 "ADO", 1 "BDE".
    int currentPage() const;
    void turnToPage(int page);

    // The new-connection command, of this window and of the main window's
    // toolbar: the ADO page comes up, the connection string is asked for in
    // a dialog owned by `owner`, and the connection opened with it is filed
    // in the ADO tree (when it was registered) and becomes the current
    // connection. The query windows refill their lists after every open,
    // whether or not it registered anything.
    void newAdoConnection(QWidget& owner);

    // --- Showing and placing ---------------------------------------------------
    // Docked in the main window when that is visible, else free-standing; shown.
    void OpenConnectionBrowser();
    // Shown in the style it has.
    void showInItsStyle();
    // Left 0, top 0, the height the main window leaves it, and the connection
    // box as wide as the window less 18.
    void PlaceConnectionBrowser();
    void SpeedButton1Click();  // dock
    void SpeedButton2Click();  // float
    void SpeedButton3Click();  // new connection-string connection
    void SpeedButton5Click();  // new query window

    // --- The alias tree -------------------------------------------------------
    // Fills the tree the first time the BDE page shows.
    void TabBdeShow();
    // A node was expanded. An alias not logged into may not expand: it is
    // collapsed again at once and its login runs as soon as control is back
    // in the event loop.
    void TrvBDEExpanding(QTreeWidgetItem* node);
    // The login to an alias not logged into, the test connection opened on
    // it and, on success, the alias registered. The node stays collapsed.
    void loginToAlias(QTreeWidgetItem& node);
    // Shows the selected alias's parameters in the parameter viewer, or else
    // points the test connection at the selected alias when it was logged
    // into. May throw the error of reopening the previous connection.
    void TrvBDEClick();
    // The same, an error that escapes it going to the general error report.
    void TrvBDEClickReportingErrors();
    // The node the tree shows selected, or null.
    QTreeWidgetItem* selectedNode() const;

    // Text of the only child of an alias not logged into.
    static const QString kNotConnected;

signals:
    // SpeedButton3: the new-connection command.
    void newConnectionRequested();
    // SpeedButton5: a new query window, as the tray opens it.
    void queryWindowRequested();
    // Closing put the browser away: the main menu's check mark goes.
    void hiddenByClose();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpFontsAndPictures();
    void connectCommands();
    void present(std::optional<WindowStyle> style);
    bool isShownInItsStyle() const;
    // What each showing does: empty the connection box, put the window back
    // at the top left, 200 wide, and place it.
    void FormShow();
    void resetPlace();
    void fitConnectionEdit();
    void layOutPanel1();
    void pointTestConnectionAt(const QTreeWidgetItem& alias);

    std::unique_ptr<Ui::TfrmConnectEditor> ui;
    Workspace& workspace_;
    QMdiArea& home_;
    const QWidget& coolBar_;
    const QWidget& statusBar_;
    bool loginPending_ = false;
};

// Level of a node in a tree: 0 for a top-level node.
int nodeLevel(const QTreeWidgetItem& node);

}  // namespace tarnwell
