#pragma once

#include <QString>

namespace tarnwell {

// Exit statuses of a batch run.
inline constexpr int kBatchDone = 0;
inline constexpr int kBatchFailed = 1;     // a database or file error
inline constexpr int kBatchUsage = 2;      // the command line asks for what cannot be
inline constexpr int kBatchRowLimit = 3;   // more records than a spreadsheet holds

// A batch run that ends before its end: the exit status and the words for
// standard error.
struct BatchStop {
    int exitCode;
    QString message;
};

// A usage error: "tarnwell: " and what is wrong.
inline BatchStop usageStop(const QString& message) {
    return {kBatchUsage, QStringLiteral("tarnwell: %1").arg(message)};
}

}  // namespace tarnwell
