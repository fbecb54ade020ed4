// tarnwell-bench --ui: how the user interface holds up while a query window
// runs long statements on its query thread.
//
//   tarnwell-bench --ui --pg CONNINFO
//
// Offscreen, one query window on a PostgreSQL alias of the server that
// CONNINFO (a libpq connection string) names runs
//   1. SELECT pg_sleep(3)
//   2. SELECT generate_series(1, 10000000) AS n   (rows streamed by the server)
// while a timer ticks every 10 ms. Printed, one "name value unit" a line:
//   ui.max_stall_ms           longest gap between two ticks while either run
//                             was in progress (goal: under 50)
//   ui.first_rows_visible_ms  from pressing the run button to the grid's model
//                             holding the first packet (100 rows) of run 2
//                             (goal: under 200)
//   ui.sleep_run_ms, ui.large_run_ms   wall time of each run, for reference
#include "UiBench.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
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
#include "dataaccess/Session.h"
#include "query/MemoText.h"
#include "query/ResultGridModel.h"
#include "query/UQueryEditor.h"
#include "session/Workspace.h"
#include "shell/Application.h"
#include "shell/UMain.h"

namespace tarnwell::bench {

namespace {

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

// Ticks every 10 ms and keeps the longest gap seen while armed.
class StallMeter {
public:
    StallMeter() {
        timer_.setInterval(10);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (armed_ && last_ >= 0) {
                longest_ = std::max(longest_, now - last_);
            }
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    void arm(bool on) {
        armed_ = on;
        last_ = -1;
    }
    double longestMs() const { return static_cast<double>(longest_) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    qint64 longest_ = 0;
    bool armed_ = false;
};

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
            return !window.runInProgress() && window.queryThread() == nullptr;
        },
        120000);
    result.runMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    meter.arm(false);
    return result;
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
    Workspace workspace(std::make_unique<db::Session>(db::SessionConfig{aliasFile.toStdString(), {}, false}));
    TfrmMain mainWindow(workspace);
    mainWindow.AddConnectedBDE(QStringLiteral("BENCHPG"), QString(), QString(),
                               valueOr(server, "user", ""),
                               valueOr(server, "password", ""));
    TfrmQueryEditor* window = mainWindow.OpenQueryWindow(QueryWindowForm::QueryWindow);
    if (window == nullptr) {
        std::fprintf(stderr, "tarnwell-bench: no query window\n");
        return 1;
    }
    child<QComboBox>(*window, "CbxLinkType")->setCurrentIndex(1);
    window->CbxLinkTypeChange();  // connects, as a user's pick of the kind does

    StallMeter meter;
    serveUntil([] { return false; }, 200);  // let the window settle
    const Measurement sleep = runOnce(*window, meter, QStringLiteral("SELECT pg_sleep(3)"), 1);
    const Measurement large =
        runOnce(*window, meter, QStringLiteral("SELECT generate_series(1, 10000000) AS n"), 100);
    const bool failed = !child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().contains(QStringLiteral("執行結束"));

    report("ui.max_stall_ms", meter.longestMs(), "ms");
    report("ui.first_rows_visible_ms", large.firstRowsMs, "ms");
    report("ui.sleep_run_ms", sleep.runMs, "ms");
    report("ui.large_run_ms", large.runMs, "ms");
    std::fflush(stdout);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return failed ? 1 : 0;
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
