// The login dialog on its own, and logging into aliases of every driver
// through the browser's tree: what is asked, what goes into the test
// connection, what is registered and shown, and every way it can fail.
#include <QAction>
#include <QStyle>

#include "BrowserTestSupport.h"

namespace tarnwell::test {
namespace {

QStringList fields(const TAConnectedBDE& entry) {
    return {entry.AliasName, entry.ServerName, entry.DatabaseName, entry.UserName, entry.Password};
}

// --- The dialog ------------------------------------------------------------------------

class PasswdDialogTest : public ::testing::Test {
protected:
    PasswdDialogTest() : session(db::SessionConfig{}), testConnection(session, "BDE_DBS") {}

    db::Session session;
    db::Database testConnection;
};

TEST_F(PasswdDialogTest, Layout) {
    TfrmPasswd dialog(testConnection, QString(), QString());
    EXPECT_EQ(dialog.windowTitle(), "frmPassword");
    EXPECT_TRUE(dialog.isModal());
    dialog.show();
    EXPECT_EQ(dialog.size(), QSize(253, 154)) << "243 x 144 inside a border of 5";
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "not resizable";
    EXPECT_EQ(dialog.windowTitle(), "frmPassword");

    const struct {
        const char* name;
        QRect geometry;
    } widgets[] = {
        {"Panel1", {5, 5, 243, 33}},     {"Panel3", {5, 38, 243, 70}},   {"Panel2", {5, 108, 243, 41}},
        {"Edit1", {80, 13, 140, 21}},    {"Edit2", {80, 38, 140, 21}},   {"BitBtn1", {72, 8, 75, 25}},
        {"BitBtn2", {160, 8, 75, 25}},
    };
    for (const auto& expected : widgets) {
        const auto* widget = dialog.findChild<QWidget*>(expected.name);
        ASSERT_NE(widget, nullptr) << expected.name;
        EXPECT_EQ(widget->geometry(), expected.geometry) << expected.name;
    }
    const struct {
        const char* name;
        const char* panel;
        QPoint at;
        QString text;
    } labels[] = {{"Label1", "Panel1", {11, 11}, "AliasName"},
                  {"Label4", "Panel1", {88, 11}, ""},
                  {"Label2", "Panel3", {11, 16}, "User Name"},
                  {"Label3", "Panel3", {18, 40}, "Password"}};
    for (const auto& expected : labels) {
        const auto* label = dialog.findChild<QLabel*>(expected.name);
        ASSERT_NE(label, nullptr) << expected.name;
        EXPECT_EQ(label->parentWidget()->objectName(), expected.panel) << expected.name;
        EXPECT_EQ(label->pos(), expected.at) << expected.name;
        EXPECT_EQ(label->text(), expected.text) << expected.name;
        EXPECT_EQ(label->font().family(), "Arial") << expected.name;
        EXPECT_EQ(label->font().pixelSize(), 13) << expected.name;
        EXPECT_LE(label->geometry().right(), label->parentWidget()->width()) << expected.name;
    }
    EXPECT_EQ(child<QLineEdit>(dialog, "Edit1")->parentWidget()->objectName(), "Panel3");
    EXPECT_EQ(child<QPushButton>(dialog, "BitBtn1")->parentWidget()->objectName(), "Panel2");

    EXPECT_EQ(child<QPushButton>(dialog, "BitBtn1")->text(), "OK");
    EXPECT_TRUE(child<QPushButton>(dialog, "BitBtn1")->isDefault());
    const auto picture = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    EXPECT_FALSE(child<QPushButton>(dialog, "BitBtn1")->icon().isNull());
    EXPECT_EQ(picture(child<QPushButton>(dialog, "BitBtn1")->icon()),
              picture(dialog.style()->standardIcon(QStyle::SP_DialogOkButton)));
    EXPECT_EQ(child<QPushButton>(dialog, "BitBtn2")->text(), "Cancel");
    EXPECT_FALSE(child<QPushButton>(dialog, "BitBtn2")->icon().isNull());
    EXPECT_EQ(picture(child<QPushButton>(dialog, "BitBtn2")->icon()),
              picture(dialog.style()->standardIcon(QStyle::SP_DialogCancelButton)));

    QTest::keyClicks(child<QLineEdit>(dialog, "Edit2"), "abc");
    EXPECT_EQ(child<QLineEdit>(dialog, "Edit2")->text(), "abc");
    EXPECT_EQ(child<QLineEdit>(dialog, "Edit2")->displayText(), "***") << "every character shown as *";
    EXPECT_EQ(dialog.focusWidget(), child<QLineEdit>(dialog, "Edit2")) << "the password has the focus";
}

TEST_F(PasswdDialogTest, OkReplacesTheUserNameAndAddsBothTrimmed) {
    testConnection.setParams(db::ParamList::fromText("SERVER NAME=db1\nUSER NAME=scott\nPORT=5432\n"));
    TfrmPasswd dialog(testConnection, QString(), QString());
    dialog.show();
    child<QLineEdit>(dialog, "Edit1")->setText("  mei lin \t");
    QTest::keyClicks(child<QLineEdit>(dialog, "Edit2"), " pass word ");
    QTest::mouseClick(child<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
    EXPECT_EQ(dialog.accepted(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(testConnection.params().text(),
              "SERVER NAME=db1\nPORT=5432\nUSER NAME=mei lin\nPASSWORD=pass word\n")
        << "blanks at the ends go, blanks inside stay";
}

TEST_F(PasswdDialogTest, WithoutAUserNameEntryBothAreAppendedAndAConfiguredPasswordStaysInFront) {
    testConnection.setParams(db::ParamList::fromText("PATH=/tmp/x.db\nPASSWORD=stored\n"));
    TfrmPasswd dialog(testConnection, QString(), QString());
    dialog.show();
    child<QLineEdit>(dialog, "Edit1")->setText("");
    QTest::keyClicks(child<QLineEdit>(dialog, "Edit2"), "typed");
    QTest::keyClick(child<QLineEdit>(dialog, "Edit2"), Qt::Key_Return);
    EXPECT_EQ(dialog.accepted(), 1) << "Enter presses OK";
    EXPECT_EQ(testConnection.params().text(), "PATH=/tmp/x.db\nPASSWORD=stored\nUSER NAME=\nPASSWORD=typed\n");
    EXPECT_EQ(testConnection.params().value("PASSWORD"), "stored");

    // An ideographic space is no blank.
    TfrmPasswd second(testConnection, QString(), QString());
    second.show();
    child<QLineEdit>(second, "Edit2")->setText(QStringLiteral("\u3000密碼 "));
    child<QPushButton>(second, "BitBtn1")->click();
    EXPECT_EQ(testConnection.params().line(testConnection.params().size() - 1), "PASSWORD=\u3000密碼");
}

TEST_F(PasswdDialogTest, CancelEscapeAndCloseLeaveFlagAndParametersAlone) {
    const db::ParamList before = db::ParamList::fromText("USER NAME=scott\n");
    const std::function<void(TfrmPasswd&)> ways[] = {
        [](TfrmPasswd& dialog) { QTest::mouseClick(child<QPushButton>(dialog, "BitBtn2"), Qt::LeftButton); },
        [](TfrmPasswd& dialog) { QTest::keyClick(child<QLineEdit>(dialog, "Edit2"), Qt::Key_Escape); },
        [](TfrmPasswd& dialog) { dialog.close(); },
    };
    int way = 0;
    for (const auto& dismiss : ways) {
        testConnection.setParams(before);
        {
            TfrmPasswd dialog(testConnection, QString(), QString());
            EXPECT_EQ(TfrmPasswd::instance(), &dialog);
            dialog.show();
            QTest::keyClicks(child<QLineEdit>(dialog, "Edit2"), "secret");
            dismiss(dialog);
            EXPECT_FALSE(dialog.isVisible()) << way;
            EXPECT_EQ(dialog.accepted(), 0) << way;
            EXPECT_EQ(dialog.result(), QDialog::Rejected) << way;
        }
        EXPECT_EQ(TfrmPasswd::instance(), nullptr) << "cleared when it goes";
        EXPECT_EQ(testConnection.params(), before) << way;
        ++way;
    }
}

// --- Logging in through the tree ---------------------------------------------------------

class LoginTest : public BrowserFixture {
protected:
    LoginTest() { child<QTreeWidget>(openBrowser(), "TrvBDE")->topLevelItem(0)->setExpanded(true); }

    TfrmConnectEditor& browser() { return *TfrmConnectEditor::instance(); }

    void expectNotLoggedInto(const QString& alias) {
        QTreeWidgetItem* node = aliasNode(alias);
        ASSERT_NE(node, nullptr);
        EXPECT_FALSE(node->isExpanded());
        EXPECT_EQ(childTexts(*node), QStringList{"未連線"});
        EXPECT_EQ(node->icon(0).cacheKey(), workspace->ImageBDE().at(1).cacheKey());
    }

    // Logged in: collapsed, picture 3, selected, its two login children, the
    // test connection open on it and the alias in the connection box.
    void expectLoggedInto(const QString& alias, const QString& user, const QString& password) {
        QTreeWidgetItem* node = aliasNode(alias);
        ASSERT_NE(node, nullptr);
        EXPECT_FALSE(node->isExpanded());
        EXPECT_EQ(childTexts(*node), QStringList({"USER NAME=" + user, "PASSWORD=" + password}));
        for (int i = 0; i < node->childCount(); ++i) {
            EXPECT_EQ(node->child(i)->icon(0).cacheKey(), workspace->ImageBDE().at(0).cacheKey());
        }
        EXPECT_EQ(node->icon(0).cacheKey(), workspace->ImageBDE().at(3).cacheKey());
        EXPECT_EQ(browser().selectedNode(), node);
        EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), alias);
        EXPECT_TRUE(workspace->BDE_DB().connected());
        EXPECT_EQ(workspace->BDE_DB().aliasName(), alias.toStdString());
    }
};

TEST_F(LoginTest, SqliteAliasWithoutUserNameLogsInAndIsRegistered) {
    const LoginHand::Seen seen = logIn("LOCAL", LoginHand::ok("  mei ", " pw  "));
    EXPECT_EQ(seen.alias, "LOCAL");
    EXPECT_EQ(seen.userName, "") << "a file alias has no user name";
    EXPECT_EQ(seen.password, "");
    EXPECT_TRUE(seen.focusOnPassword);
    EXPECT_TRUE(prompt.messages().isEmpty());
    expectLoggedInto("LOCAL", "mei", "pw");
    EXPECT_EQ(QString::fromStdString(workspace->BDE_DB().params().text()),
              "PATH=" + aliases.localPath() + "\nUSER NAME=mei\nPASSWORD=pw\n");
    ASSERT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_EQ(fields(workspace->registry().ConnectedBDE()[0]), QStringList({"LOCAL", "", "", "mei", "pw"}));

    // From now on the alias expands like any node and asks nothing.
    QTreeWidgetItem& local = *aliasNode("LOCAL");
    clickExpandButton(*child<QTreeWidget>(browser(), "TrvBDE"), local);
    QTest::qWait(20);
    EXPECT_TRUE(local.isExpanded());
    local.setExpanded(false);
    local.setExpanded(true);
    QTest::qWait(20);
    EXPECT_TRUE(local.isExpanded());
    EXPECT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
}

TEST_F(LoginTest, CancelledLoginLeavesTheAliasAsItWasAndTheTestConnectionClosedOnItsParameters) {
    logIn("DEMO", LoginHand::ok("", ""));
    ASSERT_TRUE(workspace->BDE_DB().connected());
    child<QLineEdit>(browser(), "EdtConnectDB")->setText("DEMO");

    logIn("LOCAL", LoginHand::cancel());
    expectNotLoggedInto("LOCAL");
    EXPECT_FALSE(workspace->BDE_DB().connected());
    EXPECT_EQ(QString::fromStdString(workspace->BDE_DB().params().text()), "PATH=" + aliases.localPath() + "\n");
    EXPECT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "DEMO") << "a cancel leaves the current connection";
    EXPECT_TRUE(prompt.messages().isEmpty());

    // It asks again next time.
    logIn("LOCAL", LoginHand::ok("u", "p"));
    expectLoggedInto("LOCAL", "u", "p");
}

TEST_F(LoginTest, AFailedOpenShowsTheEnginesMessageAndEmptiesTheConnectionBox) {
    logIn("DEMO", LoginHand::ok("", ""));
    ASSERT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "DEMO");
    const std::string message = engineMessage("MISSING");
    prompt.expectMessage("連線失敗: " + QString::fromStdString(message));

    logIn("MISSING", LoginHand::ok("u", "p"));
    EXPECT_TRUE(prompt.scriptUsedUp());
    expectNotLoggedInto("MISSING");
    EXPECT_EQ(child<QLineEdit>(browser(), "EdtConnectDB")->text(), "");
    EXPECT_FALSE(workspace->BDE_DB().connected());
    ASSERT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_EQ(workspace->registry().ConnectedBDE()[0].AliasName, "DEMO");
    EXPECT_NE(browser().selectedNode(), aliasNode("MISSING"));

    prompt.expectMessage();
    logIn("MISSING", LoginHand::cancel());  // asked again
    EXPECT_FALSE(prompt.scriptUsedUp()) << "a cancel shows nothing";
    logIn("MISSING", LoginHand::ok("", ""));
}

TEST_F(LoginTest, AnUnreachableServerFailsWithTheEnginesMessageInsteadOfHanging) {
    // CONNECT TIMEOUT=1 bounds the wait.
    prompt.expectMessage();
    logIn("UNREACHABLE", LoginHand::okKeepingUser("pw"));
    ASSERT_EQ(prompt.messages().size(), 1);
    const QString shown = prompt.messages().at(0);
    EXPECT_TRUE(shown.startsWith("連線失敗: ")) << shown.toStdString();
    EXPECT_GT(shown.size(), QString("連線失敗: ").size()) << "the engine's message follows";
    expectNotLoggedInto("UNREACHABLE");
    EXPECT_TRUE(workspace->registry().ConnectedBDE().empty());
}

TEST_F(LoginTest, PostgresqlWithTheRightPasswordAndTheServersMessageForAWrongOne) {
    TARNWELL_REQUIRE_PG(server);
    const QString user = QString::fromStdString(server.user);
    const QString password = QString::fromStdString(server.password);

    db::ParamList wrong;
    wrong.append("PASSWORD", "not-the-password");
    const std::string message = engineMessage("PGSERVER", wrong);
    EXPECT_NE(message.find("password authentication failed"), std::string::npos) << message;
    prompt.expectMessage("連線失敗: " + QString::fromStdString(message));
    const LoginHand::Seen seen = logIn("PGSERVER", LoginHand::okKeepingUser("not-the-password"));
    EXPECT_EQ(seen.userName, user) << "preset with the configured user name";
    EXPECT_EQ(seen.password, "");
    EXPECT_TRUE(seen.focusOnPassword);
    expectNotLoggedInto("PGSERVER");
    EXPECT_TRUE(workspace->registry().ConnectedBDE().empty());

    logIn("PGSERVER", LoginHand::okKeepingUser(password));
    expectLoggedInto("PGSERVER", user, password);
    ASSERT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_EQ(fields(workspace->registry().ConnectedBDE()[0]),
              QStringList({"PGSERVER", QString::fromStdString(server.host),
                           QString::fromStdString(server.database), user, password}));
    const db::ParamList& params = workspace->BDE_DB().params();
    EXPECT_EQ(params.indexOf("USER NAME"), params.size() - 2) << "the configured user name gave way";
}

TEST_F(LoginTest, AConfiguredPasswordWinsOverTheTypedOne) {
    TARNWELL_REQUIRE_PG(server);
    const QString password = QString::fromStdString(server.password);
    logIn("PGSTORED", LoginHand::okKeepingUser("typed-but-not-used"));
    EXPECT_TRUE(prompt.messages().isEmpty());
    expectLoggedInto("PGSTORED", QString::fromStdString(server.user), password);
    ASSERT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_EQ(workspace->registry().ConnectedBDE()[0].Password, password);
    const db::ParamList& params = workspace->BDE_DB().params();
    EXPECT_EQ(params.line(params.size() - 1), "PASSWORD=typed-but-not-used") << "kept behind the stored one";
}

// Lists unixODBC's data sources as aliases; they are read when the tree is
// first filled, after the test has put the private configuration in place.
class OdbcLoginTest : public BrowserFixture {
protected:
    OdbcLoginTest() : BrowserFixture(true) {}
};

TEST_F(OdbcLoginTest, AListedDataSourceIsAnAliasThatLogsIn) {
    TARNWELL_REQUIRE_ODBC();
    TfrmConnectEditor& browser = openBrowser();
    QTreeWidgetItem& root = *child<QTreeWidget>(browser, "TrvBDE")->topLevelItem(0);
    root.setExpanded(true);
    const QStringList names = childTexts(root);
    EXPECT_EQ(names.mid(0, 1 + kFileAliases.size()), QStringList{"DEMO"} + kFileAliases);
    ASSERT_TRUE(names.contains("tarnwell_sqlite")) << names.join(",").toStdString();

    logIn("tarnwell_sqlite", LoginHand::ok("", ""));
    EXPECT_TRUE(prompt.messages().isEmpty()) << prompt.messages().join("|").toStdString();
    QTreeWidgetItem* node = aliasNode("tarnwell_sqlite");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(childTexts(*node), QStringList({"USER NAME=", "PASSWORD="}));
    EXPECT_TRUE(workspace->BDE_DB().connected());
    EXPECT_EQ(workspace->BDE_DB().aliasName(), "tarnwell_sqlite");
    EXPECT_EQ(child<QLineEdit>(browser, "EdtConnectDB")->text(), "tarnwell_sqlite");
    ASSERT_EQ(workspace->registry().ConnectedBDE().size(), 1u);
    EXPECT_EQ(fields(workspace->registry().ConnectedBDE()[0]), QStringList({"tarnwell_sqlite", "", "", "", ""}));
}

}  // namespace
}  // namespace tarnwell::test
