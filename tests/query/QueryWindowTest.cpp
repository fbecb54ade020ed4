// The query window itself: its layout, how it is opened and preset, the
// choice of connection kind and connection, and its window styles.
#include "QueryWindowFixture.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTextBlock>
#include <QTextLayout>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <filesystem>
#include <QTreeWidget>
#include <QElapsedTimer>
#include <QListView>

#include "connections/UConnectEditor.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/sqlite/SqliteConnection.h"
#include "query/SqlFileBrowser.h"
#include "sqlsyntax/Lexer.h"
#include "ui/SqlCompleter.h"

namespace tarnwell::test {
namespace {

QStringList childButtonNames(const QWidget& bar) {
    QStringList names;
    const QList<QWidget*> children = bar.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QList<QWidget*> ordered = children;
    std::sort(ordered.begin(), ordered.end(),
              [](const QWidget* a, const QWidget* b) { return a->x() < b->x(); });
    for (const QWidget* widget : ordered) {
        names << (qobject_cast<const QToolButton*>(widget) != nullptr ? widget->objectName()
                                                                       : QStringLiteral("|"));
    }
    return names;
}

bool drawsSomething(const QIcon& icon, QSize size) {
    const QImage image = icon.pixmap(size).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                return true;
            }
        }
    }
    return false;
}

using QueryWindowLayout = QueryWindowTest;

TEST_F(QueryWindowLayout, captionFontToolRowsHintsAndPictures) {
    registerLocal();
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "查詢");
    EXPECT_EQ(window->font().family(), "細明體");
    EXPECT_EQ(window->font().pixelSize(), 13);
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));

    auto* linkType = child<QComboBox>(*window, "CbxLinkType");
    EXPECT_EQ(linkType->count(), 2);
    EXPECT_EQ(linkType->itemText(0), "ADO");
    EXPECT_EQ(linkType->itemText(1), "BDE");
    EXPECT_EQ(child<QLabel>(*window, "Label1")->text(), "連結");

    EXPECT_EQ(childButtonNames(*child<QWidget>(*window, "ToolBar3")),
              (QStringList{"ToolButton13", "ToolButton14", "ToolButton15"}));
    EXPECT_EQ(childButtonNames(*child<QWidget>(*window, "ToolBar1")),
              (QStringList{"ToolButton12", "ToolButton10", "ToolButton17", "ToolButton16", "TBtnEdit", "|",
                           "ToolButton2", "ToolButton4", "ToolButton3", "|", "ToolButton5", "|",
                           "ToolButton6", "ToolButton7", "ToolButton8", "|", "ToolButton19", "TBtnTableList"}));
    const std::map<QString, QString> hints{
        {"ToolButton13", "加入程式字串符號"}, {"ToolButton14", "去除程式字串符號"}, {"ToolButton15", "取代字串"},
        {"ToolButton12", "開啟新查詢"},       {"ToolButton10", "開啟連結視窗"},     {"ToolButton17", "儲存SQL語法"},
        {"ToolButton16", "開啟SQL語法"},      {"TBtnEdit", "編輯"},                 {"ToolButton2", "轉存CSV"},
        {"ToolButton4", "轉存TXT"},           {"ToolButton3", "轉存DBF"},           {"ToolButton5", "列印資料"},
        {"ToolButton6", ""},                  {"ToolButton7", ""},                  {"ToolButton8", ""},
        {"ToolButton19", "顯示SQL檔案清單"},  {"SBtnQuery", "Open / Excute SQL"},   {"SpeedButton1", "清除SQL"},
        {"TBtnTableList", "顯示資料表清單"}};
    for (const auto& [name, hint] : hints) {
        auto* button = child<QToolButton>(*window, name.toLatin1().constData());
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), hint) << name.toStdString();
        EXPECT_EQ(button->iconSize(), QSize(20, 20)) << name.toStdString();
        EXPECT_TRUE(drawsSomething(button->icon(), QSize(20, 20))) << name.toStdString();
    }
    auto* edit = child<QToolButton>(*window, "TBtnEdit");
    EXPECT_TRUE(edit->isCheckable());
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_TRUE(child<QToolButton>(*window, "ToolButton19")->isCheckable());
    EXPECT_FALSE(child<QToolButton>(*window, "ToolButton19")->isChecked());
    EXPECT_TRUE(child<QToolButton>(*window, "TBtnTableList")->isCheckable());
    EXPECT_FALSE(child<QToolButton>(*window, "TBtnTableList")->isChecked());
    for (const char* name : {"ToolButton6", "ToolButton7", "ToolButton8"}) {
        auto* button = child<QToolButton>(*window, name);
        EXPECT_TRUE(button->isCheckable()) << name;
        ASSERT_NE(button->group(), nullptr) << name;
        EXPECT_TRUE(button->group()->exclusive());
    }
    EXPECT_EQ(child<QLabel>(*window, "LabVersion")->text(), "Version");
    EXPECT_EQ(child<QLabel>(*window, "LabVersionNo")->text(), "1.1a");
    EXPECT_TRUE(child<QLabel>(*window, "LabVersionNo")->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_NE(child<QToolButton>(*window, "SpeedButton7"), nullptr);
}

TEST_F(QueryWindowLayout, pagesStripsPropertiesGridFieldListAndStatusBar) {
    registerLocal();
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->frameGeometry().size().isValid(), true);
    EXPECT_EQ(windowSize(*window), QSize(470, 400)) << "FormShow's size";

    auto* page1 = child<QTabWidget>(*window, "Page1");
    ASSERT_EQ(page1->count(), 3);
    EXPECT_EQ(page1->tabText(0), "SQL");
    EXPECT_EQ(page1->tabText(1), "Properties");
    EXPECT_EQ(page1->tabText(2), "SQL_List");
    EXPECT_EQ(page1->widget(0)->objectName(), "TabSQL");
    EXPECT_EQ(page1->widget(1)->objectName(), "TabProperties");
    EXPECT_EQ(page1->widget(2)->objectName(), "TabSQLList");
    EXPECT_EQ(page1->tabBar()->tabRect(0).width(), 100);
    EXPECT_EQ(page1->height(), 137);
    EXPECT_EQ(child<QSplitter>(*window, "Splitter1")->handleWidth(), 3);

    EXPECT_EQ(child<QWidget>(*window, "PalSQLButtons")->width(), 25);
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_FALSE(child<QToolButton>(*window, "SBtnSQLPrior")->isEnabled());
    EXPECT_FALSE(child<QToolButton>(*window, "SBtnSQLNext")->isEnabled());
    EXPECT_EQ(child<QLabel>(*window, "PalQueryCount")->text(), "");
    EXPECT_EQ(child<QLabel>(*window, "PalQueryCount")->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), "");
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(child<QWidget>(*window, "FileListBox2")->isVisible());
    EXPECT_FALSE(child<QWidget>(*window, "Splitter3")->isVisible());
    EXPECT_FALSE(child<QWidget>(*window, "TableList")->isVisible());

    const struct {
        const char* name;
        int minimum, maximum, value;
    } spins[] = {{"SEdt_CacheSize", 0, 999999, 100}, {"SEdt_MaxRecords", 0, 999999, 0},
                 {"SEdt_PacketRecords", 1, 999999, 100}};
    for (const auto& expected : spins) {
        auto* spin = child<SpinEdit>(*window, expected.name);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(spin->minimum(), expected.minimum) << expected.name;
        EXPECT_EQ(spin->maximum(), expected.maximum) << expected.name;
        EXPECT_EQ(spin->value(), expected.value) << expected.name;
    }
    EXPECT_EQ(child<QGroupBox>(*window, "GroupBox1")->title(), "ADO DataSet");
    EXPECT_EQ(child<QGroupBox>(*window, "GroupBox2")->title(), "ClientDataSet");
    const struct {
        const char* name;
        const char* text;
        bool checked;
    } checks[] = {{"Chk1", "EoAsyncExecute", false}, {"Chk2", "EoAsyncFetch", true},
                  {"Chk3", "EoAsyncFetchNonBlocking", false}, {"Chk4", "EoExcuteNoRecords", false}};
    for (const auto& expected : checks) {
        auto* box = child<QCheckBox>(*window, expected.name);
        EXPECT_EQ(box->text(), expected.text);
        EXPECT_EQ(box->isChecked(), expected.checked) << expected.name;
    }
    for (const char* name : {"Label2", "Label3", "Label4", "Label5"}) {
        EXPECT_EQ(child<QLabel>(*window, name)->palette().color(QPalette::WindowText), QColor(0x80, 0, 0)) << name;
    }
    EXPECT_EQ(child<QLabel>(*window, "Label4")->text(), "ExecuteOptions:(同步/非同步執行)");
    EXPECT_EQ(child<QWidget>(*window, "PalDirectories")->maximumWidth(), 241);
    EXPECT_EQ(child<DirectoryListBox>(*window, "DirectoryListBox1")->directory(), QDir::currentPath());

    auto* page2 = child<QTabWidget>(*window, "Page2");
    EXPECT_EQ(page2->tabPosition(), QTabWidget::South);
    ASSERT_EQ(page2->count(), 3);
    EXPECT_EQ(page2->tabText(0), "DATA");
    EXPECT_EQ(page2->tabText(1), "Fields");
    EXPECT_EQ(page2->tabText(2), "Messages");
    EXPECT_EQ(page2->tabBar()->tabRect(1).width(), 100);
    EXPECT_EQ(activeLowerPage(*window), "TabData");
    EXPECT_EQ(child<QWidget>(*window, "PalNavigator")->width(), 27);
    for (const char* name : {"SpeedButton6", "SpeedButton2", "SpeedButton3", "SpeedButton4", "SpeedButton5"}) {
        auto* button = child<QToolButton>(*window, name);
        EXPECT_TRUE(button->autoRaise()) << name;
        EXPECT_TRUE(button->toolTip().isEmpty()) << name;
    }
    EXPECT_FALSE(child<QTableView>(*window, "DBGrid")->isEnabled());
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->horizontalHeader()->font().family(), "細明體");
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->horizontalHeader()->font().pixelSize(), 13);
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->editTriggers(), QAbstractItemView::NoEditTriggers);

    auto* fields = child<QTreeWidget>(*window, "LSVFieldList");
    ASSERT_EQ(fields->columnCount(), 4);
    const int widths[] = {30, 260, 100, 130};
    const char* captions[] = {"No", "FieldName", "DataSize", "DataType"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(fields->headerItem()->text(i), captions[i]);
        EXPECT_EQ(fields->columnWidth(i), widths[i]);
    }
    EXPECT_TRUE(child<QPlainTextEdit>(*window, "QueryMessage")->isReadOnly());

    ASSERT_EQ(child<PanelStatusBar>(*window, "SBar")->panelCount(), 3);
    EXPECT_EQ(child<PanelStatusBar>(*window, "SBar")->panel(0)->width(), 200);
    EXPECT_EQ(child<PanelStatusBar>(*window, "SBar")->panel(1)->width(), 200);
    EXPECT_GT(child<PanelStatusBar>(*window, "SBar")->panel(2)->width(), 0);
}

TEST_F(QueryWindowLayout, qtsOwnDialogsAndMenusSpeakTraditionalChinese) {
    registerLocal();
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);

    QMessageBox box(QMessageBox::NoIcon, "Tarnwell", "text", QMessageBox::Ok | QMessageBox::Cancel, window);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "確定");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "取消");

    QFileDialog save(window);
    save.setOption(QFileDialog::DontUseNativeDialog);
    save.setAcceptMode(QFileDialog::AcceptSave);
    auto* buttons = save.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "取消");
    QStringList labels;
    for (const QLabel* label : save.findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains("檔名(&N)：")) << labels.join(" | ").toStdString();

    const std::unique_ptr<QMenu> menu(child<QPlainTextEdit>(*window, "MemSQL")->createStandardContextMenu());
    QStringList entries;
    for (const QAction* action : menu->actions()) {
        entries << action->text();
    }
    EXPECT_TRUE(entries.contains("複製(&C)\tCtrl+C")) << entries.join(" | ").toStdString();
}

TEST_F(QueryWindowLayout, spinEditsReadNonIntegersAsTheMinimumAndComeIntoRangeOnLeaving) {
    registerLocal();
    TfrmQueryEditor* window = openWindow();
    auto* packet = child<SpinEdit>(*window, "SEdt_PacketRecords");
    auto* cache = child<SpinEdit>(*window, "SEdt_CacheSize");
    EXPECT_EQ(packet->lineEdit()->maxLength(), 6);

    packet->lineEdit()->setText(QStringLiteral("x"));
    EXPECT_EQ(packet->Value(), 1);
    EXPECT_EQ(window->CDS1().packetRecords(), 1) << "the change applies at once";
    cache->lineEdit()->setText(QStringLiteral(""));
    EXPECT_EQ(cache->Value(), 0);

    packet->lineEdit()->setText(QStringLiteral("0"));
    EXPECT_EQ(packet->Value(), 1);
    QTest::keyClick(packet->lineEdit(), Qt::Key_A);  // a letter is not typed into the number
    packet->lineEdit()->setText(QStringLiteral("1234567"));
    EXPECT_LE(packet->lineEdit()->text().size(), 6);

    packet->lineEdit()->setText(QStringLiteral("0"));
    packet->interpretText();
    EXPECT_EQ(packet->text(), "1") << "brought into range on leaving";
    EXPECT_EQ(packet->value(), 1);
    packet->lineEdit()->setText(QStringLiteral("250"));
    packet->interpretText();
    EXPECT_EQ(packet->value(), 250);
    EXPECT_EQ(window->CDS1().packetRecords(), 250);
}

TEST_F(QueryWindowLayout, namesAndDatabaseNamesGrowAndAreNeverReused) {
    registerLocal();
    const int before = QueryEditorCount();
    TfrmQueryEditor* first = openWindow();
    TfrmQueryEditor* second = openWindow();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->objectName(), QStringLiteral("frmQueryEditor_%1").arg(before + 1));
    EXPECT_EQ(first->BDE_DB().databaseName(), "BDE_SQL_" + std::to_string(before + 1));
    EXPECT_EQ(first->BDE_Query1().databaseName(), first->BDE_DB().databaseName());
    EXPECT_EQ(second->BDE_DB().databaseName(), "BDE_SQL_" + std::to_string(before + 2));

    QPointer<TfrmQueryEditor> closing = first;
    child<QToolButton>(*first, "SpeedButton7")->click();
    ASSERT_TRUE(waitUntil([&] { return closing.isNull(); }));
    EXPECT_FALSE(workspace->Session1().hasDatabase("BDE_SQL_" + std::to_string(before + 1)));
    EXPECT_TRUE(child<QMdiArea>(*main, "MdiArea")->subWindowList().size() <= 1) << "the frame went with the window";

    TfrmQueryEditor* third = openWindow();
    EXPECT_EQ(third->BDE_DB().databaseName(), "BDE_SQL_" + std::to_string(before + 3));
    EXPECT_EQ(openQueryWindows(), (QList<QWidget*>{second, third}));
}

// --- Opening ------------------------------------------------------------------------

using OpenQueryWindowTest = QueryWindowTest;

TEST_F(OpenQueryWindowTest, nothingRegisteredShowsTheMessageAndOpensNothing) {
    for (const QueryWindowForm form :
         {QueryWindowForm::MainMenu, QueryWindowForm::Tray, QueryWindowForm::QueryWindow}) {
        prompter.expectMessage(QStringLiteral("尚未建立連結"));
        main->OpenQueryWindow(form);
    }
    EXPECT_TRUE(openQueryWindows().isEmpty());
}

TEST_F(OpenQueryWindowTest, trayFormWithHiddenMainWindowIsFreeStandingAndPresetFromTheBrowser) {
    registerLocal();
    TfrmConnectEditor browser(*workspace, *child<QMdiArea>(*main, "MdiArea"), *child<QWidget>(*main, "CoolBar1"),
                              *child<QStatusBar>(*main, "StatusBar1"));
    child<QTabWidget>(browser, "Page_Con")->setCurrentIndex(1);
    child<QLineEdit>(browser, "EdtConnectDB")->setText(QStringLiteral("  LOCAL "));
    main->OpenQueryWindow(QueryWindowForm::Tray);
    auto* window = qobject_cast<TfrmQueryEditor*>(openQueryWindows().value(0));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "查詢[LOCAL]");
    EXPECT_EQ(child<QComboBox>(*window, "CbxLinkType")->currentText(), "BDE");
    // The exact text, blanks and all, is what is looked for in the list.
    EXPECT_EQ(child<QComboBox>(*window, "CbxConnectAlias")->currentIndex(), -1);
    EXPECT_EQ(windowStyle(*window), WindowStyle::Normal);
    EXPECT_TRUE(child<QAbstractButton>(*window, "ToolButton7")->isChecked());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->BDE_DB().connected()) << "opening connects nothing";

    child<QLineEdit>(browser, "EdtConnectDB")->setText(QStringLiteral("LOCAL"));
    main->OpenQueryWindow(QueryWindowForm::Tray);
    auto* second = qobject_cast<TfrmQueryEditor*>(openQueryWindows().value(1));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(child<QComboBox>(*second, "CbxConnectAlias")->currentText(), "LOCAL");

    child<QLineEdit>(browser, "EdtConnectDB")->clear();
    main->OpenQueryWindow(QueryWindowForm::MainMenu);
    auto* third = qobject_cast<TfrmQueryEditor*>(openQueryWindows().value(2));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->windowTitle(), "查詢[]");
    EXPECT_EQ(child<QComboBox>(*third, "CbxConnectAlias")->currentIndex(), -1);
    EXPECT_EQ(windowStyle(*third), WindowStyle::MdiChild) << "the main menu's window is a child";
    EXPECT_TRUE(child<QAbstractButton>(*third, "ToolButton6")->isChecked());
}

TEST_F(OpenQueryWindowTest, queryWindowFormHasNoSuffixAndFollowsTheMainWindowsVisibility) {
    registerLocal();
    main->AddConnectedADO("Provider=SQLite.1;Data Source=/x.db", "SQLite.1", "/x.db");
    TfrmConnectEditor browser(*workspace, *child<QMdiArea>(*main, "MdiArea"), *child<QWidget>(*main, "CoolBar1"),
                              *child<QStatusBar>(*main, "StatusBar1"));
    // Showing the main window shows the browser, which empties its box.
    main->show();
    child<QTabWidget>(browser, "Page_Con")->setCurrentIndex(0);
    child<QLineEdit>(browser, "EdtConnectDB")->setText(QStringLiteral("/x.db"));
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "查詢");
    EXPECT_EQ(child<QComboBox>(*window, "CbxLinkType")->currentText(), "ADO");
    EXPECT_EQ(child<QComboBox>(*window, "CbxConnectAlias")->currentText(), "/x.db");
    EXPECT_EQ(windowStyle(*window), WindowStyle::MdiChild);
    EXPECT_TRUE(child<QAbstractButton>(*window, "ToolButton6")->isChecked());
    EXPECT_FALSE(workspace->ADOCon1().connected()) << "no connection step runs";

    // Its own new-query button opens the next one the same way.
    child<QToolButton>(*window, "ToolButton12")->click();
    ASSERT_EQ(openQueryWindows().size(), 2);
    EXPECT_EQ(openQueryWindows().last()->windowTitle(), "查詢");
    main->hide();
}

// --- Connection choice ---------------------------------------------------------------

using ConnectionChoiceTest = QueryWindowTest;

TEST_F(ConnectionChoiceTest, kindChangeListsItsEntriesOrNothingAndConnectsTheShownOne) {
    TfrmQueryEditor* window = nullptr;
    registerLocal();
    window = openWindow();
    ASSERT_NE(window, nullptr);

    prompter.expectMessage();
    pick(*child<QComboBox>(*window, "CbxLinkType"), "ADO");
    window->CbxLinkTypeChange();
    EXPECT_EQ(child<QComboBox>(*window, "CbxConnectAlias")->count(), 0) << "no ADO connection registered";
    // The connection step of an unchosen entry is a failure, not a guess.
    EXPECT_EQ(prompter.messages(), QStringList{"ADO_連線失敗: 沒有選擇ADO連結"});

    pick(*child<QComboBox>(*window, "CbxLinkType"), "BDE");
    window->CbxLinkTypeChange();
    EXPECT_EQ(child<QComboBox>(*window, "CbxConnectAlias")->currentText(), "LOCAL");
    EXPECT_TRUE(window->BDE_DB().connected()) << "the kind change connects the entry shown";
    EXPECT_EQ(window->windowTitle(), "連線[BDE_LOCAL]");
    EXPECT_FALSE(child<QTableView>(*window, "DBGrid")->isEnabled());
}

TEST_F(ConnectionChoiceTest, pickingTheSameAliasReconnectsOnlyWhenDisconnected) {
    registerLocal();
    main->AddConnectedBDE("BROKEN", "", "", "", "");
    TfrmQueryEditor* window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->BDE_DB().connected());
    window->setWindowTitle(QStringLiteral("marker"));
    window->CbxConnectAliasChange();
    EXPECT_EQ(window->windowTitle(), "marker") << "nothing happens while connected";

    window->BDE_DB().close();
    EXPECT_EQ(window->windowTitle(), "離線");
    window->CbxConnectAliasChange();
    EXPECT_TRUE(window->BDE_DB().connected());
    EXPECT_EQ(window->windowTitle(), "連線[BDE_LOCAL]");

    // Another alias: the old connection closes, the new one fails to open.
    prompter.expectMessage();
    pick(*child<QComboBox>(*window, "CbxConnectAlias"), "BROKEN");
    window->CbxConnectAliasChange();
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.messages().at(0).startsWith("BDE_連線失敗: ")) << prompter.messages().at(0).toStdString();
    EXPECT_EQ(window->windowTitle(), "離線");
    EXPECT_FALSE(window->BDE_DB().connected());
    EXPECT_EQ(window->BDE_DB().aliasName(), "BROKEN");
    EXPECT_FALSE(child<QTableView>(*window, "DBGrid")->isEnabled());
}

TEST_F(ConnectionChoiceTest, pickingAnAdoEntryAlwaysReconnectsTheSharedConnection) {
    const QString connection = QStringLiteral("Provider=SQLite.1;Data Source=") + databaseFile;
    workspace->ADOCon1().setConnectionString(connection.toStdString());
    workspace->ADOCon1().open();
    main->AddConnectedADO(QString::fromStdString(workspace->ADOCon1().connectionString()), "SQLite.1", databaseFile);
    TfrmQueryEditor* window = openWindowOn("ADO", databaseFile);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(workspace->ADOCon1().connected());

    workspace->ADQ1().setSql("SELECT id FROM t");
    workspace->ADQ1().open();
    ASSERT_TRUE(workspace->ADQ1().active());
    window->CbxConnectAliasChange();
    EXPECT_FALSE(workspace->ADQ1().active()) << "the same entry picked again reconnects";
    EXPECT_TRUE(workspace->ADOCon1().connected());
    EXPECT_EQ(window->windowTitle(), "查詢") << "connection-string steps leave the caption";
}

// --- The SQL editor -------------------------------------------------------------------

// The colour the memo draws the character at `position` in; invalid for the
// text's own colour.
QColor colourAt(const SqlEditor& memo, int position) {
    const QTextBlock block = memo.document()->findBlock(position);
    const int inBlock = position - block.position();
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
        if (inBlock >= range.start && inBlock < range.start + range.length) {
            return range.format.foreground().color();
        }
    }
    return {};
}

QColor colourOf(sql::TokenKind kind) { return SqlHighlighter::colourOf(kind); }

using SqlEditorTest = LocalWindowTest;

TEST_F(SqlEditorTest, eachKindOfTokenHasItsColourAndALineGoesOnFromWhereTheOneBeforeLeftOff) {
    SqlEditor& memo = memoOf(*window);
    EXPECT_EQ(memo.dialect(), sql::Dialect::SQLite) << "the dialect of the window's connection";
    memo.setDialect(sql::Dialect::PostgreSQL);
    const QString text = QStringLiteral(
        "SELECT 'it''s', \"Name\", 42, :p, $1, t.名稱 -- 註\n"
        "/* 開 /* 巢 */ 仍\n"
        "  */ FROM t\n"
        "$fn$ 內\n"
        "$fn$ WHERE x = 1.5e3 AND y = E'\\'");
    setMemoText(memo, text);
    memo.highlighter().settleNow();
    const auto at = [&](const char* part) { return colourAt(memo, static_cast<int>(text.indexOf(QString::fromUtf8(part)))); };
    EXPECT_EQ(at("SELECT"), colourOf(sql::TokenKind::Keyword));
    EXPECT_EQ(at("'it''s'"), colourOf(sql::TokenKind::String));
    EXPECT_EQ(at("s',"), colourOf(sql::TokenKind::String)) << "a doubled quote stays in the string";
    EXPECT_EQ(at("\"Name\""), colourOf(sql::TokenKind::QuotedIdentifier));
    EXPECT_EQ(at("42"), colourOf(sql::TokenKind::Number));
    EXPECT_EQ(at(":p"), colourOf(sql::TokenKind::Parameter));
    EXPECT_EQ(at("$1"), colourOf(sql::TokenKind::Parameter));
    EXPECT_FALSE(at("名稱").isValid()) << "names keep the text's colour";
    EXPECT_EQ(at("註"), colourOf(sql::TokenKind::Comment));
    EXPECT_EQ(at("仍"), colourOf(sql::TokenKind::Comment)) << "PostgreSQL's comments nest, over lines";
    EXPECT_EQ(at("FROM"), colourOf(sql::TokenKind::Keyword)) << "the line after the comment ends";
    EXPECT_EQ(at("內"), colourOf(sql::TokenKind::String)) << "a dollar quote over lines";
    EXPECT_EQ(at("WHERE"), colourOf(sql::TokenKind::Keyword));
    EXPECT_EQ(at("1.5e3"), colourOf(sql::TokenKind::Number));
    EXPECT_EQ(colourAt(memo, static_cast<int>(text.size()) - 1), colourOf(sql::TokenKind::String))
        << "an unfinished string is coloured to the end";
    EXPECT_EQ(memo.font().family(), window->font().family()) << "the memo keeps the window's font";

    // Another dialect colours the same text by its own rules.
    memo.setDialect(sql::Dialect::SQLite);
    memo.highlighter().settleNow();
    EXPECT_FALSE(at("仍").isValid()) << "SQLite's comments do not nest";
    EXPECT_NE(at("內"), colourOf(sql::TokenKind::String));
}

TEST_F(SqlEditorTest, aCommentOpenedAboveALongScriptColoursItsLineAtOnceAndTheRestInSlices) {
    SqlEditor& memo = memoOf(*window);
    QString text;
    for (int line = 0; line < 15000; ++line) {
        text += QStringLiteral("SELECT %1, '文字';\n").arg(line);
    }
    setMemoText(memo, text);
    memo.highlighter().settleNow();
    const auto lastLine = [&] { return memo.document()->lastBlock().previous().position(); };
    ASSERT_EQ(colourAt(memo, lastLine()), colourOf(sql::TokenKind::Keyword));
    EXPECT_GT(memo.lineNumberAreaWidth(), memo.fontMetrics().horizontalAdvance(QStringLiteral("15000")))
        << "the gutter fits the largest line number";

    memo.markError(lastLine());
    focusMemo(*window);
    placeCaret(*window, 0);
    QTest::keyClicks(&memo, "/*");
    EXPECT_FALSE(memo.errorMark().has_value()) << "an edit takes the error's mark away";
    EXPECT_EQ(colourAt(memo, 3), colourOf(sql::TokenKind::Comment)) << "the line typed in is coloured at once";
    EXPECT_FALSE(memo.highlighter().settled()) << "the lines below wait for the slices between events";
    EXPECT_EQ(colourAt(memo, lastLine()), colourOf(sql::TokenKind::Keyword));

    memo.markError(lastLine());
    ASSERT_TRUE(waitUntil([&] { return memo.highlighter().settled(); }));
    EXPECT_EQ(colourAt(memo, lastLine()), colourOf(sql::TokenKind::Comment)) << "an unfinished comment runs to the end";
    EXPECT_TRUE(memo.errorMark().has_value()) << "colouring is no edit of the text";

    // Taken away before the slices have gone far: every line gets its
    // colours back, also those the first slices had not reached.
    QTest::keyClick(&memo, Qt::Key_Backspace);
    QTest::keyClick(&memo, Qt::Key_Backspace);
    ASSERT_TRUE(waitUntil([&] { return memo.highlighter().settled(); }));
    EXPECT_EQ(colourAt(memo, lastLine()), colourOf(sql::TokenKind::Keyword));
}

TEST_F(SqlEditorTest, theBracketMatchingTheOneAtTheCaretIsMarkedButNoneInAStringOrComment) {
    SqlEditor& memo = memoOf(*window);
    const QString text = QStringLiteral("SELECT (a + ')' + f(b)\n  ) -- )\nFROM t WHERE (c");
    setMemoText(memo, text);
    const int open = static_cast<int>(text.indexOf('('));
    const int close = static_cast<int>(text.indexOf(QStringLiteral("  )"))) + 2;
    placeCaret(*window, open);
    EXPECT_EQ(memo.bracketMarks(), (QList<int>{open, close})) << "the bracket after the caret, over lines";
    placeCaret(*window, close + 1);
    EXPECT_EQ(memo.bracketMarks(), (QList<int>{close, open})) << "the bracket before it";
    const int lone = static_cast<int>(text.lastIndexOf('('));
    placeCaret(*window, lone);
    EXPECT_EQ(memo.bracketMarks(), QList<int>{lone}) << "a bracket without its match is marked alone";
    placeCaret(*window, static_cast<int>(text.indexOf(QStringLiteral("')'"))) + 1);
    EXPECT_TRUE(memo.bracketMarks().isEmpty()) << "in a string";
}

TEST_F(SqlEditorTest, aLongLineNulsLoneSurrogatesAndMixedLineEndsAreJustText) {
    SqlEditor& memo = memoOf(*window);
    QString line = QStringLiteral("SELECT '");
    while (line.size() < 1'000'000) {
        line += QStringLiteral("文字 abc; ");
    }
    line += QChar(0) + QString(QChar(0xd800)) + QStringLiteral("\r\nSELECT 1;\rSELECT 2;\n");
    setMemoText(memo, line);
    memo.highlighter().settleNow();
    EXPECT_EQ(memo.document()->blockCount(), 4);
    EXPECT_EQ(colourAt(memo, 999'000), colourOf(sql::TokenKind::String));
    EXPECT_EQ(colourAt(memo, memo.document()->findBlockByNumber(2).position()), colourOf(sql::TokenKind::String))
        << "the string left open goes on";
    placeCaret(*window, 500'000);
    EXPECT_TRUE(memo.bracketMarks().isEmpty());
    placeCaret(*window, memo.document()->findBlockByNumber(1).position());
    focusMemo(*window);
    QTest::keyClicks(&memo, "'");
    ASSERT_TRUE(waitUntil([&] { return memo.highlighter().settled(); }));
    EXPECT_EQ(colourAt(memo, memo.document()->findBlockByNumber(2).position()), colourOf(sql::TokenKind::Keyword));
}

// --- The catalog of the connection: the table list and completion ---------------------

class CatalogViewTest : public LocalWindowTest {
protected:
    // The table list's rows under `parent`: a name and a kind each.
    static QStringList rows(const QTreeView& tree, const QModelIndex& parent = {}) {
        QStringList shown;
        const QAbstractItemModel& model = *tree.model();
        for (int row = 0; row < model.rowCount(parent); ++row) {
            shown << model.index(row, 0, parent).data().toString() + " " + model.index(row, 1, parent).data().toString();
        }
        return shown;
    }

    // A double click as the platform delivers it: a click, then a second
    // press that comes as a double click.
    static void doubleClick(QTreeView& tree, const QModelIndex& index) {
        tree.scrollTo(index);
        const QPoint at = tree.visualRect(index).center();
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, at);
        QMouseEvent second(QEvent::MouseButtonDblClick, at, tree.viewport()->mapToGlobal(at), Qt::LeftButton,
                           Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tree.viewport(), &second);
        QTest::mouseRelease(tree.viewport(), Qt::LeftButton, {}, at);
    }

    // What Ctrl+Space lists at the end of `sql` in the window's memo.
    static QStringList completions(TfrmQueryEditor& window, const QString& sql) {
        auto* memo = child<QPlainTextEdit>(window, "MemSQL");
        memo->setPlainText(sql);
        memo->moveCursor(QTextCursor::End);
        QStringList shown;
        if (window.completer().complete()) {
            const QAbstractItemModel& model = *window.completer().list().model();
            for (int row = 0; row < model.rowCount(); ++row) {
                shown << model.index(row, 0).data().toString();
            }
        }
        window.completer().close();
        return shown;
    }
};

TEST_F(CatalogViewTest, theTableListShowsTablesViewsAndTheirColumnsFiltersAndInsertsNames) {
    execute(kLocal, "CREATE VIEW \"Big Orders\" AS SELECT id, amount FROM t WHERE amount > 2;"
                    "CREATE TABLE 訂單 (編號 INTEGER PRIMARY KEY, 金額 NUMERIC(10,2))");
    child<QToolButton>(*window, "BtnTableRefresh")->click();
    ASSERT_TRUE(waitForCatalog(*window));
    child<QToolButton>(*window, "TBtnTableList")->click();
    auto* list = child<QWidget>(*window, "TableList");
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->width(), 219);
    auto& tree = *child<QTreeView>(*window, "TrvTables");
    EXPECT_EQ(rows(tree), (QStringList{"Big Orders 檢視表", "t 資料表", "訂單 資料表"}));
    EXPECT_EQ(child<QLabel>(*window, "LabTableStatus")->text(), "共 3 個資料表與檢視表");

    // A table's columns with the kinds the Fields page gives them.
    const QModelIndex table = tree.model()->index(1, 0);
    tree.expand(table);
    run(*window, "SELECT * FROM t");
    QStringList fieldKinds;
    const QTreeWidget& fields = *child<QTreeWidget>(*window, "LSVFieldList");
    window->TabFieldShow();
    for (int row = 0; row < fields.topLevelItemCount(); ++row) {
        fieldKinds << fields.topLevelItem(row)->text(1) + " " + fields.topLevelItem(row)->text(3);
    }
    EXPECT_EQ(rows(tree, table), fieldKinds);

    child<QLineEdit>(*window, "EdtTableFilter")->setText("訂");
    EXPECT_EQ(rows(tree), QStringList{"訂單 資料表"});
    EXPECT_EQ(child<QLabel>(*window, "LabTableStatus")->text(), "符合 1 個，共 3 個資料表與檢視表");
    child<QLineEdit>(*window, "EdtTableFilter")->setText("ORDER");
    EXPECT_EQ(rows(tree), QStringList{"Big Orders 檢視表"}) << "without regard to case";

    auto* memo = child<QPlainTextEdit>(*window, "MemSQL");
    memo->setPlainText("SELECT * FROM ");
    memo->moveCursor(QTextCursor::End);
    doubleClick(tree, tree.model()->index(0, 0));
    EXPECT_EQ(memo->toPlainText(), "SELECT * FROM \"Big Orders\"") << "quoted as the name needs";
    child<QLineEdit>(*window, "EdtTableFilter")->clear();
    const QModelIndex chinese = tree.model()->index(2, 0);
    tree.expand(chinese);
    memo->moveCursor(QTextCursor::Start);
    doubleClick(tree, tree.model()->index(1, 0, chinese));
    EXPECT_EQ(memo->toPlainText(), "金額SELECT * FROM \"Big Orders\"") << "at the caret";
    EXPECT_TRUE(tree.isExpanded(chinese)) << "a double click inserts rather than folds";

    child<QToolButton>(*window, "TBtnTableList")->click();
    EXPECT_FALSE(list->isVisible());
}

TEST_F(CatalogViewTest, theWindowsOnAConnectionShareItsCatalogWhichAStatementThatCreatesSomethingLoadsAgain) {
    TfrmQueryEditor* second = openWindowOn("BDE", kLocal);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(waitForCatalog(*window));
    ASSERT_TRUE(waitForCatalog(*second));
    EXPECT_EQ(window->sharedCatalog(), second->sharedCatalog());
    EXPECT_EQ(completions(*second, "SELECT * FROM fr"), QStringList{});

    run(*window, "SELECT * FROM t");
    EXPECT_FALSE(window->sharedCatalog()->loading()) << "a statement that changes nothing keeps the catalog";
    run(*window, "CREATE TABLE fresh (x INTEGER)");
    ASSERT_TRUE(waitForCatalog(*second));
    EXPECT_EQ(completions(*second, "SELECT * FROM fr"), QStringList{"fresh"});
    EXPECT_EQ(completions(*second, "SELECT * FROM fresh WHERE ").value(0), "x");
}

TEST_F(CatalogViewTest, theWindowsKeysGoOnWorkingWithTheListOpen) {
    ASSERT_TRUE(waitForCatalog(*window));
    QApplication::setActiveWindow(window);
    auto* memo = child<QPlainTextEdit>(*window, "MemSQL");
    memo->setFocus();
    memo->setPlainText("SELECT * FROM t WHERE am");
    memo->moveCursor(QTextCursor::End);
    QTest::keyClick(memo, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(window->completer().isOpen());
    QTest::keyClick(memo, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(window->completer().isOpen());
    ASSERT_TRUE(waitForRun(*window));
    EXPECT_EQ(window->FSQLHistory(), QStringList{"SELECT * FROM t WHERE am"}) << "Ctrl+Enter ran the SQL as it stood";
}

// How many of the process's open files are `path`.
int timesOpen(const QString& path) {
    const std::filesystem::path file = std::filesystem::canonical(path.toStdString());
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += std::filesystem::read_symlink(entry.path(), error) == file ? 1 : 0;
    }
    return count;
}

TEST_F(CatalogViewTest, aWindowClosedDuringALoadLetsGoOfItWithoutWaitingForTheDatabase) {
    ASSERT_TRUE(waitForCatalog(*window));
    // Another connection holds the file: a load opens it and waits, where no
    // cancel reaches it.
    auto holder = db::openSqlite(db::SqliteSettings{databaseFile.toStdString()});
    holder->execute("BEGIN EXCLUSIVE");
    const int openBefore = timesOpen(databaseFile);
    child<QToolButton>(*window, "BtnTableRefresh")->click();
    EXPECT_TRUE(window->sharedCatalog()->loading());
    EXPECT_EQ(child<QLabel>(*window, "LabTableStatus")->text(), "讀取資料表清單中...");
    ASSERT_TRUE(waitUntil([&] { return timesOpen(databaseFile) == openBefore + 1; })) << "the load opened the file";
    EXPECT_EQ(ConnectionCatalogs::loadsInFlight(), 1);

    QPointer<TfrmQueryEditor> closing = window;
    QElapsedTimer clock;
    clock.start();
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
    EXPECT_LT(clock.elapsed(), 1000) << "the close waited for the load";
    EXPECT_EQ(workspace->catalogs().find("BDE:LOCAL"), nullptr) << "the catalog went with its last window";
    EXPECT_EQ(ConnectionCatalogs::loadsInFlight(), 1) << "the load still waits for the file";

    holder->execute("COMMIT");
    EXPECT_TRUE(waitUntil([] { return ConnectionCatalogs::loadsInFlight() == 0; }));
    QCoreApplication::processEvents();  // a result posted to the catalog that went is dropped
}

TEST_F(CatalogViewTest, whatALoadCouldNotReadIsOneLineUnderTheListAndTheRestIsThere) {
    execute(kLocal, "CREATE TABLE gone (a INTEGER); CREATE VIEW broken AS SELECT a FROM gone; DROP TABLE gone");
    child<QToolButton>(*window, "BtnTableRefresh")->click();
    ASSERT_TRUE(waitForCatalog(*window));
    const QString line = child<QLabel>(*window, "LabTableStatus")->text();
    EXPECT_TRUE(line.startsWith("無法讀取 1 個資料表或檢視的欄位（main.broken）：")) << line.toStdString();
    EXPECT_TRUE(line.contains("gone")) << "the engine's message";
    EXPECT_EQ(rows(*child<QTreeView>(*window, "TrvTables")), QStringList{"t 資料表"});
    EXPECT_EQ(completions(*window, "SELECT * FROM t WHERE am"), (QStringList{"amount", "name"}));
    EXPECT_TRUE(prompter.calls().empty()) << "never a message box";
}

// --- Window style ---------------------------------------------------------------------

using WindowStyleTest = QueryWindowTest;

TEST_F(WindowStyleTest, eachStyleKeepsWidthAndHeightAndEditStaysDisabled) {
    registerLocal();
    main->show();
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(windowStyle(*window), WindowStyle::MdiChild);
    windowFrame(*window).resize(520, 430);
    const QSize size = windowSize(*window);

    child<QToolButton>(*window, "ToolButton7")->click();
    EXPECT_EQ(windowStyle(*window), WindowStyle::Normal);
    EXPECT_EQ(windowSize(*window), size);
    EXPECT_TRUE(window->isVisible());

    child<QToolButton>(*window, "ToolButton8")->click();
    EXPECT_EQ(windowStyle(*window), WindowStyle::StayOnTop);
    EXPECT_EQ(windowSize(*window), size);
    EXPECT_FALSE(child<QAbstractButton>(*window, "ToolButton7")->isChecked()) << "at most one style button down";

    child<QToolButton>(*window, "ToolButton6")->click();
    EXPECT_EQ(windowStyle(*window), WindowStyle::MdiChild);
    EXPECT_EQ(windowSize(*window), size);
    EXPECT_TRUE(window->isVisible());

    auto* edit = child<QToolButton>(*window, "TBtnEdit");
    edit->click();
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(edit->isChecked());

    // Closing a child, by its own button or by the frame's close box, frees
    // it together with its frame.
    QPointer<TfrmQueryEditor> first = window;
    QPointer<QMdiSubWindow> firstFrame = mdiSubWindowOf(*window);
    child<QToolButton>(*window, "SpeedButton7")->click();
    ASSERT_TRUE(waitUntil([&] { return first.isNull() && firstFrame.isNull(); }));
    TfrmQueryEditor* second = openWindow();
    ASSERT_NE(mdiSubWindowOf(*second), nullptr);
    QPointer<TfrmQueryEditor> secondAlive = second;
    QPointer<QMdiSubWindow> secondFrame = mdiSubWindowOf(*second);
    secondFrame->close();
    ASSERT_TRUE(waitUntil([&] { return secondAlive.isNull() && secondFrame.isNull(); }));
    main->hide();
}

}  // namespace
}  // namespace tarnwell::test
