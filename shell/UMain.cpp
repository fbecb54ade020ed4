#include "shell/UMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <exception>

#include "connections/AdoConEd.h"
#include "connections/UConnectEditor.h"
#include "connections/UParmViewer.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/Database.h"
#include "dataaccess/DemoDatabase.h"
#include "dataaccess/Session.h"
#include "query/UQueryEditor.h"
#include "query/UQueryThread.h"
#include "shell/DelimitedTextWriter.h"
#include "shell/ProgressFeedback.h"
#include "shell/Prompt.h"
#include "shell/QueryWindowLists.h"
#include "shell/WindowStyle.h"
#include "ui_UMain.h"

namespace tarnwell {

namespace {

QPointer<TfrmMain>& mainWindowReference() {
    static QPointer<TfrmMain> reference;
    return reference;
}

// The windows a user can see: not menus, tool tips or the like.
bool isUserWindow(const QWidget* widget) {
    const Qt::WindowType type = widget->windowType();
    return widget->isWindow() && type != Qt::Popup && type != Qt::ToolTip &&
           type != Qt::Desktop && type != Qt::SplashScreen;
}

}  // namespace

TfrmMain* frmMain() { return mainWindowReference().data(); }

QList<QIcon> loadImageList(const QString& folder, int count) {
    QList<QIcon> icons;
    for (int i = 0; i < count; ++i) {
        icons << QIcon(QStringLiteral(":/images/%1/%2.svg").arg(folder).arg(i));
    }
    return icons;
}

static std::unique_ptr<db::Session> standardSession() {
    return db::Session::fromStandardLocations(
        db::findDemoDatabase(QCoreApplication::applicationDirPath().toStdString()));
}

TfrmMain::TfrmMain(std::unique_ptr<db::Session> session, QWidget* parent)
    : QMainWindow(parent),
      session_(session ? std::move(session) : standardSession()),
      bdeDb_(std::make_unique<db::Database>(*session_, "BDE_DBS")),
      adoCon1_(std::make_unique<db::AdoConnection>()),
      adq1_(std::make_unique<db::AdoQuery>(*adoCon1_)),
      ui(std::make_unique<Ui::TfrmMain>()),
      pMenuMain_(new QMenu(this)),
      trayIcon_(new QSystemTrayIcon(this)),
      imageToolBar_(loadImageList(QStringLiteral("toolbar"), 3)),
      imageADO_(loadImageList(QStringLiteral("ado"), 9)),
      imageBDE_(loadImageList(QStringLiteral("bde"), 4)) {
    ui->setupUi(this);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    ui->ToolButton1->setIcon(imageToolBar_.at(0));
    ui->ToolButton2->setIcon(imageToolBar_.at(1));
    ui->ToolButton3->setIcon(imageToolBar_.at(2));
    ui->StatusBar1->setSizeGripEnabled(false);
    resize(752, 476);
    centreOnScreen();

    // The program lives in the tray: closing its last visible window must not
    // end it.
    QApplication::setQuitOnLastWindowClosed(false);

    buildTrayMenu();
    buildTrayIcon();
    connectCommands();
    mainWindowReference() = this;
}

TfrmMain::~TfrmMain() {
    // Windows destroyed with this one must no longer reach it.
    if (mainWindowReference() == this) {
        mainWindowReference() = nullptr;
    }
    destroyOwnedWindows();
}

void TfrmMain::destroyOwnedWindows() {
    // The query windows and the browser hold databases of Session1 and use
    // ADQ1; Qt would destroy them only after this window's members, so they go
    // first, and so does every run still using them.
    TQueryThread::abandonAllAndWait(QDeadlineTimer(30000));
    const QList<QMdiSubWindow*> children = ui->MdiArea->subWindowList(QMdiArea::CreationOrder);
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        delete *it;
    }
    const QList<QWidget*> owned = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* widget : owned) {
        if (widget->isWindow()) {
            delete widget;
        }
    }
}

void TfrmMain::startUp() {
    trayIcon_->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        show();
    }
}

void TfrmMain::buildTrayMenu() {
    pMenuMain_->setObjectName(QStringLiteral("PMenuMain"));
    pMenuMain_->addActions({ui->N7, ui->N6, ui->N5, ui->N3, ui->N2, ui->PopupHideWindow,
                            ui->PopupShowWindow, ui->N1});
}

void TfrmMain::buildTrayIcon() {
    trayIcon_->setObjectName(QStringLiteral("TrayIcon"));
    trayIcon_->setIcon(QIcon(QStringLiteral(":/icons/tarnwell.svg")));
    trayIcon_->setToolTip(QStringLiteral("Tarnwell"));
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &TfrmMain::trayIconActivated);
}

void TfrmMain::connectCommands() {
    connect(ui->MainHideWindow, &QAction::triggered, this, &TfrmMain::MainHideWindowClick);
    connect(ui->N4, &QAction::triggered, this, [this] { exitProgram(ExitForm::MainMenu); });
    connect(ui->MainLinker, &QAction::triggered, this, &TfrmMain::MainLinkerClick);
    connect(ui->MainParmes, &QAction::triggered, this, &TfrmMain::MainParmesClick);
    connect(ui->MainMakeQuery, &QAction::triggered, this,
            [this] { OpenQueryWindow(QueryWindowForm::MainMenu); });

    connect(ui->N7, &QAction::triggered, this, &TfrmMain::N7Click);
    connect(ui->N5, &QAction::triggered, this, &TfrmMain::OpenConnectionBrowser);
    connect(ui->N3, &QAction::triggered, this, [this] { OpenQueryWindow(QueryWindowForm::Tray); });
    // PopupHideWindow has no command.
    connect(ui->PopupShowWindow, &QAction::triggered, this, &TfrmMain::PopupShowWindowClick);
    connect(ui->N1, &QAction::triggered, this, [this] { exitProgram(ExitForm::Tray); });

    connect(ui->ToolButton1, &QToolButton::clicked, this, &TfrmMain::ToolButton1Click);
    connect(ui->ToolButton2, &QToolButton::clicked, this, &TfrmMain::ToolButton2Click);
    connect(ui->ToolButton3, &QToolButton::clicked, this,
            [this] { OpenQueryWindow(QueryWindowForm::MainMenu); });
}

void TfrmMain::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    // The frame is the window manager's and unknown before the first showing.
    QRect area = geometry();
    area.moveCenter(screen->availableGeometry().center());
    setGeometry(area);
}

// --- Window events -----------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        showConnectionBrowserOnMainWindowShown();
    }
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (connectionBrowser) {
        PlaceConnectionBrowser();
    }
}

void TfrmMain::trayIconActivated(QSystemTrayIcon::ActivationReason reason) {
    // Context is what a right button press on the icon reports.
    if (reason == QSystemTrayIcon::Context) {
        pMenuMain_->popup(QCursor::pos());
    }
}

// --- Commands ----------------------------------------------------------------

void TfrmMain::MainHideWindowClick() { hide(); }

void TfrmMain::MainLinkerClick() {
    ui->MainLinker->setChecked(true);
    showConnectionBrowser();
}

void TfrmMain::MainParmesClick() {
    showParameterViewer();
    ui->MainParmes->setChecked(true);
}

void TfrmMain::ToolButton2Click() { turnConnectionBrowserToPage(1); }

void TfrmMain::PopupShowWindowClick() {
    // A normal main window has no skip-taskbar hint in Qt (only tool and
    // splash windows do), so it keeps its task-bar entry while shown.
    show();
    raise();
    activateWindow();
}

void TfrmMain::N7Click() {
    QList<QWidget*> windows{this};
    const QWidgetList topLevel = QApplication::topLevelWidgets();
    for (QWidget* widget : topLevel) {
        if (widget != this && isUserWindow(widget)) {
            windows << widget;
        }
    }
    const QList<QMdiSubWindow*> children = ui->MdiArea->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow* child : children) {
        windows << child;
    }
    for (QWidget* window : windows) {
        if (window->isVisible()) {
            window->show();
            window->raise();
        }
    }
}

void TfrmMain::bringApplicationForward() {
    QWidget* lastRaised = nullptr;
    const QWidgetList topLevel = QApplication::topLevelWidgets();
    for (QWidget* widget : topLevel) {
        if (!isUserWindow(widget) || !widget->isVisible() || widget == this) {
            continue;
        }
        widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
        widget->raise();
        lastRaised = widget;
    }
    // The main window last, so it ends up in front when it is shown.
    if (isVisible()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        lastRaised = this;
    }
    if (lastRaised != nullptr) {
        lastRaised->activateWindow();
    }
}

void TfrmMain::exitProgram(ExitForm form) {
    // Work with a progress dialog (an export) is below us on the stack and
    // still uses its window: it is cancelled, and the exit waits for it to
    // unwind.
    if (ProgressFeedback::cancelAllWork()) {
        constexpr int kRetryMs = 20;
        QTimer::singleShot(kRetryMs, this, [this, form] { exitProgram(form); });
        return;
    }
    if (form == ExitForm::MainMenu && connectionBrowser) {
        delete connectionBrowser.data();
    }
    const QList<QMdiSubWindow*> children = ui->MdiArea->subWindowList(QMdiArea::CreationOrder);
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        QPointer<QMdiSubWindow> child = *it;
        child->close();
        delete child.data();
    }
    trayIcon_->hide();
    QCoreApplication::processEvents();
    QCoreApplication::exit(0);
}

// --- Delimited text export -----------------------------------------------------

void TfrmMain::SaveDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator) {
    NoFeedback nobody;
    SaveDataSetAsText(dataSet, path, separator, nobody);
}

void TfrmMain::SaveDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator,
                                 Feedback& feedback) {
    writeDataSetAsText(dataSet, path, separator, feedback);
}

// --- Connection registry -----------------------------------------------------

void TfrmMain::AddConnectedBDE(const QString& aliasName, const QString& serverName,
                               const QString& databaseName, const QString& userName,
                               const QString& password) {
    if (registry_.addBde({aliasName, serverName, databaseName, userName, password})) {
        RefreshConnectAliases();
    }
}

std::optional<int> TfrmMain::AddConnectedADO(const QString& connectionString,
                                             const QString& provider,
                                             const QString& dataSource) {
    return registry_.addAdo({connectionString, provider, dataSource});
}

void TfrmMain::RefreshConnectAliases() {
    const QList<QWidget*> windows = openQueryWindows();
    for (QWidget* window : windows) {
        const auto* linkType = window->findChild<QComboBox*>(QStringLiteral("CbxLinkType"));
        auto* connectAlias = window->findChild<QComboBox*>(QStringLiteral("CbxConnectAlias"));
        if (linkType != nullptr && connectAlias != nullptr) {
            refillConnectionList(registry_, *linkType, *connectAlias);
        }
    }
}

// --- Accessors ---------------------------------------------------------------

QAction* TfrmMain::MainLinker() const { return ui->MainLinker; }
QAction* TfrmMain::MainParmes() const { return ui->MainParmes; }
QMdiArea* TfrmMain::MdiArea() const { return ui->MdiArea; }
QWidget* TfrmMain::CoolBar1() const { return ui->CoolBar1; }
QStatusBar* TfrmMain::StatusBar1() const { return ui->StatusBar1; }

// --- Operations of windows built in their own units --------------------------
// The connection browser, the parameter viewer, the ADO connection dialog and
// the query window take these over as they come.

void TfrmMain::OpenConnectionBrowser() { TfrmConnectEditor::obtain(*this).OpenConnectionBrowser(); }

void TfrmMain::PlaceConnectionBrowser() {
    if (TfrmConnectEditor* browser = TfrmConnectEditor::instance()) {
        browser->PlaceConnectionBrowser();
    }
}

void TfrmMain::OpenQueryWindow(QueryWindowForm form) {
    if (ConnectedADO().empty() && ConnectedBDE().empty()) {
        prompt().showMessage(QStringLiteral("尚未建立連結"));
        if (form == QueryWindowForm::Tray) {
            OpenConnectionBrowser();
        }
        return;
    }
    // The window frees itself when it is closed; until then the main window
    // owns it.
    auto* window = new TfrmQueryEditor(*this);

    // Without a browser there is no current connection to preset from.
    TfrmConnectEditor* browser = TfrmConnectEditor::instance();
    const QString current = browser != nullptr ? browser->EdtConnectDB()->text() : QString();
    if (form != QueryWindowForm::QueryWindow) {
        window->setWindowTitle(window->windowTitle() + QStringLiteral("[") + current.trimmed() +
                               QStringLiteral("]"));
    }
    const int page = browser != nullptr ? browser->Page_Con()->currentIndex() : -1;
    if (page == 0 || page == 1) {
        window->CbxLinkType()->setCurrentIndex(page);  // by program: no change handler runs
    }
    RefreshConnectAliases();
    window->CbxConnectAlias()->setCurrentIndex(
        window->CbxConnectAlias()->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive));

    if (form == QueryWindowForm::MainMenu || isVisible()) {
        setWindowStyle(*window, WindowStyle::MdiChild, *this);
        window->ToolButton6()->setChecked(true);
    } else {
        setWindowStyle(*window, WindowStyle::Normal, *this);
        window->ToolButton7()->setChecked(true);
    }
    showWindow(*window);
}

void TfrmMain::ToolButton1Click() {
    // The command sits on the browser and on this window's toolbar, which is
    // only reachable once the browser exists; should it not, it is made, as
    // the tree it fills lives there.
    if (TfrmConnectEditor::instance() == nullptr) {
        OpenConnectionBrowser();
    }
    if (TfrmConnectEditor* browser = TfrmConnectEditor::instance()) {
        browser->Page_Con()->setCurrentIndex(0);
    }

    ADOCon1().resetToNewConnectionDefaults();
    if (!EditConnectionString(ADOCon1(), objectName(), QStringLiteral("ADOCon1"), this)) {
        return;
    }
    if (QString::fromStdString(ADOCon1().connectionString()).trimmed().isEmpty()) {
        return;
    }

    // Synchronous: the connection timeout bounds the wait.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool opened = false;
    try {
        ADOCon1().open();
        opened = true;
    } catch (const std::exception&) {
        ADOCon1().close();
    }
    QApplication::restoreOverrideCursor();
    if (!opened) {
        prompt().showMessage(QStringLiteral("資料來源連結失敗"));
        return;
    }

    // What the engine completed, not what the dialog gave.
    const QString connectionString = QString::fromStdString(ADOCon1().connectionString());
    const QString provider = ConnectionStringValue(connectionString, QStringLiteral("Provider="));
    const QString dataSource = ConnectionStringValue(connectionString, QStringLiteral("Data Source="));
    const std::optional<int> position = AddConnectedADO(connectionString, provider, dataSource);
    TfrmConnectEditor* browser = TfrmConnectEditor::instance();
    if (position && browser != nullptr) {
        fileAdoConnection(*browser->TrvADO(), provider, dataSource,
                          QString::fromStdString(ADOCon1().provider()), *position);
    }
    RefreshConnectAliases();
    if (browser != nullptr) {
        browser->EdtConnectDB()->setText(dataSource);
    }
}

void TfrmMain::showConnectionBrowserOnMainWindowShown() {
    // Made docked the first time; afterwards shown in the style it has.
    TfrmConnectEditor::obtain(*this).showInItsStyle();
}

void TfrmMain::showConnectionBrowser() { TfrmConnectEditor::obtain(*this).showInItsStyle(); }

void TfrmMain::turnConnectionBrowserToPage(int page) {
    if (TfrmConnectEditor* browser = TfrmConnectEditor::instance()) {
        browser->Page_Con()->setCurrentIndex(page);
    }
}

void TfrmMain::showParameterViewer() { TfrmParmViewer::showViewer(*this); }

}  // namespace tarnwell
