// tarnwell-bench --export: a query window's exports of a large result, against
// what the engines' command-line tools write for the same query.
//
//   tarnwell-bench --export [--pg CONNINFO] [--walk-rows N] [--repetitions N]
//
// The result: N rows (default 1,000,000) of ten columns (integers, decimals,
// Chinese and ASCII text, dates, timestamps, NULLs), "SELECT *" of a table in
// an SQLite file made anew each run and, with --pg, of the server table
// tarnwell_export_<N> (made once and kept; drop it when done). Offscreen, a
// query window runs the statement on an alias and exports the result with its
// own button, its save dialog answered at once; every file goes to the same
// temporary folder. Printed, one "name value unit" a line:
//   export.csv_sqlite_rows_per_s    from pressing the run button to the CSV
//                                   file complete (ToolButton2), SQLite
//   export.sqlite3_cli_rows_per_s   sqlite3 -csv -header DB 'SELECT ...' > file
//   export.csv_pg_rows_per_s        as the first, PostgreSQL
//   export.psql_csv_rows_per_s      psql --csv -c 'SELECT ...' > file
//   export.psql_copy_rows_per_s     psql -c "\copy (SELECT ...) TO 'file' CSV HEADER"
//   export.csv_<db>_vs_<tool>       the window's rate over the tool's
//   export.extra_rss_mb_<rows>      peak resident memory during a CSV export
//                                   of a result already fetched whole, above
//                                   the resident memory before it, at 100,000
//                                   rows and at N (goal: under 32, the same at
//                                   both sizes)
// Rates are medians of runs after a warm-up run, each database's in a fresh
// process; every memory figure is taken in a fresh process too.
//
// More exports of the window join by a line in kExporters; their figures are
// named after them in the same way.
#include "ExportBench.h"

#include <QString>
#include <algorithm>
#include <functional>
#include <stdexcept>

#include "BenchWindows.h"
#include "XlsxExportBench.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/postgres/PgConnection.h"
#include "query/UQueryEditor.h"
#include "shell/Application.h"

namespace tarnwell::bench {

namespace {

constexpr long long kSmallRows = 100'000;

// --- The exports and what they are measured against ------------------------------

// One export of the query window, started through its own command.
struct Exporter {
    const char* name;          // export.<name>_<db>_rows_per_s
    const char* memoryFigure;  // <memoryFigure>_<rows>
    const char* extension;
    void (*start)(TfrmQueryEditor& window);
};

const Exporter kExporters[] = {
    {"csv", "export.extra_rss_mb", "CSV", [](TfrmQueryEditor& window) { window.ToolButton2Click(); }},
};

// A tool that writes the same query's rows to a file; seconds it took.
struct Peer {
    std::string name;  // export.<name>_rows_per_s
    std::function<double(const std::string& file)> run;
};

struct Source {
    std::string name;  // sqlite, pg
    std::string alias;
    std::string driver;
    Params params;
    std::string table;
    std::vector<Peer> peers;
};

// --- The data ------------------------------------------------------------------

// The ten columns, as expressions of the row number `n`, alike in both
// engines' dialects where they can be.
std::string chineseCity(const std::string& n) {
    return "substr('臺北市新北市桃園市臺中市臺南市高雄市基隆市新竹市嘉義市', (" + n + " % 9) * 3 + 1, 3) || '第' || (" +
           n + " % 100) || '分店'";
}

void createSqliteTable(const std::string& path, long long rows) {
    note("creating an SQLite table of " + std::to_string(rows) + " rows in " + path);
    makeSqliteFile(
        path,
        {"CREATE TABLE t (id INTEGER, qty INTEGER, amount NUMERIC(12,2), rate NUMERIC(8,4), city VARCHAR(20), "
         "label VARCHAR(40), day DATE, stamp TIMESTAMP, note VARCHAR(60), code VARCHAR(8))",
         "INSERT INTO t WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " +
             std::to_string(rows) +
             ") SELECT n, CASE WHEN n % 7 = 0 THEN NULL ELSE n % 1000 END, (n * 137) % 100000000 / 100.0, "
             "(n % 10000) / 10000.0, " +
             chineseCity("n") +
             ", substr(printf('%08x', n * 2654435761 % 4294967296) || 'abcdefghijklmnopqrstuvwxyz0123456789', 1, "
             "20 + n % 21), date('2020-01-01', '+' || (n % 3650) || ' days'), datetime(1577836800 + n * 17, "
             "'unixepoch'), CASE WHEN n % 3 = 0 THEN NULL ELSE '備註 note ' || n END, printf('C%05d', n % 100000) "
             "FROM g"});
}

void ensurePgTable(const std::string& conninfo, const std::string& table, long long rows) {
    auto connection = db::openPostgres(conninfo);
    ensureServerTable(
        *connection, table,
        "SELECT g AS id, CASE WHEN g % 7 = 0 THEN NULL ELSE g % 1000 END AS qty, "
        "((g::bigint * 137) % 100000000 / 100.0)::numeric(12,2) AS amount, "
        "((g % 10000) / 10000.0)::numeric(8,4) AS rate, (" +
            chineseCity("g") +
            ")::varchar(20) AS city, "
            "substr(md5(g::text) || 'abcdefghijklmnopqrstuvwxyz0123456789', 1, 20 + g % 21)::varchar(40) AS label, "
            "date '2020-01-01' + g % 3650 AS day, timestamp '2020-01-01' + g * interval '17 seconds' AS stamp, "
            "(CASE WHEN g % 3 = 0 THEN NULL ELSE '備註 note ' || g END)::varchar(60) AS note, "
            "('C' || lpad((g % 100000)::text, 5, '0'))::varchar(8) AS code "
            "FROM generate_series(1, " +
            std::to_string(rows) + ") g",
        std::to_string(rows) + " rows of ten columns");
}

// --- The measurements ----------------------------------------------------------

std::string selectAll(const Source& source, long long limit = 0) {
    return "SELECT * FROM " + source.table + (limit > 0 ? " LIMIT " + std::to_string(limit) : std::string());
}

// Runs the statement in the window and exports its result; seconds from
// pressing the run button to the file complete.
double runAndExport(AliasQueryWindow& client, BenchPrompt& prompt, const Exporter& exporter,
                    const std::string& sql, long long rows) {
    const Clock::time_point start = Clock::now();
    client.run(QString::fromStdString(sql));
    exporter.start(client.window());
    const double seconds = secondsSince(start);
    if (prompt.failed()) {
        throw std::runtime_error("the export failed");
    }
    if (client.window().CDS1().recordCount() != static_cast<std::size_t>(rows)) {
        throw std::runtime_error("the export walked " + std::to_string(client.window().CDS1().recordCount()) +
                                 " rows, not " + std::to_string(rows));
    }
    return seconds;
}

void measureRates(const Source& source, const Options& options, const ScratchDirectory& scratch, long long rows) {
    const std::unique_ptr<Application> application = startWindowedApplication();
    BenchPrompt prompt;
    AliasQueryWindow client(scratch, source.alias, source.driver, source.params);
    const int repetitions = std::max(1, std::min(options.repetitions, 3));
    const std::string sql = selectAll(source);
    std::vector<std::pair<std::string, double>> windowRates;
    for (const Exporter& exporter : kExporters) {
        prompt.saveAs(QString::fromStdString(scratch.file(source.name + "." + exporter.extension)));
        const auto once = [&] { return runAndExport(client, prompt, exporter, sql, rows); };
        once();
        const double rate = static_cast<double>(rows) / medianOf(repetitions, once);
        const std::string name = std::string(exporter.name) + "_" + source.name;
        report("export." + name + "_rows_per_s", rate, "rows/s");
        windowRates.emplace_back(name, rate);
    }
    for (const Peer& peer : source.peers) {
        const std::string file = scratch.file(source.name + "-" + peer.name + ".csv");
        peer.run(file);
        const double rate = static_cast<double>(rows) / medianOf(repetitions, [&] { return peer.run(file); });
        report("export." + peer.name + "_rows_per_s", rate, "rows/s");
        for (const auto& [name, windowRate] : windowRates) {
            report("export." + name + "_vs_" + peer.name, windowRate / rate, "x");
        }
    }
}

// Peak resident memory of an export of a result held whole, above the
// resident memory before it.
void measureMemory(const Source& source, const Exporter& exporter, const ScratchDirectory& scratch,
                   long long rows) {
    const std::unique_ptr<Application> application = startWindowedApplication();
    BenchPrompt prompt;
    AliasQueryWindow client(scratch, source.alias, source.driver, source.params);
    prompt.saveAs(QString::fromStdString(scratch.file("memory." + std::string(exporter.extension))));
    client.run(QString::fromStdString(selectAll(source, rows)));
    client.window().SpeedButton5Click();  // the grid's last button: every row fetched
    serveUntil([] { return false; }, 100);
    if (!resetPeakResident()) {
        throw std::runtime_error("the kernel does not let the peak resident memory start over");
    }
    const double before = residentMegabytes();
    exporter.start(client.window());
    const double peak = peakResidentMegabytes();
    if (prompt.failed()) {
        throw std::runtime_error("the export failed");
    }
    report(std::string(exporter.memoryFigure) + "_" + std::to_string(rows), peak - before, "MB");
}

}  // namespace

int runExportBench(const Options& options) {
    const ScratchDirectory scratch;
    const long long rows = options.walkRows;
    const std::string sqlitePath = scratch.file("export.db");
    createSqliteTable(sqlitePath, rows);
    std::vector<Source> sources;
    sources.push_back({"sqlite", "BENCH_SQLITE", "SQLITE", {{"PATH", sqlitePath}}, "t",
                       {{"sqlite3_cli", [sqlitePath](const std::string& file) {
                             return timeCommand({"sqlite3", "-csv", "-header", sqlitePath, "SELECT * FROM t"}, file);
                         }}}});
    if (options.pgConninfo.empty()) {
        note("no --pg connection string: PostgreSQL figures skipped");
    } else {
        const std::string table = "tarnwell_export_" + std::to_string(rows);
        ensurePgTable(options.pgConninfo, table, rows);
        const std::string conninfo = options.pgConninfo;
        const std::string sql = "SELECT * FROM " + table;
        sources.push_back(
            {"pg", "BENCH_PG", "POSTGRESQL", aliasParamsOf(conninfo), table,
             {{"psql_csv",
               [=](const std::string& file) {
                   return timeCommand({"psql", "-X", "-q", "--csv", "-c", sql, "-d", conninfo}, file);
               }},
              {"psql_copy", [=](const std::string& file) {
                   return timeCommand(
                       {"psql", "-X", "-q", "-c", "\\copy (" + sql + ") TO '" + file + "' CSV HEADER", "-d", conninfo});
               }}}});
    }

    int failures = 0;
    report("export.rows", static_cast<double>(rows), "rows");
    for (const Source& source : sources) {
        failures += runInFreshProcess([&] { measureRates(source, options, scratch, rows); });
    }
    for (const Exporter& exporter : kExporters) {
        for (const long long size : {std::min(kSmallRows, rows), rows}) {
            failures += runInFreshProcess([&] { measureMemory(sources.front(), exporter, scratch, size); });
        }
    }
    // The spreadsheet export measures itself against its library.
    if (runXlsxExportBench(options) != 0) {
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace tarnwell::bench
