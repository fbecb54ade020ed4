// tarnwell-bench --batch: `tarnwell --run` writing a large result as CSV,
// against what the engines' own command-line tools write for the same query,
// each a whole process (start, connection, query, file), in the same run.
//
//   tarnwell-bench --batch [--pg CONNINFO] [--rows N] [--walk-rows N] [--repetitions N]
//
// The results: "SELECT *" of the data layer's five-column table, N rows
// (default 10,000,000) on the --pg server, and --walk-rows rows (default
// 1,000,000) in an SQLite file made anew. Printed, one "name value unit" a
// line (rates are medians of --repetitions runs after a warm-up run):
//   batch.csv_pg_rows_per_s       tarnwell --run FILE --alias A --csv OUT
//   batch.psql_copy_rows_per_s    psql -c "\copy (SELECT ...) TO 'OUT' CSV HEADER"
//   batch.csv_pg_vs_psql_copy     the first over the second (goal: at least 1)
//   batch.csv_sqlite_rows_per_s   tarnwell --run on the SQLite file
//   batch.sqlite3_cli_rows_per_s  sqlite3 -csv -header DB 'SELECT ...' > OUT
//   batch.csv_sqlite_vs_sqlite3_cli                           (goal: at least 1)
//   batch.<tool>_peak_rss_mb      the largest resident set of each process
//   batch.rss_mb_small            that of tarnwell --run for 100,000 rows of
//   batch.rss_mb_large            the server table, and for all N of them (the
//                                 runs above) (goal: under 64 at both sizes)
#include "BatchBench.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "DataLayerBench.h"
#include "dataaccess/postgres/PgConnection.h"

namespace tarnwell::bench {

namespace {

constexpr long long kSmallRows = 100'000;

// One way of writing the query's rows to a CSV file; what the whole process
// took.
struct Writer {
    std::string name;  // batch.<name>_rows_per_s
    std::function<CommandFigures(const std::string& file)> run;
};

struct Batch {
    std::string name;  // sqlite, pg
    long long rows;
    std::vector<Writer> writers;  // tarnwell first, then its peer
};

// The aliases file and the password of a tarnwell --run on `params`.
struct TarnwellTarget {
    std::string aliasFile;
    std::string password;
};

TarnwellTarget tarnwellTarget(const ScratchDirectory& scratch, const std::string& alias, const std::string& driver,
                              Params params) {
    TarnwellTarget target;
    // The password goes by the environment, as it must.
    std::erase_if(params, [&](const auto& param) {
        if (param.first == "PASSWORD") {
            target.password = param.second;
            return true;
        }
        return false;
    });
    target.aliasFile = writeAliasFile(scratch, alias, driver, params);
    return target;
}

std::string writeSqlFile(const ScratchDirectory& scratch, const std::string& name, const std::string& sql) {
    const std::string path = scratch.file(name + ".sql");
    std::ofstream(path) << sql << "\n";
    return path;
}

Writer tarnwellWriter(const std::string& name, const TarnwellTarget& target, const std::string& alias,
                      const std::string& sqlFile) {
    return {name, [=](const std::string& file) {
                return measureCommand({TARNWELL_BINARY, "--run", sqlFile, "--alias", alias, "--csv", file},
                                      "/dev/null",
                                      {"TARNWELL_ALIASES=" + target.aliasFile, "TARNWELL_PASSWORD=" + target.password});
            }};
}

// Runs every writer of the batch (a warm-up, then the timed runs, in turns so
// that the machine's ups and downs fall on all alike) and reports their rates
// and peak memory; the median peak of the first.
double measureBatch(const Batch& batch, const Options& options, const ScratchDirectory& scratch) {
    const int repetitions = std::max(1, options.repetitions);
    std::vector<std::vector<double>> seconds(batch.writers.size());
    std::vector<std::vector<double>> peaks(batch.writers.size());
    for (int run = 0; run <= repetitions; ++run) {
        for (std::size_t i = 0; i < batch.writers.size(); ++i) {
            const std::string file = scratch.file(batch.name + "-" + batch.writers[i].name + ".csv");
            const CommandFigures figures = batch.writers[i].run(file);
            std::filesystem::remove(file);
            if (run > 0) {
                seconds[i].push_back(figures.seconds);
                peaks[i].push_back(figures.peakResidentMb);
            }
        }
    }
    std::vector<double> rates;
    for (std::size_t i = 0; i < batch.writers.size(); ++i) {
        rates.push_back(static_cast<double>(batch.rows) / median(seconds[i]));
        report("batch." + batch.writers[i].name + "_rows_per_s", rates.back(), "rows/s");
        report("batch." + batch.writers[i].name + "_peak_rss_mb", median(peaks[i]), "MB");
    }
    for (std::size_t i = 1; i < batch.writers.size(); ++i) {
        report("batch." + batch.writers[0].name + "_vs_" + batch.writers[i].name, rates[0] / rates[i], "x");
    }
    return median(peaks[0]);
}

}  // namespace

int runBatchBench(const Options& options) {
    const ScratchDirectory scratch;
    int failures = 0;
    const auto part = [&failures](const std::function<void()>& body) {
        try {
            body();
        } catch (const std::exception& error) {
            note(error.what());
            ++failures;
        }
    };

    part([&] {
        const long long rows = options.walkRows;
        const std::string path = scratch.file("batch.db");
        createFiveColumnSqliteTable(path, rows);
        const std::string sql = "SELECT * FROM t";
        const TarnwellTarget target = tarnwellTarget(scratch, "BATCH_SQLITE", "SQLITE", {{"PATH", path}});
        report("batch.sqlite_rows", static_cast<double>(rows), "rows");
        measureBatch({"sqlite",
                      rows,
                      {tarnwellWriter("csv_sqlite", target, "BATCH_SQLITE", writeSqlFile(scratch, "sqlite", sql)),
                       {"sqlite3_cli",
                        [=](const std::string& file) {
                            return measureCommand({"sqlite3", "-csv", "-header", path, sql}, file);
                        }}}},
                     options, scratch);
    });

    if (options.pgConninfo.empty()) {
        note("no --pg connection string: PostgreSQL figures skipped");
        return failures == 0 ? 0 : 1;
    }
    part([&] {
        std::string table;
        {
            auto connection = db::openPostgres(options.pgConninfo);
            table = ensureFiveColumnPgTable(*connection, options.rows);
        }
        const std::string sql = "SELECT * FROM " + table;
        const std::string conninfo = options.pgConninfo;
        const TarnwellTarget target = tarnwellTarget(scratch, "BATCH_PG", "POSTGRESQL", aliasParamsOf(conninfo));
        report("batch.pg_rows", static_cast<double>(options.rows), "rows");
        const double largePeak = measureBatch(
            {"pg",
             options.rows,
             {tarnwellWriter("csv_pg", target, "BATCH_PG", writeSqlFile(scratch, "pg", sql)),
              {"psql_copy",
               [=](const std::string& file) {
                   return measureCommand(
                       {"psql", "-X", "-q", "-c", "\\copy (" + sql + ") TO '" + file + "' CSV HEADER", "-d", conninfo});
               }}}},
            options, scratch);

        // Memory of a small result beside that of the whole table.
        const std::string smallSql = sql + " LIMIT " + std::to_string(std::min(kSmallRows, options.rows));
        const Writer small = tarnwellWriter("small", target, "BATCH_PG", writeSqlFile(scratch, "small", smallSql));
        const std::string file = scratch.file("small.csv");
        std::vector<double> peaks;
        for (int run = 0; run < std::max(1, options.repetitions); ++run) {
            peaks.push_back(small.run(file).peakResidentMb);
            std::filesystem::remove(file);
        }
        report("batch.rss_mb_small", median(peaks), "MB");
        report("batch.rss_mb_large", largePeak, "MB");
    });
    return failures == 0 ? 0 : 1;
}

}  // namespace tarnwell::bench
