// The tree's click handling (re-pointing the test connection) and the
// parameter viewer that takes it over while it is open.
#include <QAction>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>

#include "BrowserTestSupport.h"
#include "connections/UParmViewer.h"
#include "ui/WindowStyle.h"

namespace tarnwell::test {
namespace {

class TreeClickTest : public BrowserFixture {
protected:
    TreeClickTest() {
        main->show();
        tree().topLevelItem(0)->setExpanded(true);
    }

    TfrmConnectEditor& browser() { return *TfrmConnectEditor::instance(); }
    QTreeWidget& tree() { return *child<QTreeWidget>(browser(), "TrvBDE"); }
    void click(QTreeWidgetItem* node) {
        ASSERT_NE(node, nullptr);
        clickNode(tree(), *node);
    }
    std::string testParams() { return workspace->BDE_DB().params().text(); }
    std::string localParams(const char* user, const char* password) {
        return "PATH=" + aliases.localPath().toStdString() + "\nUSER NAME=" + user + "\nPASSWORD=" + password + "\n";
    }
};

TEST_F(TreeClickTest, ClicksOnTheRootTheLoginLinesOrAnAliasNotLoggedIntoDoNothing) {
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    ASSERT_TRUE(workspace->BDE_DB().connected());
    child<QLineEdit>(browser(), "EdtConnectDB")->setText("unchanged");
    const std::string before = testParams();

    click(tree().topLevelItem(0));
    EXPECT_EQ(browser().selectedNode(), tree().topLevelItem(0));
    QTreeWidgetItem& local = *aliasNode("LOCAL");
    local.setExpanded(true);
    click(local.child(0));
    click(local.child(1));
    EXPECT_EQ(browser().selectedNode(), local.child(1));
    click(aliasNode("DEMO"));
    EXPECT_EQ(browser().selectedNode(), aliasNode("DEMO"));

    EXPECT_TRUE(workspace->BDE_DB().connected());
    EXPECT_EQ(workspace->BDE_DB().aliasName(), "LOCAL");
    EXPECT_EQ(testParams(), before);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "unchanged");
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(TreeClickTest, ClickingAnAliasLoggedIntoPointsTheTestConnectionAtIt) {
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    logIn("DEMO", LoginHand::ok("", ""));
    ASSERT_EQ(workspace->BDE_DB().aliasName(), "DEMO");
    child<QLineEdit>(browser(), "EdtConnectDB")->clear();

    click(aliasNode("LOCAL"));
    EXPECT_TRUE(workspace->BDE_DB().connected());
    EXPECT_EQ(workspace->BDE_DB().aliasName(), "LOCAL");
    EXPECT_EQ(workspace->BDE_DB().driverName(), "");
    EXPECT_EQ(testParams(), localParams("mei", "pw")) << "the alias's parameters and the login lines";
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "LOCAL");
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(TreeClickTest, AFailedRepointGoesBackToThePreviousConnection) {
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    logIn("DEMO", LoginHand::ok("d", "e"));
    const std::string demoParams = testParams();
    ASSERT_TRUE(QFile::remove(aliases.localPath()));

    prompt.expectMessage("連結失敗\r請重新連線");
    click(aliasNode("LOCAL"));
    EXPECT_TRUE(prompt.scriptUsedUp());
    EXPECT_TRUE(workspace->BDE_DB().connected()) << "opened again on what it was";
    EXPECT_EQ(workspace->BDE_DB().aliasName(), "DEMO");
    EXPECT_EQ(testParams(), demoParams);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "DEMO");
    EXPECT_EQ(childTexts(*aliasNode("LOCAL")), QStringList({"USER NAME=mei", "PASSWORD=pw"}))
        << "still logged into, for the rest of the run";
}

TEST_F(TreeClickTest, WhenThePreviousConnectionFailsTooTheGeneralErrorReportShowsIt) {
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    ASSERT_TRUE(QFile::remove(aliases.localPath()));
    const std::string message = engineMessage("LOCAL");

    prompt.expectMessage("連結失敗\r請重新連線");
    prompt.expectMessage(QString::fromStdString(message));
    click(aliasNode("LOCAL"));
    EXPECT_TRUE(prompt.scriptUsedUp());
    EXPECT_FALSE(workspace->BDE_DB().connected());
    EXPECT_EQ(workspace->BDE_DB().aliasName(), "LOCAL");
    EXPECT_EQ(testParams(), localParams("mei", "pw"));
    EXPECT_TRUE(browser().isVisible()) << "the program goes on";
}

// --- The parameter viewer --------------------------------------------------------------

class ViewerTest : public TreeClickTest {
protected:
    TfrmParmViewer& openViewer() {
        child<QAction>(*main, "MainParmes")->trigger();
        TfrmParmViewer* viewer = TfrmParmViewer::instance();
        EXPECT_NE(viewer, nullptr);
        return *viewer;
    }

    // The grid as rows of "name|value", header row first.
    static QStringList rows(const TfrmParmViewer& viewer) {
        QStringList result;
        for (int row = 0; row < viewer.gridRowCount(); ++row) {
            result << viewer.cell(0, row) + "|" + viewer.cell(1, row);
        }
        return result;
    }

    QStringList expectedRows(const QString& alias) {
        const std::string name = alias.toStdString();
        QStringList result{"參數|值", "TYPE|" + QString::fromStdString(workspace->Session1().aliasDriverName(name))};
        const db::ParamList params = workspace->Session1().aliasParams(name);
        for (std::size_t i = 0; i < params.size(); ++i) {
            result << QString::fromStdString(params.nameAt(i) + "|" + params.valueAt(i));
        }
        return result;
    }

    // Puts the test connection open on DEMO, as a login there would.
    void openTestConnectionOnDemo() {
        workspace->BDE_DB().close();
        workspace->BDE_DB().setParams({});
        workspace->BDE_DB().setAliasName("DEMO");
        workspace->BDE_DB().open();
    }
};

TEST_F(ViewerTest, Layout) {
    TfrmParmViewer& viewer = openViewer();
    EXPECT_TRUE(child<QAction>(*main, "MainParmes")->isChecked());
    EXPECT_EQ(viewer.objectName(), "frmParmViewer");
    EXPECT_EQ(viewer.windowTitle(), "參數瀏覽器");
    EXPECT_EQ(viewer.font().family(), "細明體");
    EXPECT_EQ(viewer.font().pixelSize(), 13);
    ASSERT_EQ(windowStyle(viewer), WindowStyle::MdiChild);
    EXPECT_EQ(mdiSubWindowOf(viewer)->mdiArea(), child<QMdiArea>(*main, "MdiArea"));
    EXPECT_TRUE(mdiSubWindowOf(viewer)->isMaximized());
    EXPECT_TRUE(viewer.isVisible());

    QTabWidget& pages = *child<QTabWidget>(viewer, "Page_Data");
    ASSERT_EQ(pages.count(), 1);
    EXPECT_EQ(pages.widget(0)->objectName(), "Tab_Data");
    EXPECT_EQ(pages.tabText(0), "參數");
    EXPECT_EQ(pages.tabBar()->tabRect(0).width(), 80);

    QTableWidget& grid = *child<QTableWidget>(viewer, "Sgrid1");
    EXPECT_EQ(grid.parentWidget(), pages.widget(0));
    EXPECT_EQ(grid.columnCount(), 2);
    EXPECT_EQ(grid.columnWidth(0), 149);
    EXPECT_EQ(grid.columnWidth(1), 899);
    EXPECT_EQ(viewer.gridRowCount(), 2) << "the header and one empty row";
    EXPECT_EQ(rows(viewer), QStringList({"參數|值", "|"}));
    EXPECT_TRUE(grid.horizontalHeader()->isVisible()) << "the fixed row";
    EXPECT_FALSE(grid.verticalHeader()->isVisible()) << "no fixed column";
    EXPECT_EQ(grid.horizontalHeader()->height(), 15);
    EXPECT_EQ(grid.rowHeight(0), 15);
    EXPECT_TRUE(grid.showGrid());
    EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(grid.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_NE(grid.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(viewer.shownAliasPosition(), -1);

    // A second use shows the same viewer.
    child<QAction>(*main, "MainParmes")->trigger();
    EXPECT_EQ(TfrmParmViewer::instance(), &viewer);
    EXPECT_EQ(main->findChildren<TfrmParmViewer*>().size(), 1);
}

TEST_F(ViewerTest, OpenedWithAnAliasSelectedItShowsItAtOnce) {
    openTestConnectionOnDemo();
    click(aliasNode("DEMO"));  // the first alias, not logged into: nothing yet
    ASSERT_TRUE(workspace->BDE_DB().connected());

    TfrmParmViewer& viewer = openViewer();
    EXPECT_EQ(viewer.shownAliasPosition(), 0);
    EXPECT_EQ(rows(viewer), QStringList({"參數|值", "TYPE|SQLITE", "PATH|" + aliases.demoPath()}));
    EXPECT_FALSE(workspace->BDE_DB().connected()) << "a reload closes the test connection";
    EXPECT_EQ(testParams(), "PATH=" + aliases.demoPath().toStdString() + "\n");
    EXPECT_FALSE(child<QTableWidget>(viewer, "Sgrid1")->item(0, 0)->flags() & Qt::ItemIsEditable);

    // Every alias fills n + 2 rows: header, TYPE and one row per parameter.
    for (const QString& alias : QStringList{"PGSERVER", "PGSTORED", "UNREACHABLE", "LOCAL"}) {
        click(aliasNode(alias));
        EXPECT_EQ(rows(viewer), expectedRows(alias)) << alias.toStdString();
        EXPECT_EQ(viewer.gridRowCount(),
                  static_cast<int>(workspace->Session1().aliasParams(alias.toStdString()).size()) + 2);
    }
    EXPECT_EQ(viewer.gridRowCount(), 3);
    EXPECT_EQ(viewer.shownAliasPosition(), 1);
}

TEST_F(ViewerTest, OpenedWithNoAliasSelectedItShowsOnlyTheHeaderAndAnEmptyRow) {
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    tree().clearSelection();
    tree().setCurrentItem(nullptr);
    QTreeWidgetItem& local = *aliasNode("LOCAL");
    local.setExpanded(true);
    QTreeWidgetItem* selections[] = {nullptr, tree().topLevelItem(0), local.child(0)};
    for (QTreeWidgetItem* selected : selections) {
        tree().setCurrentItem(selected);
        TfrmParmViewer& viewer = openViewer();
        EXPECT_EQ(rows(viewer), QStringList({"參數|值", "|"}));
        EXPECT_EQ(viewer.shownAliasPosition(), -1);
        EXPECT_TRUE(workspace->BDE_DB().connected()) << "nothing loaded, nothing closed";
        viewer.close();
    }
}

TEST_F(ViewerTest, TheAliasShownIsNotReloadedButEveryReloadClosesTheTestConnection) {
    logIn("DEMO", LoginHand::ok("", ""));
    ASSERT_TRUE(workspace->BDE_DB().connected());
    TfrmParmViewer& viewer = openViewer();  // DEMO is selected after its login
    EXPECT_EQ(viewer.shownAliasPosition(), 0);
    EXPECT_FALSE(workspace->BDE_DB().connected()) << "closed, though it was open on this very alias";

    openTestConnectionOnDemo();
    click(aliasNode("DEMO"));
    EXPECT_TRUE(workspace->BDE_DB().connected()) << "the alias shown is not loaded again";
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "DEMO");

    click(aliasNode("LOCAL"));
    EXPECT_FALSE(workspace->BDE_DB().connected());
    EXPECT_EQ(viewer.shownAliasPosition(), 1);
}

TEST_F(ViewerTest, WhileItIsOpenAClickShowsParametersInsteadOfRepointing) {
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    logIn("DEMO", LoginHand::ok("", ""));
    TfrmParmViewer& viewer = openViewer();
    click(aliasNode("LOCAL"));
    EXPECT_EQ(rows(viewer), expectedRows("LOCAL"));
    EXPECT_FALSE(workspace->BDE_DB().connected());
    EXPECT_EQ(testParams(), "PATH=" + aliases.localPath().toStdString() + "\n") << "no login lines";
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "DEMO");
}

TEST_F(ViewerTest, ALoginWhileItIsOpenEndsOnTheSelectedAliasParameters) {
    click(aliasNode("DEMO"));
    TfrmParmViewer& viewer = openViewer();
    ASSERT_EQ(viewer.shownAliasPosition(), 0);

    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    QTreeWidgetItem& local = *aliasNode("LOCAL");
    EXPECT_EQ(childTexts(local), QStringList({"USER NAME=mei", "PASSWORD=pw"}));
    EXPECT_EQ(local.icon(0).cacheKey(), workspace->ImageBDE().at(3).cacheKey());
    EXPECT_EQ(browser().selectedNode(), &local);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "LOCAL");
    ASSERT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_FALSE(workspace->BDE_DB().connected());
    EXPECT_EQ(testParams(), "PATH=" + aliases.demoPath().toStdString() + "\n")
        << "DEMO was selected when the login ended";
    EXPECT_EQ(viewer.shownAliasPosition(), 0) << "the viewer itself is not reloaded";
}

TEST_F(ViewerTest, ALoginWithNoAliasSelectedKeepsTheTestConnectionOpen) {
    openViewer();
    logIn("LOCAL", LoginHand::ok("mei", "pw"));
    EXPECT_TRUE(workspace->BDE_DB().connected());
    EXPECT_EQ(testParams(), localParams("mei", "pw"));

    tree().setCurrentItem(tree().topLevelItem(0));  // the root: no alias either
    logIn("DEMO", LoginHand::ok("", ""));
    EXPECT_TRUE(workspace->BDE_DB().connected());
    EXPECT_EQ(workspace->BDE_DB().aliasName(), "DEMO");
    EXPECT_EQ(browser().selectedNode(), aliasNode("DEMO"));
    EXPECT_EQ(aliasNode("DEMO")->icon(0).cacheKey(), workspace->ImageBDE().at(3).cacheKey());
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(ViewerTest, ClosingDestroysItAndTheNextOneStartsAfresh) {
    click(aliasNode("DEMO"));
    QPointer<TfrmParmViewer> viewer = &openViewer();
    ASSERT_EQ(viewer->shownAliasPosition(), 0);

    EXPECT_TRUE(mdiSubWindowOf(*viewer)->close());
    EXPECT_EQ(TfrmParmViewer::instance(), nullptr);
    EXPECT_FALSE(child<QAction>(*main, "MainParmes")->isChecked());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewer.isNull());
    EXPECT_EQ(child<QMdiArea>(*main, "MdiArea")->subWindowList().size(), 1) << "only the browser is left";

    // Without the viewer a click re-points again (DEMO is not logged into:
    // nothing happens) and the next viewer loads DEMO anew.
    openTestConnectionOnDemo();
    click(aliasNode("DEMO"));
    EXPECT_TRUE(workspace->BDE_DB().connected());
    TfrmParmViewer& next = openViewer();
    EXPECT_NE(&next, viewer.data());
    EXPECT_EQ(next.shownAliasPosition(), 0);
    EXPECT_FALSE(workspace->BDE_DB().connected());
    EXPECT_EQ(rows(next), expectedRows("DEMO"));
}

}  // namespace
}  // namespace tarnwell::test
