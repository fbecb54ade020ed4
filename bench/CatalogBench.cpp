// tarnwell-bench --catalog: the catalog of a big database, loaded as a
// window will load it (the alias engine's settings, a connection of the
// catalog's own):
//
//   catalog.pg_load_ms            the PostgreSQL database tarnwell_catalog_bench,
//                                 10,000 tables of 20 columns, made on the --pg
//                                 server once and kept (DROP DATABASE
//                                 tarnwell_catalog_bench when done): connect,
//                                 read, the catalog ready to use
//   catalog.psql_dt_ms            psql -c '\dt *.*' on the same database, the
//                                 whole process, in the same run
//   catalog.pg_load_vs_psql_dt    the first over the second
//   catalog.sqlite_load_ms        an SQLite file of 2,000 tables of 20 columns,
//                                 made anew in a temporary folder
//   catalog.rss_mb                resident memory the loaded PostgreSQL catalog
//                                 adds to the process (after a load that warmed
//                                 the libraries, with freed memory handed back)
//   catalog.bytes_held_mb         what the catalog itself says it holds
//
// The figures of the window (the time from its connect until its table list
// and completion are ready, completion over the catalog, the longest stall of
// the user interface while it loads) belong beside these once the window has
// a catalog: add them as parts of runCatalogBench().
#include "CatalogBench.h"

#include <malloc.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "dataaccess/CatalogLoader.h"
#include "dataaccess/Database.h"
#include "dataaccess/Session.h"
#include "dataaccess/postgres/PgConnection.h"

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

void runPostgresLoad(const Options& options, const ScratchDirectory& scratch) {
    const Params params = withDatabase(aliasParamsOf(options.pgConninfo), kPgDatabase);
    const db::BackendSettings settings = aliasSettings(scratch, "POSTGRESQL", params);
    const double loadMs = medianLoadMs(settings, options.repetitions, "PostgreSQL");
    const std::vector<std::string> psql = {"psql", "-X", "-q", "-c", "\\dt *.*", "-d", conninfoOf(params)};
    timeCommand(psql);
    const double psqlMs = 1000 * medianOf(options.repetitions, [&] { return timeCommand(psql); });
    report("catalog.pg_load_ms", loadMs, "ms");
    report("catalog.psql_dt_ms", psqlMs, "ms");
    report("catalog.pg_load_vs_psql_dt", loadMs / psqlMs, "x");
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

void runSqliteLoad(const Options& options, const ScratchDirectory& scratch) {
    const std::string path = scratch.file("catalog.db");
    makeSqliteCatalogFile(path);
    const db::BackendSettings settings = aliasSettings(scratch, "SQLITE", {{"PATH", path}});
    report("catalog.sqlite_load_ms", medianLoadMs(settings, options.repetitions, "SQLite"), "ms");
}

}  // namespace

int runCatalogBench(const Options& options) {
    const ScratchDirectory scratch;
    int failures = 0;
    if (options.pgConninfo.empty()) {
        note("no --pg connection string: PostgreSQL figures skipped");
    } else {
        failures += runInFreshProcess([&] { ensurePgDatabase(options); });
        failures += runInFreshProcess([&] { runPostgresLoad(options, scratch); });
        failures += runInFreshProcess([&] { runPostgresMemory(options, scratch); });
    }
    failures += runInFreshProcess([&] { runSqliteLoad(options, scratch); });
    return failures == 0 ? 0 : 1;
}

}  // namespace tarnwell::bench
