#pragma once

// What every mode of tarnwell-bench shares: its options, clocks, medians,
// the resident set, child commands timed against the same data, and the
// report, one figure a line as "name value unit".

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwell::db {
class Connection;
}

namespace tarnwell::bench {

struct Options {
    std::string pgConninfo;              // --pg; empty: no PostgreSQL figures
    std::string mariaDbConninfo;         // --mariadb (same form); empty: no MariaDB figures
    long long rows = 10'000'000;         // --rows: rows of the PostgreSQL table
    long long walkRows = 1'000'000;      // --walk-rows: rows walked into a dataset
    int repetitions = 5;                 // --repetitions: timed runs per figure
};

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start);
double secondsSince(Clock::time_point start);

double median(std::vector<double> values);

// The process's resident set (VmRSS) in megabytes (10^6 bytes).
double residentMegabytes();
// The largest resident set since the process started or since the last
// resetPeakResident() (VmHWM), in megabytes.
double peakResidentMegabytes();
// Starts the peak over from the resident set of now; false when the kernel
// does not allow it.
bool resetPeakResident();

// Prints "name value unit" on standard output at once.
void report(std::string_view name, double value, std::string_view unit);

// Progress and notes for the person watching, on standard error.
void note(const std::string& text);

// What a whole child process took: wall-clock seconds from its start to its
// end, and its largest resident set (megabytes, 10^6 bytes).
struct CommandFigures {
    double seconds = 0;
    double peakResidentMb = 0;
};

// Runs a program (looked up in PATH) with its standard output going to
// `output`, with `environment` ("NAME=value") added to this process's.
// Throws std::runtime_error when it cannot start or ends with a failure.
CommandFigures measureCommand(const std::vector<std::string>& argv, const std::string& output = "/dev/null",
                              const std::vector<std::string>& environment = {});

// The same, only the seconds.
double timeCommand(const std::vector<std::string>& argv, const std::string& output = "/dev/null");

// Runs `part` in a child process of its own and gives its exit code (0 when
// it returned, 1 when it threw, after a note). Each part then starts from a
// fresh process, as a user's first query does: memory that an earlier part
// touched and freed would otherwise make a later part look faster than it
// is, for the kernel no longer has to hand out those pages.
int runInFreshProcess(const std::function<void()>& part);

// The median of `runs` timings of `action` (in whatever unit it returns).
template <typename Action>
double medianOf(int runs, Action&& action) {
    std::vector<double> values;
    for (int run = 0; run < runs; ++run) {
        values.push_back(action());
    }
    return median(values);
}

// A directory of the run's own, removed at the end.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Alias parameters, in file order.
using Params = std::vector<std::pair<std::string, std::string>>;

// Writes an alias file of one alias, [name] of type `driver` with `params`,
// into `scratch`; its path.
std::string writeAliasFile(const ScratchDirectory& scratch, const std::string& name, const std::string& driver,
                           const Params& params);

// Makes the SQLite file `path` and runs `statements` in it, one after the
// other (a table and its rows, typically).
void makeSqliteFile(const std::string& path, const std::vector<std::string>& statements);

// The server alias parameters (SERVER NAME, PORT, ...) of a libpq
// connection string ("host=... port=... dbname=... user=... password=..."),
// which names a MariaDB server as well. Throws std::runtime_error when it
// does not parse.
Params aliasParamsOf(const std::string& conninfo);
// The value of one of them, "" when absent.
std::string paramValue(const Params& params, const std::string& name);

// The server table `table` as `select` makes it, made unless a complete one is
// there: it is built under another name and renamed when whole, so an
// interrupted build is never taken for a finished table; `tidy` (the table's
// name follows) then brings the server's statistics up to date. `what`
// describes it for the note.
void ensureServerTable(db::Connection& connection, const std::string& table, const std::string& select,
                       const std::string& what, const std::string& tidy = "VACUUM ANALYZE ");

}  // namespace tarnwell::bench
