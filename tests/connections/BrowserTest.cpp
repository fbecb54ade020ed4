// The connection browser: its layout, where and how it shows, its docking
// buttons, closing, and the alias tree with its expansion rules.
#include <QAction>
#include <QButtonGroup>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "BrowserTestSupport.h"
#include "connections/UParmViewer.h"
#include "ui/WindowStyle.h"

namespace tarnwell::test {
namespace {

using BrowserLayoutTest = BrowserFixture;

TEST_F(BrowserLayoutTest, ControlsFontsAndPictures) {
    TfrmConnectEditor& browser = main->obtainConnectionBrowser();
    EXPECT_EQ(browser.objectName(), "frmConnectEditor");
    EXPECT_EQ(browser.windowTitle(), "連結編輯器");
    EXPECT_EQ(windowSize(browser), QSize(228, 423)) << "as laid out, before its first showing";
    EXPECT_EQ(windowStyle(browser), WindowStyle::MdiChild);
    EXPECT_EQ(main->connectionBrowser.data(), &browser);
    EXPECT_EQ(browser.font().family(), "細明體");
    EXPECT_EQ(browser.font().pixelSize(), 13);

    const auto* panel = browser.findChild<QFrame*>("PalDBConnectViewer");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(panel->layout()->contentsMargins(), QMargins(3, 3, 3, 3));

    main->show();
    ASSERT_TRUE(browser.isVisible());
    const auto* panel1 = browser.findChild<QWidget*>("Panel1");
    const auto* panel2 = browser.findChild<QWidget*>("Panel2");
    ASSERT_NE(panel1, nullptr);
    ASSERT_NE(panel2, nullptr);
    EXPECT_EQ(panel1->height(), 26);
    EXPECT_EQ(panel2->parentWidget(), panel1);
    EXPECT_EQ(panel2->geometry(), QRect(panel1->width() - 78, 0, 78, 26)) << "at the right end";

    QLineEdit& edit = *child<QLineEdit>(browser, "EdtConnectDB");
    EXPECT_EQ(edit.parentWidget(), panel1);
    EXPECT_EQ(edit.x(), 0);
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.font().family(), "細明體");
    EXPECT_EQ(edit.font().pixelSize(), 15);

    const struct {
        QToolButton* button;
        int left;
    } buttons[] = {{child<QToolButton>(browser, "SpeedButton5"), 1},
                   {child<QToolButton>(browser, "SpeedButton1"), 25},
                   {child<QToolButton>(browser, "SpeedButton2"), 52}};
    for (const auto& expected : buttons) {
        EXPECT_EQ(expected.button->parentWidget(), panel2);
        EXPECT_EQ(expected.button->geometry(), QRect(expected.left, 1, 24, 24)) << expected.left;
        EXPECT_TRUE(expected.button->autoRaise()) << "flat";
        EXPECT_FALSE(expected.button->icon().isNull());
    }
    ASSERT_NE(child<QToolButton>(browser, "SpeedButton1")->group(), nullptr);
    EXPECT_EQ(child<QToolButton>(browser, "SpeedButton1")->group(),
              child<QToolButton>(browser, "SpeedButton2")->group());
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton1")->group()->exclusive());
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton1")->isChecked());
    EXPECT_FALSE(child<QToolButton>(browser, "SpeedButton2")->isChecked());
    EXPECT_FALSE(child<QToolButton>(browser, "SpeedButton5")->isCheckable());

    QTabWidget& pages = *child<QTabWidget>(browser, "Page_Con");
    EXPECT_EQ(pages.tabPosition(), QTabWidget::South);
    ASSERT_EQ(pages.count(), 2);
    EXPECT_EQ(pages.tabText(0), "ADO");
    EXPECT_EQ(pages.widget(0)->objectName(), "TabADO");
    EXPECT_EQ(pages.tabText(1), "BDE");
    EXPECT_EQ(pages.widget(1)->objectName(), "TabBde");
    EXPECT_EQ(pages.currentIndex(), 1) << "the BDE page at creation";
    EXPECT_EQ(pages.tabBar()->tabRect(0).width(), 66);
    EXPECT_EQ(pages.tabBar()->tabRect(1).width(), 66);

    const auto* panel3 = browser.findChild<QWidget*>("Panel3");
    ASSERT_NE(panel3, nullptr);
    EXPECT_EQ(panel3->parentWidget(), pages.widget(0));
    EXPECT_EQ(child<QToolButton>(browser, "SpeedButton3")->parentWidget(), panel3);
    EXPECT_EQ(child<QToolButton>(browser, "SpeedButton3")->geometry(), QRect(0, 0, 35, 25));
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton3")->autoRaise());
    EXPECT_FALSE(child<QToolButton>(browser, "SpeedButton3")->icon().isNull());

    for (QTreeWidget* tree : {child<QTreeWidget>(browser, "TrvBDE"), child<QTreeWidget>(browser, "TrvADO")}) {
        EXPECT_EQ(tree->font().family(), "Arial");
        EXPECT_EQ(tree->font().pixelSize(), 11);
        EXPECT_EQ(tree->indentation(), 19);
        EXPECT_TRUE(tree->isHeaderHidden());
    }
    EXPECT_EQ(child<QTreeWidget>(browser, "TrvBDE")->parentWidget(), pages.widget(1));
    EXPECT_EQ(child<QTreeWidget>(browser, "TrvBDE")->iconSize(), QSize(14, 14));
    EXPECT_EQ(child<QTreeWidget>(browser, "TrvADO")->iconSize(), QSize(16, 16));
}

TEST_F(BrowserLayoutTest, TheTreeListsEveryAliasOnceWithTheirPictures) {
    TfrmConnectEditor& browser = openBrowser();
    QTreeWidget& tree = *child<QTreeWidget>(browser, "TrvBDE");
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem& root = *tree.topLevelItem(0);
    EXPECT_EQ(root.text(0), "BDE");
    EXPECT_EQ(root.icon(0).cacheKey(), workspace->ImageBDE().at(0).cacheKey());
    EXPECT_EQ(childTexts(root), QStringList{"DEMO"} + kFileAliases) << "in the engine's order";
    for (int i = 0; i < root.childCount(); ++i) {
        const QTreeWidgetItem& alias = *root.child(i);
        EXPECT_EQ(alias.icon(0).cacheKey(), workspace->ImageBDE().at(1).cacheKey());
        ASSERT_EQ(alias.childCount(), 1);
        EXPECT_EQ(alias.child(0)->text(0), "未連線");
        EXPECT_EQ(alias.child(0)->icon(0).cacheKey(), workspace->ImageBDE().at(0).cacheKey());
        EXPECT_FALSE(alias.isExpanded());
    }

    // Turning to the ADO page and back, or showing the browser again, never
    // fills the tree a second time.
    child<QTabWidget>(browser, "Page_Con")->setCurrentIndex(0);
    child<QTabWidget>(browser, "Page_Con")->setCurrentIndex(1);
    browser.close();
    main->OpenConnectionBrowser();
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(root.childCount(), 1 + kFileAliases.size());
}

TEST_F(BrowserLayoutTest, ATreeFilledOnlyWhenTheBdePageFirstShows) {
    TfrmConnectEditor& browser = main->obtainConnectionBrowser();
    child<QTabWidget>(browser, "Page_Con")->setCurrentIndex(0);
    browser.showInItsStyle();  // docked in the hidden main window: nothing shows
    EXPECT_EQ(child<QTreeWidget>(browser, "TrvBDE")->topLevelItemCount(), 0);
    main->show();
    EXPECT_EQ(child<QTreeWidget>(browser, "TrvBDE")->topLevelItemCount(), 0) << "the ADO page shows";
    main->findChild<QToolButton*>("ToolButton2")->click();
    EXPECT_EQ(child<QTabWidget>(browser, "Page_Con")->currentIndex(), 1);
    EXPECT_EQ(child<QTreeWidget>(browser, "TrvBDE")->topLevelItemCount(), 1);
}

// Desktop themes set fonts by kind of control; the windows' own fonts must
// reach every control regardless.
TEST_F(BrowserLayoutTest, FontsHoldWhereTheDesktopSetsFontsByKindOfControl) {
    const QFont themed("Courier", 20);
    for (const char* kind : {"QAbstractItemView", "QHeaderView", "QTabBar", "QLabel", "QPushButton", "QLineEdit",
                             "QToolButton", "QTreeView", "QTableView"}) {
        QApplication::setFont(themed, kind);
    }
    const auto expectFont = [](const QWidget& window, const QString& family, int pixels) {
        for (const QWidget* control : window.findChildren<QWidget*>()) {
            EXPECT_EQ(control->font().family(), family) << control->metaObject()->className() << " "
                                                        << control->objectName().toStdString();
            EXPECT_EQ(control->font().pixelSize(), pixels) << control->objectName().toStdString();
        }
    };
    main->show();
    TfrmConnectEditor& browser = *TfrmConnectEditor::instance();
    expectFont(*child<QTreeWidget>(browser, "TrvBDE"), "Arial", 11);
    expectFont(*child<QTreeWidget>(browser, "TrvADO"), "Arial", 11);
    expectFont(*browser.findChild<QWidget*>("Panel2"), "細明體", 13);
    EXPECT_EQ(child<QTabWidget>(browser, "Page_Con")->tabBar()->font().family(), "細明體");
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->font().pixelSize(), 15);

    child<QAction>(*main, "MainParmes")->trigger();
    expectFont(*TfrmParmViewer::instance(), "細明體", 13);

    TfrmPasswd dialog(workspace->BDE_DB(), QString(), QString());
    for (const char* panel : {"Panel1", "Panel2", "Panel3"}) {
        expectFont(*dialog.findChild<QWidget*>(panel), "Arial", 13);
    }
    for (const char* kind : {"QAbstractItemView", "QHeaderView", "QTabBar", "QLabel", "QPushButton", "QLineEdit",
                             "QToolButton", "QTreeView", "QTableView"}) {
        QApplication::setFont(QApplication::font(), kind);
    }
}

// --- Showing, placing, docking ------------------------------------------------------

class BrowserPlaceTest : public BrowserFixture {
protected:
    int expectedHeight() const {
        return main->frameGeometry().height() - child<QWidget>(*main, "CoolBar1")->height() -
               child<QStatusBar>(*main, "StatusBar1")->height() - 50;
    }
};

TEST_F(BrowserPlaceTest, ShownWithTheMainWindowDockedAtTheTopLeft) {
    main->show();
    TfrmConnectEditor* browser = TfrmConnectEditor::instance();
    ASSERT_NE(browser, nullptr) << "the main window's showing makes the browser";
    EXPECT_EQ(child<QWidget>(*main, "CoolBar1")->height(), 36);
    EXPECT_EQ(child<QStatusBar>(*main, "StatusBar1")->height(), 19);
    ASSERT_EQ(windowStyle(*browser), WindowStyle::MdiChild);
    QMdiSubWindow* frame = mdiSubWindowOf(*browser);
    EXPECT_EQ(frame->mdiArea(), child<QMdiArea>(*main, "MdiArea"));
    EXPECT_TRUE(browser->isVisible());
    EXPECT_EQ(frame->geometry(), QRect(0, 0, 200, main->frameGeometry().height() - 36 - 19 - 50));
    EXPECT_EQ(child<QLineEdit>(*browser, "EdtConnectDB")->width(), 200 - 18);
    EXPECT_TRUE(child<QToolButton>(*browser, "SpeedButton1")->isChecked());

    // Resizing the main window places it again; the connection box follows.
    main->resize(900, 640);
    EXPECT_EQ(frame->geometry(), QRect(0, 0, 200, expectedHeight()));
    EXPECT_EQ(main->height(), 640);
    frame->resize(260, 300);
    EXPECT_EQ(child<QLineEdit>(*browser, "EdtConnectDB")->width(), 260 - 18) << "it stretches with the window";
    main->resize(900, 600);
    EXPECT_EQ(frame->geometry(), QRect(0, 0, 260, expectedHeight())) << "the width is kept";
}

TEST_F(BrowserPlaceTest, OpenedWhileTheMainWindowIsHiddenItStandsFreeOnTheDesktop) {
    TfrmConnectEditor& browser = openBrowser();
    EXPECT_EQ(windowStyle(browser), WindowStyle::Normal);
    EXPECT_TRUE(browser.isWindow());
    EXPECT_EQ(browser.parentWidget(), main.get()) << "it goes with the main window";
    EXPECT_TRUE(browser.isVisible());
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton2")->isChecked());
    EXPECT_FALSE(child<QToolButton>(browser, "SpeedButton1")->isChecked());
    EXPECT_EQ(browser.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(windowSize(browser), QSize(200, main->frameGeometry().height() - 36 - 19 - 50))
        << "from the never shown main window";
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->width(), 182);
    EXPECT_FALSE(main->isVisible());

    // A second use makes no second browser.
    main->OpenConnectionBrowser();
    EXPECT_EQ(TfrmConnectEditor::instance(), &browser);
    EXPECT_EQ(main->findChildren<TfrmConnectEditor*>().size(), 1);
}

TEST_F(BrowserPlaceTest, EachShowingEmptiesTheConnectionBoxAndResetsThePlace) {
    TfrmConnectEditor& browser = openBrowser();
    child<QLineEdit>(browser, "EdtConnectDB")->setText("LOCAL");
    browser.move(300, 200);
    browser.resize(400, 200);

    browser.close();
    EXPECT_FALSE(browser.isVisible());
    EXPECT_EQ(TfrmConnectEditor::instance(), &browser) << "closing only hides it";
    EXPECT_FALSE(child<QAction>(*main, "MainLinker")->isChecked());

    main->OpenConnectionBrowser();
    EXPECT_TRUE(browser.isVisible());
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "");
    EXPECT_EQ(browser.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(windowSize(browser), QSize(200, main->frameGeometry().height() - 105));

    // Showing a browser that is up already is no new showing.
    child<QLineEdit>(browser, "EdtConnectDB")->setText("LOCAL");
    main->OpenConnectionBrowser();
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "LOCAL");
}

TEST_F(BrowserPlaceTest, DockingButtonsMoveItAndKeepTheCurrentConnection) {
    main->show();
    TfrmConnectEditor& browser = *TfrmConnectEditor::instance();
    child<QLineEdit>(browser, "EdtConnectDB")->setText("DEMO");
    mdiSubWindowOf(browser)->move(40, 30);

    QTest::mouseClick(child<QToolButton>(browser, "SpeedButton2"), Qt::LeftButton);
    EXPECT_EQ(windowStyle(browser), WindowStyle::Normal);
    EXPECT_TRUE(browser.isVisible());
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton2")->isChecked());
    EXPECT_FALSE(child<QToolButton>(browser, "SpeedButton1")->isChecked());
    EXPECT_EQ(browser.frameGeometry().topLeft(), QPoint(0, 0)) << "at the top left of the desktop";
    EXPECT_EQ(windowSize(browser), QSize(200, expectedHeight()));
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "DEMO");
    EXPECT_TRUE(child<QMdiArea>(*main, "MdiArea")->subWindowList().isEmpty());

    QTest::mouseClick(child<QToolButton>(browser, "SpeedButton2"), Qt::LeftButton);
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton2")->isChecked()) << "a button of the pair stays down";

    QTest::mouseClick(child<QToolButton>(browser, "SpeedButton1"), Qt::LeftButton);
    EXPECT_EQ(windowStyle(browser), WindowStyle::MdiChild);
    EXPECT_TRUE(browser.isVisible());
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton1")->isChecked());
    EXPECT_FALSE(child<QToolButton>(browser, "SpeedButton2")->isChecked());
    EXPECT_EQ(mdiSubWindowOf(browser)->geometry(), QRect(0, 0, 200, expectedHeight()));
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "DEMO");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(child<QMdiArea>(*main, "MdiArea")->subWindowList().size(), 1);
}

TEST_F(BrowserPlaceTest, DockingWhileTheMainWindowIsHiddenHidesItInThere) {
    TfrmConnectEditor& browser = openBrowser();
    child<QLineEdit>(browser, "EdtConnectDB")->setText("DEMO");
    QTest::mouseClick(child<QToolButton>(browser, "SpeedButton1"), Qt::LeftButton);
    EXPECT_EQ(windowStyle(browser), WindowStyle::MdiChild);
    EXPECT_FALSE(browser.isVisible());
    EXPECT_TRUE(child<QAction>(*main, "MainLinker")->isChecked()) << "it was not closed";

    main->show();
    EXPECT_TRUE(browser.isVisible());
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "DEMO") << "it was up all along, in the hidden window";
}

TEST_F(BrowserPlaceTest, ClosingADockedBrowserLeavesItHiddenOnTheDesktop) {
    main->show();
    TfrmConnectEditor& browser = *TfrmConnectEditor::instance();
    QPointer<QMdiSubWindow> frame = mdiSubWindowOf(browser);
    ASSERT_TRUE(frame);

    EXPECT_FALSE(frame->close()) << "the close is refused";
    EXPECT_FALSE(browser.isVisible());
    EXPECT_EQ(windowStyle(browser), WindowStyle::Normal);
    EXPECT_TRUE(child<QToolButton>(browser, "SpeedButton2")->isChecked());
    EXPECT_FALSE(child<QAction>(*main, "MainLinker")->isChecked());
    EXPECT_TRUE(child<QMdiArea>(*main, "MdiArea")->subWindowList().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame.isNull()) << "the empty frame goes";
    EXPECT_EQ(TfrmConnectEditor::instance(), &browser);

    // 連結瀏覽器 brings it back in the style it has, shown afresh.
    child<QLineEdit>(browser, "EdtConnectDB")->setText("x");
    child<QAction>(*main, "MainLinker")->trigger();
    EXPECT_TRUE(child<QAction>(*main, "MainLinker")->isChecked());
    EXPECT_TRUE(browser.isVisible());
    EXPECT_EQ(windowStyle(browser), WindowStyle::Normal);
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "");
    EXPECT_EQ(browser.frameGeometry().topLeft(), QPoint(0, 0));

    // Hiding and showing the main window shows it again, still free-standing.
    browser.close();
    main->hide();
    main->show();
    EXPECT_TRUE(browser.isVisible());
    EXPECT_EQ(windowStyle(browser), WindowStyle::Normal);
}

TEST_F(BrowserPlaceTest, TheMainMenuExitDestroysItAndClearsTheReference) {
    main->show();
    QPointer<TfrmConnectEditor> browser = TfrmConnectEditor::instance();
    ASSERT_TRUE(browser);
    QTimer::singleShot(0, main.get(), [this] { main->findChild<QAction*>("N4")->trigger(); });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(-1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(browser.isNull());
    EXPECT_EQ(TfrmConnectEditor::instance(), nullptr);
}

TEST_F(BrowserPlaceTest, ToolButton2TurnsToTheBdePage) {
    main->show();
    TfrmConnectEditor& browser = *TfrmConnectEditor::instance();
    child<QTabWidget>(browser, "Page_Con")->setCurrentIndex(0);
    QTest::mouseClick(main->findChild<QToolButton*>("ToolButton2"), Qt::LeftButton);
    EXPECT_EQ(child<QTabWidget>(browser, "Page_Con")->currentIndex(), 1);
}

// --- Expanding nodes ------------------------------------------------------------------

using BrowserTreeTest = BrowserFixture;

TEST_F(BrowserTreeTest, TheRootExpandsLikeAnyTreeAndAsksNothing) {
    TfrmConnectEditor& browser = openBrowser();
    QTreeWidgetItem& root = *child<QTreeWidget>(browser, "TrvBDE")->topLevelItem(0);
    clickExpandButton(*child<QTreeWidget>(browser, "TrvBDE"), root);
    QCoreApplication::processEvents();
    EXPECT_TRUE(root.isExpanded());
    EXPECT_EQ(TfrmPasswd::instance(), nullptr);
    EXPECT_FALSE(workspace->BDE_DB().connected());
}

TEST_F(BrowserTreeTest, ClickingTheExpandButtonOfAnAliasAsksForTheLoginAndNothingElse) {
    TfrmConnectEditor& browser = openBrowser();
    QTreeWidget& tree = *child<QTreeWidget>(browser, "TrvBDE");
    tree.topLevelItem(0)->setExpanded(true);
    QTreeWidgetItem& local = *aliasNode("LOCAL");
    int clicks = 0;
    QObject::connect(&tree, &QTreeWidget::itemClicked, [&clicks] { ++clicks; });

    LoginHand hand(LoginHand::cancel());
    clickExpandButton(tree, local);
    EXPECT_FALSE(local.isExpanded()) << "collapsed again before the login is asked";
    EXPECT_FALSE(hand.answered) << "the login waits until the click is over";
    ASSERT_TRUE(hand.waitUntilAnswered());
    EXPECT_FALSE(local.isExpanded());
    EXPECT_EQ(clicks, 0) << "the expand button is no click on the node";
    EXPECT_EQ(browser.selectedNode(), nullptr);
    EXPECT_EQ(hand.seen.alias, "LOCAL");

    // Expanding twice before the login comes up asks once.
    LoginHand second(LoginHand::cancel());
    local.setExpanded(true);
    local.setExpanded(true);
    ASSERT_TRUE(second.waitUntilAnswered());
    QTest::qWait(50);
    EXPECT_FALSE(local.isExpanded());
}

TEST_F(BrowserTreeTest, KeyboardAndDoubleClickExpansionsAreInterceptedToo) {
    TfrmConnectEditor& browser = openBrowser();
    QTreeWidget& tree = *child<QTreeWidget>(browser, "TrvBDE");
    tree.topLevelItem(0)->setExpanded(true);
    QTreeWidgetItem& demo = *aliasNode("DEMO");
    tree.setCurrentItem(&demo);

    LoginHand byKey(LoginHand::cancel());
    QTest::keyClick(&tree, Qt::Key_Right);
    EXPECT_FALSE(demo.isExpanded());
    ASSERT_TRUE(byKey.waitUntilAnswered());

    LoginHand byDoubleClick(LoginHand::cancel());
    // What the mouse sends for a double click: press, release, double click, release.
    const QPoint centre = tree.visualItemRect(&demo).center();
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(tree.viewport(), Qt::LeftButton, {}, centre);
    EXPECT_FALSE(demo.isExpanded());
    ASSERT_TRUE(byDoubleClick.waitUntilAnswered());
    EXPECT_FALSE(demo.isExpanded());
    EXPECT_EQ(childTexts(demo), QStringList{"未連線"});
}

}  // namespace
}  // namespace tarnwell::test
