#pragma once

#include <QList>
#include <QString>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "dataaccess/DbError.h"
#include "query/ScriptRun.h"
#include "query/UQueryThread.h"
#include "query/WindowThread.h"

namespace tarnwell {

namespace db {
class AdoConnection;
class AdoQuery;
class ClientDataSet;
class RowSource;
class StatementTurn;
}  // namespace db

// A statement for the shared connection-string connection, as a query
// window's Properties page sets it up at the run.
struct AdoRunRequest {
    std::string connectionString;  // the chosen connection's
    std::string sql;
    // A script: its statements, run one after another in place of `sql`.
    QList<RunStatement> script;
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
    Failed,        // the statement (or a statement of the script) failed, or a stop ended the script
    Done,          // the statement ran (a result set handed over, or none)
};

struct AdoRunOutcome {
    AdoRunEnd end = AdoRunEnd::Done;
    // For a failure: the engine's words (for a script, scriptFailureText()),
    // the statement that failed (from 0) and where in it.
    QString message;
    std::size_t failedAt = 0;
    std::optional<db::ErrorPosition> position;
};

// What such a run does to its window: the steps of a query-thread run, and
// its own. Every call on the user-interface thread, in the run's order, while
// the run waits for it.
class AdoRunSink : public QueryRunSink {
public:
    // The connection step succeeded; the run holds the connection's turn.
    virtual void adoConnected(const AdoRunRequest& request) = 0;
    virtual void adoRunEnded(const AdoRunOutcome& outcome) = 0;

protected:
    ~AdoRunSink() = default;
};

// Where a script's results go: the window's held rows and its dataset (read
// for the count only), kept alive by `keepAlive` while the run lasts.
struct AdoScriptTarget {
    HeldResult* held = nullptr;
    const db::ClientDataSet* shown = nullptr;
    std::shared_ptr<void> keepAlive;
};

// A connection-string run with "EoAsyncExecute" ticked: the connection step
// and the statement (or the script's statements, stopped after the one under
// way by stop()) on a thread of their own, the steps that change the window
// on it, in the order of a run on the user-interface thread.
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
                 AdoRunRequest request, AdoRunSink& window, AdoScriptTarget scriptTarget = {});

    void stop();

protected:
    void run() override;

private:
    void cancelInEngine() noexcept override;
    void cutConnection() noexcept override;
    void wakeForAbandon() override;
    bool stopping() const noexcept { return stopping_ || abandoned(); }
    AdoRunOutcome runStatement();
    AdoRunOutcome runScript();
    void report(const AdoRunOutcome& outcome);

    db::AdoConnection& connection_;
    db::AdoQuery& query_;
    db::StatementTurn& turn_;
    const AdoRunRequest request_;
    AdoRunSink& window_;
    const AdoScriptTarget scriptTarget_;
    std::atomic<bool> stopping_{false};
};

}  // namespace tarnwell
