// How fast the PostgreSQL backend walks a large result into memory, and how
// little a streamed 10-million-row result costs before and while it is read.
//
// Not part of the build; compile it against a build tree by hand:
//   g++ -std=c++20 -O2 -I. bench/pg_fetch_rate.cpp
//       build/dataaccess/postgres/libtarnwell_db_postgres.a
//       build/dataaccess/libtarnwell_db_contract.a -lpq -o /tmp/pg_fetch_rate
// (one command line),
//   /tmp/pg_fetch_rate "host=... port=... dbname=... user=... password=..."
// and compare with the same rows read by psql:
//   time psql "<conninfo>" -Atc 'select * from pg_fetch_rate' > /dev/null
// (the table is left behind for that; drop it afterwards).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/postgres/PgConnection.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

void walkIntoMemory(tarnwell::db::Connection& connection, const std::string& sql) {
    const auto start = Clock::now();
    auto cursor = connection.execute(sql);
    tarnwell::db::RowStore rows(cursor->columns().size());
    cursor->fetch(rows, 1000);
    const double first = secondsSince(start);
    while (!cursor->atEnd()) {
        cursor->fetch(rows, 1000);
    }
    const double all = secondsSince(start);
    std::printf("into memory: %zu rows, first packet %.4f s, all %.3f s, %.0f rows/s, store %.1f MB\n",
                rows.rowCount(), first, all, rows.rowCount() / all, rows.bytesHeld() / 1e6);
}

void streamThrough(tarnwell::db::Connection& connection, const std::string& sql) {
    const auto start = Clock::now();
    auto cursor = connection.execute(sql);
    tarnwell::db::RowStore rows(cursor->columns().size());
    std::size_t total = cursor->fetch(rows, 100);
    const double first = secondsSince(start);
    while (!cursor->atEnd()) {
        rows.clear();
        total += cursor->fetch(rows, 100);
    }
    std::printf("streamed: %zu rows, first packet %.4f s, all %.3f s, resident %.1f MB\n", total,
                first, secondsSince(start), residentKilobytes() / 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CONNINFO\n", argv[0]);
        return 2;
    }
    try {
        auto connection = tarnwell::db::openPostgres(std::string(argv[1]));
        connection->execute("drop table if exists pg_fetch_rate");
        connection->execute(
            "create table pg_fetch_rate as select g as id, "
            "substr(repeat(md5(g::text), 2), 1, 20 + g % 21) as label, "
            "(g * 1.37)::numeric(12,2) as amount, "
            "timestamp '2020-01-01' + g * interval '17 seconds' as stamp, "
            "g % 3 = 0 as flag from generate_series(1, 1000000) g");
        connection->execute("vacuum analyze pg_fetch_rate");
        for (int round = 0; round < 3; ++round) {
            walkIntoMemory(*connection, "select * from pg_fetch_rate");
        }
        streamThrough(*connection,
                      "select g, md5(g::text) from (select generate_series(1, 10000000) g) s");
    } catch (const tarnwell::db::DbError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
