#include "query/ScriptRun.h"

#include <QElapsedTimer>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Statement.h"
#include "query/UQueryThread.h"
#include "session/RunMessages.h"

namespace tarnwell {

namespace {

// A statement's first line on the Messages page: enough to know it again.
constexpr qsizetype kFirstLineChars = 60;

QString firstLineOf(const QString& text) {
    QString line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (line.size() > kFirstLineChars) {
        line = line.left(kFirstLineChars) + QStringLiteral("…");
    }
    return line;
}

QString statementLine(std::size_t index, const RunStatement& statement, const QString& count,
                      const QString& elapsed) {
    QString line = statementLabel(index, statement.line) + QStringLiteral("：") + firstLineOf(statement.text);
    if (!count.isEmpty()) {
        line += QStringLiteral("　") + count;
    }
    return line + QStringLiteral("　") + elapsed;
}

}  // namespace

void HeldResult::take(db::RowSource& source, std::size_t maxRows) {
    active_ = false;
    ++runId_;
    next_ = 0;
    columns_ = source.columns();
    rows_ = db::RowStore(columns_.size());
    while (rows_.rowCount() < maxRows && !source.atEnd()) {
        if (source.fetch(rows_, maxRows - rows_.rowCount()) == 0) {
            break;
        }
    }
    active_ = true;
}

std::size_t HeldResult::fetch(db::RowStore& rows, std::size_t maxRows) {
    std::vector<db::RowStore::Cell> cells(columns_.size());
    std::size_t copied = 0;
    for (; copied < maxRows && next_ < rows_.rowCount(); ++copied, ++next_) {
        rows_.cells(next_, cells.data());
        rows.beginRow();
        for (const db::RowStore::Cell& cell : cells) {
            cell.isNull ? rows.appendNull() : rows.append(cell.bytes);
        }
        rows.endRow();
    }
    return copied;
}

void HeldResult::rerun() {
    next_ = 0;
    ++runId_;
}

QString statementLabel(std::size_t index, int line) {
    return QStringLiteral("第 %1 句（第 %2 行）").arg(index + 1).arg(line);
}

QString scriptFailureText(const QList<RunStatement>& statements, const ScriptOutcome& outcome) {
    const std::size_t index = outcome.stoppedAt.value_or(0);
    if (outcome.message.isEmpty()) {
        return QStringLiteral("已停止，第 %1 句起未執行").arg(index + 1);
    }
    const int line = index < static_cast<std::size_t>(statements.size())
                         ? statements.at(static_cast<qsizetype>(index)).line
                         : 1;
    return statementLabel(index, line) + QStringLiteral("：") + outcome.message;
}

ScriptOutcome runScript(db::Statement& statement, HeldResult& held, const db::ClientDataSet& shown,
                        const QList<RunStatement>& statements, int packetRecords, const ScriptHooks& hooks) {
    ScriptOutcome outcome;
    for (qsizetype i = 0; i < statements.size(); ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (hooks.stopRequested()) {
            outcome.stoppedAt = index;
            return outcome;
        }
        const RunStatement& current = statements.at(i);
        QElapsedTimer clock;
        clock.start();
        try {
            statement.close();
            statement.setSql(current.text.toStdString());
            QString count;
            if (hooks.runInEngine()) {
                std::size_t fetched = 0;
                if (i + 1 == statements.size()) {
                    hooks.inWindow([&](QueryRunSink& window) {
                        window.bindResult(statement, packetRecords);
                        fetched = shown.recordCount();
                    });
                } else {
                    // The connection moves on to the next statement: the
                    // grid keeps this one's first packet.
                    hooks.inWindow([](QueryRunSink& window) { window.clearResult(); });
                    held.take(statement, static_cast<std::size_t>(std::max(packetRecords, 1)));
                    statement.close();
                    hooks.inWindow([&](QueryRunSink& window) {
                        window.bindResult(held, packetRecords);
                        fetched = shown.recordCount();
                    });
                }
                count = QStringLiteral("取回 %1 筆").arg(fetched);
                outcome.endedWithRows = true;
            } else {
                // Some engines do not count what a statement changed.
                if (const std::int64_t changed = statement.rowsAffected(); changed >= 0) {
                    count = rowsAffectedLine(changed);
                }
                outcome.endedWithRows = false;
            }
            const QString line =
                statementLine(index, current, count, elapsedLine(clock.elapsed()));
            hooks.inWindow([&](QueryRunSink& window) { window.addMessageLines(line); });
        } catch (const std::exception& error) {
            outcome.stoppedAt = index;
            outcome.message = QString::fromUtf8(error.what());
            if (const auto* engineError = dynamic_cast<const db::DbError*>(&error)) {
                outcome.position = engineError->position();
            }
            return outcome;
        }
    }
    return outcome;
}

}  // namespace tarnwell
