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

#include "connections/AdoConEd.h"
#include "connections/UConnectEditor.h"
#include "connections/UParmViewer.h"
#include "output/DelimitedTextWriter.h"
#include "query/UQueryEditor.h"
#include "ui/ProgressFeedback.h"
#include "ui/Prompt.h"
#include "ui/WindowStyle.h"
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

TfrmMain::TfrmMain(Workspace& workspace, QWidget* parent)
    : QMainWindow(parent),
      workspace_(workspace),
      ui(std::make_unique<Ui::TfrmMain>()),
      pMenuMain_(new QMenu(this)),
      trayIcon_(new QSystemTrayIcon(this)) {
    ui->setupUi(this);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    ui->ToolButton1->setIcon(ImageToolBar().at(0));
    ui->ToolButton2->setIcon(ImageToolBar().at(1));
    ui->ToolButton3->setIcon(ImageToolBar().at(2));
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

void TfrmMain::SaveDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator,
                                 Feedback& feedback) {
    writeDataSetAsText(dataSet, path, separator, feedback);
}

// --- Connection registry -----------------------------------------------------

void TfrmMain::AddConnectedBDE(const QString& aliasName, const QString& serverName,
                               const QString& databaseName, const QString& userName,
                               const QString& password) {
    registry().addBde({aliasName, serverName, databaseName, userName, password});
}

std::optional<int> TfrmMain::AddConnectedADO(const QString& connectionString,
                                             const QString& provider,
                                             const QString& dataSource) {
    return registry().addAdo({connectionString, provider, dataSource});
}

// --- Operations of windows built in their own units --------------------------

TfrmConnectEditor& TfrmMain::obtainConnectionBrowser() {
    TfrmConnectEditor& browser = TfrmConnectEditor::obtain(workspace_, *ui->MdiArea, *ui->CoolBar1, *ui->StatusBar1);
    if (connectionBrowser != &browser) {
        connectionBrowser = &browser;
        connect(&browser, &TfrmConnectEditor::newConnectionRequested, this, &TfrmMain::ToolButton1Click);
        connect(&browser, &TfrmConnectEditor::queryWindowRequested, this,
                [this] { OpenQueryWindow(QueryWindowForm::Tray); });
        connect(&browser, &TfrmConnectEditor::hiddenByClose, this, &TfrmMain::clearMainLinker);
    }
    return browser;
}

void TfrmMain::OpenConnectionBrowser() { obtainConnectionBrowser().OpenConnectionBrowser(); }

void TfrmMain::PlaceConnectionBrowser() {
    if (TfrmConnectEditor* browser = TfrmConnectEditor::instance()) {
        browser->PlaceConnectionBrowser();
    }
}

TfrmQueryEditor* TfrmMain::OpenQueryWindow(QueryWindowForm form) {
    if (ConnectedADO().empty() && ConnectedBDE().empty()) {
        prompt().showMessage(QStringLiteral("尚未建立連結"));
        if (form == QueryWindowForm::Tray) {
            OpenConnectionBrowser();
        }
        return nullptr;
    }
    // The window frees itself when it is closed; until then the main window
    // owns it.
    auto* window = new TfrmQueryEditor(workspace_, *ui->MdiArea, &TfrmMain::SaveDataSetAsText);
    connect(window, &TfrmQueryEditor::connectionBrowserRequested, this, &TfrmMain::OpenConnectionBrowser);
    connect(window, &TfrmQueryEditor::queryWindowRequested, this,
            [this] { OpenQueryWindow(QueryWindowForm::QueryWindow); });

    // Without a browser there is no current connection to preset from.
    TfrmConnectEditor* browser = TfrmConnectEditor::instance();
    const QString current = browser != nullptr ? browser->currentConnection() : QString();
    if (form != QueryWindowForm::QueryWindow) {
        window->setWindowTitle(window->windowTitle() + QStringLiteral("[") + current.trimmed() +
                               QStringLiteral("]"));
    }
    const int page = browser != nullptr ? browser->currentPage() : -1;
    const bool docked = form == QueryWindowForm::MainMenu || isVisible();
    window->preset(page, current, docked ? WindowStyle::MdiChild : WindowStyle::Normal);
    showWindow(*window);
    return window;
}

void TfrmMain::ToolButton1Click() {
    // The command sits on the browser and on this window's toolbar, which is
    // only reachable once the browser exists; should it not, it is made, as
    // the tree it fills lives there.
    if (TfrmConnectEditor::instance() == nullptr) {
        OpenConnectionBrowser();
    }
    obtainConnectionBrowser().newAdoConnection(*this);
}

void TfrmMain::showConnectionBrowserOnMainWindowShown() {
    // Made docked the first time; afterwards shown in the style it has.
    obtainConnectionBrowser().showInItsStyle();
}

void TfrmMain::showConnectionBrowser() { obtainConnectionBrowser().showInItsStyle(); }

void TfrmMain::turnConnectionBrowserToPage(int page) {
    if (TfrmConnectEditor* browser = TfrmConnectEditor::instance()) {
        browser->turnToPage(page);
    }
}

void TfrmMain::showParameterViewer() {
    TfrmParmViewer& viewer = TfrmParmViewer::showViewer(workspace_, *ui->MdiArea);
    connect(&viewer, &TfrmParmViewer::closed, this, &TfrmMain::clearMainParmes, Qt::UniqueConnection);
}

void TfrmMain::clearMainLinker() { ui->MainLinker->setChecked(false); }

void TfrmMain::clearMainParmes() { ui->MainParmes->setChecked(false); }

}  // namespace tarnwell
