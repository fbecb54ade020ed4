#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

#include "session/RunsInProgress.h"

class QTimer;

namespace tarnwell {

// How often a statement being stopped is asked again: a cancel that arrives
// just before the statement reaches the engine is missed.
inline constexpr int kCancelRepeatMs = 20;

// How a thread working for a window reaches it: `step` runs on the thread
// `receiver` lives on (the user-interface thread) while the caller waits; an
// error it throws is thrown here. Skipped once `abandoned` holds, also when
// it comes to hold while the call waits.
template <typename Step>
void callInWindow(QObject& receiver, const std::atomic<bool>& abandoned, Step&& step);

// Waits until `thread` has ended, serving the calls it makes to the user
// interface meanwhile (so it may be called on that thread), with `meanwhile`
// run between two looks. False when the deadline passed first.
bool waitServingCalls(QThread& thread, QDeadlineTimer deadline, const std::function<void()>& meanwhile);

// A thread that does engine work for a query window away from the user
// interface: a statement of the shared connection-string connection, or the
// further packets of a result.
//
// The steps that change the window run on the user-interface thread while
// the thread waits for them (inWindow). The thread object lives on that
// thread and receives those calls, so the receiver exists as long as the
// thread runs. It starts when begin() is called and deletes itself when it
// ends.
//
// The engine work goes inside inEngine(), where stopStatement() reaches it:
// the statement is cancelled again and again until the thread leaves the
// engine, and an engine that has not answered within db::kCancelGrace loses
// its connection. Nothing is cancelled while the thread is elsewhere (waiting
// for its turn on a shared connection, whose statement then belongs to
// somebody else). A window that goes away abandons the thread: its statement
// is stopped, and the thread touches nothing of the window any more.
class WindowThread : public QThread, private BackgroundRun {
    Q_OBJECT
public:
    ~WindowThread() override;

    // True when the system could not start the thread; the caller then owns
    // the object and deletes it.
    bool startFailed() const;

    // The window is going: stop the statement and leave the window alone.
    void abandon() override;
    bool abandoned() const noexcept { return abandoned_; }

    // Waits until the thread has ended, serving the calls it makes to the
    // user interface meanwhile (so it may be called on that thread). False
    // when the deadline passed first.
    bool waitServingCalls(QDeadlineTimer deadline) override;

    // Registers the run and starts the thread, on the user-interface thread,
    // once whoever listens to its signals is connected.
    void begin();

protected:
    WindowThread();

    // Runs `step` on the user-interface thread and waits for it; an error it
    // throws is thrown here. Skipped once the thread was abandoned.
    template <typename Step>
    void inWindow(Step&& step);

    // Runs `work` (the engine's part) where stopStatement() reaches it.
    template <typename Work>
    decltype(auto) inEngine(Work&& work);

    // Stops the statement in the engine now and until the thread ends (user
    // interface thread).
    void stopStatement();
    bool stopAsked() const noexcept { return stopAsked_.isValid(); }

    // How the statement is stopped; from any thread, while the thread is in
    // the engine.
    virtual void cancelInEngine() noexcept = 0;
    virtual void cutConnection() noexcept = 0;

    // Called by abandon() before the statement is stopped, for a thread that
    // must also stop waiting (for its turn on a shared connection).
    virtual void wakeForAbandon() {}

    // Cancels the statement if the thread is in the engine now, and cuts its
    // connection once a stop asked more than db::kCancelGrace ago went
    // unanswered (any thread).
    void cancelWhileInEngine();
    // Cuts the connection if the thread is in the engine now (any thread).
    void cutWhileInEngine();

private:
    // Whether the thread is in the engine, where a cancel reaches its
    // statement; one that came later would stop somebody else's.
    void setInEngine(bool inside);

    std::atomic<bool> abandoned_{false};
    QTimer* cancelTimer_ = nullptr;
    // Since the first request to stop the statement.
    QElapsedTimer stopAsked_;
    std::mutex engineGuard_;
    bool inEngine_ = false;
};

template <typename Step>
void callInWindow(QObject& receiver, const std::atomic<bool>& abandoned, Step&& step) {
    if (abandoned) {
        return;
    }
    std::exception_ptr failure;
    // The window abandons the thread, on that thread, before it goes: served
    // after that, the call does nothing.
    QMetaObject::invokeMethod(
        &receiver,
        [&abandoned, &step, &failure] {
            if (abandoned) {
                return;
            }
            try {
                step();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

template <typename Step>
void WindowThread::inWindow(Step&& step) {
    callInWindow(*this, abandoned_, std::forward<Step>(step));
}

template <typename Work>
decltype(auto) WindowThread::inEngine(Work&& work) {
    struct Inside {
        WindowThread& thread;
        explicit Inside(WindowThread& t) : thread(t) { thread.setInEngine(true); }
        ~Inside() { thread.setInEngine(false); }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;
    } inside(*this);
    return std::forward<Work>(work)();
}

}  // namespace tarnwell
