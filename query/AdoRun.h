#pragma once

#include <QString>
#include <exception>
#include <optional>
#include <string>

#include "dataaccess/DbError.h"

#include "query/WindowThread.h"

namespace tarnwell {

namespace db {
class AdoConnection;
class AdoQuery;
class RowSource;
class StatementTurn;
}  // namespace db

// A statement for the shared connection-string connection, as a query
// window's Properties page sets it up at the run.
struct AdoRunRequest {
    std::string connectionString;  // the chosen connection's
    std::string sql;
    unsigned executeOptions = 0;   // db::AdoQuery::ExecuteOption bits
    int cacheSize = 1;
    int maxRecords = 0;
    int packetRecords = 100;       // of the result's first packet
};

// The connection step of a run on the shared connection: the shared query
// and connection closed, then opened on `connectionString`. Throws the
// engine's error.
void connectSharedConnection(db::AdoConnection& connection, db::AdoQuery& query,
                             const std::string& connectionString);
// The shared query closed and given the request's options, for statements to
// run on it.
void setUpSharedQuery(db::AdoQuery& query, const AdoRunRequest& request);
// Runs the request's statement on the shared query: opened for rows when its
// text is row-returning, executed otherwise. True when a result set is open.
bool runSharedStatement(db::AdoQuery& query, const AdoRunRequest& request);

// Where the engine says a failed statement went wrong, if it says.
std::optional<db::ErrorPosition> errorPositionOf(const std::exception& error);

// How a connection-string run off the user-interface thread ended.
enum class AdoRunEnd {
    NotConnected,  // the connection step failed (reported already)
    Stopped,       // stopped before the statement was sent
    Failed,        // the statement failed: the engine's words
    Done,          // the statement ran (a result set handed over, or none)
};

// What such a run does to its window; every call on the user-interface
// thread, in the run's order, while the run waits for it.
class AdoRunSink {
public:
    virtual void setStatusText(const QString& text) = 0;
    virtual void addMessageLines(const QString& text) = 0;
    // The connection step succeeded; the run holds the connection's turn.
    virtual void adoConnected(const AdoRunRequest& request) = 0;
    // The open result, for the window's dataset to fetch its first packet.
    virtual void bindResult(db::RowSource& source, int packetRecords) = 0;
    // `message` and `position`: the engine's, for a failure.
    virtual void adoRunEnded(AdoRunEnd end, const QString& message,
                             const std::optional<db::ErrorPosition>& position) = 0;

protected:
    ~AdoRunSink() = default;
};

// A connection-string run with "EoAsyncExecute" ticked: the connection step
// and the statement on a thread of their own, the steps that change the
// window on it, in the order of a run on the user-interface thread.
//
// The shared connection serves one statement at a time: the run waits for
// its turn (db::StatementTurn), so a second window's run waits for the first
// without anything freezing. stop() (Esc) gives up waiting, or cancels the
// statement in the engine (its connection is cut when the engine does not
// answer within db::kCancelGrace); a window that goes abandons its run.
class AdoRunThread final : public WindowThread {
    Q_OBJECT
public:
    AdoRunThread(db::AdoConnection& connection, db::AdoQuery& query, db::StatementTurn& turn,
                 AdoRunRequest request, AdoRunSink& window);

    void stop();

protected:
    void run() override;

private:
    void cancelInEngine() noexcept override;
    void cutConnection() noexcept override;
    void wakeForAbandon() override;
    bool stopping() const noexcept { return stopping_ || abandoned(); }
    void report(AdoRunEnd end, const QString& message = {}, const std::optional<db::ErrorPosition>& position = {});

    db::AdoConnection& connection_;
    db::AdoQuery& query_;
    db::StatementTurn& turn_;
    const AdoRunRequest request_;
    AdoRunSink& window_;
    std::atomic<bool> stopping_{false};
};

}  // namespace tarnwell
