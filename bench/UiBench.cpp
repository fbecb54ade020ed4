// tarnwell-bench --ui: how the user interface holds up while a query window
// runs long statements on its query thread.
//
//   tarnwell-bench --ui [--pg-state DIR]
//
// DIR is a test server state directory (tests/harness/pgserver.sh start DIR);
// without it TARNWELL_TEST_STATE names one. Offscreen, one query window on a
// PostgreSQL alias of that server runs
//   1. SELECT pg_sleep(3)
//   2. SELECT generate_series(1, 10000000) AS n   (rows streamed by the server)
// while a timer ticks every 10 ms. Printed, one "key value" per line:
//   ui.max_stall_ms           longest gap between two ticks while either run
//                             was in progress (goal: under 50)
//   ui.first_rows_visible_ms  from pressing the run button to the grid's model
//                             holding the first packet (100 rows) of run 2
//                             (goal: under 200)
//   ui.sleep_run_ms, ui.large_run_ms   wall time of each run, for reference
//
// Interface for tarnwell-bench's main: call tarnwell::bench::runUiBench(argc,
// argv) when the first argument is "--ui"; link the target tarnwell_ui_bench
// that bench/ui.cmake defines.
#include "bench/UiBench.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "dataaccess/Session.h"
#include "query/MemoText.h"
#include "query/ResultGridModel.h"
#include "query/UQueryEditor.h"
#include "shell/Application.h"
#include "shell/Fonts.h"
#include "shell/QueryWindowLists.h"
#include "shell/UMain.h"

namespace tarnwell::bench {

namespace {

std::map<QString, QString> readServerState(const QString& directory) {
    std::map<QString, QString> values;
    QFile file(directory + QStringLiteral("/env"));
    if (!file.open(QIODevice::ReadOnly)) {
        return values;
    }
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            continue;
        }
        QString value = line.mid(eq + 1);
        if (value.size() >= 2 && value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\''))) {
            value = value.mid(1, value.size() - 2);
        }
        values[line.left(eq)] = value;
    }
    return values;
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

bool serveUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

struct Measurement {
    double firstRowsMs = -1;
    double runMs = -1;
};

Measurement runOnce(TfrmQueryEditor& window, StallMeter& meter, const QString& sql, int rowsToSee) {
    setMemoText(*window.MemSQL(), sql);
    Measurement result;
    QElapsedTimer clock;
    meter.arm(true);
    clock.start();
    window.SBtnQuery()->click();
    serveUntil(
        [&] {
            if (result.firstRowsMs < 0 && window.gridModel()->rowCount() >= rowsToSee) {
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
        out << "[BENCHPG]\nTYPE=POSTGRESQL\nSERVER NAME=" << server.at(QStringLiteral("TARNWELL_TEST_PG_HOST"))
            << "\nPORT=" << server.at(QStringLiteral("TARNWELL_TEST_PG_PORT"))
            << "\nDATABASE NAME=" << server.at(QStringLiteral("TARNWELL_TEST_PG_DATABASE")) << "\n";
    }
    TfrmMain mainWindow(std::make_unique<db::Session>(db::SessionConfig{aliasFile.toStdString(), {}, false}));
    mainWindow.AddConnectedBDE(QStringLiteral("BENCHPG"), QString(), QString(),
                               server.at(QStringLiteral("TARNWELL_TEST_PG_USER")),
                               server.at(QStringLiteral("TARNWELL_TEST_PG_PASSWORD")));
    mainWindow.OpenQueryWindow(QueryWindowForm::QueryWindow);
    auto* window = qobject_cast<TfrmQueryEditor*>(openQueryWindows().value(0));
    if (window == nullptr) {
        std::fprintf(stderr, "tarnwell-bench: no query window\n");
        return 1;
    }
    window->CbxLinkType()->setCurrentIndex(1);
    window->CbxLinkTypeChange();  // connects, as a user's pick of the kind does

    StallMeter meter;
    serveUntil([] { return false; }, 200);  // let the window settle
    const Measurement sleep = runOnce(*window, meter, QStringLiteral("SELECT pg_sleep(3)"), 1);
    const Measurement large =
        runOnce(*window, meter, QStringLiteral("SELECT generate_series(1, 10000000) AS n"), 100);
    const bool failed = !window->QueryMessage()->toPlainText().contains(QStringLiteral("執行結束"));

    std::printf("ui.max_stall_ms %.1f\n", meter.longestMs());
    std::printf("ui.first_rows_visible_ms %.1f\n", large.firstRowsMs);
    std::printf("ui.sleep_run_ms %.1f\n", sleep.runMs);
    std::printf("ui.large_run_ms %.1f\n", large.runMs);
    std::fflush(stdout);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return failed ? 1 : 0;
}

}  // namespace

int runUiBench(int argc, char** argv) {
    QString stateDirectory = qEnvironmentVariable("TARNWELL_TEST_STATE");
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--pg-state" && i + 1 < argc) {
            stateDirectory = QString::fromLocal8Bit(argv[++i]);
        }
    }
    const std::map<QString, QString> server = readServerState(stateDirectory);
    if (!server.contains(QStringLiteral("TARNWELL_TEST_PG_HOST"))) {
        std::fprintf(stderr,
                     "tarnwell-bench --ui: no PostgreSQL server; start one with\n"
                     "  tests/harness/pgserver.sh start DIR\nand pass --pg-state DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::unique_ptr<Application> application;
    if (QCoreApplication::instance() == nullptr) {
        application = std::make_unique<Application>(argc, argv);
    }
    setUpFonts();
    return measure(server);
}

}  // namespace tarnwell::bench
