#include "support/TestEnvironment.h"

#include <cstdlib>
#include <fstream>
#include <map>

namespace tarnwell::test {

namespace {

std::map<std::string, std::string> readStateFile() {
    std::map<std::string, std::string> values;
    const char* state = std::getenv("TARNWELL_TEST_STATE");
    if (state == nullptr || *state == '\0') {
        return values;
    }
    std::ifstream in(std::string(state) + "/env");
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
    static const std::map<std::string, std::string> values = readStateFile();
    return values;
}

std::string stateValue(const std::string& key) {
    const auto it = state().find(key);
    return it == state().end() ? std::string() : it->second;
}

}  // namespace

const std::optional<TestServer>& testServer() {
    static const std::optional<TestServer> server = []() -> std::optional<TestServer> {
        if (stateValue("TARNWELL_TEST_PG").empty()) {
            return std::nullopt;
        }
        return TestServer{stateValue("TARNWELL_TEST_PG"),          stateValue("TARNWELL_TEST_PG_HOST"),
                          stateValue("TARNWELL_TEST_PG_PORT"),     stateValue("TARNWELL_TEST_PG_DATABASE"),
                          stateValue("TARNWELL_TEST_PG_USER"),     stateValue("TARNWELL_TEST_PG_PASSWORD"),
                          stateValue("TARNWELL_TEST_PG_DATADIR")};
    }();
    return server;
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
