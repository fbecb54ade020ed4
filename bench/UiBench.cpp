// tarnwell-bench --ui: how the user interface holds up while query windows
// run long statements and fetch large or slow results.
//
//   tarnwell-bench --ui --pg CONNINFO
//
// Offscreen, one after the other:
//   1. a query window on a PostgreSQL alias of the server that CONNINFO (a
//      libpq connection string) names runs
//        SELECT pg_sleep(3)
//        SELECT generate_series(1, 10000000) AS n   (rows streamed by the server)
//      while a timer ticks every 10 ms:
//        ui.max_stall_ms           longest gap between two ticks while either
//                                  run was in progress (goal: under 50)
//        ui.first_rows_visible_ms  from pressing the run button to the grid's
//                                  model holding the first packet (100 rows)
//                                  of the second run (goal: under 200)
//        ui.sleep_run_ms, ui.large_run_ms   wall time of each run
//   2. the same window runs a 20,000-row SELECT whose rows the server makes
//      about one a millisecond (pg_sleep(0.0005) per row, which sleeps at
//      least a millisecond), and its grid's
//      scroll bar is held at the bottom, as a user drags it there, until the
//      last row is in:
//        ui.scroll_max_stall_ms    longest gap between ticks of a 1 ms timer
//                                  meanwhile (goal: under 16)
//        ui.scroll_ms              from the first move to the last row in
//   3. a connection-string window on the same server, EoAsyncExecute ticked,
//      runs SELECT pg_sleep(3):
//        ui.ado_async_max_stall_ms longest gap between ticks of a 1 ms timer
//                                  from the press to the end of the run
//                                  (goal: under 16)
//        ui.ado_async_run_ms       the run's wall time
//   4. a query window on an SQLite file of 5,000,000 rows (five columns) runs
//      SELECT * and its last-record button is pressed:
//        ui.last_record_max_stall_ms  longest gap between ticks of a 1 ms
//                                  timer from the press to the last record
//                                  current (goal: under 16)
//        ui.last_record_ms         the time from the press to the last record
//                                  current
#include "UiBench.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include <libpq-fe.h>

#include "BenchWindows.h"
#include "DataLayerBench.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Session.h"
#include "query/MemoText.h"
#include "query/ResultGridModel.h"
#include "query/UQueryEditor.h"
#include "session/ConnectionRegistry.h"
#include "session/Workspace.h"
#include "shell/Application.h"
#include "shell/UMain.h"

namespace tarnwell::bench {

namespace {

constexpr long long kLastRecordRows = 5'000'000;
constexpr int kSlowRows = 20'000;

// The parts of a libpq connection string the alias file needs; empty when
// the string does not parse.
std::map<QString, QString> serverOf(const std::string& conninfo) {
    std::map<QString, QString> values;
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (options == nullptr) {
        PQfreemem(error);
        return values;
    }
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val != nullptr) {
            values[QString::fromUtf8(option->keyword)] = QString::fromUtf8(option->val);
        }
    }
    PQconninfoFree(options);
    return values;
}

QString valueOr(const std::map<QString, QString>& values, const char* key, const char* fallback) {
    const auto it = values.find(QString::fromLatin1(key));
    return it == values.end() ? QString::fromLatin1(fallback) : it->second;
}

// Ticks every `intervalMs` and keeps the longest gap seen while armed.
class StallMeter {
public:
    explicit StallMeter(int intervalMs) {
        timer_.setInterval(intervalMs);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (armed_) {
                longest_ = std::max(longest_, now - last_);
            }
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    // A stall that began before the first tick (the press itself blocking)
    // or ends with the disarming counts too.
    void arm(bool on) {
        const qint64 now = clock_.nsecsElapsed();
        if (!on && armed_) {
            longest_ = std::max(longest_, now - last_);
        }
        armed_ = on;
        last_ = now;
    }
    void restart() { longest_ = 0; }
    double longestMs() const { return static_cast<double>(longest_) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    bool armed_ = false;
};

bool runEnded(const TfrmQueryEditor& window) { return !window.runInProgress() && window.queryThread() == nullptr; }

struct Measurement {
    double firstRowsMs = -1;
    double runMs = -1;
};

Measurement runOnce(TfrmQueryEditor& window, StallMeter& meter, const QString& sql, int rowsToSee) {
    setMemoText(*child<QPlainTextEdit>(window, "MemSQL"), sql);
    Measurement result;
    QElapsedTimer clock;
    meter.arm(true);
    clock.start();
    child<QAbstractButton>(window, "SBtnQuery")->click();
    serveUntil(
        [&] {
            if (result.firstRowsMs < 0 && child<QTableView>(window, "DBGrid")->model()->rowCount() >= rowsToSee) {
                result.firstRowsMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            }
            return runEnded(window);
        },
        120000);
    result.runMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    meter.arm(false);
    return result;
}

// Holds the grid's scroll bar at its bottom, as a user who drags it there
// again whenever rows came, until the whole result is in. The wall time.
double scrollToTheEnd(TfrmQueryEditor& window, StallMeter& meter, std::size_t rows) {
    QScrollBar* bar = child<QTableView>(window, "DBGrid")->verticalScrollBar();
    const db::ClientDataSet& result = window.CDS1();
    QElapsedTimer clock;
    meter.arm(true);
    clock.start();
    const bool done = serveUntil(
        [&] {
            if (bar->value() != bar->maximum()) {
                bar->setValue(bar->maximum());
            }
            return result.allFetched() && result.recordCount() == rows;
        },
        600000);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    meter.arm(false);
    return done ? ms : -1;
}

// Figures 1 and 2.
bool measureAliasWindow(TfrmMain& mainWindow, const std::map<QString, QString>& server) {
    mainWindow.AddConnectedBDE(QStringLiteral("BENCHPG"), QString(), QString(), valueOr(server, "user", ""),
                               valueOr(server, "password", ""));
    TfrmQueryEditor* window = mainWindow.OpenQueryWindow(QueryWindowForm::QueryWindow);
    if (window == nullptr) {
        std::fprintf(stderr, "tarnwell-bench: no query window\n");
        return false;
    }
    child<QComboBox>(*window, "CbxLinkType")->setCurrentIndex(1);
    window->CbxLinkTypeChange();  // connects, as a user's pick of the kind does

    StallMeter meter(10);
    serveUntil([] { return false; }, 200);  // let the window settle
    const Measurement sleep = runOnce(*window, meter, QStringLiteral("SELECT pg_sleep(3)"), 1);
    const Measurement large =
        runOnce(*window, meter, QStringLiteral("SELECT generate_series(1, 10000000) AS n"), 100);
    bool failed = !child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().contains(QStringLiteral("執行結束"));
    report("ui.max_stall_ms", meter.longestMs(), "ms");
    report("ui.first_rows_visible_ms", large.firstRowsMs, "ms");
    report("ui.sleep_run_ms", sleep.runMs, "ms");
    report("ui.large_run_ms", large.runMs, "ms");

    StallMeter fineMeter(1);
    runOnce(*window, fineMeter,
            QStringLiteral("SELECT g AS n, pg_sleep(0.0005) AS pause FROM generate_series(1, %1) g").arg(kSlowRows), 1);
    fineMeter.restart();
    const double scrollMs = scrollToTheEnd(*window, fineMeter, kSlowRows);
    failed = failed || scrollMs < 0;
    report("ui.scroll_max_stall_ms", fineMeter.longestMs(), "ms");
    report("ui.scroll_ms", scrollMs, "ms");
    std::fflush(stdout);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !failed;
}

// Figure 3.
bool measureConnectionStringWindow(Workspace& workspace, TfrmMain& mainWindow,
                                   const std::map<QString, QString>& server) {
    db::AdoConnection& connection = workspace.ADOCon1();
    connection.setConnectionString(QStringLiteral("Provider=PostgreSQL.1;Data Source=%1:%2/%3;User ID=%4;Password=%5")
                                       .arg(valueOr(server, "host", "127.0.0.1"), valueOr(server, "port", "5432"),
                                            valueOr(server, "dbname", "postgres"), valueOr(server, "user", ""),
                                            valueOr(server, "password", ""))
                                       .toStdString());
    try {
        connection.open();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarnwell-bench: %s\n", error.what());
        return false;
    }
    const QString completed = QString::fromStdString(connection.connectionString());
    const QString dataSource = ConnectionStringValue(completed, QStringLiteral("Data Source="));
    mainWindow.AddConnectedADO(completed, ConnectionStringValue(completed, QStringLiteral("Provider=")), dataSource);
    TfrmQueryEditor* window = mainWindow.OpenQueryWindow(QueryWindowForm::QueryWindow);
    if (window == nullptr) {
        std::fprintf(stderr, "tarnwell-bench: no query window\n");
        return false;
    }
    auto* kind = child<QComboBox>(*window, "CbxLinkType");
    kind->setCurrentIndex(kind->findText(QStringLiteral("ADO")));
    window->CbxLinkTypeChange();
    auto* connections = child<QComboBox>(*window, "CbxConnectAlias");
    connections->setCurrentIndex(connections->findText(dataSource));
    child<QCheckBox>(*window, "Chk1")->setChecked(true);

    StallMeter meter(1);
    serveUntil([] { return false; }, 200);
    const Measurement run = runOnce(*window, meter, QStringLiteral("SELECT pg_sleep(3)"), 1);
    const bool done = window->CDS1().active() && window->CDS1().recordCount() == 1;
    report("ui.ado_async_max_stall_ms", meter.longestMs(), "ms");
    report("ui.ado_async_run_ms", run.runMs, "ms");
    std::fflush(stdout);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return done;
}

// Figure 4.
bool measureLastRecord() {
    ScratchDirectory scratch;
    const std::string path = scratch.file("last-record.db");
    createFiveColumnSqliteTable(path, kLastRecordRows);
    AliasQueryWindow alias(scratch, "BENCHLITE", "SQLITE", {{"PATH", path}});
    TfrmQueryEditor& window = alias.window();
    alias.run(QStringLiteral("SELECT * FROM t"));
    const db::ClientDataSet& result = window.CDS1();
    StallMeter meter(1);
    serveUntil([] { return false; }, 200);
    QElapsedTimer clock;
    meter.arm(true);
    clock.start();
    child<QAbstractButton>(window, "SpeedButton5")->click();
    const bool done = serveUntil(
        [&] {
            return result.allFetched() && result.recordCount() == static_cast<std::size_t>(kLastRecordRows) &&
                   result.currentRow() + 1 == result.recordCount();
        },
        600000);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    meter.arm(false);
    report("ui.last_record_max_stall_ms", meter.longestMs(), "ms");
    report("ui.last_record_ms", done ? ms : -1, "ms");
    std::fflush(stdout);
    return done;
}

int measure(const std::map<QString, QString>& server) {
    QTemporaryDir folder;
    const QString aliasFile = folder.filePath(QStringLiteral("aliases.conf"));
    {
        QFile file(aliasFile);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "tarnwell-bench: cannot write %s\n", qPrintable(aliasFile));
            return 1;
        }
        QTextStream out(&file);
        out << "[BENCHPG]\nTYPE=POSTGRESQL\nSERVER NAME=" << valueOr(server, "host", "127.0.0.1")
            << "\nPORT=" << valueOr(server, "port", "5432")
            << "\nDATABASE NAME=" << valueOr(server, "dbname", "postgres") << "\n";
    }
    bool worked = true;
    {
        Workspace workspace(std::make_unique<db::Session>(db::SessionConfig{aliasFile.toStdString(), {}, false}));
        TfrmMain mainWindow(workspace);
        worked = measureAliasWindow(mainWindow, server) && worked;
        worked = measureConnectionStringWindow(workspace, mainWindow, server) && worked;
    }
    worked = measureLastRecord() && worked;
    return worked ? 0 : 1;
}

}  // namespace

int runUiBench(const Options& options) {
    const std::map<QString, QString> server = serverOf(options.pgConninfo);
    if (options.pgConninfo.empty() || server.empty()) {
        std::fprintf(stderr, "tarnwell-bench --ui: needs --pg CONNINFO, a PostgreSQL server to run on\n");
        return 2;
    }
    const std::unique_ptr<Application> application = startWindowedApplication();
    return measure(server);
}

}  // namespace tarnwell::bench
