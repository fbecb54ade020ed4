#include "query/ResultFetch.h"

#include <QTimer>
#include <algorithm>
#include <limits>
#include <utility>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Connection.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowSource.h"

namespace tarnwell {

namespace {

constexpr std::size_t kEveryRow = std::numeric_limits<std::size_t>::max();

std::size_t rowsOf(int packetRecords) {
    return packetRecords > 0 ? static_cast<std::size_t>(packetRecords) : kEveryRow;
}

std::size_t plus(std::size_t a, std::size_t b) { return a > kEveryRow - b ? kEveryRow : a + b; }

}  // namespace

// --- The thread ---------------------------------------------------------------------

PacketFetchThread::PacketFetchThread(ResultEngine engine, db::RowSource& source, std::uint64_t run,
                                     std::size_t columns, std::size_t held, std::size_t target, int packetRecords)
    : keepAlive_(std::exchange(engine.keepAlive, nullptr)),
      engine_(std::move(engine)),
      source_(source),
      run_(run),
      columns_(columns),
      held_(held),
      target_(target),
      packetRecords_(packetRecords),
      ready_(columns) {}

PacketFetchThread::~PacketFetchThread() = default;

void PacketFetchThread::raiseTarget(std::size_t rows) {
    std::size_t target = target_.load();
    while (target < rows && !target_.compare_exchange_weak(target, rows)) {
    }
}

void PacketFetchThread::setPacketRecords(int rows) { packetRecords_ = rows; }

void PacketFetchThread::stopAfterPacket() {
    if (stopping_.exchange(true)) {
        return;
    }
    if (engine_.turn != nullptr) {
        engine_.turn->wakeWaiters();
    }
    // A packet that comes soon ends the fetch cleanly, leaving the result
    // open for later packets; one the engine is slow to give is stopped.
    QTimer::singleShot(kStopGraceMs, this, [this] { stopStatement(); });
}

void PacketFetchThread::abandonWithWindow() {
    windowGone_ = true;
    abandon();
}

void PacketFetchThread::run() {
    db::RowStore filling(columns_);
    std::size_t have = held_;
    bool endReached = false;
    std::optional<QString> failure;
    while (!stopping() && have < target_.load()) {
        db::StatementTurn::Held turn;
        if (engine_.turn != nullptr) {
            turn = engine_.turn->wait(db::StatementTurn::Use::Fetch, this, [this] { return stopping(); });
            if (!turn) {
                break;
            }
        }
        const std::size_t packet = rowsOf(packetRecords_.load());
        const std::size_t before = filling.rowCount();
        try {
            const std::size_t fetched = inEngine([&] { return source_.fetchFromRun(filling, packet, run_); });
            endReached = fetched < packet || source_.atEnd();
        } catch (const std::exception& error) {
            failure = preempted_ ? QString::fromUtf8(db::kResultClosedOrRunAgain) : QString::fromUtf8(error.what());
        }
        turn.release();
        have += filling.rowCount() - before;
        if (endReached || failure) {
            break;
        }
        offer(filling);
    }
    offerLast(filling, endReached, std::move(failure));
    if (windowGone_ && engine_.close) {
        inEngine(engine_.close);
    }
    keepAlive_.reset();
}

void PacketFetchThread::offer(db::RowStore& filling) {
    if (filling.rowCount() == 0) {
        return;
    }
    bool untold = false;
    {
        const std::lock_guard lock(deliveryGuard_);
        ready_.append(std::move(filling));
        untold = !offered_;
        offered_ = true;
    }
    if (untold) {
        emit rowsReady();
    }
}

void PacketFetchThread::offerLast(db::RowStore& filling, bool endReached, std::optional<QString> failure) {
    {
        const std::lock_guard lock(deliveryGuard_);
        ready_.append(std::move(filling));
        last_ = true;
        endReached_ = endReached;
        failure_ = std::move(failure);
        offered_ = true;
    }
    emit rowsReady();
}

bool PacketFetchThread::lastOffered() {
    const std::lock_guard lock(deliveryGuard_);
    return last_ && !lastTaken_;
}

PacketFetchThread::Delivery PacketFetchThread::takeDelivery() {
    const std::lock_guard lock(deliveryGuard_);
    Delivery delivery;
    delivery.rows = std::move(ready_);
    ready_ = db::RowStore(columns_);
    offered_ = false;
    if (last_ && !lastTaken_) {
        lastTaken_ = true;
        delivery.last = true;
        delivery.endReached = endReached_;
        delivery.failure = failure_;
    }
    return delivery;
}

void PacketFetchThread::cancelInEngine() noexcept {
    if (engine_.cancel) {
        engine_.cancel();
    }
}

void PacketFetchThread::cutConnection() noexcept {
    if (engine_.cut) {
        engine_.cut();
    }
}

void PacketFetchThread::wakeForAbandon() {
    if (engine_.turn != nullptr) {
        engine_.turn->wakeWaiters();
    }
}

void PacketFetchThread::yield() noexcept {
    preempted_ = true;
    cancelWhileInEngine();
}

void PacketFetchThread::cut() noexcept { cutWhileInEngine(); }

// --- The window's side ------------------------------------------------------------------

ResultFetcher::ResultFetcher(db::ClientDataSet& dataSet, int packetRecords, QObject* parent)
    : QObject(parent), dataSet_(dataSet), packetRecords_(packetRecords) {
    takeLater_.setSingleShot(true);
    connect(&takeLater_, &QTimer::timeout, this, &ResultFetcher::takeRows);
}

ResultFetcher::~ResultFetcher() { abandon(); }

void ResultFetcher::setEngine(std::optional<ResultEngine> engine) {
    abandon();
    engine_ = std::move(engine);
    pausedByUser_ = false;
}

void ResultFetcher::setPacketRecords(int rows) {
    packetRecords_ = rows;
    if (thread_) {
        thread_->setPacketRecords(rows);
    }
}

void ResultFetcher::setHeld(bool held) {
    held_ = held;
    if (held) {
        move_ = Move::None;
    }
}

std::size_t ResultFetcher::packetRows() const { return rowsOf(packetRecords_); }

bool ResultFetcher::inBackground() const { return engine_ && engine_->inBackground; }

bool ResultFetcher::canFetch() const {
    return engine_ && !held_ && dataSet_.active() && !dataSet_.allFetched() && !dataSet_.fetchFailed();
}

db::StatementTurn::Held ResultFetcher::takeTurnHere() {
    if (!engine_ || engine_->turn == nullptr) {
        return {};
    }
    return engine_->turn->take(db::StatementTurn::Use::Run);
}

void ResultFetcher::fetchPacket() {
    if (held_) {
        return;
    }
    if (engine_ && !engine_->inBackground) {
        try {
            const db::StatementTurn::Held turn = canFetch() ? takeTurnHere() : db::StatementTurn::Held();
            dataSet_.fetchMore();
        } catch (const std::exception& error) {
            // The grid asks from deep inside its painting and scrolling: the
            // error must not pass through Qt.
            emit failed(QString::fromUtf8(error.what()));
        }
        return;
    }
    if (pausedByUser_ || !canFetch()) {
        return;
    }
    want(plus(dataSet_.recordCount(), packetRows()));
}

void ResultFetcher::next() {
    move_ = Move::None;
    pausedByUser_ = false;
    const bool held = dataSet_.currentRow() + 1 < dataSet_.recordCount() || dataSet_.allFetched();
    if (held || !inBackground()) {
        const db::StatementTurn::Held turn = held ? db::StatementTurn::Held() : takeTurnHere();
        dataSet_.next();
        return;
    }
    if (!canFetch()) {
        return;
    }
    move_ = Move::Row;
    moveRow_ = dataSet_.currentRow() + 1;
    want(plus(dataSet_.recordCount(), packetRows()));
}

void ResultFetcher::last() {
    move_ = Move::None;
    pausedByUser_ = false;
    if (dataSet_.allFetched() || !inBackground()) {
        const db::StatementTurn::Held turn = dataSet_.allFetched() ? db::StatementTurn::Held() : takeTurnHere();
        dataSet_.last();
        return;
    }
    if (!canFetch()) {
        // No further rows can come now: the rows held are all there is.
        if (!dataSet_.isEmpty()) {
            dataSet_.moveTo(dataSet_.recordCount() - 1);
        }
        return;
    }
    move_ = Move::Last;
    want(kEveryRow);
}

void ResultFetcher::moveDropped() { move_ = Move::None; }

void ResultFetcher::resume() { pausedByUser_ = false; }

void ResultFetcher::want(std::size_t rows) {
    wanted_ = std::max(wanted_, rows);
    if (thread_) {
        thread_->raiseTarget(wanted_);
    } else {
        startFetch();
    }
}

void ResultFetcher::startFetch() {
    db::RowSource* source = dataSet_.source();
    if (!canFetch() || source == nullptr || dataSet_.recordCount() >= wanted_) {
        return;
    }
    stoppedByUser_ = false;
    fetchOpening_ = dataSet_.opening();
    fetchRun_ = dataSet_.sourceRun();
    auto* thread = new PacketFetchThread(*engine_, *source, fetchRun_, dataSet_.columns().size(),
                                         dataSet_.recordCount(), wanted_, packetRecords_);
    connect(thread, &PacketFetchThread::rowsReady, this, &ResultFetcher::rowsWaiting, Qt::QueuedConnection);
    thread->begin();
    if (thread->startFailed()) {
        delete thread;
        wanted_ = 0;
        move_ = Move::None;
        emit failed(QStringLiteral("無法開始讀取資料，請再試一次"));
        return;
    }
    thread_ = thread;
    sinceTake_.invalidate();  // the first rows of a fetch are shown at once
    emit started();
}

void ResultFetcher::rowsWaiting() {
    auto* thread = qobject_cast<PacketFetchThread*>(sender());
    if (thread == nullptr || thread != thread_) {
        return;  // a fetch abandoned meanwhile
    }
    const qint64 since = sinceTake_.isValid() ? sinceTake_.elapsed() : kTakeEveryMs;
    if (since >= kTakeEveryMs || thread->lastOffered()) {
        takeRows();
    } else if (!takeLater_.isActive()) {
        takeLater_.start(static_cast<int>(kTakeEveryMs - since));
    }
}

void ResultFetcher::takeRows() {
    takeLater_.stop();
    PacketFetchThread* thread = thread_.data();
    if (thread == nullptr) {
        return;
    }
    sinceTake_.start();
    PacketFetchThread::Delivery delivery = thread->takeDelivery();
    if (dataSet_.active() && dataSet_.opening() == fetchOpening_ && dataSet_.sourceRun() == fetchRun_) {
        dataSet_.appendFetched(std::move(delivery.rows), delivery.endReached, delivery.failure.has_value());
    }
    if (!delivery.last) {
        makeWaitingMove(false);
        return;
    }
    thread_ = nullptr;
    fetchOver(delivery);
}

void ResultFetcher::makeWaitingMove(bool fetchOver) {
    switch (move_) {
        case Move::None:
            break;
        case Move::Row:
            if (moveRow_ < dataSet_.recordCount()) {
                move_ = Move::None;
                dataSet_.moveTo(moveRow_);
            } else if (fetchOver) {
                move_ = Move::None;
                if (dataSet_.allFetched()) {
                    dataSet_.next();  // on the last record: no further one
                }
            }
            break;
        case Move::Last:
            if (fetchOver) {
                move_ = Move::None;
                if (dataSet_.allFetched()) {
                    dataSet_.last();
                }
            }
            break;
    }
}

void ResultFetcher::fetchOver(const PacketFetchThread::Delivery& delivery) {
    if (delivery.failure || stoppedByUser_) {
        move_ = Move::None;
        pausedByUser_ = stoppedByUser_;
        emit ended(stoppedByUser_ && !delivery.failure);
        if (delivery.failure) {
            emit failed(*delivery.failure);
        }
        return;
    }
    makeWaitingMove(true);
    // A request that came as the thread was ending.
    startFetch();
    if (!thread_) {
        emit ended(false);
    }
}

void ResultFetcher::stop() {
    if (!thread_) {
        return;
    }
    stoppedByUser_ = true;
    move_ = Move::None;
    wanted_ = 0;
    thread_->stopAfterPacket();
}

void ResultFetcher::abandon() {
    move_ = Move::None;
    wanted_ = 0;
    takeLater_.stop();
    if (PacketFetchThread* thread = thread_.data()) {
        thread_ = nullptr;
        disconnect(thread, nullptr, this, nullptr);
        thread->abandon();
        abandoned_ = thread;
    }
}

void ResultFetcher::abandonWithWindow() {
    if (PacketFetchThread* thread = thread_.data()) {
        thread->abandonWithWindow();
    }
    abandon();
}

void ResultFetcher::abandonAndWait() {
    abandon();
    PacketFetchThread* thread = abandoned_.data();
    // Its statement is cancelled again and again meanwhile, and its
    // connection cut after db::kCancelGrace.
    if (thread != nullptr && !thread->waitServingCalls(QDeadlineTimer(2 * db::kCancelGrace.count()))) {
        throw db::DbError(db::StatementTurn::kBusyMessage);
    }
}

}  // namespace tarnwell
