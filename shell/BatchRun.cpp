#include "shell/BatchRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/Connection.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "dataaccess/SqlText.h"
#include "dataaccess/TextTools.h"
#include "output/ResultStream.h"
#include "output/TextFile.h"
#include "session/RunMessages.h"
#include "session/Workspace.h"
#include "shell/BatchInput.h"
#include "shell/BatchOutput.h"
#include "shell/StandardStreams.h"
#include "shell/StopSignals.h"
#include "shell/TerminalProgress.h"
#include "sqlsyntax/StatementSplitter.h"
#include "ui/Fonts.h"

namespace tarnwell {

namespace {

// The local name of the batch run's database in the alias engine's session.
constexpr const char* kDatabaseName = "BDE_BATCH";

void printLine(const QString& text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString engineWords(const std::exception& error) { return QString::fromUtf8(error.what()); }

// One of the two engines, connected: the statement to run, how to stop it,
// and the SQL dialect of the database behind it.
struct Engine {
    db::Statement* statement = nullptr;
    RunEngine kind = RunEngine::Alias;
    sql::Dialect dialect = sql::Dialect::Generic;
    std::function<void()> cancel;
    std::function<void()> cut;
};

// The messages of a run without a result set, as the query window's
// Messages page gets them.
void reportRowsAffected(const QString& started, std::int64_t rowsAffected, qint64 milliseconds) {
    printLine(runStartedLine(started));
    printLine(runEndedLine(currentDateTimeText()));
    if (rowsAffected >= 0) {
        printLine(rowsAffectedLine(rowsAffected));
    }
    printLine(elapsedLine(milliseconds));
}

// The statements of the text, where the database's own client would end
// them.
std::vector<sql::Utf16Statement> statementsOf(const QString& text, sql::Dialect dialect) {
    return sql::splitStatements(
        dialect, std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}

std::string utf8(std::u16string_view text) {
    return QStringView(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
}

BatchStop noSqlStop(const BatchOptions& options) {
    return usageStop(QStringLiteral("'%1' holds no SQL to run").arg(options.sqlFile));
}

// Without --script the file is one statement, as a query window runs its
// memo. The engines differ in what they make of a text of several (one runs
// them all and returns the last result, another returns the first), so such
// a text is refused before anything runs, and so is one of comments only.
void requireOneStatement(const QString& sql, const Engine& engine, const BatchOptions& options) {
    const std::vector<sql::Utf16Statement> statements = statementsOf(sql, engine.dialect);
    if (statements.empty()) {
        throw noSqlStop(options);
    }
    if (statements.size() > 1) {
        throw usageStop(QStringLiteral("'%1' holds %2 statements, the second from line %3: without --script the "
                                       "file is one statement; --script runs them one by one")
                            .arg(options.sqlFile)
                            .arg(statements.size())
                            .arg(statements[1].line));
    }
}

int runStatement(Engine& engine, const QString& sql, const BatchOptions& options, StopSignals& stops) {
    // A NUL is refused in the engines' words, whatever else the text holds.
    try {
        db::refuseNulCharacter(sql.toStdString());
    } catch (const db::DbError& error) {
        throw BatchStop{kBatchFailed, queryFailurePrefix(engine.kind) + engineWords(error)};
    }
    requireOneStatement(sql, engine, options);

    const CancelScope cancelScope(stops, engine.cancel, engine.cut);
    TerminalProgress progress(STDERR_FILENO, [&stops] { return stops.stopRequested(); });
    const QString started = currentDateTimeText();
    QElapsedTimer clock;
    clock.start();
    try {
        engine.statement->setSql(sql.toStdString());
        if (!engine.statement->run()) {
            reportRowsAffected(started, engine.statement->rowsAffected(), clock.elapsed());
            return kBatchDone;
        }
        ResultStream stream(*engine.statement, progress, engine.cancel, engine.cut);
        writeResult(stream, options, progress);
        progress.finish();
    } catch (const db::DbError& error) {
        progress.finish();
        // The writers and what they made are gone by now: a stop ends the
        // process here, without waiting on the engine any further.
        stops.endIfStopped();
        throw BatchStop{kBatchFailed, queryFailurePrefix(engine.kind) + engineWords(error)};
    } catch (const OperationCanceled&) {
        progress.finish();
        stops.endIfStopped();
        throw;
    }
    return kBatchDone;
}

// `--script`: the statements one after another, each committed as the
// engine's own client commits it outside a transaction. The first that
// fails ends the run, reported as compilers and psql report: where it
// starts ("FILE:LINE: ") and the engine's words; the statements before it
// stay done and nothing is written. Otherwise the result of the last
// statement that returned one is written, once all have run; with none, the
// Messages lines count the rows the statements changed.
int runScript(Engine& engine, const QString& sql, const BatchSqlText& source, const BatchOptions& options,
              StopSignals& stops) {
    const std::vector<sql::Utf16Statement> statements = statementsOf(sql, engine.dialect);
    if (statements.empty()) {
        throw noSqlStop(options);
    }
    const auto failure = [&source](const sql::Utf16Statement& statement, const std::exception& error) {
        return BatchStop{kBatchFailed, QStringLiteral("%1:%2: ").arg(source.shownName()).arg(statement.line) +
                                           engineWords(error)};
    };
    // Before anything runs, rather than half-way.
    for (const sql::Utf16Statement& statement : statements) {
        try {
            db::refuseNulCharacter(utf8(statement.text));
        } catch (const db::DbError& error) {
            throw failure(statement, error);
        }
    }
    const CancelScope cancelScope(stops, engine.cancel, engine.cut);
    // Made once a signal no longer ends the process at once, as it holds
    // files to remove.
    ScriptResult result(options);
    TerminalProgress progress(STDERR_FILENO, [&stops] { return stops.stopRequested(); });
    const QString started = currentDateTimeText();
    QElapsedTimer clock;
    clock.start();
    std::int64_t rowsAffected = -1;
    for (const sql::Utf16Statement& statement : statements) {
        try {
            // A statement too quick for the cancel to reach is no reason to
            // run the next one after a stop.
            progress.throwIfCanceled();
            engine.statement->setSql(utf8(statement.text));
            if (engine.statement->run()) {
                ResultStream stream(*engine.statement, progress, engine.cancel, engine.cut);
                result.write(stream, progress);
            } else if (engine.statement->rowsAffected() >= 0) {
                rowsAffected = std::max<std::int64_t>(rowsAffected, 0) + engine.statement->rowsAffected();
            }
        } catch (const db::DbError& error) {
            progress.finish();
            // As for a single statement, a stop ends the process here, once
            // what was being made is gone.
            result.discard();
            stops.endIfStopped();
            throw failure(statement, error);
        } catch (const OperationCanceled&) {
            progress.finish();
            result.discard();
            stops.endIfStopped();
            throw;
        }
    }
    engine.statement->close();
    result.commit(progress);
    progress.finish();
    if (!result.holdsResult()) {
        reportRowsAffected(started, rowsAffected, clock.elapsed());
    }
    return kBatchDone;
}

int runSql(Engine& engine, const QString& sql, const BatchSqlText& source, const BatchOptions& options,
           StopSignals& stops) {
    return options.script ? runScript(engine, sql, source, options, stops) : runStatement(engine, sql, options, stops);
}

db::ParamList aliasParamsOf(db::Session& session, const QString& alias) {
    try {
        return session.aliasParams(alias.toStdString());
    } catch (const db::DbError&) {
        QStringList known;
        for (const std::string& name : session.aliasNames()) {
            known << QString::fromStdString(name);
        }
        QString message = QStringLiteral("unknown alias '%1' (aliases: %2)").arg(alias, known.join(QStringLiteral(", ")));
        for (const std::string& problem : session.configurationProblems()) {
            message += u'\n' + QString::fromStdString(problem);
        }
        throw usageStop(message);
    }
}

int runOnAlias(Workspace& workspace, const BatchOptions& options, StopSignals& stops) {
    db::Session& session = workspace.Session1();
    BatchSqlText source(options.sqlFile);
    const db::ParamList aliasParams = aliasParamsOf(session, options.alias);
    std::optional<QString> password = passwordFromEnvironment();
    const bool needsPassword = !db::equalsIgnoringCase(session.aliasDriverName(options.alias.toStdString()), "SQLITE");
    if (!password && !aliasParams.contains("PASSWORD") && needsPassword && canAskPassword()) {
        const QString user = options.user.value_or(QString::fromStdString(aliasParams.value("USER NAME")));
        password = askPassword(QStringLiteral("%1 的密碼%2: ")
                                   .arg(options.alias, user.isEmpty() ? QString() : QStringLiteral(" (") + user + u')'),
                               stops);
    }
    const QString sql = source.text();

    db::Database database(session, kDatabaseName);
    database.setAliasName(options.alias.toStdString());
    if (options.user) {
        database.params().append("USER NAME", options.user->toStdString());
    }
    if (password) {
        database.params().append("PASSWORD", password->toStdString());
    }
    try {
        database.open();
    } catch (const db::DbError& error) {
        throw BatchStop{kBatchFailed, connectionFailurePrefix(RunEngine::Alias) + engineWords(error)};
    }
    db::Query query(session);
    query.setDatabaseName(kDatabaseName);
    Engine engine{&query, RunEngine::Alias, sql::dialectForDbmsName(database.dbmsName()),
                  [&query, &database] {
                      query.cancel();
                      database.cancel();
                  },
                  [&database] { database.cutConnection(); }};
    return runSql(engine, sql, source, options, stops);
}

int runOnConnectionString(Workspace& workspace, const BatchOptions& options, StopSignals& stops) {
    BatchSqlText source(options.sqlFile);
    db::ConnectionString string;
    bool readable = true;
    try {
        string = db::ConnectionString::parse(options.connectionString.toStdString());
    } catch (const db::DbError&) {
        readable = false;  // the connection says what is wrong with it
    }
    std::optional<QString> password = passwordFromEnvironment();
    const bool needsPassword = readable && !string.contains("FILE NAME") &&
                               db::canonicalProviderName(string.value("Provider")) != db::kProviderSqlite;
    if (!password && needsPassword && canAskPassword()) {
        password = askPassword(QStringLiteral("密碼: "), stops);
    }
    QString text = options.connectionString;
    if (password && readable) {
        string.set("Password", password->toStdString());
        text = QString::fromStdString(string.text());
    }
    const QString sql = source.text();

    db::AdoConnection& connection = workspace.ADOCon1();
    // A batch runs unattended, as long as its statement takes.
    connection.setCommandTimeout(0);
    connection.setConnectionString(text.toStdString());
    try {
        connection.open();
    } catch (const db::DbError& error) {
        throw BatchStop{kBatchFailed, connectionFailurePrefix(RunEngine::ConnectionString) + engineWords(error)};
    }
    db::AdoQuery& query = workspace.ADQ1();
    Engine engine{&query, RunEngine::ConnectionString, sql::dialectForDbmsName(connection.connection()->dbmsName()),
                  [&connection] { connection.cancel(); }, [&connection] { connection.cutConnection(); }};
    return runSql(engine, sql, source, options, stops);
}

// The application object the run needs: fonts for a report (on the
// offscreen platform, so no display is needed), the locale and its encoding
// for everything.
// Standard error carries the run's own messages, which scripts read: Qt's
// notes on its environment (no runtime directory, say) are not among them.
void keepQtNotesOffStandardError(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        printLine(message);
    }
}

std::unique_ptr<QCoreApplication> makeApplication(const BatchOptions& options) {
    qInstallMessageHandler(&keepQtNotesOffStandardError);
    static char program[] = "tarnwell";
    static char platformOption[] = "-platform";
    static char offscreen[] = "offscreen";
    static char* arguments[] = {program, platformOption, offscreen, nullptr};
    static int count = 3;
    std::unique_ptr<QCoreApplication> application;
    if (options.format == BatchOptions::Format::Pdf) {
        // A desktop's platform theme would reach for the display.
        qunsetenv("QT_QPA_PLATFORMTHEME");
        application = std::make_unique<QGuiApplication>(count, arguments);
        registerFontSubstitutions();
    } else {
        count = 1;
        application = std::make_unique<QCoreApplication>(count, arguments);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWELL_VERSION));
    return application;
}

int runBatchOrStop(const BatchOptions& options, StopSignals& stops) {
    const std::unique_ptr<QCoreApplication> application = makeApplication(options);
    if (options.output == QLatin1String("-") && standardOutputWasClosed()) {
        throw BatchStop{kBatchFailed,
                        QString::fromUtf8(saveError(standardOutputName(), QStringLiteral("標準輸出已關閉")).what())};
    }
    Workspace workspace;
    try {
        return options.alias.isEmpty() ? runOnConnectionString(workspace, options, stops)
                                       : runOnAlias(workspace, options, stops);
    } catch (const OperationCanceled&) {
        // Whatever was being written is gone by now.
        stops.endIfStopped();
        throw;
    } catch (const StreamClosedError&) {
        // The reader of standard output has gone (`| head`): the process
        // ends as a writer into a closed pipe does.
        std::signal(SIGPIPE, SIG_DFL);
        raise(SIGPIPE);
        throw;
    } catch (const BatchStop&) {
        stops.endIfStopped();
        throw;
    } catch (const std::exception& error) {
        stops.endIfStopped();
        // Files and the spreadsheet and report writers say what failed.
        throw BatchStop{kBatchFailed, engineWords(error)};
    }
}

}  // namespace

int runBatch(const BatchOptions& options) {
    // A pipe whose reader went away is an error of the write, not the end of
    // the process before the files in the making are cleaned up.
    std::signal(SIGPIPE, SIG_IGN);
    StopSignals stops;
    try {
        const int code = runBatchOrStop(options, stops);
        stops.endIfStopped();
        return code;
    } catch (const BatchStop& stop) {
        printLine(stop.message);
        return stop.exitCode;
    } catch (const OperationCanceled&) {
        return kBatchFailed;
    }
}

}  // namespace tarnwell
