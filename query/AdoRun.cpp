#include "query/AdoRun.h"

#include <functional>
#include <optional>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/StatementTurn.h"
#include "session/RunMessages.h"

namespace tarnwell {

namespace {

QString errorText(const std::exception& error) { return QString::fromUtf8(error.what()); }

AdoRunOutcome endedBy(AdoRunEnd end, const QString& message = {}) {
    AdoRunOutcome outcome;
    outcome.end = end;
    outcome.message = message;
    return outcome;
}

}  // namespace

void connectSharedConnection(db::AdoConnection& connection, db::AdoQuery& query,
                             const std::string& connectionString) {
    query.close();
    connection.close();
    connection.setConnectionString(connectionString);
    connection.open();
}

void setUpSharedQuery(db::AdoQuery& query, const AdoRunRequest& request) {
    query.close();
    query.setExecuteOptions(request.executeOptions);
    query.setCacheSize(request.cacheSize);
    query.setMaxRecords(request.maxRecords);
}

bool runSharedStatement(db::AdoQuery& query, const AdoRunRequest& request) {
    setUpSharedQuery(query, request);
    query.setSql(request.sql);
    return query.run();
}

std::optional<db::ErrorPosition> errorPositionOf(const std::exception& error) {
    const auto* engineError = dynamic_cast<const db::DbError*>(&error);
    return engineError != nullptr ? engineError->position() : std::nullopt;
}

AdoRunThread::AdoRunThread(db::AdoConnection& connection, db::AdoQuery& query, db::StatementTurn& turn,
                           AdoRunRequest request, AdoRunSink& window, AdoScriptTarget scriptTarget)
    : connection_(connection),
      query_(query),
      turn_(turn),
      request_(std::move(request)),
      window_(window),
      scriptTarget_(std::move(scriptTarget)) {}

void AdoRunThread::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    turn_.wakeWaiters();
    stopStatement();
}

void AdoRunThread::report(const AdoRunOutcome& outcome) {
    inWindow([&] { window_.adoRunEnded(outcome); });
}

void AdoRunThread::run() {
    db::StatementTurn::Held turn = turn_.wait(db::StatementTurn::Use::Run, nullptr, [this] { return stopping(); });
    if (!turn) {
        report(endedBy(AdoRunEnd::Stopped));
        return;
    }
    try {
        connectSharedConnection(connection_, query_, request_.connectionString);
    } catch (const std::exception& error) {
        const QString message = errorText(error);
        turn.release();
        inWindow([&] {
            window_.addMessageLines(u'\r' + connectionFailurePrefix(RunEngine::ConnectionString) + message + u'\r');
            window_.setStatusText(QStringLiteral("資料庫連線失敗"));
        });
        report(endedBy(AdoRunEnd::NotConnected, message));
        return;
    }
    inWindow([&] { window_.adoConnected(request_); });
    if (stopping()) {
        turn.release();
        report(endedBy(AdoRunEnd::Stopped));
        return;
    }
    const AdoRunOutcome outcome = request_.script.isEmpty() ? runStatement() : runScript();
    if (abandoned()) {
        // Nobody will read what the statement returned; a server that
        // stopped answering is cut here too.
        inEngine([&] { query_.close(); });
    }
    turn.release();
    report(outcome);
}

AdoRunOutcome AdoRunThread::runStatement() {
    inWindow([&] { window_.setStatusText(QStringLiteral("查詢中.....")); });
    try {
        // A statement that returned no result set, whatever its text, has
        // run: it is no failure, and the grid keeps what it shows.
        if (inEngine([&] { return runSharedStatement(query_, request_); })) {
            inWindow([&] { window_.bindResult(query_, request_.packetRecords); });
        }
    } catch (const std::exception& error) {
        AdoRunOutcome failed = endedBy(AdoRunEnd::Failed, errorText(error));
        failed.position = errorPositionOf(error);
        return failed;
    }
    return {};
}

// Reported on the Messages page as a script of the query thread is.
AdoRunOutcome AdoRunThread::runScript() {
    inWindow([&] {
        window_.setStatusText(QStringLiteral("查詢中....."));
        window_.clearMessages();
        window_.addMessageLines(runStartedLine(currentDateTimeText()));
    });
    ScriptOutcome script;
    try {
        setUpSharedQuery(query_, request_);
        ScriptHooks hooks;
        hooks.inWindow = [this](const std::function<void(QueryRunSink&)>& step) { inWindow([&] { step(window_); }); };
        hooks.runInEngine = [this] { return inEngine([this] { return query_.run(); }); };
        hooks.stopRequested = [this] { return stopping(); };
        script = tarnwell::runScript(query_, *scriptTarget_.held, *scriptTarget_.shown, request_.script,
                                     request_.packetRecords, hooks);
    } catch (const std::exception& error) {
        script.stoppedAt = 0;
        script.message = errorText(error);
    }
    inWindow([&] { window_.addMessageLines(runEndedLine(currentDateTimeText())); });
    if (!script.stoppedAt) {
        return {};
    }
    AdoRunOutcome failed = endedBy(AdoRunEnd::Failed, scriptFailureText(request_.script, script));
    failed.failedAt = *script.stoppedAt;
    failed.position = script.position;
    return failed;
}

void AdoRunThread::cancelInEngine() noexcept { connection_.cancel(); }

void AdoRunThread::cutConnection() noexcept { connection_.cutConnection(); }

void AdoRunThread::wakeForAbandon() { turn_.wakeWaiters(); }

}  // namespace tarnwell
