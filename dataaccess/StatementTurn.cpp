#include "dataaccess/StatementTurn.h"

#include <algorithm>
#include <utility>

#include "dataaccess/Connection.h"
#include "dataaccess/DbError.h"

namespace tarnwell::db {

const char* const StatementTurn::kBusyMessage = "連結正在執行其他查詢，請稍後再試";

StatementTurn::Held::Held(Held&& other) noexcept : turn_(std::exchange(other.turn_, nullptr)) {}

StatementTurn::Held& StatementTurn::Held::operator=(Held&& other) noexcept {
    if (this != &other) {
        release();
        turn_ = std::exchange(other.turn_, nullptr);
    }
    return *this;
}

void StatementTurn::Held::release() noexcept {
    if (StatementTurn* turn = std::exchange(turn_, nullptr)) {
        turn->release();
    }
}

bool StatementTurn::isNext(std::uint64_t ticket) const {
    const auto firstRun =
        std::find_if(waiting_.begin(), waiting_.end(), [](const Waiter& waiter) { return waiter.use == Use::Run; });
    const auto next = firstRun != waiting_.end() ? firstRun : waiting_.begin();
    return next != waiting_.end() && next->ticket == ticket;
}

void StatementTurn::hurryHolder(std::chrono::steady_clock::time_point& askedAt) {
    if (!held_ || holderUse_ != Use::Fetch || holderYielder_ == nullptr) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!holderAsked_) {
        holderAsked_ = true;
        askedAt = now;
        holderYielder_->yield();
    } else if (!holderCut_ && now - askedAt >= kCancelGrace) {
        holderCut_ = true;
        holderYielder_->cut();
    }
}

StatementTurn::Held StatementTurn::hold(Use use, Yielder* yielder) {
    held_ = true;
    holderUse_ = use;
    holderYielder_ = yielder;
    holderAsked_ = false;
    holderCut_ = false;
    return Held(*this);
}

StatementTurn::Held StatementTurn::wait(Use use, Yielder* yielder, const std::function<bool()>& givenUp) {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = ++nextTicket_;
    waiting_.push_back({ticket, use});
    auto askedAt = std::chrono::steady_clock::now();
    for (;;) {
        if (givenUp && givenUp()) {
            std::erase_if(waiting_, [ticket](const Waiter& waiter) { return waiter.ticket == ticket; });
            changed_.notify_all();
            return {};
        }
        if (!held_ && !taking_ && isNext(ticket)) {
            std::erase_if(waiting_, [ticket](const Waiter& waiter) { return waiter.ticket == ticket; });
            return hold(use, yielder);
        }
        if (use == Use::Run && held_ && holderUse_ == Use::Fetch) {
            hurryHolder(askedAt);
            changed_.wait_for(lock, kCancelGrace);
        } else {
            changed_.wait(lock);
        }
    }
}

StatementTurn::Held StatementTurn::take(Use use, Yielder* yielder) {
    std::unique_lock lock(mutex_);
    const bool runWaits =
        std::any_of(waiting_.begin(), waiting_.end(), [](const Waiter& waiter) { return waiter.use == Use::Run; });
    // A run, or a holder that cannot be hurried, keeps the turn as long as
    // it needs.
    if ((held_ && (holderUse_ == Use::Run || holderYielder_ == nullptr)) || runWaits || taking_) {
        throw DbError(kBusyMessage);
    }
    if (held_) {
        taking_ = true;
        auto askedAt = std::chrono::steady_clock::now();
        const auto deadline = askedAt + 2 * kCancelGrace;
        while (held_ && std::chrono::steady_clock::now() < deadline) {
            hurryHolder(askedAt);
            changed_.wait_until(lock, holderCut_ ? deadline : std::min(deadline, askedAt + kCancelGrace));
        }
        taking_ = false;
        if (held_) {
            changed_.notify_all();
            throw DbError(kBusyMessage);
        }
    }
    return hold(use, yielder);
}

StatementTurn::Held StatementTurn::tryTake(Use use) {
    std::lock_guard lock(mutex_);
    if (held_ || taking_ || !waiting_.empty()) {
        return {};
    }
    return hold(use, nullptr);
}

void StatementTurn::release() noexcept {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
        holderYielder_ = nullptr;
    }
    changed_.notify_all();
}

void StatementTurn::wakeWaiters() {
    // Taking the lock orders the wake after a waiter's look at its condition.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

bool StatementTurn::busy() const {
    std::lock_guard lock(mutex_);
    return held_ || !waiting_.empty();
}

}  // namespace tarnwell::db
