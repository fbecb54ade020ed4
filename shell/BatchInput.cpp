#include "shell/BatchInput.h"

#include <QByteArray>
#include <cerrno>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

#include "dataaccess/TextTools.h"
#include "output/TextFile.h"
#include "query/SqlFile.h"
#include "shell/BatchStop.h"
#include "shell/StopSignals.h"

namespace tarnwell {

namespace {

const QString kStandardInput = QStringLiteral("-");

QByteArray readStandardInput() {
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count == 0) {
            return bytes;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw openError(kStandardInput, systemMessage(errno));
        }
        bytes.append(buffer, count);
    }
}

QString memoText(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

}  // namespace

BatchSqlText::BatchSqlText(const QString& file) : file_(file) {
    if (file != kStandardInput) {
        text_ = memoText(loadSqlFile(file));
    }
}

QString BatchSqlText::text() {
    if (!text_) {
        text_ = memoText(sqlTextFromBytes(readStandardInput()));
    }
    if (db::trimBlanks(text_->toStdString()).empty()) {
        throw usageStop(QStringLiteral("'%1' holds no SQL to run").arg(file_));
    }
    return *text_;
}

QString BatchSqlText::shownName() const { return file_ == kStandardInput ? QStringLiteral("<stdin>") : file_; }

std::optional<QString> passwordFromEnvironment() {
    if (!qEnvironmentVariableIsSet("TARNWELL_PASSWORD")) {
        return std::nullopt;
    }
    return qEnvironmentVariable("TARNWELL_PASSWORD");
}

bool canAskPassword() { return ::isatty(STDIN_FILENO) == 1; }

QString askPassword(const QString& question, StopSignals& stops) {
    std::fputs(question.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios original{};
    const bool quiet = tcgetattr(STDIN_FILENO, &original) == 0;
    if (quiet) {
        termios silent = original;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        stops.setTerminalToRestore(&original);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, &c, 1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0 || c == '\n') {
            break;
        }
        line.append(c);
    }
    if (quiet) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &original);
        stops.setTerminalToRestore(nullptr);
    }
    std::fputs("\n", stderr);
    return QString::fromLocal8Bit(line).trimmed();
}

}  // namespace tarnwell
