// tarnwell-bench: Tarnwell's figures of speed and memory, one a line as
// "name value unit" on standard output (progress goes to standard error).
//
//   tarnwell-bench [MODE...] [--pg CONNINFO] [--mariadb CONNINFO] [--rows N] [--walk-rows N]
//                  [--repetitions N]
//
// Each mode lives in a source file of its own and is listed in kModes; with
// no mode named, the data layer's figures are measured.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BatchBench.h"
#include "BenchSupport.h"
#include "CatalogBench.h"
#include "DataLayerBench.h"
#include "EditorBench.h"
#include "ExportBench.h"
#include "ReportBench.h"
#include "UiBench.h"

namespace {

using tarnwell::bench::Options;

struct Mode {
    const char* option;
    const char* description;
    int (*run)(const Options& options);
};

const Mode kModes[] = {
    {"--data", "the data layer: first packets, memory, walking rows (the default)",
     &tarnwell::bench::runDataLayerBench},
    {"--ui", "a query window: longest stall of the user interface, time to the first rows",
     &tarnwell::bench::runUiBench},
    {"--report", "a report through the print window: first page in the preview, pages per second, memory, PDF",
     &tarnwell::bench::runReportBench},
    {"--export", "the exports: CSV against sqlite3 and psql, .xlsx against libxlsxwriter; rows/s, memory",
     &tarnwell::bench::runExportBench},
    {"--batch", "tarnwell --run writing CSV against psql's \\copy and sqlite3 -csv; rows/s, peak memory",
     &tarnwell::bench::runBatchBench},
    {"--editor", "the SQL editor: a 5 MB script split and lexed (MB/s), and in a query window: open, keys, \"/*\" typed (ms)",
     &tarnwell::bench::runEditorBench},
    {"--catalog", "the catalog of 10,000 PostgreSQL and 2,000 SQLite tables against psql's \\dt; load time, memory",
     &tarnwell::bench::runCatalogBench},
};

void usage() {
    std::fprintf(stderr,
                 "usage: tarnwell-bench [MODE...] [--pg CONNINFO] [--mariadb CONNINFO] [--rows N] [--walk-rows N] "
                 "[--repetitions N]\n");
    for (const Mode& mode : kModes) {
        std::fprintf(stderr, "  %-17s %s\n", mode.option, mode.description);
    }
    std::fprintf(stderr,
                 "  --pg CONNINFO     PostgreSQL server for the pg.* figures (libpq connection string)\n"
                 "  --mariadb CONNINFO MariaDB server for the mariadb.* figures (host=... port=... dbname=...\n"
                 "                    user=... password=...; default: $TARNWELL_TEST_MARIADB, the test harness's)\n"
                 "  --rows N          rows of the PostgreSQL table (default 10000000; made when missing)\n"
                 "  --walk-rows N     rows walked into the dataset, or exported (default 1000000)\n"
                 "  --repetitions N   timed runs per figure, the median reported (default 5)\n");
}

bool readCount(const char* text, long long& value) {
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 1) {
        return false;
    }
    value = parsed;
    return true;
}

const Mode* modeNamed(const std::string& option) {
    for (const Mode& mode : kModes) {
        if (option == mode.option) {
            return &mode;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::vector<const Mode*> modes;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long long count = 0;
        if (const Mode* mode = modeNamed(arg)) {
            modes.push_back(mode);
        } else if (arg == "--pg" && hasValue) {
            options.pgConninfo = argv[++i];
        } else if (arg == "--mariadb" && hasValue) {
            options.mariaDbConninfo = argv[++i];
        } else if (arg == "--rows" && hasValue && readCount(argv[i + 1], count)) {
            options.rows = count;
            ++i;
        } else if (arg == "--walk-rows" && hasValue && readCount(argv[i + 1], count)) {
            options.walkRows = count;
            ++i;
        } else if (arg == "--repetitions" && hasValue && readCount(argv[i + 1], count)) {
            options.repetitions = static_cast<int>(count);
            ++i;
        } else {
            usage();
            return 2;
        }
    }
    if (modes.empty()) {
        modes.push_back(&kModes[0]);
    }
    if (const char* harnessServer = std::getenv("TARNWELL_TEST_MARIADB"); options.mariaDbConninfo.empty() && harnessServer) {
        options.mariaDbConninfo = harnessServer;
    }
    int exitCode = 0;
    for (const Mode* mode : modes) {
        if (mode->run(options) != 0) {
            exitCode = 1;
        }
    }
    return exitCode;
}
