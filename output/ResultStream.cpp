#include "output/ResultStream.h"

#include <chrono>
#include <utility>

#include "dataaccess/Connection.h"
#include "output/Feedback.h"

namespace tarnwell {

ResultStream::ResultStream(db::RowSource& source, Feedback& feedback, std::function<void()> cancel,
                           std::function<void()> cut)
    : source_(source),
      feedback_(feedback),
      cancel_(std::move(cancel)),
      cut_(std::move(cut)),
      rows_(source.columns().size()),
      next_(source.columns().size()) {
    fetching_ = !source_.atEnd();
    fetcher_ = std::thread([this] { fetchWhenAsked(); });
}

ResultStream::~ResultStream() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    // Again and again, as a cancel that comes just before the engine starts
    // can be missed.
    const auto cutAt = std::chrono::steady_clock::now() + db::kCancelGrace;
    while (fetching_) {
        lock.unlock();
        cancel_();
        if (std::chrono::steady_clock::now() >= cutAt) {
            cut_();
        }
        lock.lock();
        changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !fetching_; });
    }
    lock.unlock();
    fetcher_.join();
}

bool ResultStream::atEnd() {
    while (row_ >= rows_.rowCount()) {
        if (!takeNextPacket()) {
            return true;
        }
        feedback_.setProgress(fetched_);
        feedback_.throwIfCanceled();
    }
    return false;
}

bool ResultStream::takeNextPacket() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !fetching_; });
    if (failure_) {
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    if (!packetReady_) {
        return false;  // the last packet was taken already
    }
    packetReady_ = false;
    std::swap(rows_, next_);
    row_ = 0;
    fetched_ += static_cast<std::int64_t>(rows_.rowCount());
    if (!finished_) {
        fetching_ = true;
        changed_.notify_all();
    }
    return true;
}

void ResultStream::fetchWhenAsked() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return fetching_ || stopping_; });
        if (!fetching_) {
            return;
        }
        lock.unlock();
        std::exception_ptr failure;
        bool finished = false;
        try {
            next_.clear();
            source_.fetch(next_, kPacketRows);
            finished = source_.atEnd();
        } catch (...) {
            failure = std::current_exception();
            finished = true;
        }
        lock.lock();
        failure_ = failure;
        finished_ = finished;
        packetReady_ = !failure;
        fetching_ = false;
        changed_.notify_all();
    }
}

}  // namespace tarnwell
