#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "shell/BatchStop.h"
#include "shell/CommandLine.h"

namespace tarnwell {

class Feedback;
class FileReplacement;
class ResultStream;

// "標準輸出": standard output, as messages name it.
QString standardOutputName();

// Writes the result read from `stream` as the options ask, with the query
// window's writers (CSV, delimited text, the spreadsheet, the report as a
// PDF file), to the options' output: a file, which appears whole or not at
// all, or standard output ("-"), where CSV and text go as the rows come
// while a spreadsheet or PDF file is made in a private folder and copied out
// once whole. Throws BatchStop (more records than a spreadsheet holds, a
// field --fields names that the result lacks), the writers' and the
// engine's errors, and OperationCanceled.
void writeResult(ResultStream& stream, const BatchOptions& options, const Feedback& feedback);

// What a script writes: the result of its last statement that returned one.
// Each result is written in a private folder, in place of the one before;
// the target gets the last only once every statement has run. A target
// that cannot be replaced (no plain file, read-only) is refused before the
// first statement runs.
class ScriptResult {
public:
    explicit ScriptResult(const BatchOptions& options);
    ~ScriptResult();
    ScriptResult(const ScriptResult&) = delete;
    ScriptResult& operator=(const ScriptResult&) = delete;

    // Writes a result in place of the one written before, reading it to its
    // end (past --records too). What keeps it from being written (more records than a sheet
    // holds, a field --fields names that it lacks) is that result's fate,
    // reported only if it stays the last.
    void write(ResultStream& stream, const Feedback& feedback);
    // Whether a statement returned a result.
    bool holdsResult() const { return written_ || refused_.has_value(); }
    // Puts the last result in the target's place, or onto standard output,
    // unless `stop` asks to stop by then; nothing when no statement returned
    // a result. Throws the BatchStop that kept the last result from being
    // written.
    void commit(const Feedback& stop);
    // Drops what was written; the target stays as it was.
    void discard() noexcept;

private:
    BatchOptions options_;
    std::unique_ptr<FileReplacement> target_;  // none for standard output
    QTemporaryDir scratch_;
    QString scratchFile_;
    bool written_ = false;
    std::optional<BatchStop> refused_;
};

}  // namespace tarnwell
