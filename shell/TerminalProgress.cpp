#include "shell/TerminalProgress.h"

#include <QLocale>
#include <unistd.h>

#include "output/FileReplacement.h"

namespace tarnwell {

QString progressLine(std::int64_t done, double seconds) {
    const QLocale locale = QLocale::system();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    return QStringLiteral("%1 筆 (%2 筆/秒)").arg(locale.toString(static_cast<qlonglong>(done)),
                                              locale.toString(static_cast<qlonglong>(rate)));
}

TerminalProgress::TerminalProgress(int descriptor, std::function<bool()> canceled)
    : descriptor_(descriptor), terminal_(::isatty(descriptor) == 1), canceled_(std::move(canceled)) {
    started_.start();
}

TerminalProgress::~TerminalProgress() { finish(); }

void TerminalProgress::setProgress(std::int64_t done) {
    done_ = done;
    if (!terminal_) {
        return;
    }
    const qint64 now = started_.elapsed();
    if (now < kShowAfterMs || (shownAt_ >= 0 && now - shownAt_ < kRedrawMs)) {
        return;
    }
    shownAt_ = now;
    show();
}

void TerminalProgress::show() {
    // Back to the start of the line, the old text cleared.
    // Progress is not worth a failure.
    (void)writeAll(descriptor_, "\r\x1b[K" + progressLine(done_, static_cast<double>(started_.elapsed()) / 1000).toLocal8Bit());
}

void TerminalProgress::finish() {
    if (shownAt_ < 0) {
        return;
    }
    show();
    (void)writeAll(descriptor_, "\n");
    shownAt_ = -1;
    terminal_ = false;
}

}  // namespace tarnwell
