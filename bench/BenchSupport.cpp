#include "BenchSupport.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "dataaccess/Connection.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/sqlite/SqliteConnection.h"

extern char** environ;

namespace tarnwell::bench {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace {

double statusMegabytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stod(line.substr(key.size())) * 1024 / 1e6;
        }
    }
    return -1;
}

}  // namespace

double residentMegabytes() { return statusMegabytes("VmRSS:"); }

double peakResidentMegabytes() { return statusMegabytes("VmHWM:"); }

bool resetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

void report(std::string_view name, double value, std::string_view unit) {
    const double magnitude = value < 0 ? -value : value;
    const int decimals = magnitude >= 1000 ? 0 : magnitude >= 10 ? 1 : magnitude >= 1 ? 2 : 3;
    std::printf("%.*s %.*f %.*s\n", static_cast<int>(name.size()), name.data(), decimals, value,
                static_cast<int>(unit.size()), unit.data());
    std::fflush(stdout);
}

void note(const std::string& text) {
    std::fprintf(stderr, "tarnwell-bench: %s\n", text.c_str());
}

CommandFigures measureCommand(const std::vector<std::string>& argv, const std::string& output,
                              const std::vector<std::string>& environment) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    // The bench's own settings replace the caller's of the same name (an
    // inherited TARNWELL_ALIASES would come first and win).
    const auto givenHere = [&environment](const char* entry) {
        const std::string_view name(entry, std::strcspn(entry, "="));
        return std::any_of(environment.begin(), environment.end(), [name](const std::string& own) {
            return own.size() > name.size() && own.compare(0, name.size(), name) == 0 && own[name.size()] == '=';
        });
    };
    std::vector<char*> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!givenHere(*entry)) {
            env.push_back(*entry);
        }
    }
    for (const std::string& entry : environment) {
        env.push_back(const_cast<char*>(entry.c_str()));
    }
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error(argv[0] + ": cannot start: " + std::strerror(spawned));
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    CommandFigures figures;
    figures.seconds = secondsSince(start);
    figures.peakResidentMb = static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(argv[0] + " failed (status " + std::to_string(status) + ")");
    }
    return figures;
}

double timeCommand(const std::vector<std::string>& argv, const std::string& output) {
    return measureCommand(argv, output).seconds;
}

int runInFreshProcess(const std::function<void()>& part) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        int code = 0;
        try {
            part();
        } catch (const std::exception& error) {
            note(error.what());
            code = 1;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(code);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

ScratchDirectory::ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwell-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary directory");
    }
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string writeAliasFile(const ScratchDirectory& scratch, const std::string& name, const std::string& driver,
                           const Params& params) {
    const std::string path = scratch.file(name + ".conf");
    std::ofstream out(path);
    out << "[" << name << "]\nTYPE=" << driver << "\n";
    for (const auto& [key, value] : params) {
        out << key << "=" << value << "\n";
    }
    return path;
}

void makeSqliteFile(const std::string& path, const std::vector<std::string>& statements) {
    db::SqliteSettings settings;
    settings.path = path;
    settings.createIfMissing = true;
    auto connection = db::openSqlite(settings);
    for (const std::string& statement : statements) {
        connection->execute(statement);
    }
}

Params aliasParamsOf(const std::string& conninfo) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(conninfo.c_str(), &error),
                                                                          &PQconninfoFree);
    if (!options) {
        std::string message = error != nullptr ? error : "cannot read the connection string";
        PQfreemem(error);
        throw std::runtime_error(message);
    }
    const std::pair<const char*, const char*> names[] = {
        {"host", "SERVER NAME"}, {"port", "PORT"},         {"dbname", "DATABASE NAME"},
        {"user", "USER NAME"},   {"password", "PASSWORD"},
    };
    Params params;
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        for (const auto& [keyword, parameter] : names) {
            if (option->val != nullptr && std::string(option->keyword) == keyword) {
                params.emplace_back(parameter, option->val);
            }
        }
    }
    return params;
}

std::string paramValue(const Params& params, const std::string& name) {
    for (const auto& [key, value] : params) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

void ensureServerTable(db::Connection& connection, const std::string& table, const std::string& select,
                       const std::string& what, const std::string& tidy) {
    // Asked in the SQL every server knows: a missing table is an error.
    try {
        connection.execute("SELECT 1 FROM " + table + " WHERE 1 = 0");
        note("using the table " + table);
        return;
    } catch (const db::DbError&) {
    }
    note("creating the table " + table + " (" + what + "; this takes a while once)");
    const Clock::time_point start = Clock::now();
    connection.execute("DROP TABLE IF EXISTS " + table + "_building");
    connection.execute("CREATE TABLE " + table + "_building AS " + select);
    connection.execute(tidy + table + "_building");
    connection.execute("ALTER TABLE " + table + "_building RENAME TO " + table);
    note("table made in " + std::to_string(secondsSince(start)) + " s");
}

}  // namespace tarnwell::bench
