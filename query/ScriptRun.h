#pragma once

#include <QList>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowSource.h"
#include "dataaccess/RowStore.h"

namespace tarnwell {

namespace db {
class ClientDataSet;
class Statement;
}  // namespace db

class QueryRunSink;

// A statement of a run, as the window cut it from its memo.
struct RunStatement {
    QString text;
    int line = 1;      // the memo's line it starts on, from 1
    int position = 0;  // the memo's position it starts at
};

// The first rows of a result whose statement has gone: a script keeps them
// for the grid while the connection runs the statements after it. Refreshed,
// it gives the same rows again; nothing runs.
class HeldResult final : public db::RowSource {
public:
    // Drops what it holds and takes the columns and at most `maxRows` rows of
    // `source`'s open result. Throws DbError as the source's fetch does.
    void take(db::RowSource& source, std::size_t maxRows);

    bool active() const override { return active_; }
    const std::vector<db::Column>& columns() const override { return columns_; }
    std::size_t fetch(db::RowStore& rows, std::size_t maxRows) override;
    bool atEnd() const override { return !active_ || next_ >= rows_.rowCount(); }
    void rerun() override;
    std::uint64_t runId() const override { return runId_; }

private:
    std::vector<db::Column> columns_;
    db::RowStore rows_;
    std::size_t next_ = 0;
    bool active_ = false;
    std::uint64_t runId_ = 0;
};

// How a script ended.
struct ScriptOutcome {
    // The statement (from 0) that failed, or the first one a stop left
    // unrun; nothing when every statement ran.
    std::optional<std::size_t> stoppedAt;
    // The engine's words for the failure; empty for a stop between
    // statements.
    QString message;
    std::optional<db::ErrorPosition> position;
    // The last statement that ran brought rows to the grid.
    bool endedWithRows = false;
};

// What a script needs of whoever runs it: `inWindow` carries a step to the
// window (on its thread, waiting for it), `runInEngine` runs the statement's
// SQL as a run does (Statement::run()) where a stop can reach it, and
// `stopRequested` tells that the user asked to stop.
struct ScriptHooks {
    std::function<void(const std::function<void(QueryRunSink&)>&)> inWindow;
    std::function<bool()> runInEngine;
    std::function<bool()> stopRequested;
};

// Runs `statements` one after another on `statement`, each as a run of its
// own (committed by the engine as it ends), and writes a line for each on the
// Messages page: its number, line and first line, the rows it changed or
// brought, and its time. The result set of the last statement goes to the
// grid as a run's does; that of an earlier one goes there with its first
// packet, which `held` keeps (`shown` is the grid's dataset, for the count).
// The first failure, or a stop, ends the script; the caller reports it.
ScriptOutcome runScript(db::Statement& statement, HeldResult& held, const db::ClientDataSet& shown,
                        const QList<RunStatement>& statements, int packetRecords, const ScriptHooks& hooks);

// How the messages name a statement of a script: "第 3 句（第 12 行）".
QString statementLabel(std::size_t index, int line);
// The text that reports a script's end by failure or stop, behind the
// engine's prefix ("BDE_查詢失敗: ").
QString scriptFailureText(const QList<RunStatement>& statements, const ScriptOutcome& outcome);

}  // namespace tarnwell
