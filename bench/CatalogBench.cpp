// tarnwell-bench --catalog: the catalog of a big database, loaded as a
// window loads it (the alias engine's settings, a connection of the
// catalog's own), and the window's table list and completion over it:
//
//   catalog.psql_dt_ms            psql -c '\dt *.*' on the PostgreSQL database
//                                 tarnwell_catalog_bench, 10,000 tables of 20
//                                 columns, made on the --pg server once and
//                                 kept (DROP DATABASE tarnwell_catalog_bench
//                                 when done): the whole process, in the same run
//   catalog.pg_load_ms            the data layer's load of that database:
//                                 connect, read, the catalog ready to use
//   catalog.pg_load_vs_psql_dt    the first over psql's
//   catalog.pg_ready_ms           a query window on that database, its table
//                                 list shown: from the connect (the pick of the
//                                 alias's kind) until the list holds every table
//                                 and the completion list shows for
//                                 "SELECT * FROM t1" (goal: under 2,000)
//   catalog.pg_ready_vs_psql_dt   the same over psql's (goal: under 3)
//   catalog.ui_max_stall_ms       the longest gap between the ticks of a 1 ms
//                                 timer meanwhile, from the moment the connect
//                                 returned (goal: under 16)
//   catalog.completion_ms         the completion list shown over that catalog
//                                 (200,000 columns) for a two-letter prefix: the
//                                 slowest of three places, each the median of
//                                 --repetitions x 5 (goal: under 30)
//   catalog.sqlite_load_ms        an SQLite file of 2,000 tables of 20 columns,
//                                 made anew in a temporary folder
//   catalog.sqlite_ready_ms       a query window on it, as pg_ready_ms
//   catalog.rss_mb                resident memory the loaded PostgreSQL catalog
//                                 adds to the process (after a load that warmed
//                                 the libraries, with freed memory handed back)
//                                 (goal: under 30)
//   catalog.bytes_held_mb         what the catalog itself says it holds
#include "CatalogBench.h"

#include <malloc.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListView>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "BenchWindows.h"
#include "dataaccess/CatalogLoader.h"
#include "dataaccess/Database.h"
#include "dataaccess/Session.h"
#include "dataaccess/postgres/PgConnection.h"
#include "query/MemoText.h"
#include "query/UQueryEditor.h"
#include "session/ConnectionCatalogs.h"
#include "shell/Application.h"
#include "ui/SqlCompleter.h"

namespace tarnwell::bench {

namespace {

constexpr const char* kPgDatabase = "tarnwell_catalog_bench";
constexpr int kPgTables = 10'000;
constexpr int kSqliteTables = 2'000;
// Tables made by one statement: each holds a few locks until its transaction
// ends, and the server has room for some thousands.
constexpr int kTablesPerBatch = 500;

// Twenty columns of the kinds tables hold: a key, then text, numbers, times
// and flags in turn.
std::string tableColumns() {
    static const char* const kTypes[] = {"varchar(40)", "integer", "numeric(12,2)", "timestamp",
                                         "text",        "boolean", "bigint"};
    std::string columns = "id integer PRIMARY KEY";
    for (int column = 2; column <= 20; ++column) {
        columns += ", c" + std::to_string(column) + " " + kTypes[column % 7];
    }
    return columns;
}

Params withDatabase(Params params, const std::string& database) {
    params.erase(std::remove_if(params.begin(), params.end(),
                                [](const auto& entry) { return entry.first == "DATABASE NAME"; }),
                 params.end());
    params.emplace_back("DATABASE NAME", database);
    return params;
}

// A libpq connection string of alias parameters.
std::string conninfoOf(const Params& params) {
    const std::pair<const char*, const char*> keywords[] = {
        {"SERVER NAME", "host"}, {"PORT", "port"}, {"DATABASE NAME", "dbname"},
        {"USER NAME", "user"},   {"PASSWORD", "password"},
    };
    std::string conninfo;
    for (const auto& [parameter, value] : params) {
        for (const auto& [name, keyword] : keywords) {
            if (parameter != name) {
                continue;
            }
            conninfo += std::string(conninfo.empty() ? "" : " ") + keyword + "='";
            for (const char c : value) {
                conninfo += (c == '\'' || c == '\\') ? std::string("\\") + c : std::string(1, c);
            }
            conninfo += "'";
        }
    }
    return conninfo;
}

bool databaseExists(db::Connection& connection, const std::string& name) {
    auto found = connection.execute("SELECT 1 FROM pg_database WHERE datname = '" + name + "'");
    db::RowStore rows(1);
    found->fetch(rows, 1);
    return rows.rowCount() == 1;
}

// The bench database, made unless a complete one is there: it is built under
// another name and renamed when whole, as the bench tables are.
void ensurePgDatabase(const Options& options) {
    auto admin = db::openPostgres(options.pgConninfo);
    if (databaseExists(*admin, kPgDatabase)) {
        note(std::string("using the database ") + kPgDatabase);
        return;
    }
    const std::string building = std::string(kPgDatabase) + "_building";
    note(std::string("creating the database ") + kPgDatabase + " (10,000 tables; this takes a while once)");
    const Clock::time_point start = Clock::now();
    admin->execute("DROP DATABASE IF EXISTS " + building);
    admin->execute("CREATE DATABASE " + building);
    {
        auto connection = db::openPostgres(conninfoOf(withDatabase(aliasParamsOf(options.pgConninfo), building)));
        for (int first = 1; first <= kPgTables; first += kTablesPerBatch) {
            connection->execute("DO $$ BEGIN FOR i IN " + std::to_string(first) + " .. " +
                                std::to_string(first + kTablesPerBatch - 1) +
                                " LOOP EXECUTE format('CREATE TABLE t%s (" + tableColumns() +
                                ")', i); END LOOP; END $$");
        }
    }
    admin->execute("ALTER DATABASE " + building + " RENAME TO " + kPgDatabase);
    note("database made in " + std::to_string(secondsSince(start)) + " s");
}

void makeSqliteCatalogFile(const std::string& path) {
    note("creating an SQLite file of 2,000 tables in " + path);
    std::vector<std::string> statements = {"BEGIN"};
    for (int table = 1; table <= kSqliteTables; ++table) {
        statements.push_back("CREATE TABLE t" + std::to_string(table) + " (" + tableColumns() + ")");
    }
    statements.emplace_back("COMMIT");
    makeSqliteFile(path, statements);
}

// What a window's catalog connects with: the settings of the alias engine's
// database on an alias of `driver` with `params`.
db::BackendSettings aliasSettings(const ScratchDirectory& scratch, const std::string& driver, const Params& params) {
    const std::string aliasFile = writeAliasFile(scratch, "BENCH_CATALOG", driver, params);
    db::Session session(db::SessionConfig{aliasFile, "", false});
    db::Database database(session, "BDE_SQL_1");
    database.setAliasName("BENCH_CATALOG");
    return database.backendSettings();
}

db::Catalog loadCatalog(const db::BackendSettings& settings) {
    db::CatalogLoader loader({settings, {}, {}});
    db::Catalog catalog = loader.load();
    if (!catalog.gaps().empty()) {
        throw std::runtime_error("the catalog load left gaps: " + catalog.gaps().message);
    }
    return catalog;
}

// The median time of `repetitions` loads, after one that warms the caches.
double medianLoadMs(const db::BackendSettings& settings, int repetitions, const char* what) {
    const db::Catalog first = loadCatalog(settings);
    note(std::string(what) + ": " + std::to_string(first.relationCount()) + " relations, " +
         std::to_string(first.totalColumnCount()) + " columns");
    return medianOf(repetitions, [&] {
        const Clock::time_point start = Clock::now();
        loadCatalog(settings);
        return millisecondsSince(start);
    });
}

std::vector<std::string> psqlDt(const Options& options) {
    return {"psql", "-X", "-q", "-c", "\\dt *.*", "-d",
            conninfoOf(withDatabase(aliasParamsOf(options.pgConninfo), kPgDatabase))};
}

double psqlDtMs(const Options& options) {
    const std::vector<std::string> psql = psqlDt(options);
    timeCommand(psql);
    return 1000 * medianOf(options.repetitions, [&] { return timeCommand(psql); });
}

void runPostgresLoad(const Options& options, const ScratchDirectory& scratch, double psqlMs) {
    const Params params = withDatabase(aliasParamsOf(options.pgConninfo), kPgDatabase);
    const db::BackendSettings settings = aliasSettings(scratch, "POSTGRESQL", params);
    const double loadMs = medianLoadMs(settings, options.repetitions, "PostgreSQL");
    report("catalog.pg_load_ms", loadMs, "ms");
    report("catalog.pg_load_vs_psql_dt", loadMs / psqlMs, "x");
}

// The longest gap between the ticks of a 1 ms timer while it runs.
class TickGaps {
public:
    TickGaps() {
        timer_.setInterval(1);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void start() {
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    void stop() { timer_.stop(); }
    double longestMs() const { return static_cast<double>(longest_) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

struct WindowFigures {
    double readyMs = 0;
    double maxStallMs = 0;
    double completionMs = 0;
};

// The time from asking for the completion list at the end of `sql` to the
// list painted. Throws when no list comes.
double showCompletion(TfrmQueryEditor& window, const QString& sql) {
    auto* memo = child<QPlainTextEdit>(window, "MemSQL");
    window.completer().close();
    setMemoText(*memo, sql);
    memo->moveCursor(QTextCursor::End);
    QElapsedTimer clock;
    clock.start();
    if (!window.completer().complete()) {
        throw std::runtime_error("no completion list for " + sql.toStdString());
    }
    QCoreApplication::processEvents();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The median time of the completion list at the end of `sql`.
double completionMs(const Options& options, TfrmQueryEditor& window, const QString& sql) {
    const double ms = medianOf(options.repetitions * 5, [&] { return showCompletion(window, sql); });
    note("completion of \"" + sql.toStdString() + "\": " + std::to_string(window.completer().list().model()->rowCount()) +
         " names, " + std::to_string(ms) + " ms");
    return ms;
}

// A query window on the alias, its table list shown, connects: the time
// until the list holds every table and completion works, and the longest
// stall of the user interface meanwhile; then the completion figures.
WindowFigures measureWindow(const Options& options, const ScratchDirectory& scratch, const std::string& driver,
                            const Params& params, bool completionToo) {
    const auto application = startWindowedApplication();
    const BenchPrompt prompt;
    AliasQueryWindow aliasWindow(scratch, "BENCH_CATALOG", driver, params, false);
    TfrmQueryEditor& window = aliasWindow.window();
    child<QAbstractButton>(window, "TBtnTableList")->click();
    const QTreeView& tree = *child<QTreeView>(window, "TrvTables");
    // The window shown and painted, as a user has it before connecting.
    serveUntil([] { return false; }, 200);
    TickGaps ticks;
    WindowFigures figures;

    QElapsedTimer clock;
    clock.start();
    aliasWindow.connect();
    ticks.start();
    // Idle between events, as the program is while a user waits.
    const auto listed = [&] {
        const SharedCatalog* catalog = window.sharedCatalog();
        return catalog != nullptr && catalog->loadedOnce() && !catalog->loading() && tree.model()->rowCount() > 0 &&
               static_cast<std::size_t>(tree.model()->rowCount()) == catalog->catalog()->relationCount();
    };
    QEventLoop waiting;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (listed() || clock.elapsed() > 120000) {
            waiting.quit();
        }
    });
    check.start();
    waiting.exec();
    if (!listed()) {
        throw std::runtime_error("the table list did not come");
    }
    showCompletion(window, QStringLiteral("SELECT * FROM t1"));
    figures.readyMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    ticks.stop();
    figures.maxStallMs = ticks.longestMs();
    if (!window.sharedCatalog()->problem().isEmpty()) {
        note("the catalog load left gaps: " + window.sharedCatalog()->problem().toStdString());
    }
    note(driver + ": " + std::to_string(tree.model()->rowCount()) + " tables listed");
    if (completionToo) {
        // Tables after FROM, tables and keywords before it, the columns of
        // the statement's tables.
        figures.completionMs = std::max(
            {completionMs(options, window, QStringLiteral("SELECT * FROM t1")),
             completionMs(options, window, QStringLiteral("SELECT t1")),
             completionMs(options, window, QStringLiteral("SELECT * FROM t1 JOIN t2 ON t1.id = t2.c2 WHERE c1"))});
    }
    window.completer().close();
    return figures;
}

void runPostgresWindow(const Options& options, const ScratchDirectory& scratch, double psqlMs) {
    const WindowFigures figures = measureWindow(
        options, scratch, "POSTGRESQL", withDatabase(aliasParamsOf(options.pgConninfo), kPgDatabase), true);
    report("catalog.pg_ready_ms", figures.readyMs, "ms");
    report("catalog.pg_ready_vs_psql_dt", figures.readyMs / psqlMs, "x");
    report("catalog.ui_max_stall_ms", figures.maxStallMs, "ms");
    report("catalog.completion_ms", figures.completionMs, "ms");
}

// In a process of its own, so nothing else it did counts.
void runPostgresMemory(const Options& options, const ScratchDirectory& scratch) {
    const db::BackendSettings settings =
        aliasSettings(scratch, "POSTGRESQL", withDatabase(aliasParamsOf(options.pgConninfo), kPgDatabase));
    loadCatalog(settings);
    malloc_trim(0);
    const double before = residentMegabytes();
    const db::Catalog catalog = loadCatalog(settings);
    malloc_trim(0);
    report("catalog.rss_mb", residentMegabytes() - before, "MB");
    report("catalog.bytes_held_mb", static_cast<double>(catalog.bytesHeld()) / 1e6, "MB");
    report("catalog.pg_columns", static_cast<double>(catalog.totalColumnCount()), "columns");
}

void runSqlite(const Options& options, const ScratchDirectory& scratch) {
    const std::string path = scratch.file("catalog.db");
    makeSqliteCatalogFile(path);
    const db::BackendSettings settings = aliasSettings(scratch, "SQLITE", {{"PATH", path}});
    report("catalog.sqlite_load_ms", medianLoadMs(settings, options.repetitions, "SQLite"), "ms");
    const double readyMs = medianOf(options.repetitions, [&] {
        return measureWindow(options, scratch, "SQLITE", {{"PATH", path}}, false).readyMs;
    });
    report("catalog.sqlite_ready_ms", readyMs, "ms");
}

}  // namespace

int runCatalogBench(const Options& options) {
    const ScratchDirectory scratch;
    int failures = 0;
    if (options.pgConninfo.empty()) {
        note("no --pg connection string: PostgreSQL figures skipped");
    } else {
        failures += runInFreshProcess([&] { ensurePgDatabase(options); });
        // The peer's figure first: each part below compares itself with it.
        const double psqlMs = psqlDtMs(options);
        report("catalog.psql_dt_ms", psqlMs, "ms");
        failures += runInFreshProcess([&] { runPostgresLoad(options, scratch, psqlMs); });
        failures += runInFreshProcess([&] { runPostgresWindow(options, scratch, psqlMs); });
        failures += runInFreshProcess([&] { runPostgresMemory(options, scratch); });
    }
    failures += runInFreshProcess([&] { runSqlite(options, scratch); });
    return failures == 0 ? 0 : 1;
}

}  // namespace tarnwell::bench
