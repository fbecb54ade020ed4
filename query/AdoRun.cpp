#include "query/AdoRun.h"

#include <optional>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/StatementTurn.h"

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

bool runSharedStatement(db::AdoQuery& query, const AdoRunRequest& request) {
    query.close();
    query.setExecuteOptions(request.executeOptions);
    query.setCacheSize(request.cacheSize);
    query.setMaxRecords(request.maxRecords);
    query.setSql(request.sql);
    return query.run();
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

void AdoRunThread::report(AdoRunEnd end, const QString& message) {
    inWindow([&] { window_.adoRunEnded(end, message); });
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
            window_.addMessageLines(QStringLiteral("\rADO_連線失敗: ") + message + QStringLiteral("\r"));
            window_.setStatusText(QStringLiteral("資料庫連線失敗"));
        });
        report(AdoRunEnd::NotConnected, message);
        return;
    }
    inWindow([&] { window_.setStatusText(QStringLiteral("資料庫已連線")); });
    if (stopping()) {
        turn.release();
        report(AdoRunEnd::Stopped);
        return;
    }
    inWindow([&] { window_.setStatusText(QStringLiteral("查詢中.....")); });
    std::optional<QString> failure;
    try {
        // A statement that returned no result set, whatever its text, has
        // run: it is no failure, and the grid keeps what it shows.
        if (inEngine([&] { return runSharedStatement(query_, request_); })) {
            inWindow([&] { window_.bindResult(query_, request_.packetRecords); });
        }
    } catch (const std::exception& error) {
        failure = errorText(error);
    }
    if (abandoned()) {
        query_.close();  // nobody will read what the statement returned
    }
    turn.release();
    report(failure ? AdoRunEnd::Failed : AdoRunEnd::Done, failure.value_or(QString()));
}

void AdoRunThread::cancelInEngine() noexcept { connection_.cancel(); }

void AdoRunThread::cutConnection() noexcept { connection_.cutConnection(); }

void AdoRunThread::wakeForAbandon() { turn_.wakeWaiters(); }

}  // namespace tarnwell
