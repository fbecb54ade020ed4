#include "shell/StopSignals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <unistd.h>
#include <utility>

#include "dataaccess/Connection.h"

namespace tarnwell {

StopSignals::StopSignals() {
    sigemptyset(&watched_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, kWakeSignal}) {
        sigaddset(&watched_, signal);
    }
    pthread_sigmask(SIG_BLOCK, &watched_, &previousMask_);
    watcher_ = std::thread([this] { watch(); });
}

StopSignals::~StopSignals() {
    done_ = true;
    pthread_kill(watcher_.native_handle(), kWakeSignal);
    watcher_.join();
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopSignals::setCancel(std::function<void()> cancel, std::function<void()> cut) {
    std::lock_guard lock(mutex_);
    cancel_ = std::move(cancel);
    cut_ = std::move(cut);
}

void StopSignals::setTerminalToRestore(const termios* settings) {
    std::lock_guard lock(mutex_);
    terminal_ = settings != nullptr ? std::optional<termios>(*settings) : std::nullopt;
}

bool StopSignals::stopRequested() const {
    if (received_ != 0 || pendingSeen_ != 0) {
        return true;
    }
    sigset_t pending;
    if (sigpending(&pending) == 0) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            if (sigismember(&pending, signal) == 1) {
                pendingSeen_ = signal;
                return true;
            }
        }
    }
    return false;
}

void StopSignals::endIfStopped() {
    if (const int signal = received_ != 0 ? received_.load() : pendingSeen_.load()) {
        endBy(signal);
    }
}

void StopSignals::watch() {
    int signal = 0;
    while (!done_) {
        if (sigwait(&watched_, &signal) != 0 || done_ || signal == kWakeSignal) {
            continue;
        }
        received_ = signal;
        if (!cleanupPending_) {
            endBy(signal);
        }
        // A cancel that reaches the engine before the statement does is
        // missed: it is repeated until the work has ended. A server that
        // does not answer it (a stalled backend) would hold the work for
        // ever: its connection is cut.
        const auto cutAt = std::chrono::steady_clock::now() + db::kCancelGrace;
        const timespec pause{0, 20'000'000};
        while (!done_) {
            {
                std::lock_guard lock(mutex_);
                if (cancel_) {
                    cancel_();
                }
                if (cut_ && std::chrono::steady_clock::now() >= cutAt) {
                    cut_();
                }
            }
            sigtimedwait(&watched_, nullptr, &pause);
        }
    }
}

void StopSignals::endBy(int signal) {
    {
        std::lock_guard lock(mutex_);
        if (terminal_) {
            tcsetattr(STDIN_FILENO, TCSANOW, &*terminal_);
            std::fputs("\n", stderr);
        }
    }
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    std::_Exit(128 + signal);
}

CancelScope::CancelScope(StopSignals& stops, std::function<void()> cancel, std::function<void()> cut)
    : watched_(stops) {
    watched_.setCancel(std::move(cancel), std::move(cut));
    watched_.setCleanupPending(true);
}

CancelScope::~CancelScope() {
    watched_.setCleanupPending(false);
    watched_.setCancel({}, {});
}

}  // namespace tarnwell
