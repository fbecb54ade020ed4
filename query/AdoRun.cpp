#include "query/AdoRun.h"

#include <optional>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/StatementTurn.h"
#include "session/RunMessages.h"

namespace tarnwell {

namespace {

QString errorText(const std::exception& error) { return QString::fromUtf8(error.what()); }

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
                           AdoRunRequest request, AdoRunSink& window)
    : connection_(connection), query_(query), turn_(turn), request_(std::move(request)), window_(window) {}

void AdoRunThread::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    turn_.wakeWaiters();
    stopStatement();
}

void AdoRunThread::report(AdoRunEnd end, const QString& message, const std::optional<db::ErrorPosition>& position) {
    inWindow([&] { window_.adoRunEnded(end, message, position); });
}

void AdoRunThread::run() {
    db::StatementTurn::Held turn = turn_.wait(db::StatementTurn::Use::Run, nullptr, [this] { return stopping(); });
    if (!turn) {
        report(AdoRunEnd::Stopped);
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
        report(AdoRunEnd::NotConnected, message);
        return;
    }
    inWindow([&] { window_.adoConnected(request_); });
    if (stopping()) {
        turn.release();
        report(AdoRunEnd::Stopped);
        return;
    }
    inWindow([&] { window_.setStatusText(QStringLiteral("查詢中.....")); });
    std::optional<QString> failure;
    std::optional<db::ErrorPosition> position;
    try {
        // A statement that returned no result set, whatever its text, has
        // run: it is no failure, and the grid keeps what it shows.
        if (inEngine([&] { return runSharedStatement(query_, request_); })) {
            inWindow([&] { window_.bindResult(query_, request_.packetRecords); });
        }
    } catch (const std::exception& error) {
        failure = errorText(error);
        position = errorPositionOf(error);
    }
    if (abandoned()) {
        // Nobody will read what the statement returned; a server that
        // stopped answering is cut here too.
        inEngine([&] { query_.close(); });
    }
    turn.release();
    report(failure ? AdoRunEnd::Failed : AdoRunEnd::Done, failure.value_or(QString()), position);
}

void AdoRunThread::cancelInEngine() noexcept { connection_.cancel(); }

void AdoRunThread::cutConnection() noexcept { connection_.cutConnection(); }

void AdoRunThread::wakeForAbandon() { turn_.wakeWaiters(); }

}  // namespace tarnwell
