#pragma once

// A workspace and a main window on a session of their own: a SQLite alias on a file of a
// temporary folder, a PostgreSQL alias on the test server when there is one,
// and helpers to open query windows and run SQL in them as a user would.
#include <gtest/gtest.h>

#include "PrintQt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QLineEdit>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "query/MemoText.h"
#include "query/QueryWidgets.h"
#include "query/ResultGridModel.h"
#include "query/SqlEditor.h"
#include "query/SqlHighlighter.h"
#include "query/UQueryEditor.h"
#include "query/UQueryThread.h"
#include "session/ConnectionCatalogs.h"
#include "session/RunsInProgress.h"
#include "session/Workspace.h"
#include "shell/UMain.h"
#include "support/FindChild.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"
#include "ui/Controls.h"

namespace tarnwell::test {

// Serves events until `done` holds or the limit passes; what `done` says then.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 30000) {
    const QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}

class QueryWindowTest : public ::testing::Test {
protected:
    static constexpr const char* kLocal = "LOCAL";
    static constexpr const char* kPg = "PGTEST";
    static constexpr const char* kPg2 = "PGTEST2";

    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        databaseFile = folder.filePath(QStringLiteral("local.db"));
        QFile(databaseFile).open(QIODevice::WriteOnly);  // an empty file is an empty database
        std::string aliases = "[LOCAL]\nTYPE=SQLITE\nPATH=" + databaseFile.toStdString() +
                              "\n[BROKEN]\nTYPE=SQLITE\nPATH=" + folder.filePath("no/such/dir/x.db").toStdString() +
                              "\nOPEN MODE=READ ONLY\n";
        if (const auto& server = testServer()) {
            for (const char* name : {kPg, kPg2}) {
                aliases += pgAlias(name, *server);
            }
        }
        aliases += moreAliases;
        const QString aliasFile = folder.filePath(QStringLiteral("aliases.conf"));
        QFile file(aliasFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(aliases));
        file.close();
        workspace = std::make_unique<Workspace>(std::make_unique<db::Session>(
            db::SessionConfig{aliasFile.toStdString(), std::string(), false}));
        main = std::make_unique<TfrmMain>(*workspace);
        execute(kLocal,
                "CREATE TABLE t (id INTEGER, name VARCHAR(20), amount NUMERIC(10,2));"
                "INSERT INTO t VALUES (1, 'a', 1.5), (2, 'b', 2.5), (3, 'c', 3.5), (4, 'd', 4.5)");
    }

    void TearDown() override {
        // Runs still going are stopped before their session goes.
        EXPECT_TRUE(abandonRunsAndWait(QDeadlineTimer(30000)));
        const QList<QWidget*> windows = openQueryWindows();
        qDeleteAll(windows);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // The windows' catalog loads are cancelled, and end soon after.
        EXPECT_TRUE(waitUntil([] { return ConnectionCatalogs::loadsInFlight() == 0; }));
        main.reset();
        workspace.reset();
    }

    // The query windows of the main window, in creation order (the order of
    // their database numbers).
    QList<QWidget*> openQueryWindows() const {
        QList<TfrmQueryEditor*> windows = main->findChildren<TfrmQueryEditor*>();
        const auto number = [](const TfrmQueryEditor* window) {
            return std::stoi(window->BDE_DB().databaseName().substr(std::string("BDE_SQL_").size()));
        };
        std::sort(windows.begin(), windows.end(),
                  [&](const TfrmQueryEditor* a, const TfrmQueryEditor* b) { return number(a) < number(b); });
        return QList<QWidget*>(windows.begin(), windows.end());
    }

    // Runs statements on an alias outside any window (setting up data).
    void execute(const char* alias, const std::string& sql, const QString& user = {},
                 const QString& password = {}) {
        db::Database database(workspace->Session1(), std::string("SETUP_") + alias);
        database.setAliasName(alias);
        database.params().append("USER NAME", user.toStdString());
        database.params().append("PASSWORD", password.toStdString());
        database.open();
        db::Query query(workspace->Session1());
        query.setDatabaseName(database.databaseName());
        std::size_t from = 0;
        while (from < sql.size()) {
            const std::size_t end = sql.find(';', from);
            query.setSql(sql.substr(from, end == std::string::npos ? std::string::npos : end - from));
            query.execSql();
            from = end == std::string::npos ? sql.size() : end + 1;
        }
    }

    static std::string pgAlias(const char* name, const TestServer& server) {
        return std::string("[") + name + "]\nTYPE=POSTGRESQL\nSERVER NAME=" + server.host + "\nPORT=" + server.port +
               "\nDATABASE NAME=" + server.database + "\n";
    }

    // Opens the shared connection-string connection and registers it, as the
    // connection dialog does; the data source it shows.
    QString connectAdo(const QString& connectionString) {
        workspace->ADOCon1().setConnectionString(connectionString.toStdString());
        workspace->ADOCon1().open();
        const QString completed = QString::fromStdString(workspace->ADOCon1().connectionString());
        const QString dataSource = ConnectionStringValue(completed, QStringLiteral("Data Source="));
        main->AddConnectedADO(completed, ConnectionStringValue(completed, QStringLiteral("Provider=")), dataSource);
        main->RefreshConnectAliases();
        return dataSource;
    }

    static QString pgConnectionString(const TestServer& server) {
        return QStringLiteral("Provider=PostgreSQL.1;Data Source=%1:%2/%3;User ID=%4;Password=%5")
            .arg(QString::fromStdString(server.host), QString::fromStdString(server.port),
                 QString::fromStdString(server.database), QString::fromStdString(server.user),
                 QString::fromStdString(server.password));
    }

    void registerLocal() { main->AddConnectedBDE(kLocal, "", "", "", ""); }
    void registerPg(const TestServer& server, const char* alias = kPg) {
        main->AddConnectedBDE(alias, QString::fromStdString(server.host),
                              QString::fromStdString(server.database), QString::fromStdString(server.user),
                              QString::fromStdString(server.password));
    }

    // A new query window as the browser's query button makes it.
    TfrmQueryEditor* openWindow() {
        TfrmQueryEditor* window = main->OpenQueryWindow(QueryWindowForm::QueryWindow);
        if (window == nullptr) {
            ADD_FAILURE() << "no query window opened";
        }
        return window;
    }

    // A window with kind and connection picked by the user.
    TfrmQueryEditor* openWindowOn(const QString& kind, const QString& connection) {
        TfrmQueryEditor* window = openWindow();
        if (window == nullptr) {
            return nullptr;
        }
        pick(*child<QComboBox>(*window, "CbxLinkType"), kind);
        window->CbxLinkTypeChange();
        pick(*child<QComboBox>(*window, "CbxConnectAlias"), connection);
        window->CbxConnectAliasChange();
        return window;
    }

    static void pick(QComboBox& box, const QString& text) {
        const int index = box.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        EXPECT_GE(index, 0) << text.toStdString();
        box.setCurrentIndex(index);
    }

    // Types the SQL, presses the run button and waits for the run to end.
    static void run(TfrmQueryEditor& window, const QString& sql) {
        setMemoText(*child<QPlainTextEdit>(window, "MemSQL"), sql);
        ASSERT_TRUE(child<QAbstractButton>(window, "SBtnQuery")->isEnabled());
        child<QAbstractButton>(window, "SBtnQuery")->click();
        ASSERT_TRUE(waitForRun(window));
    }

    static bool waitForRun(TfrmQueryEditor& window, int limitMs = 30000) {
        return waitUntil([&] { return !window.runInProgress() && window.queryThread() == nullptr; }, limitMs);
    }

    // Waits until no packet of the window's result is being fetched (they
    // come off the user-interface thread).
    static bool waitForFetch(const TfrmQueryEditor& window, int limitMs = 30000) {
        return waitUntil([&] { return !window.fetchInProgress(); }, limitMs);
    }

    // The grid's model: what the grid shows of the window's result.
    static ResultGridModel* gridModel(const TfrmQueryEditor& window) {
        return qobject_cast<ResultGridModel*>(child<QTableView>(window, "DBGrid")->model());
    }

    static SqlEditor& memoOf(const TfrmQueryEditor& window) { return *child<SqlEditor>(window, "MemSQL"); }

    // Makes the window active with the focus in its memo, where keys typed
    // reach it.
    static void focusMemo(TfrmQueryEditor& window) {
        QApplication::setActiveWindow(&window);
        memoOf(window).setFocus();
    }

    // Puts the memo's caret at `position`, or selects from there to `end`.
    static void placeCaret(TfrmQueryEditor& window, int position, int end = -1) {
        QTextCursor cursor = memoOf(window).textCursor();
        cursor.setPosition(position);
        if (end >= 0) {
            cursor.setPosition(end, QTextCursor::KeepAnchor);
        }
        memoOf(window).setTextCursor(cursor);
    }

    static QStringList messageLines(const TfrmQueryEditor& window) {
        return child<QPlainTextEdit>(window, "QueryMessage")->toPlainText().split(QLatin1Char('\n'));
    }

    static QString status(const TfrmQueryEditor& window, int panel) {
        return child<PanelStatusBar>(window, "SBar")->panelText(panel);
    }

    // Waits until the catalog of the window's connection has loaded.
    static bool waitForCatalog(const TfrmQueryEditor& window) {
        return waitUntil([&] {
            const SharedCatalog* catalog = window.sharedCatalog();
            return catalog != nullptr && catalog->loadedOnce() && !catalog->loading();
        });
    }

    static QString activeLowerPage(const TfrmQueryEditor& window) {
        return child<QTabWidget>(window, "Page2")->currentWidget()->objectName();
    }

    // Sections a test's own SetUp adds to the alias file before the session reads it.
    std::string moreAliases;
    ScriptedPrompt prompter;
    QTemporaryDir folder;
    QString databaseFile;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<TfrmMain> main;
};

// A query window already open on the SQLite alias.
class LocalWindowTest : public QueryWindowTest {
protected:
    void SetUp() override {
        QueryWindowTest::SetUp();
        registerLocal();
        window = openWindowOn("BDE", kLocal);
        ASSERT_NE(window, nullptr);
    }

    TfrmQueryEditor* window = nullptr;
};

}  // namespace tarnwell::test
