#include "query/WindowThread.h"

#include <QTimer>

#include "dataaccess/Connection.h"

namespace tarnwell {

WindowThread::WindowThread() {
    // Made and deleted on the user-interface thread.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

WindowThread::~WindowThread() { unregisterRun(*this); }

void WindowThread::begin() {
    registerRun(*this);
    start();
}

bool WindowThread::startFailed() const { return !isRunning() && !isFinished(); }

void WindowThread::setInEngine(bool inside) {
    const std::lock_guard lock(engineGuard_);
    inEngine_ = inside;
}

void WindowThread::cancelWhileInEngine() {
    const std::lock_guard lock(engineGuard_);
    if (!inEngine_) {
        return;
    }
    cancelInEngine();
    // A server that no longer answers would hold the thread for ever.
    if (stopAsked_.isValid() && stopAsked_.hasExpired(db::kCancelGrace.count())) {
        cutConnection();
    }
}

void WindowThread::cutWhileInEngine() {
    const std::lock_guard lock(engineGuard_);
    if (inEngine_) {
        cutConnection();
    }
}

void WindowThread::stopStatement() {
    if (isFinished()) {
        return;
    }
    if (!stopAsked_.isValid()) {
        stopAsked_.start();
    }
    cancelWhileInEngine();
    if (cancelTimer_ == nullptr) {
        cancelTimer_ = new QTimer(this);
        cancelTimer_->setInterval(kCancelRepeatMs);
        connect(cancelTimer_, &QTimer::timeout, this, &WindowThread::cancelWhileInEngine);
        connect(this, &QThread::finished, cancelTimer_, &QTimer::stop);
        cancelTimer_->start();
    }
}

void WindowThread::abandon() {
    if (abandoned_.exchange(true)) {
        return;
    }
    wakeForAbandon();
    stopStatement();
}

bool WindowThread::waitServingCalls(QDeadlineTimer deadline) {
    return tarnwell::waitServingCalls(*this, deadline, [this] {
        if (abandoned_) {
            cancelWhileInEngine();
        }
    });
}

bool waitServingCalls(QThread& thread, QDeadlineTimer deadline, const std::function<void()>& meanwhile) {
    while (!thread.isFinished()) {
        QCoreApplication::sendPostedEvents(&thread, QEvent::MetaCall);
        meanwhile();
        if (thread.wait(QDeadlineTimer(5))) {
            break;
        }
        if (deadline.hasExpired()) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnwell
