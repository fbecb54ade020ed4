// Filing connections in the ADO tree: provider nodes by their first seven
// characters, data sources under them, "Index:" entries under those.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include "connections/AdoConEd.h"
#include "session/Workspace.h"
#include "tests/connections/AdoTestSupport.h"

namespace tarnwell {

namespace {

class AdoTreeTest : public ::testing::Test {
protected:
    // The pictures come from the workspace's list.
    Workspace workspace;
    QTreeWidget tree;

    QTreeWidgetItem* file(const QString& provider, const QString& dataSource, int position,
                          const QString& reported = QString()) {
        return fileAdoConnection(tree, workspace.ImageADO(), provider, dataSource,
                                 reported.isEmpty() ? provider : reported, position);
    }
    QStringList shape() const { return test::shapeOf(tree, workspace.ImageADO()); }
};

TEST_F(AdoTreeTest, FirstSecondAndFurtherDataSourcesOfAProvider) {
    const QTreeWidgetItem* index = file("SQLite.1", "/data/a.db", 0);
    EXPECT_EQ(shape(), QStringList({"SQLite.1 (7)", "  /data/a.db (8)", "    Index:0 (2)"}));
    EXPECT_EQ(index->text(0), "Index:0");
    EXPECT_TRUE(index->parent()->isExpanded() && index->parent()->parent()->isExpanded())
        << "the new entry is in sight";

    file("SQLite.1", "/data/b.db", 1);
    file("PostgreSQL.1", "db1/erp", 2);
    file("SQLite.1", "/data/c.db", 3);
    EXPECT_EQ(shape(), QStringList({"SQLite.1 (7)", "  /data/a.db (8)", "    Index:0 (2)",
                              "  /data/b.db (8)", "    Index:1 (2)", "  /data/c.db (8)",
                              "    Index:3 (2)", "PostgreSQL.1 (7)", "  db1/erp (8)",
                              "    Index:2 (2)"}));
}

TEST_F(AdoTreeTest, AddAdoTreeNodeGivesNoneForADataSourceListedAlready) {
    QTreeWidgetItem* first = AddAdoTreeNode(tree, workspace.ImageADO(), "SQLite.1", "/data/a.db", "SQLite.1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->text(0), "/data/a.db");
    EXPECT_EQ(test::pictureOf(first, workspace.ImageADO()), 8);
    EXPECT_EQ(AddAdoTreeNode(tree, workspace.ImageADO(), "SQLite.1", "/data/a.db", "SQLite.1"), nullptr);
    // Data sources compare exactly.
    EXPECT_NE(AddAdoTreeNode(tree, workspace.ImageADO(), "SQLite.1", "/data/A.db", "SQLite.1"), nullptr);
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(tree.topLevelItem(0)->childCount(), 2);
}

TEST_F(AdoTreeTest, ProvidersSharingSevenCharactersShareTheFirstNode) {
    file("MSDAORA.1", "ORCL", 0);
    file("MSDAORA.2", "TEST", 1);
    // The same data source under a provider filed with the first: the entry
    // goes under the data source already listed, not lost.
    file("MSDAORA.9", "ORCL", 2);
    // Case counts; a name shorter than seven characters compares whole.
    file("msdaora.1", "ORCL", 3);
    file("ODBC.1", "dsn", 4);
    file("ODBC.1x", "dsn", 5);
    file("ODBC.1", "dsn2", 6);
    EXPECT_EQ(shape(),
              QStringList({"MSDAORA.1 (7)", "  ORCL (8)", "    Index:0 (2)", "    Index:2 (2)", "  TEST (8)",
                           "    Index:1 (2)", "msdaora.1 (7)", "  ORCL (8)", "    Index:3 (2)", "ODBC.1 (7)",
                           "  dsn (8)", "    Index:4 (2)", "  dsn2 (8)", "    Index:6 (2)", "ODBC.1x (7)",
                           "  dsn (8)", "    Index:5 (2)"}));
}

TEST_F(AdoTreeTest, OnlyProviderNodesTakeConnectionsIn) {
    // A data source that begins like another provider's name is no provider.
    file("SQLite.1", "PostgreSQL-backup.db", 0);
    file("PostgreSQL.1", "db1/erp", 1);
    EXPECT_EQ(shape(), QStringList({"SQLite.1 (7)", "  PostgreSQL-backup.db (8)", "    Index:0 (2)",
                              "PostgreSQL.1 (7)", "  db1/erp (8)", "    Index:1 (2)"}));
}

TEST_F(AdoTreeTest, ReportedProviderNamesTheNodeWhenTheStringDisagrees) {
    // The connection string said one provider, the connection reports
    // another: the entry is filed under the reported one, made once.
    file("Custom.1", "src1", 0, "Reported.1");
    file("Custom.1", "src2", 1, "Reported.1");
    file("Custom.1", "src1", 2, "Reported.1");
    EXPECT_EQ(shape(), QStringList({"Reported.1 (7)", "  src1 (8)", "    Index:0 (2)", "    Index:2 (2)",
                              "  src2 (8)", "    Index:1 (2)"}));
}

}  // namespace
}  // namespace tarnwell
