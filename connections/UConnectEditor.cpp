#include "connections/UConnectEditor.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTreeWidgetItem>

#include "connections/AdoConEd.h"
#include "connections/UParmViewer.h"
#include "connections/UPasswd.h"
#include "dataaccess/Database.h"
#include "dataaccess/Session.h"
#include "session/Workspace.h"
#include "ui/ErrorReport.h"
#include "ui/FormFont.h"
#include "ui/Prompt.h"
#include "ui_UConnectEditor.h"

namespace tarnwell {

namespace {

QPointer<TfrmConnectEditor>& browserReference() {
    static QPointer<TfrmConnectEditor> reference;
    return reference;
}

// Picture indexes of the alias tree.
constexpr int kPictureNode = 0;
constexpr int kPictureAlias = 1;
constexpr int kPictureLoggedIn = 3;

constexpr int kShownWidth = 200;
constexpr int kConnectEditMargin = 18;
constexpr int kPanel2Width = 78;

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

bool isAlias(const QTreeWidgetItem& node) { return nodeLevel(node) == 1; }

bool isAliasNotLoggedInto(const QTreeWidgetItem& node) {
    return isAlias(node) && node.childCount() > 0 &&
           node.child(0)->text(0) == TfrmConnectEditor::kNotConnected;
}

bool isAliasLoggedInto(const QTreeWidgetItem& node) {
    return isAlias(node) && node.childCount() >= 2 &&
           node.child(0)->text(0) != TfrmConnectEditor::kNotConnected;
}

}  // namespace

const QString TfrmConnectEditor::kNotConnected = QStringLiteral("未連線");

int nodeLevel(const QTreeWidgetItem& node) {
    int level = 0;
    for (const QTreeWidgetItem* parent = node.parent(); parent != nullptr; parent = parent->parent()) {
        ++level;
    }
    return level;
}

TfrmConnectEditor::TfrmConnectEditor(Workspace& workspace, QMdiArea& home, const QWidget& coolBar,
                                     const QWidget& statusBar)
    : QWidget(home.window(), Qt::Window),
      ui(std::make_unique<Ui::TfrmConnectEditor>()),
      workspace_(workspace),
      home_(home),
      coolBar_(coolBar),
      statusBar_(statusBar) {
    ui->setupUi(this);
    setUpFontsAndPictures();
    ui->Panel1->installEventFilter(this);
    ui->TabBde->installEventFilter(this);
    ui->Page_Con->setCurrentIndex(1);
    connectCommands();
    browserReference() = this;
}

TfrmConnectEditor::~TfrmConnectEditor() {
    if (browserReference() == this) {
        browserReference() = nullptr;
    }
}

TfrmConnectEditor* TfrmConnectEditor::instance() { return browserReference().data(); }

TfrmConnectEditor& TfrmConnectEditor::obtain(Workspace& workspace, QMdiArea& home, const QWidget& coolBar,
                                             const QWidget& statusBar) {
    if (TfrmConnectEditor* browser = instance()) {
        return *browser;
    }
    auto* browser = new TfrmConnectEditor(workspace, home, coolBar, statusBar);
    const QSize laidOut = browser->size();
    setWindowStyle(*browser, WindowStyle::MdiChild, home);
    setWindowRect(*browser, QRect(QPoint(0, 0), laidOut));
    return *browser;
}

QString TfrmConnectEditor::currentConnection() const { return ui->EdtConnectDB->text(); }
int TfrmConnectEditor::currentPage() const { return ui->Page_Con->currentIndex(); }
void TfrmConnectEditor::turnToPage(int page) { ui->Page_Con->setCurrentIndex(page); }

void TfrmConnectEditor::newAdoConnection(QWidget& owner) {
    turnToPage(0);
    const std::optional<OpenedAdoConnection> opened = openNewAdoConnection(workspace_, owner);
    if (!opened) {
        return;
    }
    if (opened->position) {
        fileAdoConnection(*ui->TrvADO, workspace_.ImageADO(), opened->provider, opened->dataSource,
                          opened->reportedProvider, *opened->position);
    }
    workspace_.registry().RefreshConnectAliases();
    ui->EdtConnectDB->setText(opened->dataSource);
}

void TfrmConnectEditor::setUpFontsAndPictures() {
    setFormFont(*this, pixelFont("細明體", 13));
    setFormFont(*ui->EdtConnectDB, pixelFont("細明體", 15));
    setFormFont(*ui->TrvBDE, pixelFont("Arial", 11));
    setFormFont(*ui->TrvADO, pixelFont("Arial", 11));
    // Long lines (a password) scroll sideways rather than being cut short.
    for (QTreeWidget* tree : {ui->TrvBDE, ui->TrvADO}) {
        tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        tree->header()->setStretchLastSection(false);
    }
    ui->TrvBDE->setIconSize(QSize(14, 14));
    ui->TrvADO->setIconSize(QSize(16, 16));

    const auto picture = [](const char* name) {
        return QIcon(QStringLiteral(":/images/browser/%1.svg").arg(QLatin1String(name)));
    };
    ui->SpeedButton5->setIcon(picture("newquery"));
    ui->SpeedButton1->setIcon(picture("dock"));
    ui->SpeedButton2->setIcon(picture("float"));
    ui->SpeedButton3->setIcon(picture("newado"));
    for (QToolButton* button : {ui->SpeedButton5, ui->SpeedButton1, ui->SpeedButton2, ui->SpeedButton3}) {
        button->setIconSize(QSize(16, 16));
    }
}

void TfrmConnectEditor::connectCommands() {
    auto* dockingButtons = new QButtonGroup(this);
    dockingButtons->setExclusive(true);
    dockingButtons->addButton(ui->SpeedButton1);
    dockingButtons->addButton(ui->SpeedButton2);
    ui->SpeedButton1->setChecked(true);

    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TfrmConnectEditor::SpeedButton1Click);
    connect(ui->SpeedButton2, &QToolButton::clicked, this, &TfrmConnectEditor::SpeedButton2Click);
    connect(ui->SpeedButton3, &QToolButton::clicked, this,
            [this] { reportingErrors([this] { SpeedButton3Click(); }); });
    connect(ui->SpeedButton5, &QToolButton::clicked, this,
            [this] { reportingErrors([this] { SpeedButton5Click(); }); });
    connect(ui->TrvBDE, &QTreeWidget::itemExpanded, this, &TfrmConnectEditor::TrvBDEExpanding);
    connect(ui->TrvBDE, &QTreeWidget::itemClicked, this, &TfrmConnectEditor::TrvBDEClickReportingErrors);
}

// --- Showing and placing -------------------------------------------------------

void TfrmConnectEditor::OpenConnectionBrowser() {
    present(home_.window()->isVisible() ? WindowStyle::MdiChild : WindowStyle::Normal);
}

void TfrmConnectEditor::showInItsStyle() { present(std::nullopt); }

void TfrmConnectEditor::SpeedButton1Click() { present(WindowStyle::MdiChild); }

void TfrmConnectEditor::SpeedButton2Click() { present(WindowStyle::Normal); }

void TfrmConnectEditor::SpeedButton3Click() { emit newConnectionRequested(); }

void TfrmConnectEditor::SpeedButton5Click() { emit queryWindowRequested(); }

bool TfrmConnectEditor::isShownInItsStyle() const {
    if (const QMdiSubWindow* frame = mdiSubWindowOf(*this)) {
        return !frame->isHidden() && !isHidden();
    }
    return !isHidden();
}

void TfrmConnectEditor::present(std::optional<WindowStyle> style) {
    const bool wasShown = isShownInItsStyle();
    const WindowStyle before = windowStyle(*this);
    if (style) {
        setWindowStyle(*this, *style, home_);
    }
    const bool docked = windowStyle(*this) == WindowStyle::MdiChild;
    (docked ? ui->SpeedButton1 : ui->SpeedButton2)->setChecked(true);
    showWindow(*this);
    windowFrame(*this).raise();
    if (!wasShown) {
        FormShow();
    } else if (windowStyle(*this) != before) {
        // Moving between the main window and the desktop keeps the current
        // connection; the window starts again at the top left of its new home.
        resetPlace();
    }
}

void TfrmConnectEditor::FormShow() {
    ui->EdtConnectDB->clear();
    resetPlace();
}

void TfrmConnectEditor::resetPlace() {
    setWindowRect(*this, QRect(0, 0, kShownWidth, windowSize(*this).height()));
    PlaceConnectionBrowser();
}

void TfrmConnectEditor::PlaceConnectionBrowser() {
    // The bars have their laid-out heights only once the main window's layout
    // ran, which a main window never shown has not done yet.
    QWidget& mainWindow = *home_.window();
    if (QLayout* layout = mainWindow.layout()) {
        layout->activate();
    }
    const int height = mainWindow.frameGeometry().height() - coolBar_.height() - statusBar_.height() - 50;
    setWindowRect(*this, QRect(0, 0, windowSize(*this).width(), height));
    fitConnectionEdit();
}

void TfrmConnectEditor::fitConnectionEdit() {
    ui->EdtConnectDB->resize(windowSize(*this).width() - kConnectEditMargin, ui->EdtConnectDB->height());
}

void TfrmConnectEditor::layOutPanel1() {
    // Panel2 keeps to the right end of the strip, over the connection box,
    // which stretches underneath it with the window.
    ui->Panel2->setGeometry(ui->Panel1->width() - kPanel2Width, 0, kPanel2Width, ui->Panel1->height());
    ui->Panel2->raise();
}

void TfrmConnectEditor::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitConnectionEdit();
}

bool TfrmConnectEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->Panel1 && event->type() == QEvent::Resize) {
        layOutPanel1();
    } else if (watched == ui->TabBde && event->type() == QEvent::Show) {
        reportingErrors([this] { TabBdeShow(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmConnectEditor::closeEvent(QCloseEvent* event) {
    // The browser lives until exit: closing puts it on the desktop, hidden.
    event->ignore();
    windowFrame(*this).hide();
    hide();
    setWindowStyle(*this, WindowStyle::Normal, home_);
    ui->SpeedButton2->setChecked(true);
    emit hiddenByClose();
}

// --- The alias tree ---------------------------------------------------------------

void TfrmConnectEditor::TabBdeShow() {
    QTreeWidget& tree = *ui->TrvBDE;
    if (tree.topLevelItemCount() > 0) {
        return;
    }
    const QList<QIcon>& pictures = workspace_.ImageBDE();
    auto* root = new QTreeWidgetItem(&tree, {QStringLiteral("BDE")});
    root->setIcon(0, pictures.at(kPictureNode));
    for (const std::string& name : workspace_.Session1().aliasNames()) {
        auto* alias = new QTreeWidgetItem(root, {fromUtf8(name)});
        alias->setIcon(0, pictures.at(kPictureAlias));
        auto* placeholder = new QTreeWidgetItem(alias, {kNotConnected});
        placeholder->setIcon(0, pictures.at(kPictureNode));
    }
}

void TfrmConnectEditor::TrvBDEExpanding(QTreeWidgetItem* node) {
    if (node == nullptr || !isAliasNotLoggedInto(*node)) {
        return;  // the expansion goes ahead
    }
    // Collapsed again before anything is drawn; the login asks in a modal
    // dialog, which must not run inside the tree's own mouse or key handling.
    node->setExpanded(false);
    if (loginPending_) {
        return;
    }
    loginPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, node] {
            loginPending_ = false;
            reportingErrors([this, node] { loginToAlias(*node); });
        },
        Qt::QueuedConnection);
}

void TfrmConnectEditor::loginToAlias(QTreeWidgetItem& node) {
    if (!isAliasNotLoggedInto(node)) {
        return;
    }
    const QString aliasName = node.text(0);
    db::Database& testConnection = workspace_.BDE_DB();
    db::Session& session = workspace_.Session1();

    testConnection.close();
    testConnection.setParams(session.aliasParams(aliasName.toStdString()));

    const QPointer<TfrmConnectEditor> self = this;
    int accepted = 0;
    {
        TfrmPasswd dialog(testConnection, aliasName, fromUtf8(testConnection.params().value("USER NAME")));
        dialog.exec();
        accepted = dialog.accepted();
    }
    if (!self || accepted != 1) {
        return;
    }

    testConnection.setAliasName(aliasName.toStdString());
    try {
        testConnection.open();
    } catch (const std::exception& error) {
        prompt().showMessage(QStringLiteral("連線失敗: ") + QString::fromUtf8(error.what()));
        ui->EdtConnectDB->clear();
        return;
    }
    ui->EdtConnectDB->setText(aliasName);

    const db::ParamList& params = testConnection.params();
    const QIcon& nodePicture = workspace_.ImageBDE().at(kPictureNode);
    auto* userNode = new QTreeWidgetItem(&node, {QStringLiteral("USER NAME=") + fromUtf8(params.value("USER NAME"))});
    userNode->setIcon(0, nodePicture);
    auto* passwordNode = new QTreeWidgetItem(&node, {QStringLiteral("PASSWORD=") + fromUtf8(params.value("PASSWORD"))});
    passwordNode->setIcon(0, nodePicture);
    delete node.takeChild(0);

    workspace_.registry().addBde({ui->EdtConnectDB->text(), fromUtf8(params.value("SERVER NAME")),
                                  fromUtf8(params.value("DATABASE NAME")), fromUtf8(params.value("USER NAME")),
                                  fromUtf8(params.value("PASSWORD"))});

    // The viewer shows the selected alias; the test connection goes back to
    // that alias's parameters. Without a selected alias there is none to load.
    if (TfrmParmViewer::instance() != nullptr) {
        const QTreeWidgetItem* selected = selectedNode();
        if (selected != nullptr && isAlias(*selected)) {
            testConnection.close();
            testConnection.setParams(session.aliasParams(selected->text(0).toStdString()));
        }
    }

    ui->TrvBDE->setCurrentItem(&node);
    node.setIcon(0, workspace_.ImageBDE().at(kPictureLoggedIn));
}

QTreeWidgetItem* TfrmConnectEditor::selectedNode() const {
    QTreeWidgetItem* current = ui->TrvBDE->currentItem();
    return current != nullptr && current->isSelected() ? current : nullptr;
}

void TfrmConnectEditor::TrvBDEClick() {
    QTreeWidgetItem* selected = selectedNode();
    if (selected == nullptr || !isAlias(*selected)) {
        return;
    }
    if (TfrmParmViewer* viewer = TfrmParmViewer::instance()) {
        viewer->ShowAliasParams(*selected);
    } else if (isAliasLoggedInto(*selected)) {
        pointTestConnectionAt(*selected);
    }
}

void TfrmConnectEditor::TrvBDEClickReportingErrors() {
    reportingErrors([this] { TrvBDEClick(); });
}

void TfrmConnectEditor::pointTestConnectionAt(const QTreeWidgetItem& alias) {
    db::Database& testConnection = workspace_.BDE_DB();
    const db::ParamList previousParams = testConnection.params();
    const std::string previousAlias = testConnection.aliasName();
    const std::string aliasName = alias.text(0).toStdString();
    try {
        testConnection.close();
        testConnection.setAliasName({});
        testConnection.setDriverName({});
        testConnection.setParams(workspace_.Session1().aliasParams(aliasName));
        testConnection.setAliasName(aliasName);
        // As the login does: the configured user name gives way, both login
        // lines go at the end (a configured password stays in front).
        testConnection.params().removeFirst("USER NAME");
        testConnection.params().appendLine(alias.child(0)->text(0).toStdString());
        testConnection.params().appendLine(alias.child(1)->text(0).toStdString());
        testConnection.open();
        ui->EdtConnectDB->setText(alias.text(0));
    } catch (const std::exception&) {
        prompt().showMessage(QStringLiteral("連結失敗\r請重新連線"));
        testConnection.close();
        testConnection.setParams(previousParams);
        testConnection.setAliasName(previousAlias);
        // Not caught here: a failure of the connection that worked before
        // goes to the general error report.
        testConnection.open();
    }
}

}  // namespace tarnwell
