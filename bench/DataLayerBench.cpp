#include "DataLayerBench.h"

#include <memory>
#include <stdexcept>
#include <utility>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "dataaccess/mariadb/MariaDbConnection.h"
#include "dataaccess/postgres/PgConnection.h"

namespace tarnwell::bench {

namespace {

// Rows per packet, as a query window fetches them.
constexpr int kPacketRecords = 100;
constexpr long long kSqliteRows = 1'000'000;
constexpr long long kSmallRows = 1'000;

// What a query window holds on the alias engine: a session whose one alias
// reaches the bench database, its database, its query, and the provider and
// client dataset that the query feeds.
class AliasClient {
public:
    AliasClient(const ScratchDirectory& scratch, const std::string& name, const std::string& driver,
                const Params& params) {
        const std::string aliasFile = writeAliasFile(scratch, name, driver, params);
        session_ = std::make_unique<db::Session>(db::SessionConfig{aliasFile, "", false});
        database_ = std::make_unique<db::Database>(*session_, "BDE_SQL_1");
        database_->setAliasName(name);
        database_->open();
        query_ = std::make_unique<db::Query>(*session_);
        query_->setDatabaseName("BDE_SQL_1");
        provider_.setDataSet(query_.get());
        dataSet_.setProvider(&provider_);
    }

    ~AliasClient() { close(); }

    // A run of a query window: the statement opened, its first packet in the
    // dataset.
    db::ClientDataSet& open(const std::string& sql, int packetRecords) {
        dataSet_.close();
        query_->setSql(sql);
        query_->open();
        dataSet_.setPacketRecords(packetRecords);
        dataSet_.open();
        return dataSet_;
    }

    void close() {
        dataSet_.close();
        query_->close();
    }

private:
    std::unique_ptr<db::Session> session_;
    std::unique_ptr<db::Database> database_;
    std::unique_ptr<db::Query> query_;
    db::DataSetProvider provider_;
    db::ClientDataSet dataSet_;
};

struct Walk {
    double seconds = 0;
    std::size_t rows = 0;
    double bytesHeldPerRow = 0;
    double textBytesPerRow = 0;
};

// Opens the statement and walks the dataset from its first row to its last,
// packet by packet, as a grid scrolled to the end or an export does.
Walk walk(AliasClient& client, const std::string& sql) {
    const Clock::time_point start = Clock::now();
    db::ClientDataSet& data = client.open(sql, kPacketRecords);
    while (!data.eof()) {
        data.next();
    }
    Walk result;
    result.seconds = secondsSince(start);
    result.rows = data.recordCount();
    const db::RowStore& rows = data.rows();
    std::size_t textBytes = 0;
    for (std::size_t row = 0; row < rows.rowCount(); ++row) {
        for (std::size_t column = 0; column < rows.columnCount(); ++column) {
            textBytes += rows.cell(row, column).bytes.size();
        }
    }
    if (result.rows > 0) {
        result.bytesHeldPerRow = static_cast<double>(rows.bytesHeld()) / static_cast<double>(result.rows);
        result.textBytesPerRow = static_cast<double>(textBytes) / static_cast<double>(result.rows);
    }
    client.close();
    return result;
}

// Walks `repetitions` times (after one run that warms the caches) and
// reports the median rate and the sizes.
Walk medianWalk(AliasClient& client, const std::string& sql, int repetitions) {
    walk(client, sql);
    std::vector<double> seconds;
    Walk last;
    for (int run = 0; run < repetitions; ++run) {
        last = walk(client, sql);
        seconds.push_back(last.seconds);
    }
    last.seconds = median(seconds);
    return last;
}

double medianCommandSeconds(const std::vector<std::string>& argv, int repetitions) {
    timeCommand(argv);
    return medianOf(repetitions, [&] { return timeCommand(argv); });
}

// The figures of one walk beside those of the engine's own command-line tool
// reading the same rows: "<prefix>.walk_rows_per_s", "<prefix>.<tool>_rows_per_s",
// their ratio, and the bytes held per row against the row's text.
void reportWalk(const std::string& prefix, const Walk& walk, const std::string& tool, double toolRate) {
    const double walkRate = static_cast<double>(walk.rows) / walk.seconds;
    report(prefix + ".walk_rows", static_cast<double>(walk.rows), "rows");
    report(prefix + ".walk_rows_per_s", walkRate, "rows/s");
    report(prefix + "." + tool + "_rows_per_s", toolRate, "rows/s");
    report(prefix + ".walk_vs_" + tool, walkRate / toolRate, "x");
    report(prefix + ".bytes_per_row_held", walk.bytesHeldPerRow, "bytes");
    report(prefix + ".text_bytes_per_row", walk.textBytesPerRow, "bytes");
    report(prefix + ".held_vs_text", walk.bytesHeldPerRow / walk.textBytesPerRow, "x");
}

// The first packet of the whole table and of a thousand of its rows, and the
// memory held with the first: "<prefix>.first_packet_ms",
// "<prefix>.first_packet_small_ms", their ratio and
// "<prefix>.rss_after_first_packet_mb".
void measureFirstPackets(AliasClient& client, const std::string& prefix, const std::string& table,
                         int repetitions) {
    const std::string all = "SELECT * FROM " + table;
    const std::string small = "SELECT * FROM " + table + " LIMIT " + std::to_string(kSmallRows);
    std::vector<double> rss;
    const auto firstPacket = [&](const std::string& sql, bool noteMemory) {
        const Clock::time_point start = Clock::now();
        client.open(sql, kPacketRecords);
        const double ms = millisecondsSince(start);
        if (noteMemory) {
            rss.push_back(residentMegabytes());
        }
        client.close();
        return ms;
    };
    firstPacket(all, false);
    firstPacket(small, false);
    const double allMs = medianOf(repetitions, [&] { return firstPacket(all, true); });
    const double smallMs = medianOf(repetitions, [&] { return firstPacket(small, false); });
    report(prefix + ".first_packet_ms", allMs, "ms");
    report(prefix + ".first_packet_small_ms", smallMs, "ms");
    report(prefix + ".first_packet_vs_small", allMs / smallMs, "x");
    report(prefix + ".rss_after_first_packet_mb", median(rss), "MB");
}

// A first packet takes a millisecond or so, where a busy machine's scheduler
// easily adds as much: many more runs than for the walks.
int packetRepetitions(const Options& options) { return 4 * options.repetitions; }
int walkRepetitions(const Options& options) { return std::max(1, std::min(options.repetitions, 3)); }

// Walks the first rows of the table into the dataset, against the engine's
// own client (`tool`, run as `argv` with the statement last) reading them.
void walkAgainstTool(AliasClient& client, const Options& options, const std::string& prefix,
                     const std::string& table, const std::string& tool, std::vector<std::string> argv) {
    const long long walkRows = std::min(options.walkRows, options.rows);
    const std::string walked = "SELECT * FROM " + table + " LIMIT " + std::to_string(walkRows);
    const Walk result = medianWalk(client, walked, walkRepetitions(options));
    argv.push_back(walked);
    const double toolSeconds = medianCommandSeconds(argv, walkRepetitions(options));
    reportWalk(prefix, result, tool, static_cast<double>(walkRows) / toolSeconds);
}

// --- PostgreSQL --------------------------------------------------------------

void runPostgres(const Options& options, const ScratchDirectory& scratch) {
    std::string table;
    {
        auto connection = db::openPostgres(options.pgConninfo);
        table = ensureFiveColumnPgTable(*connection, options.rows);
    }
    AliasClient client(scratch, "BENCH_PG", "POSTGRESQL", aliasParamsOf(options.pgConninfo));
    report("pg.rss_baseline_mb", residentMegabytes(), "MB");
    measureFirstPackets(client, "pg", table, packetRepetitions(options));
    walkAgainstTool(client, options, "pg", table, "psql",
                    {"psql", "-X", "-q", "-A", "-t", "-d", options.pgConninfo, "-c"});
}

// --- MariaDB -----------------------------------------------------------------

db::MariaDbSettings mariaDbSettings(const Params& params) {
    db::MariaDbSettings settings;
    settings.host = paramValue(params, "SERVER NAME");
    settings.port = paramValue(params, "PORT");
    settings.database = paramValue(params, "DATABASE NAME");
    settings.user = paramValue(params, "USER NAME");
    settings.password = paramValue(params, "PASSWORD");
    return settings;
}

std::string ensureFiveColumnMariaDbTable(const Params& params, long long rows) {
    auto connection = db::openMariaDb(mariaDbSettings(params));
    const std::string table = "tarnwell_bench_" + std::to_string(rows);
    ensureServerTable(*connection, table,
                      "SELECT CAST(seq AS INTEGER) AS id, "
                      "CAST(substr(repeat(md5(seq), 2), 1, 20 + seq % 21) AS CHAR(40)) AS label, "
                      "CAST((seq * 137) % 100000000 / 100.0 AS DECIMAL(12,2)) AS amount, "
                      "TIMESTAMP '2020-01-01 00:00:00' + INTERVAL seq * 17 SECOND AS stamp, "
                      "seq % 3 = 0 AS flag "
                      "FROM seq_1_to_" +
                          std::to_string(rows),
                      std::to_string(rows) + " rows", "ANALYZE TABLE ");
    return table;
}

void runMariaDb(const Options& options, const ScratchDirectory& scratch) {
    const Params params = aliasParamsOf(options.mariaDbConninfo);
    const std::string table = ensureFiveColumnMariaDbTable(params, options.rows);
    AliasClient client(scratch, "BENCH_MARIADB", "MARIADB", params);
    report("mariadb.rss_baseline_mb", residentMegabytes(), "MB");
    measureFirstPackets(client, "mariadb", table, packetRepetitions(options));
    walkAgainstTool(client, options, "mariadb", table, "cli",
                    {"mariadb", "--no-defaults", "--batch", "--quick", "-h", paramValue(params, "SERVER NAME"),
                     "-P", paramValue(params, "PORT"), "-u", paramValue(params, "USER NAME"),
                     "-p" + paramValue(params, "PASSWORD"), paramValue(params, "DATABASE NAME"), "-e"});
}

// The same first packets through MariaDB's ODBC driver, which reads a whole
// result before it hands over the first row: far fewer runs.
void runMariaDbOdbc(const Options& options, const ScratchDirectory& scratch) {
    const Params params = aliasParamsOf(options.mariaDbConninfo);
    const std::string table = "tarnwell_bench_" + std::to_string(options.rows);
    AliasClient client(scratch, "BENCH_MARIADB_ODBC", "ODBC",
                       {{"DRIVER", "MariaDB Unicode"},
                        {"SERVER", paramValue(params, "SERVER NAME")},
                        {"PORT", paramValue(params, "PORT")},
                        {"DATABASE", paramValue(params, "DATABASE NAME")},
                        {"USER NAME", paramValue(params, "USER NAME")},
                        {"PASSWORD", paramValue(params, "PASSWORD")}});
    measureFirstPackets(client, "mariadb.odbc", table, std::max(1, std::min(options.repetitions, 3)));
}

// --- SQLite --------------------------------------------------------------------

void runSqlite(const Options& options, const ScratchDirectory& scratch) {
    const std::string path = scratch.file("bench.db");
    createFiveColumnSqliteTable(path, kSqliteRows);
    AliasClient client(scratch, "BENCH_SQLITE", "SQLITE", {{"PATH", path}});
    const std::string sql = "SELECT * FROM t";
    const Walk result = medianWalk(client, sql, walkRepetitions(options));
    const double cliSeconds = medianCommandSeconds({"sqlite3", "-list", path, sql}, walkRepetitions(options));
    reportWalk("sqlite", result, "cli", static_cast<double>(kSqliteRows) / cliSeconds);
}

}  // namespace

int runDataLayerBench(const Options& options) {
    const ScratchDirectory scratch;
    int failures = 0;
    if (options.pgConninfo.empty()) {
        note("no --pg connection string: PostgreSQL figures skipped");
    } else {
        failures += runInFreshProcess([&] { runPostgres(options, scratch); });
    }
    if (options.mariaDbConninfo.empty()) {
        note("no --mariadb connection string: MariaDB figures skipped");
    } else {
        failures += runInFreshProcess([&] { runMariaDb(options, scratch); });
        failures += runInFreshProcess([&] { runMariaDbOdbc(options, scratch); });
    }
    failures += runInFreshProcess([&] { runSqlite(options, scratch); });
    return failures == 0 ? 0 : 1;
}

std::string ensureFiveColumnPgTable(db::Connection& connection, long long rows) {
    const std::string table = "tarnwell_bench_" + std::to_string(rows);
    ensureServerTable(connection, table,
                      "SELECT g AS id, "
                      "substr(repeat(md5(g::text), 2), 1, 20 + g % 21) AS label, "
                      "((g::bigint * 137) % 100000000 / 100.0)::numeric(12,2) AS amount, "
                      "timestamp '2020-01-01' + g * interval '17 seconds' AS stamp, "
                      "g % 3 = 0 AS flag "
                      "FROM generate_series(1, " +
                          std::to_string(rows) + ") g",
                      std::to_string(rows) + " rows");
    return table;
}

void createFiveColumnSqliteTable(const std::string& path, long long rows) {
    note("creating an SQLite table of " + std::to_string(rows) + " rows in " + path);
    makeSqliteFile(
        path, {"CREATE TABLE t (id INTEGER, label VARCHAR(40), amount NUMERIC(12,2), stamp TIMESTAMP, flag BOOLEAN)",
               "INSERT INTO t WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " +
                   std::to_string(rows) +
                   ") SELECT n, substr(printf('%08x', n * 2654435761 % 4294967296) || "
                   "'abcdefghijklmnopqrstuvwxyz0123456789', 1, 20 + n % 21), "
                   "(n * 137) % 100000000 / 100.0, datetime(1577836800 + n * 17, 'unixepoch'), n % 3 = 0 FROM g"});
}

}  // namespace tarnwell::bench
