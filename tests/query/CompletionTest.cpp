// Completion in an SQL editor, as a user meets it: a list under the caret of
// what the statement around it may name there, from a real catalog (built as
// the backends build theirs) and the dialect's keywords.
#include <gtest/gtest.h>

#include "PrintQt.h"

#include <QListView>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

#include "dataaccess/Catalog.h"
#include "ui/SqlCompleter.h"

namespace tarnwell::test {
namespace {

using db::CatalogBuilder;
using db::CatalogColumn;
using db::FieldKind;
using db::RelationKind;

void addColumns(CatalogBuilder& builder, CatalogBuilder::RelationHandle relation,
                std::initializer_list<std::string_view> names, int keyColumns = 0) {
    int place = 0;
    for (const std::string_view name : names) {
        CatalogColumn column;
        column.name = name;
        column.typeName = "integer";
        column.kind = FieldKind::Integer;
        column.keyPosition = place < keyColumns ? place + 1 : 0;
        builder.addColumn(relation, ++place, column);
    }
}

// A small shop's database as PostgreSQL lists it: the search path's schema
// first, another of the user's, the engine's own last.
std::shared_ptr<const db::Catalog> shopCatalog() {
    CatalogBuilder builder;
    const std::size_t publicSchema = builder.addSchema("public");
    const std::size_t sales = builder.addSchema("sales");
    const std::size_t system = builder.addSchema("pg_catalog");
    addColumns(builder, builder.addRelation(publicSchema, "customers", RelationKind::Table), {"id", "name", "city"}, 1);
    addColumns(builder, builder.addRelation(publicSchema, "orders", RelationKind::Table),
               {"id", "customer_id", "total"}, 1);
    addColumns(builder, builder.addRelation(publicSchema, "order_totals", RelationKind::View), {"customer_id", "total"});
    addColumns(builder, builder.addRelation(publicSchema, "item", RelationKind::Table), {"id"});
    addColumns(builder, builder.addRelation(publicSchema, "line_item", RelationKind::Table), {"item_id"});
    addColumns(builder, builder.addRelation(publicSchema, "Mixed Case", RelationKind::Table), {"Order", "plain"});
    addColumns(builder, builder.addRelation(publicSchema, "select", RelationKind::Table), {"from"});
    addColumns(builder, builder.addRelation(publicSchema, "we\"ird;\nname", RelationKind::Table), {"ok"});
    addColumns(builder, builder.addRelation(publicSchema, "訂單明細", RelationKind::Table), {"數量", "單價"});
    addColumns(builder, builder.addRelation(sales, "invoices", RelationKind::Table), {"invoice_no", "amount"});
    addColumns(builder, builder.addRelation(system, "pg_class", RelationKind::Table), {"relname"});
    return std::make_shared<const db::Catalog>(builder.finish());
}

class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor.resize(600, 300);
        editor.show();
        completer = new SqlCompleter(editor);
        completer->setDialect(sql::Dialect::PostgreSQL);
        completer->setCatalog(shopCatalog());
    }

    // Puts `text` in the editor with the caret at its '|'.
    void type(const QString& text) {
        QString plain = text;
        const qsizetype caret = plain.indexOf(u'|');
        plain.remove(caret, 1);
        completer->close();
        editor.setPlainText(plain);
        QTextCursor cursor = editor.textCursor();
        cursor.setPosition(static_cast<int>(caret));
        editor.setTextCursor(cursor);
    }

    QStringList shown() const {
        QStringList texts;
        if (!completer->isOpen()) {
            return texts;
        }
        const QAbstractItemModel& model = *completer->list().model();
        for (int row = 0; row < model.rowCount(); ++row) {
            texts << model.index(row, 0).data().toString();
        }
        return texts;
    }

    // What Ctrl+Space lists at the caret of `text`.
    QStringList offered(const QString& text) {
        type(text);
        QTest::keyClick(&editor, Qt::Key_Space, Qt::ControlModifier);
        return shown();
    }

    // The editor's text after taking the first offer with Enter.
    QString taken(const QString& text) {
        EXPECT_FALSE(offered(text).isEmpty()) << text.toStdString();
        QTest::keyClick(&editor, Qt::Key_Return);
        EXPECT_FALSE(completer->isOpen());
        return editor.toPlainText();
    }

    QPlainTextEdit editor;
    SqlCompleter* completer = nullptr;
};

TEST_F(CompletionTest, anAliasOrATablesNameBeforeADotOffersThatTablesColumns) {
    EXPECT_EQ(offered("SELECT c.| FROM customers c"), (QStringList{"city", "id", "name"}));
    EXPECT_EQ(offered("SELECT o.t| FROM orders AS o JOIN customers c ON c.id = o.customer_id"),
              (QStringList{"total", "customer_id"}));
    EXPECT_EQ(offered("SELECT orders.cu| FROM orders, customers"), QStringList{"customer_id"});
    EXPECT_EQ(offered("SELECT x.| FROM (SELECT 1) x, customers"), QStringList{}) << "a subquery's columns are unknown";
    EXPECT_EQ(offered("UPDATE orders o SET total = 0 WHERE o.cu|"), QStringList{"customer_id"});
}

TEST_F(CompletionTest, aSchemaBeforeADotOffersItsTablesAndTwoPartsTheirColumns) {
    EXPECT_EQ(offered("SELECT * FROM sales.|"), QStringList{"invoices"});
    EXPECT_EQ(offered("SELECT * FROM pg_catalog.pg|"), QStringList{"pg_class"});
    EXPECT_EQ(offered("SELECT sales.invoices.am| FROM sales.invoices"), QStringList{"amount"});
    EXPECT_EQ(offered("SELECT i.| FROM sales.invoices i"), (QStringList{"amount", "invoice_no"}));
}

TEST_F(CompletionTest, tablesAfterFromJoinUpdateAndIntoOutsideTheSearchPathWithTheirSchema) {
    const QStringList tables = offered("SELECT * FROM |");
    EXPECT_TRUE(tables.contains("customers"));
    EXPECT_TRUE(tables.contains("order_totals")) << "views too";
    EXPECT_TRUE(tables.contains("sales.invoices"));
    EXPECT_TRUE(tables.contains("sales")) << "schemas, to go on with a dot";
    EXPECT_FALSE(tables.contains("pg_catalog.pg_class")) << "the engine's own tables only through their schema";
    EXPECT_FALSE(tables.contains("SELECT")) << "no keywords where a table goes";
    EXPECT_EQ(offered("SELECT * FROM orders o JOIN cu|"), QStringList{"customers"});
    EXPECT_EQ(offered("UPDATE ord|"), (QStringList{"order_totals", "orders"}));
    EXPECT_EQ(offered("INSERT INTO inv|"), QStringList{"sales.invoices"});
    EXPECT_EQ(taken("INSERT INTO inv|"), "INSERT INTO sales.invoices");
    EXPECT_EQ(offered("SELECT * FROM orders, cus|"), QStringList{"customers"}) << "the next of a FROM list";
}

TEST_F(CompletionTest, columnsOfTheStatementsTablesWhereverAColumnGoes) {
    const QStringList columns = offered("SELECT cu| FROM orders o JOIN customers ON customers.id = o.customer_id");
    EXPECT_EQ(columns.value(0), "customer_id");
    EXPECT_TRUE(columns.contains("customers")) << "a table without an alias, by its name";
    EXPECT_TRUE(columns.contains("CURRENT_DATE")) << "and the dialect's keywords";
    EXPECT_EQ(offered("SELECT * FROM orders WHERE tot|"), QStringList{"total"});
    EXPECT_EQ(offered("INSERT INTO customers (ci|"), QStringList{"city"});
    const QStringList set = offered("UPDATE customers SET na|");
    EXPECT_EQ(set.value(0), "name");
    EXPECT_TRUE(set.contains("NATURAL"));
    EXPECT_EQ(offered("SELECT id| FROM orders, customers").count("id"), 1) << "a column of two tables once";
}

TEST_F(CompletionTest, aStatementWithoutFromYetOffersTablesAndKeywords) {
    const QStringList offers = offered("SELECT cu|");
    EXPECT_TRUE(offers.contains("customers"));
    EXPECT_TRUE(offers.contains("CURRENT_DATE"));
    EXPECT_FALSE(offers.contains("customer_id")) << "no table named yet, so no columns";
    const QStringList atStart = offered("sel|");
    EXPECT_EQ(atStart.value(0), "SELECT") << "a statement's start takes keywords";
    EXPECT_FALSE(atStart.contains("select")) << "not the table named select";
    EXPECT_EQ(taken("sel|"), "select") << "a keyword goes in as it was typed";
    EXPECT_EQ(taken("SEL|"), "SELECT");
    EXPECT_EQ(offered("SELECT 1; sel|").value(0), "SELECT") << "after a semicolon a new statement starts";
}

TEST_F(CompletionTest, namesStartingWithWhatWasTypedComeFirstThenNamesHoldingItInAnyCase) {
    EXPECT_EQ(offered("SELECT * FROM it|"), (QStringList{"item", "line_item"}));
    EXPECT_EQ(offered("SELECT * FROM IT|"), (QStringList{"item", "line_item"}));
    EXPECT_EQ(offered("SELECT * FROM nvo|"), QStringList{"sales.invoices"});
    EXPECT_TRUE(offered("SELECT * FROM zz|").isEmpty());
    EXPECT_FALSE(completer->isOpen()) << "nothing matches: no list";
}

TEST_F(CompletionTest, namesThatNeedQuotesGoInQuotedAndQuotedTypingIsCompletedToo) {
    EXPECT_EQ(taken("SELECT * FROM mix|"), "SELECT * FROM \"Mixed Case\"");
    EXPECT_EQ(taken("SELECT * FROM \"Mix|"), "SELECT * FROM \"Mixed Case\"");
    EXPECT_EQ(taken("SELECT m.or| FROM \"Mixed Case\" m"), "SELECT m.\"Order\" FROM \"Mixed Case\" m");
    EXPECT_EQ(taken("SELECT s.| FROM \"select\" s"), "SELECT s.\"from\" FROM \"select\" s") << "keywords are quoted";
    EXPECT_EQ(taken("SELECT * FROM ird|"), "SELECT * FROM \"we\"\"ird;\nname\"") << "quotes doubled, the rest kept";

    completer->setDialect(sql::Dialect::MariaDB);
    EXPECT_EQ(taken("SELECT * FROM mix|"), "SELECT * FROM `Mixed Case`");
    EXPECT_EQ(taken("SELECT * FROM customers WHERE ci|"), "SELECT * FROM customers WHERE city")
        << "MariaDB keeps the case of names: plain ones stay plain";
}

TEST_F(CompletionTest, noListInsideAStringOrACommentOrANumber) {
    EXPECT_TRUE(offered("SELECT 'cu|'").isEmpty());
    EXPECT_TRUE(offered("SELECT 'it''s cu|").isEmpty()) << "an unfinished string";
    EXPECT_TRUE(offered("SELECT 1 -- cu|").isEmpty());
    EXPECT_TRUE(offered("SELECT /* cu| */ 1").isEmpty());
    EXPECT_TRUE(offered("SELECT $$ cu|$$").isEmpty()) << "a dollar-quoted string";
    EXPECT_TRUE(offered("SELECT 12|").isEmpty());
    EXPECT_FALSE(offered("SELECT 1 /* note */ FROM cu|").isEmpty()) << "after a finished comment";
}

TEST_F(CompletionTest, aNewNameOrAnAliasBeingGivenOpensNoListByItself) {
    type("CREATE TABLE |");
    QTest::keyClicks(&editor, "cu");
    EXPECT_FALSE(completer->isOpen()) << "a new table's name";
    type("SELECT * FROM customers |");
    QTest::keyClicks(&editor, "cu");
    EXPECT_FALSE(completer->isOpen()) << "an alias: Enter must not replace it";
    EXPECT_TRUE(offered("SELECT * FROM customers wh|").contains("WHERE")) << "Ctrl+Space: the keywords that may follow";
    type("SELECT name AS |");
    QTest::keyClicks(&editor, "nm");
    EXPECT_FALSE(completer->isOpen());
}

TEST_F(CompletionTest, typingOpensTheListAfterTwoCharactersOfANameOrADotAndNarrowsIt) {
    type("SELECT * FROM |");
    QTest::keyClicks(&editor, "o");
    EXPECT_FALSE(completer->isOpen()) << "one character is not enough";
    QTest::keyClicks(&editor, "r");
    EXPECT_EQ(shown(), (QStringList{"order_totals", "orders"}));
    QTest::keyClicks(&editor, "de");
    EXPECT_EQ(shown(), (QStringList{"order_totals", "orders"}));
    QTest::keyClick(&editor, Qt::Key_Backspace);
    EXPECT_EQ(shown(), (QStringList{"order_totals", "orders"})) << "it follows a deletion too";
    QTest::keyClicks(&editor, "ers");
    EXPECT_FALSE(completer->isOpen()) << "the one name left is the one typed";
    QTest::keyClicks(&editor, " o WHERE o.");
    EXPECT_EQ(shown(), (QStringList{"customer_id", "id", "total"}));
    QTest::keyClick(&editor, Qt::Key_Left);
    EXPECT_FALSE(completer->isOpen()) << "the caret went elsewhere";
}

TEST_F(CompletionTest, theKeysOfAnOpenList) {
    EXPECT_EQ(offered("SELECT c.| FROM customers c"), (QStringList{"city", "id", "name"}));
    QTest::keyClick(&editor, Qt::Key_Down);
    QTest::keyClick(&editor, Qt::Key_Down);
    QTest::keyClick(&editor, Qt::Key_Up);
    QTest::keyClick(&editor, Qt::Key_Tab);
    EXPECT_EQ(editor.toPlainText(), "SELECT c.id FROM customers c") << "Tab takes the current one";
    EXPECT_EQ(editor.textCursor().position(), QString("SELECT c.id").size());

    offered("SELECT c.| FROM customers c");
    QTest::keyClick(&editor, Qt::Key_PageDown);
    QTest::keyClick(&editor, Qt::Key_Enter);
    EXPECT_EQ(editor.toPlainText(), "SELECT c.name FROM customers c") << "Page Down stops at the last";

    offered("SELECT c.| FROM customers c");
    QTest::keyClick(&editor, Qt::Key_Escape);
    EXPECT_FALSE(completer->isOpen());
    EXPECT_EQ(editor.toPlainText(), "SELECT c. FROM customers c");
    QTest::keyClick(&editor, Qt::Key_Return);
    EXPECT_EQ(editor.toPlainText(), "SELECT c.\n FROM customers c") << "a closed list leaves Enter to the editor";

    offered("SELECT c.| FROM customers c");
    editor.moveCursor(QTextCursor::End);
    EXPECT_FALSE(completer->isOpen()) << "the caret went elsewhere";
}

TEST_F(CompletionTest, chineseNamesWorkAsAnyOther) {
    EXPECT_EQ(offered("SELECT * FROM 訂單|"), QStringList{"訂單明細"});
    EXPECT_EQ(offered("SELECT d.| FROM 訂單明細 d"), (QStringList{"單價", "數量"}));
    EXPECT_EQ(taken("SELECT 數| FROM 訂單明細"), "SELECT 數量 FROM 訂單明細");
    // An input method hands over two characters at once.
    type("SELECT * FROM |");
    editor.insertPlainText(QStringLiteral("明細"));
    EXPECT_EQ(shown(), QStringList{"訂單明細"});
}

TEST_F(CompletionTest, withoutACatalogKeywordsAreOffered) {
    completer->setCatalog(nullptr);
    completer->setDialect(sql::Dialect::SQLite);
    EXPECT_EQ(offered("SELECT * FROM t WHE|"), (QStringList{"WHEN", "WHERE"}));
    EXPECT_TRUE(offered("SELECT * FROM |").isEmpty());
}

}  // namespace
}  // namespace tarnwell::test
