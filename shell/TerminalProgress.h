#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>

#include "output/Feedback.h"

namespace tarnwell {

// Progress of work without a window, for the person at the terminal: on a
// descriptor (standard error) that is a terminal, after about half a second,
// a line "n 筆 (r 筆/秒)" rewritten in place a few times a second; nothing at
// all where the descriptor is a file or a pipe, so logs and scripts see only
// what the work itself writes. Whether the work should stop is asked of
// `canceled`.
class TerminalProgress final : public Feedback {
public:
    explicit TerminalProgress(int descriptor, std::function<bool()> canceled = {});
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void setProgress(std::int64_t done) override;
    bool canceled() const override { return canceled_ && canceled_(); }

    // The last count, on a line of its own when a line was shown.
    void finish();

    static constexpr int kShowAfterMs = 500;
    static constexpr int kRedrawMs = 250;

private:
    void show();

    int descriptor_;
    bool terminal_;
    std::function<bool()> canceled_;
    QElapsedTimer started_;
    qint64 shownAt_ = -1;  // ms; -1: nothing shown yet
    std::int64_t done_ = 0;
};

// The text of the progress line.
QString progressLine(std::int64_t done, double seconds);

}  // namespace tarnwell
