#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "dataaccess/RowStore.h"
#include "dataaccess/StatementTurn.h"
#include "query/WindowThread.h"

namespace tarnwell {

namespace db {
class ClientDataSet;
class RowSource;
}  // namespace db

// The engine behind a query window's result: how a fetch of its further
// packets is stopped in the engine, and what it must hold while it fetches.
struct ResultEngine {
    // Stops the result's statement in the engine; from any thread.
    std::function<void()> cancel;
    // Cuts the connection of an engine that does not answer a cancel.
    std::function<void()> cut;
    // The turn of a connection other windows share (null: the window's own).
    db::StatementTurn* turn = nullptr;
    // What the result's source lives in, kept while a fetch reads it.
    std::shared_ptr<void> keepAlive;
    // Closes the result once its window has gone, on the fetch's thread,
    // where a server that stopped answering is still cut rather than hold
    // up whoever frees the result last. Empty: the result is left open.
    std::function<void()> close;
    // False: packets are fetched on the user-interface thread, as the
    // connection-string query does with "EoAsyncFetch" cleared.
    bool inBackground = true;
};

// Fetches packets of a result on a thread of its own until the rows held
// reach a target or the result ends, and hands them to the user-interface
// thread as they come: rowsReady() says that rows wait in takeDelivery().
// Packets go on being fetched while the window appends the ones before, so
// the hand-overs carry all that came meanwhile.
class PacketFetchThread final : public WindowThread, private db::StatementTurn::Yielder {
    Q_OBJECT
public:
    // From run `run` of `source`, with `held` rows held already; packets of
    // `packetRecords` rows (all rows when below 1).
    PacketFetchThread(ResultEngine engine, db::RowSource& source, std::uint64_t run, std::size_t columns,
                      std::size_t held, std::size_t target, int packetRecords);
    ~PacketFetchThread() override;

    void raiseTarget(std::size_t rows);
    // Applies to the next packet.
    void setPacketRecords(int rows);
    // No further packet; the one under way is stopped in the engine unless
    // it comes within kStopGraceMs.
    void stopAfterPacket();
    static constexpr int kStopGraceMs = 200;
    // The window goes: abandon(), and the result is closed (ResultEngine::
    // close) before the thread ends.
    void abandonWithWindow();

    struct Delivery {
        db::RowStore rows;
        // The last delivery of the thread: no further one comes. Whether the
        // result ended, and the failure that ended the fetch.
        bool last = false;
        bool endReached = false;
        std::optional<QString> failure;
    };
    // On the user-interface thread.
    Delivery takeDelivery();
    // Whether what waits is the last delivery.
    bool lastOffered();

signals:
    // Rows (or the end) wait in takeDelivery(); emitted on the thread.
    void rowsReady();

protected:
    void run() override;

private:
    void cancelInEngine() noexcept override;
    void cutConnection() noexcept override;
    void wakeForAbandon() override;
    void yield() noexcept override;
    void cut() noexcept override;
    bool stopping() const noexcept { return stopping_ || abandoned(); }
    // Hands the rows of a packet over: they join those waiting, and the
    // window is told unless it was told of those already.
    void offer(db::RowStore& filling);
    void offerLast(db::RowStore& filling, bool endReached, std::optional<QString> failure);

    // Let go of at the end of run(), on the thread: once it has ended,
    // nothing of a closed window is left for its deletion to free.
    std::shared_ptr<void> keepAlive_;
    const ResultEngine engine_;
    db::RowSource& source_;
    const std::uint64_t run_;
    const std::size_t columns_;
    const std::size_t held_;
    std::atomic<std::size_t> target_;
    std::atomic<int> packetRecords_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> windowGone_{false};
    // Another user of a shared connection asked for the turn: the result is
    // about to be closed, whatever the engine says of the packet stopped.
    std::atomic<bool> preempted_{false};

    std::mutex deliveryGuard_;
    db::RowStore ready_;
    bool offered_ = false;
    bool last_ = false;
    bool lastTaken_ = false;
    bool endReached_ = false;
    std::optional<QString> failure_;
};

// Brings the further packets of a query window's result without the window
// ever waiting for the server: the grid's requests (one more packet), the
// next-record and last-record moves, each as many packets as it needs, are
// fetched on a PacketFetchThread, one fetch at a time, while the rows held
// stay usable; the rows are appended in order as they arrive, and a move
// waiting for them is made once they are there. A result whose engine asks
// for it (ResultEngine::inBackground false) is fetched on the user-interface
// thread instead, as before.
//
// stop() (Esc) ends a fetch keeping the rows it brought; a packet the engine
// is slow to give is stopped there. abandon() (a new run, a closed window)
// drops the fetch at once: its statement is cancelled in the engine without
// waiting for the server. A failed fetch is told once (failed()); the rows
// before it stay, and no further rows come until the next run or refresh.
class ResultFetcher : public QObject {
    Q_OBJECT
public:
    ResultFetcher(db::ClientDataSet& dataSet, int packetRecords, QObject* parent = nullptr);
    ~ResultFetcher() override;

    // The engine of the result the dataset has just opened; none when the
    // dataset holds no result. Abandons a fetch of the one before.
    void setEngine(std::optional<ResultEngine> engine);
    void setPacketRecords(int rows);
    // While held no fetch starts (a walk reads the result on this thread,
    // or the window's run is about to replace it); requests are dropped.
    void setHeld(bool held);

    // One more packet (the grid's).
    void fetchPacket();
    // The next record, after the packet that brings it when it is not held.
    void next();
    // The last record, after every packet.
    void last();
    // The user moved elsewhere: a move waiting for rows is dropped.
    void moveDropped();
    // After stop() the grid's requests wait for the user: a fetch it would
    // start at once (its last row still in view) would undo the stop. The
    // user's next move of the grid, or a navigation button, lets them in.
    void resume();

    bool inProgress() const { return !thread_.isNull(); }
    void stop();
    void abandon();
    // The window goes: a fetch under way is abandoned, and its thread
    // closes the result.
    void abandonWithWindow();
    // Waits for an abandoned fetch to leave the engine (cancelled, and cut
    // after db::kCancelGrace), for work that runs the result's statement
    // again on this thread. Throws DbError when it did not.
    void abandonAndWait();

    // The turn on the result's connection for work on this thread that
    // fetches or runs its statement again; empty for a connection of the
    // window's own. Throws DbError when another window is using it.
    db::StatementTurn::Held takeTurnHere();

signals:
    void started();
    // A fetch ended: brought what was asked, stopped, or failed (after
    // failed()).
    void ended(bool stoppedByUser);
    void failed(const QString& message);

private:
    enum class Move { None, Row, Last };

    std::size_t packetRows() const;
    bool inBackground() const;
    bool canFetch() const;
    void want(std::size_t rows);
    void startFetch();
    // Rows wait in the thread: taken now when the fetch is over or
    // kTakeEveryMs passed since the last take, else once it has.
    void rowsWaiting();
    void takeRows();
    void makeWaitingMove(bool fetchOver);
    void fetchOver(const PacketFetchThread::Delivery& delivery);

    db::ClientDataSet& dataSet_;
    std::optional<ResultEngine> engine_;
    int packetRecords_;
    bool held_ = false;
    QPointer<PacketFetchThread> thread_;
    QPointer<PacketFetchThread> abandoned_;
    // After every take the grid's header goes over all its rows again (Qt
    // keeps an entry per row and sums their heights at the next paint): a
    // fetch of many packets hands over what came meanwhile at most every
    // kTakeEveryMs rather than each packet, and a take stays small enough
    // not to hold up the window.
    static constexpr int kTakeEveryMs = 50;
    QElapsedTimer sinceTake_;
    QTimer takeLater_;
    // The opening and run of the dataset the fetch under way brings rows to.
    std::uint64_t fetchOpening_ = 0;
    std::uint64_t fetchRun_ = 0;
    std::size_t wanted_ = 0;
    bool stoppedByUser_ = false;
    bool pausedByUser_ = false;
    Move move_ = Move::None;
    std::size_t moveRow_ = 0;
};

}  // namespace tarnwell
