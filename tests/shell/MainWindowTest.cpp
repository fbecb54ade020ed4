// The main window: layout, tray menu, showing and hiding, and the two exits.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "shell/UMain.h"
#include "support/FindChild.h"
#include "support/QtPrinters.h"

namespace tarnwell {
namespace {

using test::child;

QStringList objectNames(const QList<QAction*>& actions) {
    QStringList names;
    for (const QAction* action : actions) {
        names << action->objectName();
    }
    return names;
}

QStringList texts(const QList<QAction*>& actions) {
    QStringList result;
    for (const QAction* action : actions) {
        result << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return result;
}

// Any pixel drawn at all: the picture exists and renders at its size.
bool drawsSomething(const QIcon& icon, QSize size) {
    const QImage image = icon.pixmap(size).toImage();
    if (image.size() != size) {
        return false;
    }
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                return true;
            }
        }
    }
    return false;
}

// Runs `command` from inside the application's event loop; what the loop
// returned, or -1 when the command did not end it.
int runInEventLoop(const std::function<void()>& command) {
    QTimer::singleShot(0, qApp, command);
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(-1); });
    return QApplication::exec();
}

TEST(MainWindowLayoutTest, WindowToolbarAndStatusBar) {
    Workspace workspace;
    TfrmMain main(workspace);
    EXPECT_EQ(main.objectName(), "frmMain");
    EXPECT_EQ(main.windowTitle(), "frmMain");
    EXPECT_EQ(main.size(), QSize(752, 476));
    EXPECT_EQ(main.font().family(), "MS Sans Serif");
    EXPECT_EQ(main.font().pixelSize(), 11);
    EXPECT_FALSE(main.isVisible()) << "the main window starts hidden";
    EXPECT_EQ(frmMain(), &main);

    main.show();
    EXPECT_EQ(main.windowTitle(), "frmMain");
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((main.geometry().center() - screenCentre).manhattanLength(), 1);
    EXPECT_EQ(child<QWidget>(main, "CoolBar1")->objectName(), "CoolBar1");
    EXPECT_EQ(child<QWidget>(main, "CoolBar1")->height(), 36);
    EXPECT_EQ(child<QStatusBar>(main, "StatusBar1")->objectName(), "StatusBar1");
    EXPECT_EQ(child<QStatusBar>(main, "StatusBar1")->height(), 19);
    EXPECT_EQ(child<QStatusBar>(main, "StatusBar1")->currentMessage(), "");
    EXPECT_EQ(main.centralWidget()->findChild<QMdiArea*>(), child<QMdiArea>(main, "MdiArea"));

    const QWidget* toolBar = main.findChild<QWidget*>("ToolBar1");
    ASSERT_NE(toolBar, nullptr);
    EXPECT_TRUE(child<QWidget>(main, "CoolBar1")->isAncestorOf(toolBar));
    for (int i = 0; i < 3; ++i) {
        const auto* button = toolBar->findChild<QToolButton*>(QStringLiteral("ToolButton%1").arg(i + 1));
        ASSERT_NE(button, nullptr) << i;
        EXPECT_EQ(button->size(), QSize(32, 33));
        EXPECT_EQ(button->iconSize(), QSize(25, 25));
        EXPECT_TRUE(button->autoRaise()) << "flat";
        EXPECT_EQ(button->icon().cacheKey(), main.ImageToolBar().at(i).cacheKey());
    }
}

TEST(MainWindowLayoutTest, PictureListsHaveTheirCountsAndSizes) {
    Workspace workspace;
    TfrmMain main(workspace);
    const struct {
        const QList<QIcon>& list;
        qsizetype count;
        QSize size;
    } lists[] = {{main.ImageToolBar(), 3, {25, 25}},
                 {main.ImageADO(), 9, {16, 16}},
                 {main.ImageBDE(), 4, {14, 14}}};
    for (const auto& expected : lists) {
        ASSERT_EQ(expected.list.size(), expected.count);
        for (qsizetype i = 0; i < expected.count; ++i) {
            EXPECT_TRUE(drawsSomething(expected.list.at(i), expected.size))
                << "picture " << i << " of the list of " << expected.count;
        }
    }
    EXPECT_TRUE(drawsSomething(child<QSystemTrayIcon>(main, "TrayIcon")->icon(), {22, 22}));
}

TEST(MainWindowLayoutTest, MainMenuAndTrayMenu) {
    Workspace workspace;
    TfrmMain main(workspace);
    const auto* menuBar = main.findChild<QMenuBar*>("MainMenu1");
    ASSERT_NE(menuBar, nullptr);
    EXPECT_EQ(main.menuBar(), menuBar);
    const QList<QAction*> menus = menuBar->actions();
    EXPECT_EQ(texts(menus), QStringList({"檔案", "編輯", "檢視", "查詢"}));
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(objectNames(menus[0]->menu()->actions()), QStringList({"MainHideWindow", "N4"}));
    EXPECT_EQ(texts(menus[0]->menu()->actions()), QStringList({"隱藏Brisavel", "結束"}));
    EXPECT_TRUE(menus[1]->menu()->actions().isEmpty());
    EXPECT_EQ(objectNames(menus[2]->menu()->actions()), QStringList({"MainLinker", "MainParmes"}));
    EXPECT_EQ(texts(menus[2]->menu()->actions()), QStringList({"連結瀏覽器", "參數瀏覽器"}));
    EXPECT_EQ(objectNames(menus[3]->menu()->actions()), QStringList({"MainMakeQuery"}));
    EXPECT_EQ(texts(menus[3]->menu()->actions()), QStringList({"建立查詢"}));
    EXPECT_TRUE(child<QAction>(main, "MainLinker")->isCheckable());
    EXPECT_TRUE(child<QAction>(main, "MainLinker")->isChecked());
    EXPECT_FALSE(child<QAction>(main, "MainParmes")->isChecked());

    ASSERT_NE(child<QMenu>(main, "PMenuMain"), nullptr);
    EXPECT_EQ(child<QMenu>(main, "PMenuMain")->objectName(), "PMenuMain");
    EXPECT_EQ(objectNames(child<QMenu>(main, "PMenuMain")->actions()),
              QStringList({"N7", "N6", "N5", "N3", "N2", "PopupHideWindow", "PopupShowWindow", "N1"}));
    EXPECT_EQ(texts(child<QMenu>(main, "PMenuMain")->actions()),
              QStringList({"顯示桌面視窗", "-", "建立連結", "建立查詢", "-", "隱藏Brisavel",
                           "開啟Brisavel", "結束"}));
    EXPECT_EQ(child<QSystemTrayIcon>(main, "TrayIcon")->toolTip(), "Tarnwell");
    EXPECT_EQ(child<QSystemTrayIcon>(main, "TrayIcon")->contextMenu(), nullptr)
        << "the menu opens on a right press only, through the activation handler";
}

TEST(MainWindowTest, StartsVisibleWhenTheDesktopHasNoTray) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "this test runs without a tray";
    Workspace workspace;
    TfrmMain main(workspace);
    main.startUp();
    EXPECT_TRUE(main.isVisible());
}

TEST(MainWindowTest, ClosingOnlyHides) {
    Workspace workspace;
    TfrmMain main(workspace);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    main.show();
    EXPECT_FALSE(main.close()) << "the close is refused";
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(frmMain(), &main);
    main.show();
    EXPECT_TRUE(main.isVisible());
}

TEST(MainWindowTest, OnlyTheMainMenuHideHides) {
    Workspace workspace;
    TfrmMain main(workspace);
    main.show();
    child<QAction>(main, "PopupHideWindow")->trigger();
    EXPECT_TRUE(main.isVisible()) << "the tray's 隱藏Brisavel does nothing";
    child<QAction>(main, "MainHideWindow")->trigger();
    EXPECT_FALSE(main.isVisible());
    child<QAction>(main, "PopupShowWindow")->trigger();
    EXPECT_TRUE(main.isVisible());
}

TEST(MainWindowTest, ShowDesktopWindowsShowsNoHiddenWindow) {
    Workspace workspace;
    TfrmMain main(workspace);
    QWidget hiddenWindow;
    hiddenWindow.setWindowTitle("hidden");
    QWidget shownWindow;
    shownWindow.show();
    hiddenWindow.show();
    hiddenWindow.hide();

    child<QAction>(main, "N7")->trigger();
    EXPECT_FALSE(main.isVisible()) << "a hidden main window stays hidden";
    EXPECT_FALSE(hiddenWindow.isVisible());
    EXPECT_TRUE(shownWindow.isVisible());

    main.show();
    QMdiSubWindow* shownChild = child<QMdiArea>(main, "MdiArea")->addSubWindow(new QWidget);
    QMdiSubWindow* hiddenChild = child<QMdiArea>(main, "MdiArea")->addSubWindow(new QWidget);
    shownChild->show();
    hiddenChild->hide();
    child<QAction>(main, "N7")->trigger();
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(shownChild->isVisible());
    EXPECT_FALSE(hiddenChild->isVisible());
}

TEST(MainWindowTest, CheckMarksOfTheViewMenuAreSetNotToggled) {
    Workspace workspace;
    TfrmMain main(workspace);
    child<QAction>(main, "MainLinker")->trigger();
    EXPECT_TRUE(child<QAction>(main, "MainLinker")->isChecked());
    child<QAction>(main, "MainLinker")->setChecked(false);  // as the browser does when it closes
    child<QAction>(main, "MainLinker")->trigger();
    EXPECT_TRUE(child<QAction>(main, "MainLinker")->isChecked());
    child<QAction>(main, "MainParmes")->trigger();
    child<QAction>(main, "MainParmes")->trigger();
    EXPECT_TRUE(child<QAction>(main, "MainParmes")->isChecked());
}

TEST(MainWindowTest, OnlyARightPressOnTheTrayIconOpensTheMenu) {
    Workspace workspace;
    TfrmMain main(workspace);
    QCursor::setPos(120, 90);
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
                              QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
        main.trayIconActivated(reason);
        EXPECT_FALSE(child<QMenu>(main, "PMenuMain")->isVisible()) << "reason " << reason;
        EXPECT_FALSE(main.isVisible()) << "reason " << reason;
    }
    main.trayIconActivated(QSystemTrayIcon::Context);
    EXPECT_TRUE(child<QMenu>(main, "PMenuMain")->isVisible());
    EXPECT_EQ(child<QMenu>(main, "PMenuMain")->pos(), QPoint(120, 90));
    EXPECT_FALSE(main.isVisible());
    child<QMenu>(main, "PMenuMain")->hide();
}

TEST(MainWindowTest, SecondStartRestoresAndRaisesOnlyVisibleWindows) {
    Workspace workspace;
    TfrmMain main(workspace);
    QWidget other;
    other.show();
    other.setWindowState(Qt::WindowMinimized);
    main.bringApplicationForward();
    EXPECT_FALSE(main.isVisible()) << "a hidden main window stays hidden";
    EXPECT_FALSE(other.isMinimized());

    main.show();
    main.setWindowState(Qt::WindowMinimized);
    main.bringApplicationForward();
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.isMinimized());
}

// Records, in order, when each MDI child gets its close and when it is destroyed.
class ChildEvents : public QObject {
public:
    std::vector<QString> log;

    QMdiSubWindow* addChild(TfrmMain& main, int number) {
        auto* widget = new QWidget;
        widget->installEventFilter(this);
        widget->setProperty("number", number);
        QMdiSubWindow* child = test::child<QMdiArea>(main, "MdiArea")->addSubWindow(widget);
        connect(child, &QObject::destroyed, this,
                [this, number] { log.push_back(QStringLiteral("destroyed %1").arg(number)); });
        child->show();
        return child;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            log.push_back(QStringLiteral("closed %1").arg(watched->property("number").toInt()));
        }
        return false;
    }
};

TEST(MainWindowExitTest, TrayExitClosesAndDestroysChildrenLastFirstAndEndsWithZero) {
    Workspace workspace;
    TfrmMain main(workspace);
    main.show();
    ChildEvents events;
    for (int i = 1; i <= 3; ++i) {
        events.addChild(main, i);
    }
    QPointer<QWidget> browser = new QWidget(&main, Qt::Window);
    main.connectionBrowser = browser;
    child<QSystemTrayIcon>(main, "TrayIcon")->show();

    const int exitCode = runInEventLoop([&] { child<QAction>(main, "N1")->trigger(); });

    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(events.log, std::vector<QString>({"closed 3", "destroyed 3", "closed 2", "destroyed 2",
                                                "closed 1", "destroyed 1"}));
    EXPECT_TRUE(child<QMdiArea>(main, "MdiArea")->subWindowList().isEmpty());
    EXPECT_FALSE(child<QSystemTrayIcon>(main, "TrayIcon")->isVisible());
    EXPECT_FALSE(browser.isNull()) << "only the main menu's exit destroys the browser";
}

TEST(MainWindowExitTest, MainMenuExitAlsoDestroysTheConnectionBrowser) {
    Workspace workspace;
    TfrmMain main(workspace);
    ChildEvents events;
    events.addChild(main, 1);
    events.addChild(main, 2);
    QPointer<QWidget> browser = new QWidget(&main, Qt::Window);
    main.connectionBrowser = browser;

    const int exitCode = runInEventLoop([&] { child<QAction>(main, "N4")->trigger(); });

    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(browser.isNull());
    EXPECT_EQ(events.log, std::vector<QString>({"closed 2", "destroyed 2", "closed 1", "destroyed 1"}));
}

TEST(MainWindowExitTest, ChildrenThatRefuseToCloseAreDestroyedAnyway) {
    class Stubborn : public QWidget {
    protected:
        void closeEvent(QCloseEvent* event) override { event->ignore(); }
    };
    Workspace workspace;
    TfrmMain main(workspace);
    QPointer<QMdiSubWindow> child = test::child<QMdiArea>(main, "MdiArea")->addSubWindow(new Stubborn);
    EXPECT_EQ(runInEventLoop([&] { test::child<QAction>(main, "N1")->trigger(); }), 0);
    EXPECT_TRUE(child.isNull());
}

TEST(MainWindowTest, TheProcessWideReferenceIsClearedBeforeChildrenGo) {
    TfrmMain* seenByChild = reinterpret_cast<TfrmMain*>(1);
    {
        Workspace workspace;
        TfrmMain main(workspace);
        auto* child = new QObject(&main);
        QObject::connect(child, &QObject::destroyed, [&] { seenByChild = frmMain(); });
        EXPECT_EQ(frmMain(), &main);
    }
    EXPECT_EQ(seenByChild, nullptr);
    EXPECT_EQ(frmMain(), nullptr);
}

}  // namespace
}  // namespace tarnwell
