#pragma once

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

#include "dataaccess/DbError.h"
#include "query/ScriptRun.h"
#include "session/RunsInProgress.h"

class QPlainTextEdit;
class QTimer;

namespace tarnwell {

namespace db {
class RowSource;
}

struct QueryWindowEngine;

// The lower pages of a query window that a run turns to.
enum class QueryPage { Data, Messages };

// What a query thread tells its window. Every call comes on the user
// interface thread, in the order of the run, while the query thread waits
// for it; an error a call throws goes to the run's failure step. A window
// abandons its thread (TQueryThread::abandon) before it goes, and from then
// on no call reaches it.
class QueryRunSink {
public:
    virtual void clearMessages() = 0;
    // Lines at the end of the Messages page ("\r\n", "\r" and "\n" break).
    virtual void addMessageLines(const QString& text) = 0;
    // The first status panel.
    virtual void setStatusText(const QString& text) = 0;
    // Hands the open result to the window's client dataset, which fetches its
    // first packet of `packetRecords` rows.
    virtual void bindResult(db::RowSource& source, int packetRecords) = 0;
    // Closes the client dataset: the grid empties.
    virtual void clearResult() = 0;
    virtual void showPage(QueryPage page) = 0;
    virtual void setRunButtonEnabled(bool enabled) = 0;
    // The run failed at its statement `index` (from 0, in the order the
    // run was given them); `position`: where in that statement's text the
    // engine found the fault, when it says.
    virtual void runFailedAt(std::size_t /*index*/, const std::optional<db::ErrorPosition>& /*position*/) {}

protected:
    ~QueryRunSink() = default;
};

// Runs one statement of a query window's own database away from the user
// interface: times it, reports its course to the window, and hands a result
// set to the window's client dataset.
//
// Every step that changes the window is carried to the user-interface thread
// and waited for. The thread object itself lives on that thread and receives
// those calls, so the receiver exists as long as the thread runs.
//
// The thread starts when it is made and deletes itself when it ends. It keeps
// the engine objects alive while it runs. A window that goes away abandons its
// thread: the statement is cancelled in the engine (repeatedly, until the
// thread lets go of it; an engine that does not answer loses its
// connection), its result is dropped, and the thread touches nothing of the
// window any more.
class TQueryThread : public QThread, private BackgroundRun {
    Q_OBJECT
public:
    // `packetRecords`: the rows of the first packet, as the window's
    // Properties page gave them when the run began.
    TQueryThread(std::shared_ptr<QueryWindowEngine> engine, const QString& sqlText, int packetRecords,
                 QueryRunSink& window);
    // A script: the statements run one after another (runScript()), each
    // reported on a line of its own; the first failure, or a stop, ends it.
    TQueryThread(std::shared_ptr<QueryWindowEngine> engine, QList<RunStatement> script, int packetRecords,
                 QueryRunSink& window);
    ~TQueryThread() override;

    // True when the system could not start the thread; the caller then owns
    // the object and deletes it.
    bool startFailed() const;

    // The window is going: stop the statement and leave the window alone.
    void abandon() override;
    // The user asked to stop the run: the statement is cancelled in the
    // engine, and the run ends as a failed one with the engine's words. Does
    // nothing once the statement has come back from the engine, except that
    // a script runs no further statement.
    void cancelRun();
    bool abandoned() const noexcept { return abandoned_; }

    // Waits until the thread has ended, serving the calls it makes to the user
    // interface meanwhile (so it may be called on that thread). False when the
    // deadline passed first.
    bool waitServingCalls(QDeadlineTimer deadline) override;

signals:
    // On the user-interface thread, when the run button is given back.
    void runEnded();

protected:
    void run() override;

private:
    TQueryThread(std::shared_ptr<QueryWindowEngine> engine, const QString& sqlText, QList<RunStatement> script,
                 int packetRecords, QueryRunSink& window);

    template <typename Step>
    void inWindow(Step&& step);
    void execute();
    void executeScript();
    // The timing lines and the run button given back, after either kind of
    // run.
    void finishRun(const QElapsedTimer& clock);
    // The statement in the engine; what Statement::run() says.
    bool runInEngine();
    void cancelStatement();
    void cancelStatementInEngine();
    void repeatEvery(void (TQueryThread::*cancel)());

    std::shared_ptr<QueryWindowEngine> engine_;
    std::weak_ptr<QueryWindowEngine> engineForCancel_;
    const QString FSQLText;
    const QList<RunStatement> script_;
    const int packetRecords_;
    QueryRunSink& window_;
    std::atomic<bool> abandoned_{false};
    std::atomic<bool> stopRequested_{false};
    QTimer* cancelTimer_ = nullptr;
    // Since the first request to stop the run: an engine that has not
    // answered its cancel within db::kCancelGrace loses its connection.
    QElapsedTimer stopAsked_;
    // Whether the statement is in the engine, where a cancel of the run may
    // reach it; a cancel that came later would stop the result it handed
    // over.
    std::mutex engineGuard_;
    bool inEngine_ = false;
};

// Adds lines at the end of a memo; "\r\n", "\r" and "\n" all break a line.
void addMemoLines(QPlainTextEdit& memo, const QString& text);

}  // namespace tarnwell
