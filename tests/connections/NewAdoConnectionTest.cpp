// The new-connection command end to end: the dialog, the open on real
// databases, the registry, the ADO tree, the browser's current connection
// and the query windows' lists.
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

#include "connections/AdoConEd.h"
#include "connections/DataLinkDialog.h"
#include "connections/UConnectEditor.h"
#include "dataaccess/AdoConnection.h"
#include "query/UQueryEditor.h"
#include "session/QueryWindowLists.h"
#include "session/Workspace.h"
#include "shell/UMain.h"
#include "support/FindChild.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"
#include "tests/connections/AdoTestSupport.h"

namespace tarnwell {
namespace {

using test::child;

using test::DataHomeScope;
using test::whenModal;

// Stands where a query window's connection lists are, for the refill that
// every connection attempt that opened ends with; it listens to the registry
// as a query window does.
class ConnectionListsWindow {
public:
    explicit ConnectionListsWindow(ConnectionRegistry& registry) {
        linkType->addItems({QStringLiteral("ADO"), QStringLiteral("BDE")});
        linkType->setCurrentIndex(0);
        markStale();
        QObject::connect(&registry, &ConnectionRegistry::changed, &window,
                         [this, &registry] { refillConnectionList(registry, *linkType, *connectAlias); });
    }
    void markStale() {
        connectAlias->clear();
        connectAlias->addItem(QStringLiteral("stale"));
    }
    QStringList items() const {
        QStringList result;
        for (int i = 0; i < connectAlias->count(); ++i) {
            result << connectAlias->itemText(i);
        }
        return result;
    }

    QWidget window;
    QComboBox* linkType = new QComboBox(&window);
    QComboBox* connectAlias = new QComboBox(&window);
};

QString sqliteString(const QString& file) { return QStringLiteral("Provider=SQLite.1;Data Source=") + file; }

QString pgDataSource(const test::TestServer& server) {
    return QString::fromStdString(server.host + ":" + server.port + "/" + server.database);
}

class NewAdoConnectionTest : public ::testing::Test {
protected:
    // The browser as the program makes it; made here while the main window
    // cannot make one yet.
    TfrmConnectEditor& browser() {
        if (TfrmConnectEditor::instance() == nullptr) {
            main.OpenConnectionBrowser();
        }
        if (TfrmConnectEditor::instance() == nullptr) {
            ownBrowser = std::make_unique<TfrmConnectEditor>(workspace, *child<QMdiArea>(main, "MdiArea"),
                                                             *child<QWidget>(main, "CoolBar1"),
                                                             *child<QStatusBar>(main, "StatusBar1"));
        }
        return *TfrmConnectEditor::instance();
    }
    QTreeWidget& tree() { return *child<QTreeWidget>(browser(), "TrvADO"); }
    QStringList treeShape() { return test::shapeOf(tree(), workspace.ImageADO()); }

    void newConnection(std::function<void(TConnEditForm&)> answer) {
        whenModal<TConnEditForm>(std::move(answer));
        main.ToolButton1Click();
    }
    // The string typed into the dialog, then OK.
    void newConnection(const QString& typed) {
        newConnection([typed](TConnEditForm& form) {
            child<QLineEdit>(form, "ConnectionString")->setText(typed);
            child<QPushButton>(form, "OkButton")->click();
        });
    }

    QString sqliteFile(const QString& name) {
        const QString path = home.scratch() + "/" + name;
        test::makeSqliteDatabase(path);
        return path;
    }

    DataHomeScope home;
    // Any message box the script does not expect fails the case.
    test::ScriptedPrompt prompts;
    Workspace workspace;
    TfrmMain main{workspace};
    std::unique_ptr<TfrmConnectEditor> ownBrowser;
    ConnectionListsWindow lists{workspace.registry()};
};

TEST_F(NewAdoConnectionTest, FirstConnectionResetsOpensRegistersAndFilesThreeNodes) {
    const QString file = sqliteFile("第一 a.db");
    const QString earlier = sqliteFile("earlier.db");
    child<QTabWidget>(browser(), "Page_Con")->setCurrentIndex(1);
    child<QLineEdit>(browser(), "EdtConnectDB")->setText("previous");

    // ADOCon1 open elsewhere with settings of its own.
    db::AdoConnection& con = workspace.ADOCon1();
    con.setConnectionString(sqliteString(earlier).toStdString());
    con.open();
    con.setCommandTimeout(99);
    con.setConnectionTimeout(3);
    con.setConnectOptions(db::ConnectOption::AsyncConnect);
    con.setCursorLocation(db::CursorLocation::Server);
    con.setDefaultDatabase("other");
    con.setIsolationLevel(db::IsolationLevel::Serializable);
    con.setKeepConnection(false);
    con.setLoginPrompt(true);
    con.setMode(db::ConnectMode::ReadWrite);

    newConnection([&](TConnEditForm& form) {
        EXPECT_EQ(child<QTabWidget>(browser(), "Page_Con")->currentIndex(), 0)
            << "the browser shows its ADO page first";
        EXPECT_FALSE(con.connected());
        EXPECT_EQ(con.connectionString(), "");
        EXPECT_EQ(con.commandTimeout(), 30);
        EXPECT_EQ(con.connectionTimeout(), 15);
        EXPECT_EQ(con.connectOptions(), db::ConnectOption::Unspecified);
        EXPECT_EQ(con.cursorLocation(), db::CursorLocation::Client);
        EXPECT_EQ(con.defaultDatabase(), "");
        EXPECT_EQ(con.isolationLevel(), db::IsolationLevel::CursorStability);
        EXPECT_TRUE(con.keepConnection());
        EXPECT_FALSE(con.loginPrompt());
        EXPECT_EQ(con.mode(), db::ConnectMode::Unknown);

        EXPECT_EQ(form.windowTitle(), "frmMain.ADOCon1 ConnectionString");
        EXPECT_TRUE(child<QRadioButton>(form, "UseConnectionString")->isChecked());
        EXPECT_EQ(child<QLineEdit>(form, "ConnectionString")->text(), "");
        // Typed loosely; the engine completes it.
        child<QLineEdit>(form, "ConnectionString")->setText(" provider = sqlite ; data source = " + file + " ");
        child<QPushButton>(form, "OkButton")->click();
    });

    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 1u);
    const TAConnectedADO& entry = workspace.registry().ConnectedADO()[0];
    EXPECT_EQ(entry.ConnectionString, sqliteString(file)) << "the completed string, not the typed one";
    EXPECT_EQ(entry.Provider, "SQLite.1");
    EXPECT_EQ(entry.DataSource, file);
    EXPECT_TRUE(con.connected());
    EXPECT_EQ(QString::fromStdString(con.connectionString()), sqliteString(file));

    EXPECT_EQ(treeShape(), QStringList({"SQLite.1 (7)", "  " + file + " (8)", "    Index:0 (2)"}));
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), file);
    EXPECT_EQ(lists.items(), QStringList({file}));
}

TEST_F(NewAdoConnectionTest, SecondDataSourceThenTheSameConnectionAgain) {
    const QString a = sqliteFile("a.db");
    const QString b = sqliteFile("b.db");
    browser();
    newConnection(sqliteString(a));
    newConnection("Provider=sqlite.1;Data Source=" + b);
    EXPECT_EQ(treeShape(), QStringList({"SQLite.1 (7)", "  " + a + " (8)", "    Index:0 (2)",
                                        "  " + b + " (8)", "    Index:1 (2)"}));
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), b);

    // Covered by the first entry: nothing added, yet the lists are refilled
    // and the data source shown.
    lists.markStale();
    const QStringList shapeBefore = treeShape();
    newConnection("Data Source=" + a + ";Provider=SQLite");
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 2u);
    EXPECT_EQ(treeShape(), shapeBefore);
    EXPECT_EQ(lists.items(), QStringList({a, b}));
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), a);
    EXPECT_TRUE(workspace.ADOCon1().connected());
    EXPECT_EQ(QString::fromStdString(workspace.ADOCon1().connectionString()), sqliteString(a));
}

TEST_F(NewAdoConnectionTest, FailingOpenRegistersNothing) {
    const QString good = sqliteFile("good.db");
    browser();
    newConnection(sqliteString(good));
    child<QLineEdit>(browser(), "EdtConnectDB")->setText("previous");
    lists.markStale();
    const QStringList shapeBefore = treeShape();

    const QStringList failing = {
        sqliteString(home.scratch() + "/missing.db"),  // the engine refuses
        "Provider=Nonesuch.1;Data Source=x",            // no such provider
        "Provider=SQLite.1;Data Source=\"unclosed",     // not a connection string
        "FILE NAME=" + home.scratch() + "/missing.udl",  // no such data link file
    };
    for (const QString& text : failing) {
        prompts.expectMessage(QString("資料來源連結失敗"));
        newConnection(text);
        EXPECT_FALSE(workspace.ADOCon1().connected()) << text.toStdString();
    }
    EXPECT_TRUE(prompts.scriptUsedUp());
    EXPECT_EQ(workspace.registry().ConnectedADO().size(), 1u);
    EXPECT_EQ(treeShape(), shapeBefore);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "previous");
    EXPECT_EQ(lists.items(), QStringList({"stale"})) << "only an opened connection refreshes the lists";
}

TEST_F(NewAdoConnectionTest, CancelUnchangedAndBlankTextsOpenNothing) {
    const QString file = sqliteFile("open.db");
    child<QLineEdit>(browser(), "EdtConnectDB")->setText("previous");

    const auto openFirst = [&] {
        workspace.ADOCon1().setConnectionString(sqliteString(file).toStdString());
        workspace.ADOCon1().open();
        workspace.ADOCon1().setCommandTimeout(5);
    };
    openFirst();
    newConnection([&](TConnEditForm& form) {
        child<QLineEdit>(form, "ConnectionString")->setText(sqliteString(file));
        child<QPushButton>(form, "CancelButton")->click();
    });
    EXPECT_FALSE(workspace.ADOCon1().connected());
    EXPECT_EQ(workspace.ADOCon1().connectionString(), "");
    EXPECT_EQ(workspace.ADOCon1().commandTimeout(), 30) << "reset even when cancelled";

    openFirst();
    newConnection([](TConnEditForm& form) { child<QPushButton>(form, "OkButton")->click(); });
    EXPECT_FALSE(workspace.ADOCon1().connected());
    EXPECT_EQ(workspace.ADOCon1().connectionString(), "");

    // Blanks only: stored, but nothing is opened.
    newConnection(QStringLiteral("  \t "));
    EXPECT_FALSE(workspace.ADOCon1().connected());
    EXPECT_EQ(workspace.ADOCon1().connectionString(), "  \t ");

    EXPECT_TRUE(workspace.registry().ConnectedADO().empty());
    EXPECT_EQ(tree().topLevelItemCount(), 0);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "previous");
    EXPECT_EQ(lists.items(), QStringList({"stale"}));
}

TEST_F(NewAdoConnectionTest, DataLinkFileChosenByBareName) {
    const QString file = sqliteFile("銷售資料.db");
    const QString udl = home.linkFolder() + "/銷售.udl";
    test::writeUdl(udl, sqliteString(file));
    test::writeUdl(home.linkFolder() + "/other.udl", "Provider=SQLite.1;Data Source=/nowhere.db");
    browser();

    const QString folder = home.linkFolder();
    newConnection([folder](TConnEditForm& form) {
        child<QRadioButton>(form, "UseDataLinkFile")->click();
        const int at = child<QComboBox>(form, "DataLinkFile")->findText("銷售.udl");
        EXPECT_GE(at, 0);
        child<QComboBox>(form, "DataLinkFile")->setCurrentIndex(at);
        EXPECT_EQ(form.resultText(), "FILE NAME=" + folder + "/銷售.udl");
        child<QPushButton>(form, "OkButton")->click();
    });
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 1u);
    EXPECT_EQ(workspace.registry().ConnectedADO()[0].ConnectionString, sqliteString(file))
        << "the file's string as the engine completed it";
    EXPECT_EQ(workspace.registry().ConnectedADO()[0].DataSource, file);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), file);
}

TEST_F(NewAdoConnectionTest, DataLinkFileChosenWithBrowseOnPostgres) {
    TARNWELL_REQUIRE_PG(server);
    const QString udl = home.scratch() + "/erp.udl";
    const QString stored = "Provider=PostgreSQL.1;Data Source=" + pgDataSource(server) +
                           ";User ID=" + QString::fromStdString(server.user) +
                           ";Password=" + QString::fromStdString(server.password);
    test::writeUdl(udl, stored);
    browser();
    prompts.answerOpenFile(udl);

    newConnection([&](TConnEditForm& form) {
        child<QRadioButton>(form, "UseDataLinkFile")->click();
        child<QPushButton>(form, "Browse")->click();
        EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->currentText(), udl);
        EXPECT_EQ(form.resultText(), "FILE NAME=" + udl) << "the path the chooser gave";
        child<QPushButton>(form, "OkButton")->click();
    });
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 1u);
    const TAConnectedADO& entry = workspace.registry().ConnectedADO()[0];
    EXPECT_EQ(entry.ConnectionString, stored);
    EXPECT_EQ(entry.Provider, "PostgreSQL.1");
    EXPECT_EQ(entry.DataSource, pgDataSource(server));
    EXPECT_EQ(treeShape(),
              QStringList({"PostgreSQL.1 (7)", "  " + pgDataSource(server) + " (8)", "    Index:0 (2)"}));
}

TEST_F(NewAdoConnectionTest, BuiltWithTheDataLinkDialogOnPostgres) {
    TARNWELL_REQUIRE_PG(server);
    browser();
    prompts.expectMessage(QString("測試連線成功。"));

    newConnection([&](TConnEditForm& form) {
        whenModal<DataLinkDialog>([&](DataLinkDialog& dialog) {
            dialog.selectProvider("PostgreSQL.1");
            child<QComboBox>(dialog, "DataSource")->setEditText(pgDataSource(server));
            child<QLineEdit>(dialog, "UserName")->setText(QString::fromStdString(server.user));
            child<QLineEdit>(dialog, "Password")->setText(QString::fromStdString(server.password));
            child<QPushButton>(dialog, "TestConnection")->click();
            child<QPushButton>(dialog, "OkButton")->click();
        });
        child<QPushButton>(form, "Build")->click();
        EXPECT_TRUE(child<QLineEdit>(form, "ConnectionString")->text().contains(
            "Password=" + QString::fromStdString(server.password)))
            << "the string comes back with its password";
        child<QPushButton>(form, "OkButton")->click();
    });
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 1u);
    EXPECT_EQ(workspace.registry().ConnectedADO()[0].Provider, "PostgreSQL.1");
    EXPECT_EQ(workspace.registry().ConnectedADO()[0].DataSource, pgDataSource(server));
    EXPECT_TRUE(workspace.ADOCon1().connected());
}

TEST_F(NewAdoConnectionTest, OdbcDataSourcesBesideAnotherProvider) {
    TARNWELL_REQUIRE_ODBC();
    TARNWELL_REQUIRE_PG(server);
    (void)server;  // tarnwell_pg reaches it
    const QString file = sqliteFile("local.db");
    browser();
    newConnection(sqliteString(file));
    newConnection("Provider=ODBC.1;Data Source=tarnwell_sqlite");
    newConnection("Provider=MSDASQL;Data Source=tarnwell_pg");
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 3u);
    EXPECT_EQ(workspace.registry().ConnectedADO()[2].ConnectionString, "Provider=ODBC.1;Data Source=tarnwell_pg");
    EXPECT_EQ(treeShape(),
              QStringList({"SQLite.1 (7)", "  " + file + " (8)", "    Index:0 (2)", "ODBC.1 (7)",
                           "  tarnwell_sqlite (8)", "    Index:1 (2)", "  tarnwell_pg (8)", "    Index:2 (2)"}));
    EXPECT_EQ(lists.items(), QStringList({file, "tarnwell_sqlite", "tarnwell_pg"}));
}

TEST_F(NewAdoConnectionTest, CommandWithoutABrowserStillRegisters) {
    const QString file = sqliteFile("alone.db");
    ASSERT_EQ(TfrmConnectEditor::instance(), nullptr);
    newConnection(sqliteString(file));
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 1u);
    // The main window makes the browser where it can; the entry is then in
    // its tree.
    if (TfrmConnectEditor* made = TfrmConnectEditor::instance()) {
        EXPECT_EQ(test::shapeOf(*child<QTreeWidget>(*made, "TrvADO"), workspace.ImageADO()),
                  QStringList({"SQLite.1 (7)", "  " + file + " (8)", "    Index:0 (2)"}));
        EXPECT_EQ(child<QLineEdit>(*made, "EdtConnectDB")->text(), file);
    }
}

// The connection reaches a query window: its ADO list shows the data
// source, and a statement runs on it.
TEST_F(NewAdoConnectionTest, QueryWindowRunsOnTheNewConnection) {
    const QString file = sqliteFile("query.db");
    browser();
    // The browser's own button starts the same command.
    whenModal<TConnEditForm>([&](TConnEditForm& form) {
        child<QLineEdit>(form, "ConnectionString")->setText(sqliteString(file));
        child<QPushButton>(form, "OkButton")->click();
    });
    child<QToolButton>(browser(), "SpeedButton3")->click();
    ASSERT_EQ(workspace.registry().ConnectedADO().size(), 1u);

    const int before = static_cast<int>(main.findChildren<TfrmQueryEditor*>().size());
    TfrmQueryEditor* opened = main.OpenQueryWindow(QueryWindowForm::MainMenu);
    const QList<TfrmQueryEditor*> windows = main.findChildren<TfrmQueryEditor*>();
    ASSERT_EQ(windows.size(), before + 1);
    const auto real = std::find(windows.begin(), windows.end(), opened);
    ASSERT_NE(real, windows.end());
    QWidget* window = *real;
    auto* linkType = window->findChild<QComboBox*>("CbxLinkType");
    auto* connectAlias = window->findChild<QComboBox*>("CbxConnectAlias");
    ASSERT_TRUE(linkType && connectAlias);
    EXPECT_EQ(linkType->currentText(), "ADO");
    EXPECT_EQ(connectAlias->currentText(), file);

    QWidget* memo = window->findChild<QWidget*>("MemSQL");
    ASSERT_NE(memo, nullptr);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(memo)) {
        plain->setPlainText("select * from t order by n");
    } else if (auto* rich = qobject_cast<QTextEdit*>(memo)) {
        rich->setPlainText("select * from t order by n");
    }
    auto* run = window->findChild<QAbstractButton*>("SBtnQuery");
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(run->isEnabled());
    run->click();
    auto* grid = window->findChild<QAbstractItemView*>("DBGrid");
    ASSERT_TRUE(grid != nullptr && grid->model() != nullptr);
    EXPECT_EQ(grid->model()->rowCount(), 3);
}

}  // namespace
}  // namespace tarnwell
