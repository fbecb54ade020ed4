#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <optional>
#include <termios.h>
#include <thread>

namespace tarnwell {

// SIGINT, SIGTERM and SIGHUP for a batch run, taken by a thread of their own
// rather than ending the process at once: once a file is being written, the
// signal stops the work (the statement in the engine too), the files in the
// making go, and then the process ends by the signal, as the shell expects.
// Before anything is written there is nothing to clean up, and the signal
// ends the process at once (a login that waits for an unreachable server,
// say).
//
// Made before any other thread of the process, which all inherit the
// blocked signals.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // What stops the running statement, called again and again from the
    // watcher after a signal until the work has ended, and what cuts its
    // connection once the engine has had db::kCancelGrace to answer.
    void setCancel(std::function<void()> cancel, std::function<void()> cut);
    // While set, a signal asks the work to stop instead of ending the
    // process.
    void setCleanupPending(bool pending) { cleanupPending_ = pending; }
    // The terminal settings to put back when a signal ends the process.
    void setTerminalToRestore(const termios* settings);

    // A signal sent but not yet taken by the watcher counts too, so that the
    // last check before a file replaces its target never misses one that
    // came before it.
    bool stopRequested() const;

    // Ends the process by the signal received, if any.
    void endIfStopped();

private:
    // Wakes the watcher for the end; never sent from outside.
    static constexpr int kWakeSignal = SIGUSR2;

    void watch();
    [[noreturn]] void endBy(int signal);

    sigset_t watched_{};
    sigset_t previousMask_{};
    std::thread watcher_;
    std::atomic<bool> done_{false};
    std::atomic<bool> cleanupPending_{false};
    std::atomic<int> received_{0};
    mutable std::atomic<int> pendingSeen_{0};
    std::mutex mutex_;
    std::function<void()> cancel_;
    std::function<void()> cut_;
    std::optional<termios> terminal_;
};

// While the statements run and their result is written, a signal stops them
// through `cancel` rather than ending the process.
class CancelScope {
public:
    CancelScope(StopSignals& stops, std::function<void()> cancel, std::function<void()> cut);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    StopSignals& watched_;
};

}  // namespace tarnwell
