#include "query/UQueryThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTimer>

#include "query/QueryEngine.h"
#include "query/WindowThread.h"
#include "session/RunMessages.h"

namespace tarnwell {

namespace {

QString engineMessage(const std::exception& error) { return QString::fromUtf8(error.what()); }

}  // namespace

void addMemoLines(QPlainTextEdit& memo, const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    memo.appendPlainText(lines);
}

TQueryThread::TQueryThread(std::shared_ptr<QueryWindowEngine> engine, const QString& sqlText,
                           int packetRecords, QueryRunSink& window)
    : TQueryThread(std::move(engine), sqlText, {}, packetRecords, window) {}

TQueryThread::TQueryThread(std::shared_ptr<QueryWindowEngine> engine, QList<RunStatement> script,
                           int packetRecords, QueryRunSink& window)
    : TQueryThread(std::move(engine), QString(), std::move(script), packetRecords, window) {}

TQueryThread::TQueryThread(std::shared_ptr<QueryWindowEngine> engine, const QString& sqlText,
                           QList<RunStatement> script, int packetRecords, QueryRunSink& window)
    : engine_(std::move(engine)),
      engineForCancel_(engine_),
      FSQLText(sqlText),
      script_(std::move(script)),
      packetRecords_(packetRecords),
      window_(window) {
    // Made and deleted on the user-interface thread.
    registerRun(*this);
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

TQueryThread::~TQueryThread() {
    unregisterRun(*this);
}

bool TQueryThread::startFailed() const { return !isRunning() && !isFinished(); }

template <typename Step>
void TQueryThread::inWindow(Step&& step) {
    // The receiver is this object, which lives on the user-interface thread
    // until the run has ended.
    callInWindow(*this, abandoned_, [this, &step] { step(window_); });
}

void TQueryThread::run() {
    inWindow([](QueryRunSink& window) {
        window.clearMessages();
        window.setRunButtonEnabled(false);
    });
    script_.isEmpty() ? execute() : executeScript();
    if (abandoned_) {
        // Nobody will read what the statement returned.
        engine_->BDE_Query1.close();
    }
    engine_.reset();
}

void TQueryThread::execute() {
    QElapsedTimer clock;
    clock.start();

    db::Query& query = engine_->BDE_Query1;
    const auto endLine = [] { return runEndedLine(currentDateTimeText()); };
    try {
        query.close();
        query.setSql(FSQLText.toStdString());
        inWindow([](QueryRunSink& window) {
            window.addMessageLines(runStartedLine(currentDateTimeText()));
        });
        inWindow([](QueryRunSink& window) { window.setStatusText(QStringLiteral("執行中.....")); });
        if (abandoned_) {
            return;
        }
        if (runInEngine()) {
            inWindow([&](QueryRunSink& window) {
                window.bindResult(query, packetRecords_);
                window.addMessageLines(endLine());
                window.showPage(QueryPage::Data);
            });
        } else {
            const std::int64_t rowsAffected = query.rowsAffected();
            inWindow([&](QueryRunSink& window) {
                window.clearResult();
                window.addMessageLines(endLine());
                // A statement that returned no result set where one was
                // expected has run all the same; its count is unknown to
                // some engines.
                if (rowsAffected >= 0) {
                    window.addMessageLines(rowsAffectedLine(rowsAffected));
                }
                window.showPage(QueryPage::Messages);
            });
        }
    } catch (const std::exception& error) {
        const QString message = engineMessage(error);
        const auto* engineError = dynamic_cast<const db::DbError*>(&error);
        const std::optional<db::ErrorPosition> position =
            engineError != nullptr ? engineError->position() : std::nullopt;
        inWindow([&](QueryRunSink& window) {
            window.showPage(QueryPage::Messages);
            window.setStatusText(QStringLiteral("BDE_執行失敗"));
            window.addMessageLines(endLine());
            window.addMessageLines(QStringLiteral("\r\n") + queryFailurePrefix(RunEngine::Alias) + message +
                                   QStringLiteral("\r\n"));
            window.runFailedAt(0, position);
            window.setRunButtonEnabled(true);
        });
    }
    finishRun(clock);
}

void TQueryThread::executeScript() {
    QElapsedTimer clock;
    clock.start();
    inWindow([](QueryRunSink& window) {
        window.addMessageLines(runStartedLine(currentDateTimeText()));
        window.setStatusText(QStringLiteral("執行中....."));
    });
    ScriptHooks hooks;
    hooks.inWindow = [this](const std::function<void(QueryRunSink&)>& step) { inWindow(step); };
    hooks.runInEngine = [this] { return runInEngine(); };
    hooks.stopRequested = [this] { return stopRequested_ || abandoned_; };
    const ScriptOutcome outcome =
        runScript(engine_->BDE_Query1, engine_->heldResult, engine_->CDS1, script_, packetRecords_, hooks);
    const QString endLine = runEndedLine(currentDateTimeText());
    if (!outcome.stoppedAt) {
        inWindow([&](QueryRunSink& window) {
            window.addMessageLines(endLine);
            window.showPage(outcome.endedWithRows ? QueryPage::Data : QueryPage::Messages);
        });
    } else {
        const QString failure = scriptFailureText(script_, outcome);
        inWindow([&](QueryRunSink& window) {
            window.showPage(QueryPage::Messages);
            window.setStatusText(QStringLiteral("BDE_執行失敗"));
            window.addMessageLines(endLine);
            window.addMessageLines(QStringLiteral("\r\n") + queryFailurePrefix(RunEngine::Alias) + failure +
                                   QStringLiteral("\r\n"));
            window.runFailedAt(*outcome.stoppedAt, outcome.position);
            window.setRunButtonEnabled(true);
        });
    }
    finishRun(clock);
}

void TQueryThread::finishRun(const QElapsedTimer& clock) {
    const QString elapsed = elapsedLine(clock.elapsed());
    inWindow([&](QueryRunSink& window) { window.addMessageLines(elapsed); });
    inWindow([&](QueryRunSink& window) { window.setStatusText(QStringLiteral("完成 ") + elapsed); });
    inWindow([this](QueryRunSink& window) {
        window.setRunButtonEnabled(true);
        emit runEnded();
    });
}

bool TQueryThread::runInEngine() {
    {
        const std::lock_guard lock(engineGuard_);
        inEngine_ = true;
    }
    const auto leftEngine = qScopeGuard([this] {
        const std::lock_guard lock(engineGuard_);
        inEngine_ = false;
    });
    return engine_->BDE_Query1.run();
}

void TQueryThread::cancelStatementInEngine() {
    const std::lock_guard lock(engineGuard_);
    if (inEngine_) {
        cancelStatement();
    }
}

void TQueryThread::cancelRun() {
    stopRequested_ = true;
    if (abandoned_ || isFinished() || cancelTimer_ != nullptr) {
        return;
    }
    cancelStatementInEngine();
    repeatEvery(&TQueryThread::cancelStatementInEngine);
}

void TQueryThread::repeatEvery(void (TQueryThread::*cancel)()) {
    if (cancelTimer_ == nullptr) {
        cancelTimer_ = new QTimer(this);
        cancelTimer_->setInterval(kCancelRepeatMs);
        connect(this, &QThread::finished, cancelTimer_, &QTimer::stop);
    }
    cancelTimer_->disconnect(this);
    connect(cancelTimer_, &QTimer::timeout, this, cancel);
    cancelTimer_->start();
}

void TQueryThread::cancelStatement() {
    if (!stopAsked_.isValid()) {
        stopAsked_.start();
    }
    if (const std::shared_ptr<QueryWindowEngine> engine = engineForCancel_.lock()) {
        engine->BDE_Query1.cancel();
        engine->BDE_DB.cancel();
        // A server that no longer answers would hold the run for ever.
        if (stopAsked_.hasExpired(db::kCancelGrace.count())) {
            engine->BDE_DB.cutConnection();
        }
    }
}

void TQueryThread::abandon() {
    if (abandoned_.exchange(true)) {
        return;
    }
    cancelStatement();
    if (isFinished()) {
        return;
    }
    repeatEvery(&TQueryThread::cancelStatement);
}

bool TQueryThread::waitServingCalls(QDeadlineTimer deadline) {
    return tarnwell::waitServingCalls(*this, deadline, [this] {
        if (abandoned_) {
            cancelStatement();
        }
    });
}

}  // namespace tarnwell
