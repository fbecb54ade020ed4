// tarnwell-startup-bench: how long Tarnwell takes from the start of its
// process until its event loop first has nothing to do, how much memory it
// holds then, and how long a second start takes to hand over and end.
//
//   tarnwell-startup-bench [--runs N]
//
// Each run starts this program anew as a child that runs Tarnwell's own
// start-up (the code main() runs) with an idle hook; the child reports the
// monotonic clock and its resident set size at the first idle moment, then
// leaves through the tray menu's exit. Every run gets a private runtime
// directory, so it is the only instance. The window system is whatever the
// environment gives (DISPLAY, QT_QPA_PLATFORM).
#include <QAction>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "shell/Startup.h"
#include "shell/UMain.h"

extern char** environ;

namespace {

constexpr const char* kChildFlag = "--startup-bench-child";
constexpr const char* kStayFlag = "--startup-bench-stay";

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// In the child: Tarnwell itself, reporting at its first idle moment.
int runChild(char* program, bool stay) {
    char* argv[] = {program, nullptr};
    int argc = 1;
    tarnwell::StartupHooks hooks;
    hooks.whenIdle = [stay](tarnwell::TfrmMain& main) {
        std::printf("idle_ns=%lld rss_kb=%ld\n", monotonicNs(), residentKb());
        std::fflush(stdout);
        if (!stay) {
            QAction* exit = main.findChild<QAction*>(QStringLiteral("N1"));
            QTimer::singleShot(0, exit, &QAction::trigger);
        }
    };
    return tarnwell::runTarnwell(argc, argv, hooks);
}

struct Child {
    pid_t pid = -1;
    int output = -1;
};

Child spawnSelf(const char* self, const char* flag) {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // The platform plugin's chatter would drown the report.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(flag), nullptr};
    Child child;
    if (posix_spawn(&child.pid, self, &actions, nullptr, argv, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    child.output = fds[0];
    return child;
}

std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char* what, const char* unit, const std::vector<double>& values) {
    std::printf("  %-24s median %8.1f %s   (min %.1f, max %.1f)\n", what, median(values), unit,
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
}

// A fresh private runtime directory, so that each run is the only instance.
std::string makeRuntimeDirectory() {
    char pattern[] = "/tmp/tarnwell-bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    return pattern;
}

void removeRuntimeDirectory(const std::string& dir) {
    const std::string socket = dir + "/Tarnwell-" + std::to_string(getuid());
    unlink(socket.c_str());
    rmdir(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], kChildFlag) == 0) {
        return runChild(argv[0], false);
    }
    if (argc >= 2 && std::strcmp(argv[1], kStayFlag) == 0) {
        return runChild(argv[0], true);
    }
    int runs = 15;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: tarnwell-startup-bench [--runs N]\n");
        return 2;
    }
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) {
        std::perror("readlink");
        return 1;
    }
    self[length] = '\0';

    std::vector<double> startMs, rssMiB, secondMs;
    for (int run = 0; run < runs; ++run) {
        const std::string dir = makeRuntimeDirectory();
        const long long spawned = monotonicNs();
        Child first = spawnSelf(self, kStayFlag);
        long long idleNs = 0;
        long rssKb = 0;
        const std::string line = readLine(first.output);
        if (std::sscanf(line.c_str(), "idle_ns=%lld rss_kb=%ld", &idleNs, &rssKb) != 2) {
            std::fprintf(stderr, "run %d: the child reported nothing (exit %d)\n", run,
                         waitFor(first.pid));
            return 1;
        }
        startMs.push_back(static_cast<double>(idleNs - spawned) / 1e6);
        rssMiB.push_back(static_cast<double>(rssKb) / 1024.0);

        // A second start while the first one runs: hand-over and exit.
        const long long secondSpawned = monotonicNs();
        Child second = spawnSelf(self, kChildFlag);
        const int secondExit = waitFor(second.pid);
        secondMs.push_back(static_cast<double>(monotonicNs() - secondSpawned) / 1e6);
        close(second.output);
        if (secondExit != 0) {
            std::fprintf(stderr, "run %d: the second start ended with %d\n", run, secondExit);
            return 1;
        }
        kill(first.pid, SIGTERM);
        waitFor(first.pid);
        close(first.output);
        removeRuntimeDirectory(dir);
    }

    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    std::printf("tarnwell start-up, %d runs, platform %s%s%s\n", runs,
                platform ? platform : "default", display ? ", DISPLAY=" : "",
                display ? display : "");
    report("start to idle event loop", "ms", startMs);
    report("resident set at idle", "MiB", rssMiB);
    report("second start to exit", "ms", secondMs);
    return 0;
}
