// The data-link dialog: providers, data source forms, the built string and
// the test button against real databases.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include "connections/DataLinkDialog.h"
#include "dataaccess/ConnectionString.h"
#include "support/FindChild.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"
#include "tests/connections/AdoTestSupport.h"

namespace tarnwell {
namespace {

using test::child;

using test::DataHomeScope;

QStringList entriesOf(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) {
        items << box.itemText(i);
    }
    return items;
}

TEST(DataLinkDialogTest, ProvidersFormsAndTexts) {
    DataLinkDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "資料連結內容");
    EXPECT_EQ(child<QPushButton>(dialog, "OkButton")->text(), "確定");
    EXPECT_TRUE(child<QPushButton>(dialog, "OkButton")->isDefault());
    EXPECT_EQ(child<QPushButton>(dialog, "CancelButton")->text(), "取消");
    EXPECT_EQ(child<QPushButton>(dialog, "TestConnection")->text(), "測試連線(&T)");

    const auto& providers = db::connectionProviders();
    ASSERT_EQ(child<QTreeWidget>(dialog, "ProviderList")->topLevelItemCount(), static_cast<int>(providers.size()));
    for (int i = 0; i < child<QTreeWidget>(dialog, "ProviderList")->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = child<QTreeWidget>(dialog, "ProviderList")->topLevelItem(i);
        EXPECT_EQ(row->text(0).toStdString(), providers[i].name);
        EXPECT_EQ(row->text(1).toStdString(), providers[i].description);
    }

    // A fresh dialog offers the first provider and an empty string to fill.
    EXPECT_EQ(dialog.selectedProvider(), "SQLite.1");
    EXPECT_EQ(dialog.connectionString(), "Provider=SQLite.1");

    dialog.selectProvider("SQLite.1");
    EXPECT_TRUE(child<QToolButton>(dialog, "ChooseFile")->isEnabled());
    EXPECT_TRUE(child<QLabel>(dialog, "DataSourceHint")->text().contains("檔案"))
        << child<QLabel>(dialog, "DataSourceHint")->text().toStdString();
    dialog.selectProvider("PostgreSQL.1");
    EXPECT_FALSE(child<QToolButton>(dialog, "ChooseFile")->isEnabled());
    EXPECT_TRUE(child<QLabel>(dialog, "DataSourceHint")->text().contains("主機[:連接埠]/資料庫"));
    child<QComboBox>(dialog, "DataSource")->setEditText("typed/db");
    dialog.selectProvider("MariaDB.1");
    EXPECT_FALSE(child<QToolButton>(dialog, "ChooseFile")->isEnabled());
    EXPECT_TRUE(child<QLabel>(dialog, "DataSourceHint")->text().contains("3306"));
    dialog.selectProvider("ODBC.1");
    EXPECT_FALSE(child<QToolButton>(dialog, "ChooseFile")->isEnabled());
    EXPECT_TRUE(child<QLabel>(dialog, "DataSourceHint")->text().contains("DSN"));
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "typed/db")
        << "a provider change keeps the typed text";
}

TEST(DataLinkDialogTest, BuiltStringKeepsWhatTheDialogDoesNotShow) {
    DataLinkDialog dialog;
    ASSERT_TRUE(dialog.preset(
        "Extended Properties=\"DRIVER={SQLite3};DATABASE=/x.db\";provider=msdasql.1;Connect Timeout=5;"
        "Password=old"));
    EXPECT_EQ(dialog.selectedProvider(), "ODBC.1");
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "");
    EXPECT_EQ(child<QLineEdit>(dialog, "Password")->text(), "old");
    EXPECT_EQ(dialog.connectionString(),
              "Provider=ODBC.1;Extended Properties=\"DRIVER={SQLite3};DATABASE=/x.db\";Connect Timeout=5;"
              "Password=old");
    EXPECT_EQ(db::ConnectionString::parse(dialog.connectionString().toStdString()).value("Extended Properties"),
              "DRIVER={SQLite3};DATABASE=/x.db");

    // Emptied fields leave their keys out; filled ones come in.
    child<QLineEdit>(dialog, "Password")->clear();
    child<QLineEdit>(dialog, "UserName")->setText("王小明");
    child<QComboBox>(dialog, "DataSource")->setEditText("  warehouse  ");
    EXPECT_EQ(dialog.connectionString(),
              "Provider=ODBC.1;Data Source=warehouse;Extended Properties=\"DRIVER={SQLite3};DATABASE=/x.db\";"
              "Connect Timeout=5;User ID=王小明");

    // A provider the engine does not know stays as it was named.
    DataLinkDialog unknown;
    ASSERT_TRUE(unknown.preset("Provider=MSDAORA.1;Data Source=ORCL"));
    EXPECT_EQ(unknown.selectedProvider(), "");
    EXPECT_EQ(child<QLabel>(unknown, "DataSourceHint")->text(), "");
    EXPECT_EQ(unknown.connectionString(), "Provider=MSDAORA.1;Data Source=ORCL");

    // Not a connection string: refused, nothing changed.
    DataLinkDialog refused;
    child<QComboBox>(refused, "DataSource")->setEditText("/kept.db");
    EXPECT_FALSE(refused.preset("Provider=SQLite.1;Data Source=\"open"));
    EXPECT_EQ(refused.connectionString(), "Provider=SQLite.1;Data Source=/kept.db");
}

TEST(DataLinkDialogTest, ChooseFileFillsTheDatabaseFile) {
    test::ScriptedPrompt prompts;
    DataLinkDialog dialog;
    child<QComboBox>(dialog, "DataSource")->setEditText("/srv/data/old.db");
    prompts.answerOpenFile(QString("/srv/data/新.db"));
    child<QToolButton>(dialog, "ChooseFile")->click();
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "/srv/data/新.db");
    ASSERT_EQ(prompts.calls().size(), 1u);
    EXPECT_EQ(prompts.calls()[0].texts.at(1), "/srv/data");

    prompts.answerOpenFile(std::nullopt);
    child<QToolButton>(dialog, "ChooseFile")->click();
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "/srv/data/新.db");
}

TEST(DataLinkDialogTest, TestButtonAgainstSqlite) {
    DataHomeScope home;
    const QString file = home.scratch() + "/測試.db";
    test::makeSqliteDatabase(file);
    test::ScriptedPrompt prompts;
    DataLinkDialog dialog;
    dialog.selectProvider("SQLite.1");
    child<QComboBox>(dialog, "DataSource")->setEditText(file);
    prompts.expectMessage(QString("測試連線成功。"));
    child<QPushButton>(dialog, "TestConnection")->click();

    child<QComboBox>(dialog, "DataSource")->setEditText(home.scratch() + "/missing.db");
    prompts.expectMessage();
    child<QPushButton>(dialog, "TestConnection")->click();
    ASSERT_EQ(prompts.messages().size(), 2);
    EXPECT_TRUE(prompts.messages()[1].startsWith("測試連線失敗: ")) << prompts.messages()[1].toStdString();
    EXPECT_TRUE(prompts.messages()[1].contains("missing.db")) << "the engine's message names the file";
    EXPECT_TRUE(dialog.isEnabled());
}

// The test button on a server's right login, then on a wrong password: the
// engine's words for it follow the dialog's.
template <typename Server>
void testButtonAgainst(const QString& provider, const Server& server, const QString& refusal) {
    test::ScriptedPrompt prompts;
    DataLinkDialog dialog;
    dialog.selectProvider(provider);
    child<QComboBox>(dialog, "DataSource")
        ->setEditText(QString::fromStdString(server.host + ":" + server.port + "/" + server.database));
    child<QLineEdit>(dialog, "UserName")->setText(QString::fromStdString(server.user));
    child<QLineEdit>(dialog, "Password")->setText(QString::fromStdString(server.password));
    prompts.expectMessage(QString("測試連線成功。"));
    child<QPushButton>(dialog, "TestConnection")->click();

    child<QLineEdit>(dialog, "Password")->setText("wrong");
    prompts.expectMessage();
    child<QPushButton>(dialog, "TestConnection")->click();
    ASSERT_EQ(prompts.messages().size(), 2);
    EXPECT_TRUE(prompts.messages()[1].startsWith("測試連線失敗: "));
    EXPECT_TRUE(prompts.messages()[1].contains(refusal)) << prompts.messages()[1].toStdString();
}

TEST(DataLinkDialogTest, TestButtonAgainstPostgres) {
    TARNWELL_REQUIRE_PG(server);
    testButtonAgainst("PostgreSQL.1", server, "password");
}

TEST(DataLinkDialogTest, TestButtonAgainstMariaDb) {
    TARNWELL_REQUIRE_MARIADB(server);
    testButtonAgainst("MariaDB.1", server, "Access denied");
}

TEST(DataLinkDialogTest, OdbcListsDataSourcesAndConnectsThroughOne) {
    TARNWELL_REQUIRE_ODBC();
    test::ScriptedPrompt prompts;
    DataLinkDialog dialog;
    dialog.selectProvider("ODBC.1");
    const QStringList names = entriesOf(*child<QComboBox>(dialog, "DataSource"));
    EXPECT_TRUE(names.contains("tarnwell_sqlite")) << names.join(",").toStdString();
    EXPECT_TRUE(names.contains("tarnwell_pg")) << names.join(",").toStdString();
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "") << "listing chooses nothing";

    child<QComboBox>(dialog, "DataSource")->setCurrentIndex(static_cast<int>(names.indexOf("tarnwell_sqlite")));
    EXPECT_EQ(dialog.connectionString(), "Provider=ODBC.1;Data Source=tarnwell_sqlite");
    prompts.expectMessage(QString("測試連線成功。"));
    child<QPushButton>(dialog, "TestConnection")->click();

    // The list belongs to ODBC only.
    dialog.selectProvider("SQLite.1");
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->count(), 0);
    EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "tarnwell_sqlite");
}

}  // namespace
}  // namespace tarnwell
