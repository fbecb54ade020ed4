// The connection registry: its rules, and the refill of the query windows'
// connection lists.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>

#include "session/ConnectionRegistry.h"
#include "session/QueryWindowLists.h"
#include "session/Workspace.h"
#include "shell/UMain.h"
#include "support/QtPrinters.h"

namespace tarnwell {
namespace {

TEST(ConnectionStringValueTest, TakesTheRunAfterTheFirstCaseSensitiveKey) {
    const QString full = "Provider=MSDAORA.1;Data Source=ORCL;Persist Security Info=False";
    EXPECT_EQ(ConnectionStringValue(full, "Provider="), "MSDAORA.1");
    EXPECT_EQ(ConnectionStringValue(full, "Data Source="), "ORCL");
    EXPECT_EQ(ConnectionStringValue(full, "Persist Security Info="), "False");

    EXPECT_EQ(ConnectionStringValue("Provider=MSDAORA.1", "Provider="), "MSDAORA.1");
    EXPECT_EQ(ConnectionStringValue("Provider=MSDAORA.1", "Data Source="), "");
    EXPECT_EQ(ConnectionStringValue("provider=x", "Provider="), "");
    EXPECT_EQ(ConnectionStringValue("", "Provider="), "");
    EXPECT_EQ(ConnectionStringValue("Provider=;Data Source=x", "Provider="), "");
    // The first occurrence counts, and quotes protect nothing.
    EXPECT_EQ(ConnectionStringValue("Data Source=a;Data Source=b", "Data Source="), "a");
    EXPECT_EQ(ConnectionStringValue("Password=\"x;y\";Data Source=d", "Password="), "\"x");
    // A key found inside another key's value still counts.
    EXPECT_EQ(ConnectionStringValue("Extended Properties=Provider=inner;Provider=outer", "Provider="),
              "inner");
}

TEST(ConnectionRegistryTest, AdoEntriesAreCoveredBySubstringsNotByEqualFields) {
    ConnectionRegistry registry;
    EXPECT_EQ(registry.addAdo({"Provider=PG;Data Source=ORCL2;User ID=a", "PG", "ORCL2"}), 0);
    // "ORCL" is a substring of the first entry's string: already registered.
    EXPECT_EQ(registry.addAdo({"Provider=PG;Data Source=ORCL", "PG", "ORCL"}), std::nullopt);
    // Another provider is not covered.
    EXPECT_EQ(registry.addAdo({"Provider=SQLITE;Data Source=ORCL", "SQLITE", "ORCL"}), 1);
    // Case matters.
    EXPECT_EQ(registry.addAdo({"Provider=pg;Data Source=orcl2", "pg", "orcl2"}), 2);
    ASSERT_EQ(registry.ConnectedADO().size(), 3u);
    EXPECT_EQ(registry.ConnectedADO()[1].DataSource, "ORCL");
    ASSERT_NE(registry.adoAt(2), nullptr);
    EXPECT_EQ(registry.adoAt(2)->ConnectionString, "Provider=pg;Data Source=orcl2");
    EXPECT_EQ(registry.adoAt(3), nullptr);
    EXPECT_EQ(registry.adoAt(-1), nullptr);
}

TEST(ConnectionRegistryTest, AnEmptyProviderOrDataSourceIsAlwaysAdded) {
    ConnectionRegistry registry;
    EXPECT_EQ(registry.addAdo({"Provider=PG", "PG", ""}), 0);
    EXPECT_EQ(registry.addAdo({"Provider=PG", "PG", ""}), 1);
    EXPECT_EQ(registry.addAdo({"Data Source=x", "", "x"}), 2);
    EXPECT_EQ(registry.addAdo({"Data Source=x", "", "x"}), 3);
    EXPECT_EQ(registry.ConnectedADO().size(), 4u);
}

TEST(ConnectionRegistryTest, AnAliasIsRegisteredOnceByExactName) {
    ConnectionRegistry registry;
    EXPECT_TRUE(registry.addBde({"DEMO", "srv", "db", "alice", "a1"}));
    EXPECT_FALSE(registry.addBde({"DEMO", "srv", "db", "bob", "b2"}));
    EXPECT_TRUE(registry.addBde({"demo", "", "", "carol", ""}));
    ASSERT_EQ(registry.ConnectedBDE().size(), 2u);
    // A second login under another user keeps the first registration.
    ASSERT_NE(registry.findBde("DEMO"), nullptr);
    EXPECT_EQ(registry.findBde("DEMO")->UserName, "alice");
    EXPECT_EQ(registry.findBde("DEMO")->Password, "a1");
    EXPECT_EQ(registry.findBde("Demo"), nullptr);
}

// A stand-in for a query window: just what the refill reads and writes,
// listening to the registry as a query window does.
struct TestQueryWindow {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QComboBox* linkType = new QComboBox(window.get());
    QComboBox* connectAlias = new QComboBox(window.get());

    TestQueryWindow(ConnectionRegistry& registry, const QString& kind) {
        linkType->addItems({"ADO", "BDE"});
        linkType->setCurrentIndex(linkType->findText(kind));
        QObject::connect(&registry, &ConnectionRegistry::changed, window.get(),
                         [this, &registry] { refillConnectionList(registry, *linkType, *connectAlias); });
    }

    QStringList items() const {
        QStringList texts;
        for (int i = 0; i < connectAlias->count(); ++i) {
            texts << connectAlias->itemText(i);
        }
        return texts;
    }
};

class RefreshConnectAliasesTest : public ::testing::Test {
protected:
    Workspace workspace;
    TfrmMain main{workspace};
};

TEST_F(RefreshConnectAliasesTest, EachWindowListsTheEntriesOfItsOwnKind) {
    TestQueryWindow bde(main.registry(), "BDE");
    TestQueryWindow ado(main.registry(), "ADO");
    TestQueryWindow none(main.registry(), "");
    none.connectAlias->addItem("stale");

    main.AddConnectedBDE("DEMO", "", "", "u", "p");
    main.AddConnectedBDE("SALES", "", "", "u", "p");
    ASSERT_EQ(main.AddConnectedADO("Provider=A;Data Source=shop", "A", "shop"), 0);
    ASSERT_EQ(main.AddConnectedADO("Provider=B;Data Source=shop", "B", "shop"), 1);
    main.RefreshConnectAliases();

    EXPECT_EQ(bde.items(), QStringList({"DEMO", "SALES"}));
    EXPECT_EQ(bde.connectAlias->currentIndex(), 0);
    // Equal data sources stay separate items: position i is entry i.
    EXPECT_EQ(ado.items(), QStringList({"shop", "shop"}));
    EXPECT_TRUE(none.items().isEmpty());
    EXPECT_EQ(none.connectAlias->currentIndex(), -1);
}

TEST_F(RefreshConnectAliasesTest, KeepsTheShownEntryOrFallsBackToTheFirst) {
    TestQueryWindow keeps(main.registry(), "BDE");
    TestQueryWindow loses(main.registry(), "BDE");
    main.AddConnectedBDE("A", "", "", "", "");
    main.AddConnectedBDE("B", "", "", "", "");
    keeps.connectAlias->setCurrentIndex(1);
    loses.connectAlias->clear();
    loses.connectAlias->addItem("GONE");

    main.AddConnectedBDE("C", "", "", "", "");

    EXPECT_EQ(keeps.items(), QStringList({"A", "B", "C"}));
    EXPECT_EQ(keeps.connectAlias->currentText(), "B");
    EXPECT_EQ(loses.items(), QStringList({"A", "B", "C"}));
    EXPECT_EQ(loses.connectAlias->currentText(), "A");
}

TEST_F(RefreshConnectAliasesTest, ChoosingByProgramRunsNoUserHandler) {
    TestQueryWindow window(main.registry(), "BDE");
    QSignalSpy activated(window.connectAlias, &QComboBox::activated);
    QSignalSpy indexChanged(window.connectAlias, &QComboBox::currentIndexChanged);
    QSignalSpy textChanged(window.connectAlias, &QComboBox::currentTextChanged);
    main.AddConnectedBDE("A", "", "", "", "");
    main.AddConnectedBDE("B", "", "", "", "");
    EXPECT_EQ(window.connectAlias->currentText(), "A");
    EXPECT_EQ(activated.count(), 0);
    EXPECT_EQ(indexChanged.count(), 0);
    EXPECT_EQ(textChanged.count(), 0);
}

TEST_F(RefreshConnectAliasesTest, ARepeatedAliasChangesNothingAndRefreshesNoWindow) {
    TestQueryWindow window(main.registry(), "BDE");
    main.AddConnectedBDE("DEMO", "s", "d", "alice", "pw");
    ASSERT_EQ(window.items(), QStringList({"DEMO"}));
    // Mark the list so that a refill would show.
    window.connectAlias->addItem("marker");

    main.AddConnectedBDE("DEMO", "s", "d", "bob", "other");

    EXPECT_EQ(main.ConnectedBDE().size(), 1u);
    EXPECT_EQ(main.ConnectedBDE()[0].UserName, "alice");
    EXPECT_EQ(window.items(), QStringList({"DEMO", "marker"}));
}

TEST_F(RefreshConnectAliasesTest, AnAdoRegistrationLeavesTheRefreshToTheCaller) {
    TestQueryWindow window(main.registry(), "ADO");
    EXPECT_EQ(main.AddConnectedADO("Provider=P;Data Source=D", "P", "D"), 0);
    EXPECT_TRUE(window.items().isEmpty());
    main.RefreshConnectAliases();
    EXPECT_EQ(window.items(), QStringList({"D"}));
}

}  // namespace
}  // namespace tarnwell
