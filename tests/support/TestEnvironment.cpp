#include "support/TestEnvironment.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace tarnwell::test {

namespace {

// The KEY='value' lines a harness script wrote into a state directory.
std::map<std::string, std::string> readStateFile(const std::string& state) {
    std::map<std::string, std::string> values;
    if (state.empty()) {
        return values;
    }
    std::ifstream in(state + "/env");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
            value = value.substr(1, value.size() - 2);
        }
        values[line.substr(0, eq)] = value;
    }
    return values;
}

const std::map<std::string, std::string>& state() {
    static const std::map<std::string, std::string> values = [] {
        const char* directory = std::getenv("TARNWELL_TEST_STATE");
        return readStateFile(directory != nullptr ? directory : "");
    }();
    return values;
}

std::string valueIn(const std::map<std::string, std::string>& values, const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

std::optional<TestServer> pgServerIn(const std::map<std::string, std::string>& values) {
    if (valueIn(values, "TARNWELL_TEST_PG").empty()) {
        return std::nullopt;
    }
    return TestServer{valueIn(values, "TARNWELL_TEST_PG"),      valueIn(values, "TARNWELL_TEST_PG_HOST"),
                      valueIn(values, "TARNWELL_TEST_PG_PORT"), valueIn(values, "TARNWELL_TEST_PG_DATABASE"),
                      valueIn(values, "TARNWELL_TEST_PG_USER"), valueIn(values, "TARNWELL_TEST_PG_PASSWORD"),
                      valueIn(values, "TARNWELL_TEST_PG_DATADIR")};
}

std::string stateValue(const std::string& key) { return valueIn(state(), key); }

// Single quotes around a word for the shell.
std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

const std::optional<TestServer>& testServer() {
    static const std::optional<TestServer> server = pgServerIn(state());
    return server;
}

const std::optional<MariaDbTestServer>& testMariaDbServer() {
    static const std::optional<MariaDbTestServer> server = []() -> std::optional<MariaDbTestServer> {
        if (stateValue("TARNWELL_TEST_MARIADB_PORT").empty()) {
            return std::nullopt;
        }
        MariaDbTestServer mariaDb;
        mariaDb.host = stateValue("TARNWELL_TEST_MARIADB_HOST");
        mariaDb.port = stateValue("TARNWELL_TEST_MARIADB_PORT");
        mariaDb.database = stateValue("TARNWELL_TEST_MARIADB_DATABASE");
        mariaDb.user = stateValue("TARNWELL_TEST_MARIADB_USER");
        mariaDb.password = stateValue("TARNWELL_TEST_MARIADB_PASSWORD");
        mariaDb.socket = stateValue("TARNWELL_TEST_MARIADB_SOCKET");
        return mariaDb;
    }();
    return server;
}

PrivatePgServer::PrivatePgServer() {
    char directory[] = "/tmp/tarnwell-private-pg.XXXXXX";
    if (::mkdtemp(directory) == nullptr) {
        return;
    }
    state_ = std::string(directory) + "/state";
    if (harness("start")) {
        server_ = pgServerIn(readStateFile(state_));
    }
}

PrivatePgServer::~PrivatePgServer() {
    if (state_.empty()) {
        return;
    }
    harness("stop");
    std::filesystem::remove_all(std::filesystem::path(state_).parent_path());
}

bool PrivatePgServer::restart() { return server_ && harness("restart"); }

bool PrivatePgServer::harness(const char* action) const {
    const std::string command = shellQuoted(std::string(TARNWELL_HARNESS_DIR) + "/pgserver.sh") + " " + action +
                                " " + shellQuoted(state_) + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

bool useTestOdbcConfiguration() {
    const std::string sysIni = stateValue("ODBCSYSINI");
    const std::string userIni = stateValue("ODBCINI");
    if (sysIni.empty() || userIni.empty()) {
        return false;
    }
    ::setenv("ODBCSYSINI", sysIni.c_str(), 1);
    ::setenv("ODBCINI", userIni.c_str(), 1);
    return true;
}

std::string testMariaDbDataSource() { return stateValue("TARNWELL_TEST_MARIADB_DSN"); }

bool underCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

}  // namespace tarnwell::test
