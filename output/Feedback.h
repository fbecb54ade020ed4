#pragma once

#include <cstdint>
#include <exception>

namespace tarnwell {

// How long work (an export, a report, a batch run) tells its caller how far it
// got and learns that it should stop, without knowing who asks: the query
// window answers with a progress dialog, the command line with a line on
// standard error, tests with nothing at all.
//
// The work calls setProgress() as it goes (often: an implementation keeps it
// cheap) and stops at the next convenient point once canceled() holds, leaving
// nothing half-done behind, typically by throwing OperationCanceled.
class Feedback {
public:
    virtual ~Feedback() = default;

    // Units done so far, in the work's own unit (records, rows, pages).
    virtual void setProgress(std::int64_t done) = 0;
    virtual bool canceled() const = 0;
    // The work is over but for what it tells the user last (a message box):
    // whatever shows its progress goes first.
    virtual void finished() {}

    // Throws OperationCanceled once the caller asked to stop.
    void throwIfCanceled() const;
};

// A stop the user asked for: a failure that no message reports.
class OperationCanceled : public std::exception {
public:
    const char* what() const noexcept override { return "operation canceled"; }
};

// Feedback for work nobody watches.
class NoFeedback final : public Feedback {
public:
    void setProgress(std::int64_t) override {}
    bool canceled() const override { return false; }
};

inline void Feedback::throwIfCanceled() const {
    if (canceled()) {
        throw OperationCanceled();
    }
}

}  // namespace tarnwell
