#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace tarnwell::db {

// Who may drive a connection shared by several windows now: its statements
// and its queries serve one user at a time, and whoever drives them (runs a
// statement, fetches a packet, opens or closes the connection) holds the
// turn meanwhile.
//
// Two uses: a run keeps the turn for as long as its statement takes, and the
// others wait for it; a fetch holds it for one packet of a result that the
// next run closes anyway, so whoever wants the turn asks the fetch to yield
// (its packet is stopped in the engine) rather than wait for a server that
// may be slow or gone. Runs waiting go before fetches waiting, each in the
// order they came.
//
// A thread of its own waits for its turn (wait()); the user-interface
// thread, which must never wait for a statement, takes the turn at once or
// is refused (take()).
class StatementTurn {
public:
    enum class Use { Run, Fetch };

    // What a fetch holding the turn does when asked to yield. Called on the
    // thread that wants the turn, never after the holder let it go.
    class Yielder {
    public:
        // Stops the packet in the engine; must not wait for it.
        virtual void yield() noexcept = 0;
        // The engine did not answer within kCancelGrace: cut its connection.
        virtual void cut() noexcept = 0;

    protected:
        ~Yielder() = default;
    };

    // The turn, until destroyed or released. Move-only; empty when the turn
    // was not had.
    class Held {
    public:
        Held() = default;
        Held(Held&& other) noexcept;
        Held& operator=(Held&& other) noexcept;
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        ~Held() { release(); }

        explicit operator bool() const noexcept { return turn_ != nullptr; }
        void release() noexcept;

    private:
        friend class StatementTurn;
        explicit Held(StatementTurn& turn) : turn_(&turn) {}
        StatementTurn* turn_ = nullptr;
    };

    StatementTurn() = default;
    StatementTurn(const StatementTurn&) = delete;
    StatementTurn& operator=(const StatementTurn&) = delete;

    // Waits for the turn. A fetch holding it is asked to yield when a run
    // waits. Returns an empty Held once `givenUp` holds; it is asked again
    // whenever wakeWaiters() is called. `yielder` (for a fetch) stays valid
    // while the turn is held.
    Held wait(Use use, Yielder* yielder, const std::function<bool()>& givenUp);

    // The turn now, for a thread that must not wait for a statement: when a
    // fetch holds it, the fetch is asked to yield and given about twice
    // kCancelGrace (its connection cut half-way). Throws DbError, in the
    // words the windows show, when a run holds the turn or waits for it, or
    // the fetch did not let go.
    Held take(Use use, Yielder* yielder = nullptr);
    // The turn if nobody holds it or waits for it, else nothing; never waits
    // and never hurries a holder.
    Held tryTake(Use use);

    // Waiters look at their givenUp condition again.
    void wakeWaiters();

    // Whether anybody holds the turn or waits for it.
    bool busy() const;

    // The refusal take() throws.
    static const char* const kBusyMessage;

private:
    struct Waiter {
        std::uint64_t ticket;
        Use use;
    };

    // Next in line among the waiters: the first run, else the first fetch.
    bool isNext(std::uint64_t ticket) const;
    // Asks a fetch holding the turn to yield, and cuts it after the grace.
    void hurryHolder(std::chrono::steady_clock::time_point& askedAt);
    Held hold(Use use, Yielder* yielder);
    void release() noexcept;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    Use holderUse_ = Use::Run;
    Yielder* holderYielder_ = nullptr;
    bool holderAsked_ = false;
    bool holderCut_ = false;
    bool taking_ = false;  // take() waits for a fetch to yield: no waiter slips in
    std::deque<Waiter> waiting_;
    std::uint64_t nextTicket_ = 0;
};

}  // namespace tarnwell::db
