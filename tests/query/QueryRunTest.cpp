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
#include "sqlsyntax/Dialect.h"
#include "ui/SqlCompleter.h"

#include <algorithm>

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

TEST_F(AliasRunTest, escWithTheCompletionListOpenClosesTheListAndTheRunGoesOn) {
    TARNWELL_REQUIRE_PG(server);
    TfrmQueryEditor* window = focusedPgWindow(server);
    ASSERT_NE(window, nullptr);
    auto* memo = child<QPlainTextEdit>(*window, "MemSQL");
    setMemoText(*memo, "select pg_sleep(30)");
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    ASSERT_TRUE(waitUntil([&] { return status(*window, 0) == QStringLiteral("執行中....."); }));

    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, ", cu");
    QTest::keyClick(memo, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(window->completer().isOpen());
    QTest::keyClick(memo, Qt::Key_Escape);
    EXPECT_FALSE(window->completer().isOpen());
    // A stopped statement ends within a second (escStopsTheRunningStatement).
    EXPECT_FALSE(waitForRun(*window, 1000)) << "Esc reached the run";

    QTest::keyClick(memo, Qt::Key_Escape);
    ASSERT_TRUE(waitForRun(*window, 1000)) << "with the list closed Esc stops the run";
    EXPECT_TRUE(messageLines(*window).value(3).contains("canceling statement due to user request"));
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

// --- Runs of part of the memo: the statement at the caret, scripts ------------------------

const QRegularExpression kStatementLine(
    QStringLiteral("^第 (\\d+) 句（第 (\\d+) 行）：(.*)　(共 \\d+ 被異動|取回 \\d+ 筆)　共 \\d+[.,]\\d{3} 秒$"));

class PartRunTest : public QueryWindowTest {
protected:
    // Ctrl+Enter, or with Shift Ctrl+Shift+Enter, in the memo; waits for the
    // run it starts.
    static void press(TfrmQueryEditor& window, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        focusMemo(window);
        QTest::keyClick(&memoOf(window), Qt::Key_Return, modifiers);
        ASSERT_TRUE(waitForRun(window));
    }
    static void pressForScript(TfrmQueryEditor& window) { press(window, Qt::ControlModifier | Qt::ShiftModifier); }

    static QString cell(const TfrmQueryEditor& window, int row = 0, int column = 0) {
        return gridModel(window)->data(gridModel(window)->index(row, column)).toString();
    }
    static QString selectedText(const TfrmQueryEditor& window) {
        return memoOf(window).textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n');
    }
    // The memo's position of the `n`-th `part` of its text.
    static int positionOf(const TfrmQueryEditor& window, const QString& part, int n = 1) {
        const QString text = memoOf(window).toPlainText();
        qsizetype at = -1;
        for (int i = 0; i < n; ++i) {
            at = text.indexOf(part, at + 1);
        }
        return static_cast<int>(at);
    }
};

TEST_F(PartRunTest, ctrlEnterRunsTheStatementAtTheCaretWhereverItIsOrTheSelection) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", kLocal);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(memoOf(*window).dialect(), sql::Dialect::SQLite);
    const QString text = QStringLiteral("-- 說明; 註解\nselect 1 as a;\n\nselect 2 as b;   -- 尾註\nselect 3\n  as c;\n");
    setMemoText(memoOf(*window), text);
    const auto at = [&](const QString& part, int after = 0) { return positionOf(*window, part) + after; };
    const struct {
        int caret;
        QString sent;
        const char* place;
    } cases[] = {
        {at("2 as b"), "select 2 as b", "inside a statement"},
        {at("select 2"), "select 2 as b", "at its first character"},
        {at("\n\nselect 2", 1), "select 1 as a", "on a blank line: the one above"},
        {at("-- 尾註", 4), "select 2 as b", "in a comment after it on its line"},
        {at("as c;", 5), "select 3\n  as c", "after the last semicolon"},
        {static_cast<int>(text.size()), "select 3\n  as c", "on the empty line at the end"},
    };
    int runs = 0;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.place);
        placeCaret(*window, test.caret);
        press(*window);
        ASSERT_EQ(window->FSQLHistory().size(), ++runs);
        EXPECT_EQ(window->FSQLHistory().last(), test.sent) << "sent as it stands, and so it enters the history";
        EXPECT_EQ(memoOf(*window).textCursor().position(), test.caret) << "the caret stays";
        EXPECT_EQ(memoOf(*window).toPlainText(), text) << "no line was typed";
    }
    EXPECT_EQ(cell(*window), "3");
    const QList<QTextEdit::ExtraSelection> marks = memoOf(*window).extraSelections();
    const bool flashed =
        std::any_of(marks.begin(), marks.end(), [](const QTextEdit::ExtraSelection& mark) {
            return mark.cursor.selectedText() == QStringLiteral("select 3\u2029  as c");
        });
    EXPECT_TRUE(flashed) << "the statement sent is marked in the memo";

    // Before the first statement, nothing runs; nor does a selection of
    // nothing but a comment.
    placeCaret(*window, at("說明"));
    press(*window);
    placeCaret(*window, 0, at("\nselect 1"));
    press(*window);
    EXPECT_EQ(window->FSQLHistory().size(), runs);

    // A selection runs as it is, several statements and all.
    placeCaret(*window, at("2 as b"), at("3\n", 1));
    press(*window);
    EXPECT_EQ(window->FSQLHistory().last(), QStringLiteral("2 as b;   -- 尾註\nselect 3"));
    EXPECT_TRUE(messageLines(*window).join('\n').contains("syntax error")) << "\"2 as b\" is no statement";
    placeCaret(*window, at("select 2"), at("3\n", 1));
    press(*window);
    EXPECT_EQ(cell(*window), "3") << messageLines(*window).join('\n').toStdString();
}

TEST_F(PartRunTest, aFailedRunMarksWhereTheEngineFoundTheFaultUntilTheNextEditOrRun) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", kLocal);
    ASSERT_NE(window, nullptr);
    // Bytes of UTF-8 before the place: three a Chinese character, four a
    // character beyond 16 bits (two units in the memo).
    run(*window, QStringLiteral("-- 第一行 \U0001F600\nselect 1,\n  from t"));
    const int from = positionOf(*window, "from");
    ASSERT_TRUE(memoOf(*window).errorMark().has_value()) << messageLines(*window).join('\n').toStdString();
    EXPECT_EQ(*memoOf(*window).errorMark(), from);
    EXPECT_EQ(memoOf(*window).textCursor().position(), from) << "the caret goes there";
    EXPECT_FALSE(memoOf(*window).textCursor().hasSelection());

    focusMemo(*window);
    QTest::keyClick(&memoOf(*window), Qt::Key_Right);
    EXPECT_TRUE(memoOf(*window).errorMark().has_value()) << "moving the caret keeps the mark";
    QTest::keyClicks(&memoOf(*window), "x");
    EXPECT_FALSE(memoOf(*window).errorMark().has_value()) << "an edit takes it away";

    run(*window, QStringLiteral("select 1,\n  from t"));
    ASSERT_TRUE(memoOf(*window).errorMark().has_value());
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    EXPECT_FALSE(memoOf(*window).errorMark().has_value()) << "so does the next run";
    ASSERT_TRUE(waitForRun(*window));
}

TEST_F(PartRunTest, aScriptReportsEachStatementAndStopsAtItsThirdOnSqlite) {
    registerLocal();
    TfrmQueryEditor* window = openWindowOn("BDE", kLocal);
    ASSERT_NE(window, nullptr);
    const QString script = QStringLiteral(
        "insert into t (id, name) values (5, '五');\n"
        "select id, name from t order by id;\n"
        "update t set name = 'x',\n"
        "  where id = 1;\n"
        "insert into t (id) values (6);\n");
    setMemoText(memoOf(*window), script);
    pressForScript(*window);

    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 8) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("執行起始：")));
    EXPECT_EQ(lines.at(1).section(QStringLiteral("　共 "), 0, 1),
              QStringLiteral("第 1 句（第 1 行）：insert into t (id, name) values (5, '五')　共 1 被異動"));
    EXPECT_TRUE(kStatementLine.match(lines.at(1)).hasMatch()) << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(2).startsWith(QStringLiteral("第 2 句（第 2 行）：select id, name from t order by id　取回 5 筆　共 ")))
        << lines.at(2).toStdString();
    EXPECT_TRUE(lines.at(3).startsWith(QStringLiteral("執行結束：")));
    EXPECT_EQ(lines.at(4), "");
    EXPECT_EQ(lines.at(5), QStringLiteral("BDE_查詢失敗: 第 3 句（第 3 行）：near \"where\": syntax error"));
    EXPECT_EQ(lines.at(6), "");
    EXPECT_TRUE(kSecondsLine.match(lines.at(7)).hasMatch()) << lines.at(7).toStdString();
    EXPECT_EQ(activeLowerPage(*window), "TabErrMessage");
    EXPECT_TRUE(kDoneStatus.match(status(*window, 0)).hasMatch()) << status(*window, 0).toStdString();

    // The failed statement is selected, the fault marked; the grid shows the
    // rows of the last statement that brought some; the script is in the
    // history once.
    EXPECT_EQ(selectedText(*window), QStringLiteral("update t set name = 'x',\n  where id = 1"));
    ASSERT_TRUE(memoOf(*window).errorMark().has_value());
    EXPECT_EQ(*memoOf(*window).errorMark(), positionOf(*window, "where"));
    EXPECT_EQ(gridModel(*window)->rowCount(), 5);
    EXPECT_EQ(cell(*window, 4, 1), QStringLiteral("五"));
    EXPECT_EQ(window->FSQLHistory(), QStringList{script});

    // What ran before the failure stays done; nothing after it ran. A
    // script that ends on a result shows it, fetched as a run's.
    setMemoText(memoOf(*window), QStringLiteral("update t set name = 'y' where id > 4;\nselect count(*) from t;"));
    pressForScript(*window);
    EXPECT_EQ(cell(*window), "5");
    EXPECT_EQ(activeLowerPage(*window), "TabData");
    EXPECT_TRUE(messageLines(*window).at(1).contains(QStringLiteral("共 1 被異動"))) << messageLines(*window).at(1).toStdString();
    EXPECT_TRUE(messageLines(*window).at(2).contains(QStringLiteral("取回 1 筆")));

    // A selection is a script of its own; comments alone are none.
    setMemoText(memoOf(*window), QStringLiteral("-- 只有註解;\n/* ; */\nselect 7;"));
    placeCaret(*window, 0, positionOf(*window, "select"));
    pressForScript(*window);
    EXPECT_EQ(window->FSQLHistory().size(), 2);
}

TEST_F(PartRunTest, aScriptStopsAtItsThirdStatementOnPostgresWithTheFaultMarked) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    TfrmQueryEditor* window = openWindowOn("BDE", kPg);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(memoOf(*window).dialect(), sql::Dialect::PostgreSQL);
    const QString script = QStringLiteral(
        "drop table if exists qw_script;\n"
        "create table qw_script (n integer, \"名稱\" text);\n"
        "select '中文;' as \"名稱\",\n"
        "  from qw_script;\n"
        "insert into qw_script values (1, 'never');\n");
    setMemoText(memoOf(*window), script);
    pressForScript(*window);
    const QStringList lines = messageLines(*window);
    ASSERT_EQ(lines.size(), 10) << lines.join('\n').toStdString();
    // PostgreSQL's message shows the line and the place too.
    EXPECT_TRUE(lines.at(5).startsWith(QStringLiteral("BDE_查詢失敗: 第 3 句（第 3 行）：ERROR:  syntax error at or near \"from\"")))
        << lines.at(5).toStdString();
    EXPECT_EQ(selectedText(*window), QStringLiteral("select '中文;' as \"名稱\",\n  from qw_script"));
    ASSERT_TRUE(memoOf(*window).errorMark().has_value());
    EXPECT_EQ(*memoOf(*window).errorMark(), positionOf(*window, "from")) << "characters, not bytes";

    run(*window, "select count(*) from qw_script");
    EXPECT_EQ(cell(*window), "0") << "the table was made; the statement after the failure never ran";
}

TEST_F(PartRunTest, escStopsTheScriptsStatementUnderWayAndRunsNoFurtherOne) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    TfrmQueryEditor* window = openWindowOn("BDE", kPg);
    ASSERT_NE(window, nullptr);
    setMemoText(memoOf(*window), QStringLiteral("select 1 as one;\nselect pg_sleep(30);\nselect 3 as three;"));
    focusMemo(*window);
    QTest::keyClick(&memoOf(*window), Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(waitUntil([&] { return messageLines(*window).size() >= 2; }));
    QTest::keyClick(&memoOf(*window), Qt::Key_Escape);
    ASSERT_TRUE(waitForRun(*window, 5000)) << "the second statement would run for 30 seconds";
    const QString messages = messageLines(*window).join('\n');
    // Esc reaches the statement in the engine, or, just before it got there,
    // keeps it from starting.
    EXPECT_TRUE(messages.contains(QStringLiteral("BDE_查詢失敗: 第 2 句（第 2 行）：ERROR:  canceling statement due to user request")) ||
                messages.contains(QStringLiteral("BDE_查詢失敗: 已停止，第 2 句起未執行")))
        << messages.toStdString();
    EXPECT_FALSE(messages.contains(QStringLiteral("第 3 句"))) << messages.toStdString();
    EXPECT_EQ(cell(*window), "1") << "the first statement's rows stay in the grid";
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
}

// --- The connection-string path ---------------------------------------------------------

class AdoRunTest : public QueryWindowTest {
protected:
    // Two windows on the shared connection to the test server.
    std::pair<TfrmQueryEditor*, TfrmQueryEditor*> twoWindowsOnTheSharedConnection(const TestServer& server) {
        const QString dataSource = connectAdo(pgConnectionString(server));
        TfrmQueryEditor* first = openWindowOn("ADO", dataSource);
        return {first, openWindowOn("ADO", dataSource)};
    }
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

TEST_F(AdoRunTest, aScriptRunsStatementByStatementAndItsFailureComesInAMessageBox) {
    const QString dataSource = connectAdo(QStringLiteral("Provider=SQLite.1;Data Source=") + databaseFile);
    TfrmQueryEditor* window = openWindowOn("ADO", dataSource);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(memoOf(*window).dialect(), sql::Dialect::SQLite);
    setMemoText(memoOf(*window), QStringLiteral("update t set name = 'q' where id = 1;\nselect name from t where id = 1;\n"
                                                "selec 3;\nupdate t set name = 'never';"));
    prompter.expectMessage();
    focusMemo(*window);
    QTest::keyClick(&memoOf(*window), Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_EQ(prompter.messages().at(0), QStringLiteral("ADO_查詢失敗: 第 3 句（第 3 行）：near \"selec\": syntax error"));
    EXPECT_EQ(status(*window, 0), "查詢失敗");
    EXPECT_EQ(messageLines(*window).size(), 4) << messageLines(*window).join('\n').toStdString();
    EXPECT_EQ(memoOf(*window).textCursor().selectedText(), "selec 3");
    EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "q");
    EXPECT_EQ(window->FSQLHistory().size(), 1);
}

TEST_F(AdoRunTest, withEoAsyncExecuteAScriptRunsOffTheWindowsThreadAndEscStopsIt) {
    TARNWELL_REQUIRE_PG(server);
    const QString dataSource = connectAdo(pgConnectionString(server));
    TfrmQueryEditor* window = openWindowOn("ADO", dataSource);
    ASSERT_NE(window, nullptr);
    child<QCheckBox>(*window, "Chk1")->setChecked(true);
    setMemoText(memoOf(*window), QStringLiteral("select 1 as one;\nselect pg_sleep(30);\nselect 3 as three;"));
    focusMemo(*window);
    QTest::keyClick(&memoOf(*window), Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(window->runInProgress()) << "the keys return while the script runs";
    ASSERT_TRUE(waitUntil([&] { return messageLines(*window).size() >= 2; }));
    prompter.expectMessage();
    focusMemo(*window);
    QTest::keyClick(&memoOf(*window), Qt::Key_Escape);
    ASSERT_TRUE(waitForRun(*window)) << "the second statement would run for 30 seconds";
    ASSERT_TRUE(prompter.scriptUsedUp());
    // Esc reaches the statement in the engine, or, just before it got there,
    // keeps it from starting.
    const QString message = prompter.messages().last();
    EXPECT_TRUE((message.startsWith(QStringLiteral("ADO_查詢失敗: 第 2 句（第 2 行）：")) &&
                 message.contains("canceling statement due to user request")) ||
                message == QStringLiteral("ADO_查詢失敗: 已停止，第 2 句起未執行"))
        << message.toStdString();
    const QStringList lines = messageLines(*window);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("執行起始："))) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("執行結束："))) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.join('\n').contains(QStringLiteral("第 3 句")));
    EXPECT_EQ(status(*window, 0), "查詢失敗");
    EXPECT_EQ(memoOf(*window).textCursor().selectedText(), "select pg_sleep(30)");
    EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "1");
    EXPECT_EQ(window->FSQLHistory().size(), 1);
    EXPECT_TRUE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
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
    const auto [first, second] = twoWindowsOnTheSharedConnection(server);
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

TEST_F(AdoRunTest, anotherWindowsRunStopsAFetchOfTheSharedResultRatherThanWaitForIt) {
    TARNWELL_REQUIRE_PG(server);
    const auto [first, second] = twoWindowsOnTheSharedConnection(server);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    // Rows the server sends one at a time; the 22nd takes a minute to make.
    child<SpinEdit>(*first, "SEdt_PacketRecords")->setValue(10);
    runAdo(*first,
           "SELECT g, repeat('x', 9000) AS filler, CASE WHEN g > 21 THEN pg_sleep(60)::text END AS pause "
           "FROM generate_series(1, 100) g");
    child<QToolButton>(*first, "SpeedButton5")->click();
    ASSERT_TRUE(waitUntil([&] { return first->CDS1().recordCount() == 20; }));
    ASSERT_TRUE(first->fetchInProgress());

    // The second window's run, on the user-interface thread, has the
    // fetch's packet stopped in the engine and takes the connection; the
    // first window is told once, and keeps its rows.
    prompter.expectMessage();
    runAdo(*second, "select 'second' as who");
    EXPECT_EQ(gridModel(*second)->data(gridModel(*second)->index(0, 0)).toString(), "second");
    ASSERT_TRUE(waitForFetch(*first));
    ASSERT_TRUE(prompter.scriptUsedUp());
    EXPECT_TRUE(prompter.messages().last().contains("closed or run again")) << prompter.messages().last().toStdString();
    EXPECT_GE(first->CDS1().recordCount(), 20u);
    EXPECT_EQ(gridModel(*first)->rowCount(), static_cast<int>(first->CDS1().recordCount()));
}

TEST_F(AdoRunTest, eoAsyncExecuteRunsOffTheWindowsThreadEscStopsItAndASecondWindowWaitsItsTurn) {
    TARNWELL_REQUIRE_PG(server);
    const auto [first, second] = twoWindowsOnTheSharedConnection(server);
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
