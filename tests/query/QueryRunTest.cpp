// Running SQL in a query window: the alias path on its thread, the
// connection-string path, the history, and what closing a window mid-run does.
#include "QueryWindowFixture.h"

#include <QRegularExpression>
#include <QCheckBox>
#include <QScopeGuard>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "dataaccess/AdoConnection.h"
#include "query/ResultGridModel.h"

#include <csignal>

namespace tarnwell::test {
namespace {

const QRegularExpression kDateTimeLine(QStringLiteral("^執行(起始|結束)：\\S+ \\S+"));
const QRegularExpression kSecondsLine(QStringLiteral("^共 \\d+[.,]\\d{3} 秒$"));
const QRegularExpression kDoneStatus(QStringLiteral("^完成 共 \\d+[.,]\\d{3} 秒$"));

void expectTimingLines(const QStringList& lines) {
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("執行起始："))) << lines.first().toStdString();
    EXPECT_TRUE(kDateTimeLine.match(lines.first()).hasMatch()) << lines.first().toStdString();
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("執行結束："))) << lines.at(1).toStdString();
    EXPECT_TRUE(kSecondsLine.match(lines.last()).hasMatch()) << lines.last().toStdString();
}

class AliasRunTest : public QueryWindowTest {
protected:
    // A window on the PostgreSQL alias, active, with the focus in its memo,
    // where keys typed reach it.
    TfrmQueryEditor* focusedPgWindow(const TestServer& server) {
        registerPg(server);
        TfrmQueryEditor* window = openWindowOn("BDE", kPg);
        if (window != nullptr) {
            QApplication::setActiveWindow(window);
            child<QPlainTextEdit>(*window, "MemSQL")->setFocus();
        }
        return window;
    }
};

TEST_F(AliasRunTest, rowsUpdateAndSyntaxErrorEachLeaveTheirLinesPageAndStatus) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);

    // Row-returning, in lower case: three lines, DATA stays in front.
    run(*window, "select id, name from t order by id");
    QStringList lines = messageLines(*window);
    EXPECT_EQ(lines.size(), 3) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    expectTimingLines(lines);
    EXPECT_EQ(activeLowerPage(*window), "TabData");
    EXPECT_TRUE(kDoneStatus.match(status(*window, 0)).hasMatch()) << status(*window, 0).toStdString();
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 4");
    EXPECT_EQ(gridModel(*window)->rowCount(), 4);
    EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(1, 1)).toString(), "b");
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_TRUE(child<QTableView>(*window, "DBGrid")->isEnabled());

    // An UPDATE of three rows: four lines, Messages in front, grid empty.
    run(*window, "UPDATE t SET name = 'x' WHERE id < 4");
    lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 4) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    expectTimingLines(lines);
    EXPECT_EQ(lines.at(2), "共 3 被異動");
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_FALSE(window->CDS1().active());
    EXPECT_EQ(gridModel(*window)->rowCount(), 0);
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 4") << "the count stays when the result goes";

    // A syntax error: the failure text between empty lines, then the timing.
    run(*window, "SELEC nonsense FROM");
    lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 6) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    expectTimingLines(lines);
    EXPECT_EQ(lines.at(2), "");
    EXPECT_TRUE(lines.at(3).startsWith("BDE_查詢失敗: ")) << lines.at(3).toStdString();
    EXPECT_TRUE(lines.at(3).contains("syntax error")) << lines.at(3).toStdString();
    EXPECT_EQ(lines.at(4), "");
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_TRUE(kDoneStatus.match(status(*window, 0)).hasMatch()) << status(*window, 0).toStdString();
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_EQ(window->FSQLHistory().size(), 3) << "a failed statement is in the history";
}

TEST_F(AliasRunTest, aStatementJudgedRowReturningThatReturnsNoRowsIsReportedAsRun) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);
    run(*window, "select * from t");
    ASSERT_TRUE(window->CDS1().active());

    run(*window, "INSERT INTO t (id, name) SELECT id + 10, name FROM t");
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 4) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    EXPECT_EQ(lines.at(2), "共 4 被異動");
    EXPECT_FALSE(child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().contains("BDE_查詢失敗"));
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_FALSE(window->CDS1().active());

    run(*window, "select count(*) from t");
    EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "8")
        << "the insert ran exactly once";
}

TEST_F(AliasRunTest, aFirstPacketThatFailsInTheHandOverIsAFailedRun) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);
    // The statement opens on its first row; the third overflows while the
    // dataset fetches its first packet on the user-interface thread.
    run(*window, "SELECT CASE WHEN id = 3 THEN abs(-9223372036854775808) ELSE id END FROM t ORDER BY id");
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 6) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    expectTimingLines(lines);
    EXPECT_TRUE(lines.at(3).startsWith("BDE_查詢失敗: ")) << lines.at(3).toStdString();
    EXPECT_TRUE(lines.at(3).contains("integer overflow")) << lines.at(3).toStdString();
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_TRUE(kDoneStatus.match(status(*window, 0)).hasMatch()) << status(*window, 0).toStdString();
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
}

TEST_F(AliasRunTest, noConnectionChosenOrAFailingConnectionLeaveTheHistoryAlone) {
    registerLocal();
    main->AddConnectedBDE("BROKEN", "", "", "", "");
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);

    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select 1");
    prompter.expectMessage(QStringLiteral("請至少選擇一項連結"));
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    EXPECT_EQ(status(*window, 0), "執行中....");
    EXPECT_FALSE(child<QTableView>(*window, "DBGrid")->isEnabled());
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled()) << "follows the SQL text";
    EXPECT_TRUE(window->FSQLHistory().isEmpty());
    EXPECT_EQ(child<QLabel>(*window, "PalQueryCount")->text(), "");

    // The kind is BDE, the pick fails to connect: reported on the window.
    pick(*child<QComboBox>(*window, "CbxLinkType"), "BDE");
    main->RefreshConnectAliases();
    pick(*child<QComboBox>(*window, "CbxConnectAlias"), "BROKEN");
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    ASSERT_TRUE(waitForRun(*window));
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 3) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    EXPECT_EQ(lines.at(0), "");
    EXPECT_TRUE(lines.at(1).startsWith("BDE_連線失敗: ")) << lines.at(1).toStdString();
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_EQ(status(*window, 0), "資料庫連線失敗");
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_FALSE(child<QTableView>(*window, "DBGrid")->isEnabled());
    EXPECT_TRUE(window->FSQLHistory().isEmpty());

    // Each run starts with the Messages page cleared.
    pick(*child<QComboBox>(*window, "CbxConnectAlias"), "LOCAL");
    run(*window, "select 1");
    EXPECT_EQ(messageLines(*window).size(), 3);
}

TEST_F(AliasRunTest, theRunButtonStaysDownWhileTheRunGoesOnWhateverTheText) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    TfrmQueryEditor* window = openWindowOn("BDE", kPg);
    ASSERT_NE(window, nullptr);
    run(*window, "select 1 as a");
    ASSERT_TRUE(window->CDS1().active());

    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select pg_sleep(0.5), 2 as b");
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    EXPECT_FALSE(window->CDS1().active()) << "the previous result lets go of the query at once";
    ASSERT_TRUE(waitUntil([&] { return status(*window, 0) == QStringLiteral("執行中....."); }));
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select 3");
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    // Refreshing the previous result would go through the busy query.
    prompter.expectMessage(QStringLiteral("Cannot perform this operation on a closed dataset"));
    child<QToolButton>(*window, "SpeedButton6")->click();
    ASSERT_TRUE(waitForRun(*window));
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_EQ(gridModel(*window)->headerData(1, Qt::Horizontal).toString(), "b");
}

// --- Closing mid-run and concurrent runs --------------------------------------------

TEST_F(AliasRunTest, closingTheWindowMidRunCancelsTheStatementAndLeavesAtOnce) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    TfrmQueryEditor* window = openWindowOn("BDE", kPg);
    ASSERT_NE(window, nullptr);
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select pg_sleep(10)");
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    ASSERT_TRUE(waitUntil([&] { return status(*window, 0) == QStringLiteral("執行中....."); }));
    QPointer<TQueryThread> thread = window->queryThread();
    ASSERT_FALSE(thread.isNull());

    const std::string databaseName = window->BDE_DB().databaseName();
    QPointer<TfrmQueryEditor> closing = window;
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull()) << "the window went without waiting for the run";
    // A generous limit: the statement would take ten seconds uncancelled.
    ASSERT_TRUE(waitUntil([&] { return thread.isNull() || thread->isFinished(); }, 9000));
    ASSERT_TRUE(waitUntil([&] { return thread.isNull(); }));
    EXPECT_FALSE(workspace->Session1().hasDatabase(databaseName)) << "the run let go of the window's database";
}

TEST_F(AliasRunTest, escStopsTheRunningStatementAndTheWindowGoesOn) {
    TARNWELL_REQUIRE_PG(server);
    TfrmQueryEditor* window = focusedPgWindow(server);
    ASSERT_NE(window, nullptr);
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select pg_sleep(30)");

    // With nothing running Esc leaves everything as it was.
    QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_Escape);
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), "select pg_sleep(30)");
    EXPECT_FALSE(window->runInProgress());
    EXPECT_EQ(child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText(), "");
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());

    child<QAbstractButton>(*window, "SBtnQuery")->click();
    ASSERT_TRUE(waitUntil([&] { return status(*window, 0) == QStringLiteral("執行中....."); }));
    QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_Escape);
    ASSERT_TRUE(waitForRun(*window, 1000)) << "the statement would run for 30 seconds";
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 6) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    EXPECT_TRUE(lines.at(3).startsWith("BDE_查詢失敗: ")) << lines.at(3).toStdString();
    EXPECT_TRUE(lines.at(3).contains("canceling statement due to user request")) << lines.at(3).toStdString();
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_TRUE(kDoneStatus.match(status(*window, 0)).hasMatch()) << status(*window, 0).toStdString();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());

    run(*window, "select 5 as after_esc");
    EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "5");
    EXPECT_EQ(window->FSQLHistory().size(), 2);
}

TEST_F(AliasRunTest, escOnAServerThatNoLongerAnswersCutsTheConnectionAndTheNextRunConnectsAgain) {
    TARNWELL_REQUIRE_PG(server);
    TfrmQueryEditor* window = focusedPgWindow(server);
    ASSERT_NE(window, nullptr);
    run(*window, "select pg_backend_pid()");
    const auto backend = static_cast<pid_t>(
        gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString().toLongLong());
    ASSERT_GT(backend, 0);

    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select pg_sleep(30)");
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    ASSERT_TRUE(waitUntil([&] { return status(*window, 0) == QStringLiteral("執行中....."); }));
    // The server's process hangs: it answers no cancel.
    ::kill(backend, SIGSTOP);
    auto resume = qScopeGuard([backend] { ::kill(backend, SIGCONT); });
    QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_Escape);
    ASSERT_TRUE(waitForRun(*window, 10000)) << "a server that does not answer held the run after Esc";
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 6) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    EXPECT_EQ(lines.at(3), QStringLiteral("BDE_查詢失敗: 伺服器沒有回應停止的要求，已切斷連線"));
    resume.dismiss();
    ::kill(backend, SIGCONT);

    run(*window, "select 5 as after_cut");
    EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "5");
}

TEST_F(AliasRunTest, twoWindowsRunAtOnceOnDifferentAliases) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server, kPg);
    registerPg(server, kPg2);
    TfrmQueryEditor* first = openWindowOn("BDE", kPg);
    TfrmQueryEditor* second = openWindowOn("BDE", kPg2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    setMemoText(*child<QPlainTextEdit>(*first, "MemSQL"), "select pg_sleep(1), 'first' as who");
    setMemoText(*child<QPlainTextEdit>(*second, "MemSQL"), "select pg_sleep(1), 'second' as who");
    child<QAbstractButton>(*first, "SBtnQuery")->click();
    child<QAbstractButton>(*second, "SBtnQuery")->click();
    EXPECT_TRUE(first->runInProgress());
    EXPECT_TRUE(second->runInProgress());
    // Both are in the engine together before either has ended.
    ASSERT_TRUE(waitUntil([&] {
        return status(*first, 0) == QStringLiteral("執行中.....") &&
               status(*second, 0) == QStringLiteral("執行中.....");
    }));
    EXPECT_TRUE(first->runInProgress() && second->runInProgress());
    ASSERT_TRUE(waitForRun(*first));
    ASSERT_TRUE(waitForRun(*second));
    EXPECT_EQ(gridModel(*first)->data(gridModel(*first)->index(0, 1)).toString(), "first");
    EXPECT_EQ(gridModel(*second)->data(gridModel(*second)->index(0, 1)).toString(), "second");
    EXPECT_EQ(first->windowTitle(), "連線[BDE_PGTEST]");
    EXPECT_EQ(second->windowTitle(), "連線[BDE_PGTEST2]");
}

TEST_F(AliasRunTest, postgresUpdateAndErrorOnTheTestServer) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    execute(kPg, "DROP TABLE IF EXISTS qw_items; CREATE TABLE qw_items (id integer, label varchar(20));"
                 "INSERT INTO qw_items SELECT g, 'item ' || g FROM generate_series(1, 5) g",
            QString::fromStdString(server.user), QString::fromStdString(server.password));
    TfrmQueryEditor* window = openWindowOn("BDE", kPg);
    ASSERT_NE(window, nullptr);
    run(*window, "UPDATE qw_items SET label = 'changed' WHERE id <= 3");
    EXPECT_EQ(messageLines(*window).value(2), "共 3 被異動");
    run(*window, "select * from no_such_table");
    EXPECT_TRUE(messageLines(*window).value(3).contains("no_such_table")) << messageLines(*window).value(3).toStdString();
    EXPECT_EQ(status(*window, 0).left(4), "完成 共");
}

// --- A server that went away ----------------------------------------------------------

// Restarting a server ends every connection to it: the test has a server of
// its own, so the tests beside it keep theirs.
class ServerRestartTest : public QueryWindowTest {
protected:
    static constexpr const char* kOwn = "PGOWN";
    static constexpr const char* kOwnOdbc = "ODBCOWN";

    void SetUp() override {
        if (const auto& server = own.server()) {
            moreAliases = pgAlias(kOwn, *server) + "[" + kOwnOdbc +
                          "]\nTYPE=ODBC\nDRIVER=PostgreSQL Unicode\nSERVER=" + server->host + "\nPORT=" +
                          server->port + "\nDATABASE=" + server->database + "\n";
        }
        QueryWindowTest::SetUp();
    }

    static QString firstCell(const TfrmQueryEditor& window) {
        return gridModel(window)->data(gridModel(window)->index(0, 0)).toString();
    }

    PrivatePgServer own;
};

TEST_F(ServerRestartTest, theRunAfterARestartConnectsAgainOnEitherKindOfConnection) {
    TARNWELL_REQUIRE_ODBC();
    TARNWELL_REQUIRE_PRIVATE_PG(server, own);
    registerPg(server, kOwn);
    registerPg(server, kOwnOdbc);
    TfrmQueryEditor* alias = openWindowOn("BDE", kOwn);
    TfrmQueryEditor* odbc = openWindowOn("BDE", kOwnOdbc);
    ASSERT_NE(alias, nullptr);
    ASSERT_NE(odbc, nullptr);
    run(*alias, "select 1 as before_restart");
    ASSERT_EQ(firstCell(*alias), "1") << child<QPlainTextEdit>(*alias, "QueryMessage")->toPlainText().toStdString();
    run(*odbc, "select 1 as before_restart");
    ASSERT_EQ(firstCell(*odbc), "1") << child<QPlainTextEdit>(*odbc, "QueryMessage")->toPlainText().toStdString();
    const QString dataSource = connectAdo(pgConnectionString(server));
    TfrmQueryEditor* shared = openWindowOn("ADO", dataSource);
    ASSERT_NE(shared, nullptr);
    ASSERT_TRUE(workspace->ADOCon1().connected());

    ASSERT_TRUE(own.restart());
    EXPECT_FALSE(alias->BDE_DB().connected()) << "the window's database knows its server went";
    EXPECT_FALSE(workspace->ADOCon1().connected()) << "so does the shared connection";

    run(*alias, "select 2 as after_restart");
    EXPECT_EQ(activeLowerPage(*alias), "TabData") << messageLines(*alias).join('\n').toStdString();
    EXPECT_EQ(firstCell(*alias), "2");
    EXPECT_EQ(alias->windowTitle(), "連線[BDE_PGOWN]");

    // The PostgreSQL driver of ODBC learns that its server went only when a
    // call fails; the run after that one connects again.
    run(*odbc, "select 2 as after_restart");
    if (activeLowerPage(*odbc) != "TabData") {
        EXPECT_TRUE(child<QPlainTextEdit>(*odbc, "QueryMessage")->toPlainText().contains("BDE_查詢失敗: "));
        EXPECT_FALSE(odbc->BDE_DB().connected());
        run(*odbc, "select 2 as after_restart");
    }
    EXPECT_EQ(activeLowerPage(*odbc), "TabData") << messageLines(*odbc).join('\n').toStdString();
    EXPECT_EQ(firstCell(*odbc), "2");

    // A statement of the shared query connects again by itself, as the
    // connection step of a window does.
    ASSERT_TRUE(own.restart());
    db::AdoQuery& query = workspace->ADQ1();
    query.setSql("select 3");
    EXPECT_TRUE(query.openResult());
    query.close();
    ASSERT_TRUE(own.restart());
    setMemoText(*child<QPlainTextEdit>(*shared, "MemSQL"), "select 4 as after_restart");
    child<QAbstractButton>(*shared, "SBtnQuery")->click();
    EXPECT_TRUE(prompter.messages().isEmpty()) << prompter.messages().value(0).toStdString();
    EXPECT_EQ(firstCell(*shared), "4");
}

// --- History -----------------------------------------------------------------------------

using HistoryTest = QueryWindowTest;

TEST_F(HistoryTest, walkBackAndForthPastTheNewestEntry) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);
    auto* prior = child<QToolButton>(*window, "SBtnSQLPrior");
    auto* next = child<QToolButton>(*window, "SBtnSQLNext");
    auto* position = child<QLabel>(*window, "PalQueryCount");
    const QString a = QStringLiteral("select 1 as a");
    const QString b = QStringLiteral("select 2 as b");

    run(*window, a);
    EXPECT_EQ(position->text(), "1");
    EXPECT_FALSE(prior->isEnabled());
    EXPECT_TRUE(next->isEnabled());
    run(*window, b);
    EXPECT_EQ(position->text(), "2");
    EXPECT_TRUE(prior->isEnabled());

    prior->click();
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), a);
    EXPECT_EQ(position->text(), "1");
    EXPECT_FALSE(prior->isEnabled());
    next->click();
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), b);
    EXPECT_EQ(position->text(), "2");
    next->click();
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), "");
    EXPECT_EQ(position->text(), "3");
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    next->click();
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), "");
    EXPECT_EQ(position->text(), "3");
    EXPECT_TRUE(next->isEnabled()) << "never disables itself";
    prior->click();
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), b);
    EXPECT_EQ(position->text(), "2");
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());

    // An older entry run again is appended once more.
    prior->click();
    run(*window, child<QPlainTextEdit>(*window, "MemSQL")->toPlainText());
    EXPECT_EQ(window->FSQLHistory(), (QStringList{a, b, a}));
    EXPECT_EQ(position->text(), "3");

    // Clearing the SQL touches neither history nor position.
    child<QToolButton>(*window, "SpeedButton1")->click();
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), "");
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_EQ(window->FSQLHistory().size(), 3);
    EXPECT_EQ(position->text(), "3");
}

TEST_F(HistoryTest, runButtonFollowsTheTrimmedTextAndTheKeys) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), QStringLiteral(" \t\r\n "));
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), QStringLiteral("\tselect 7 as n\r\n"));
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());

    QApplication::setActiveWindow(window);
    child<QPlainTextEdit>(*window, "MemSQL")->setFocus();
    QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_F9);
    EXPECT_TRUE(window->runInProgress()) << "F9 runs";
    ASSERT_TRUE(waitForRun(*window));
    QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(window->runInProgress()) << "Ctrl+Enter runs";
    ASSERT_TRUE(waitForRun(*window));
    EXPECT_EQ(window->FSQLHistory().size(), 2);
    EXPECT_EQ(child<QPlainTextEdit>(*window, "MemSQL")->toPlainText(), QStringLiteral("\tselect 7 as n\n"))
        << "no line was typed";

    child<QToolButton>(*window, "SpeedButton1")->click();
    QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_F9);
    EXPECT_FALSE(window->runInProgress()) << "a disabled run button is not pressed";
    EXPECT_EQ(window->FSQLHistory().size(), 2);
}

// --- The connection-string path ---------------------------------------------------------

class AdoRunTest : public QueryWindowTest {
protected:
    void runAdo(TfrmQueryEditor& window, const QString& sql) {
        setMemoText(*child<QPlainTextEdit>(window, "MemSQL"), sql);
        child<QAbstractButton>(window, "SBtnQuery")->click();
        EXPECT_FALSE(window.runInProgress()) << "the whole run happens inside the click";
    }
};

TEST_F(AdoRunTest, sqliteFileRowsStatementsAndFailures) {
    const QString dataSource = connectAdo(QStringLiteral("Provider=SQLite.1;Data Source=") + databaseFile);
    TfrmQueryEditor* window = openWindowOn("ADO", dataSource);
    ASSERT_NE(window, nullptr);
    child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(2);

    runAdo(*window, "select id, name from t order by id");
    EXPECT_EQ(status(*window, 0), "查詢中.....");
    EXPECT_EQ(child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText(), "");
    EXPECT_EQ(window->CDS1().recordCount(), 2u) << "the packet size of the Properties page";
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 2");
    EXPECT_TRUE(child<QTableView>(*window, "DBGrid")->isEnabled());
    EXPECT_EQ(window->FSQLHistory().size(), 1);

    // A statement for its effect leaves the previous result in the grid.
    runAdo(*window, "update t set name = 'z' where id = 1");
    EXPECT_TRUE(window->CDS1().active());
    EXPECT_EQ(gridModel(*window)->rowCount(), 2);
    EXPECT_EQ(status(*window, 0), "查詢中.....");

    // A failing statement: message box, status, and it is in the history.
    prompter.expectMessage();
    runAdo(*window, "select * from missing_table");
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.messages().at(0).startsWith("ADO_查詢失敗: ")) << prompter.messages().at(0).toStdString();
    EXPECT_EQ(status(*window, 0), "查詢失敗");
    EXPECT_EQ(window->FSQLHistory().size(), 3);
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());

    // Execute-without-records: the statement runs, nothing is shown as failed.
    child<QCheckBox>(*window, "Chk4")->setChecked(true);
    runAdo(*window, "insert into t (id, name) select 9, 'nine'");
    EXPECT_EQ(prompter.messages().size(), 1);
    child<QCheckBox>(*window, "Chk4")->setChecked(false);
    child<SpinEdit>(*window, "SEdt_MaxRecords")->setValue(3);
    runAdo(*window, "select * from t");
    child<QToolButton>(*window, "SpeedButton5")->click();
    ASSERT_TRUE(waitForFetch(*window));
    EXPECT_EQ(window->CDS1().recordCount(), 3u) << "MaxRecords";
}

TEST_F(AdoRunTest, aFailedConnectionLeavesButtonsDownAndHistoryAlone) {
    main->AddConnectedADO("Provider=SQLite.1;Data Source=" + folder.filePath("missing/none.db"), "SQLite.1",
                          folder.filePath("missing/none.db"));
    TfrmQueryEditor* window = openWindow();
    ASSERT_NE(window, nullptr);
    pick(*child<QComboBox>(*window, "CbxLinkType"), "ADO");
    main->RefreshConnectAliases();
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select 1");
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.at(1).startsWith("ADO_連線失敗: ")) << lines.at(1).toStdString();
    EXPECT_EQ(status(*window, 0), "資料庫連線失敗");
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_FALSE(child<QTableView>(*window, "DBGrid")->isEnabled());
    EXPECT_EQ(activeLowerPage(*window), "TabData");
    EXPECT_TRUE(window->FSQLHistory().isEmpty());
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), "select 2");
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled()) << "the next text change enables it";
}

TEST_F(AdoRunTest, postgresOnTheTestServerAndAnotherWindowsRunClosesTheSharedResult) {
    TARNWELL_REQUIRE_PG(server);
    const QString dataSource = connectAdo(pgConnectionString(server));
    TfrmQueryEditor* first = openWindowOn("ADO", dataSource);
    TfrmQueryEditor* second = openWindowOn("ADO", dataSource);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    child<SpinEdit>(*first, "SEdt_PacketRecords")->setValue(10);
    runAdo(*first, "select g from generate_series(1, 50) g");
    EXPECT_EQ(first->CDS1().recordCount(), 10u);

    runAdo(*second, "select 1");
    // The first window's source was the shared query: its next packet fails
    // with the engine's word, and the rows it has stay.
    prompter.expectMessage();
    child<QToolButton>(*first, "SpeedButton5")->click();
    ASSERT_TRUE(waitForFetch(*first));
    EXPECT_EQ(prompter.messages().size(), 1);
    EXPECT_EQ(first->CDS1().recordCount(), 10u);
}

TEST_F(AdoRunTest, eoAsyncExecuteRunsOffTheWindowsThreadEscStopsItAndASecondWindowWaitsItsTurn) {
    TARNWELL_REQUIRE_PG(server);
    const QString dataSource = connectAdo(pgConnectionString(server));
    TfrmQueryEditor* first = openWindowOn("ADO", dataSource);
    TfrmQueryEditor* second = openWindowOn("ADO", dataSource);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    for (TfrmQueryEditor* window : {first, second}) {
        child<QCheckBox>(*window, "Chk1")->setChecked(true);
    }
    QPlainTextEdit& memo = *child<QPlainTextEdit>(*first, "MemSQL");
    setMemoText(memo, "select pg_sleep(60)");
    child<QAbstractButton>(*first, "SBtnQuery")->click();
    EXPECT_TRUE(first->runInProgress()) << "the click returns while the statement runs";
    ASSERT_TRUE(waitUntil([&] { return status(*first, 0) == QStringLiteral("查詢中....."); }));
    EXPECT_FALSE(child<QAbstractButton>(*first, "SBtnQuery")->isEnabled());
    // The window's walks wait for its run.
    prompter.expectMessage(QStringLiteral("查詢執行中，請待完成(或按Esc停止)後再轉存或列印"));
    child<QToolButton>(*first, "ToolButton2")->click();

    // The shared connection serves one statement at a time: the second
    // window's run waits for its turn, and neither window freezes.
    setMemoText(*child<QPlainTextEdit>(*second, "MemSQL"), "select 'second' as who");
    child<QAbstractButton>(*second, "SBtnQuery")->click();
    EXPECT_TRUE(second->runInProgress());
    EXPECT_EQ(status(*second, 0), QStringLiteral("執行中...."));
    EXPECT_TRUE(second->FSQLHistory().isEmpty());

    // Esc in the first window (the second may have been made active as it
    // opened).
    QApplication::setActiveWindow(first);
    memo.setFocus();
    prompter.expectMessage();
    QTest::keyClick(&memo, Qt::Key_Escape);
    ASSERT_TRUE(waitForRun(*first)) << "the statement would run for a minute";
    ASSERT_TRUE(prompter.scriptUsedUp());
    EXPECT_TRUE(prompter.messages().last().startsWith(QStringLiteral("ADO_查詢失敗: ")));
    EXPECT_TRUE(prompter.messages().last().contains("canceling statement due to user request"))
        << prompter.messages().last().toStdString();
    EXPECT_EQ(status(*first, 0), QStringLiteral("查詢失敗"));
    EXPECT_EQ(first->FSQLHistory(), QStringList{"select pg_sleep(60)"});
    EXPECT_TRUE(child<QAbstractButton>(*first, "SBtnQuery")->isEnabled());

    ASSERT_TRUE(waitForRun(*second));
    EXPECT_EQ(gridModel(*second)->data(gridModel(*second)->index(0, 0)).toString(), "second");
    EXPECT_EQ(status(*second, 0), QStringLiteral("查詢中....."));
    EXPECT_EQ(second->FSQLHistory().size(), 1);
    EXPECT_TRUE(child<QAbstractButton>(*second, "SBtnQuery")->isEnabled());
}

}  // namespace
}  // namespace tarnwell::test
