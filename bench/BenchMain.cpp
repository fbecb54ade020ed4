// tarnwell-bench: Tarnwell's figures of speed and memory, one a line as
// "name value unit" on standard output (progress goes to standard error).
//
//   tarnwell-bench [--pg CONNINFO] [--rows N] [--walk-rows N] [--repetitions N]
//
// Every mode lives in a source file of its own and is chosen here; the data
// layer's figures are the default mode.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BenchSupport.h"
#include "DataLayerBench.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: tarnwell-bench [--pg CONNINFO] [--rows N] [--walk-rows N] [--repetitions N]\n"
                 "  --pg CONNINFO     PostgreSQL server for the pg.* figures (libpq connection string)\n"
                 "  --rows N          rows of the PostgreSQL table (default 10000000; made when missing)\n"
                 "  --walk-rows N     rows walked into the dataset (default 1000000)\n"
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

}  // namespace

int main(int argc, char** argv) {
    tarnwell::bench::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long long count = 0;
        if (arg == "--pg" && hasValue) {
            options.pgConninfo = argv[++i];
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
    return tarnwell::bench::runDataLayerBench(options);
}
