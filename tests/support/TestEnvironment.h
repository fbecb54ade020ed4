#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarnwell::test {

// The throw-away PostgreSQL server that the test run started (see
// tests/harness/pgserver.sh), read from the state directory that CTest names
// in TARNWELL_TEST_STATE.
struct TestServer {
    std::string conninfo;  // libpq connection string
    std::string host;
    std::string port;
    std::string database;
    std::string user;
    std::string password;
    std::string dataDirectory;
};

// The server, or nothing when the run has none.
const std::optional<TestServer>& testServer();

// The throw-away MariaDB server of the test run (tests/harness/
// mariadbserver.sh), or nothing when the run has none (MariaDB is not
// installed).
struct MariaDbTestServer {
    std::string host;
    std::string port;
    std::string database;
    std::string user;
    std::string password;
    std::string socket;  // the server's Unix socket
};
const std::optional<MariaDbTestServer>& testMariaDbServer();

// A PostgreSQL server of one test's own, on a state directory of its own
// (tests/harness/pgserver.sh), for what would disturb the tests running
// beside it on the shared one: restarting the server, say. Started by the
// constructor, stopped and removed by the destructor.
class PrivatePgServer {
public:
    PrivatePgServer();
    ~PrivatePgServer();
    PrivatePgServer(const PrivatePgServer&) = delete;
    PrivatePgServer& operator=(const PrivatePgServer&) = delete;

    // Nothing when the server did not start.
    const std::optional<TestServer>& server() const { return server_; }
    // Stops and starts it again on the same port; every connection to it
    // ends. False when that failed.
    bool restart();

private:
    bool harness(const char* action) const;

    std::string state_;
    std::optional<TestServer> server_;
};

// Points unixODBC at the private test configuration (data sources
// "tarnwell_sqlite" and "tarnwell_pg"); false when there is none.
bool useTestOdbcConfiguration();

// The data source of the throw-away MariaDB server in that configuration
// (tests/harness/mariadbserver.sh), or "" when the run has none (MariaDB or
// its ODBC driver is not installed).
std::string testMariaDbDataSource();

// True when running under CI=true, where a missing server or driver is a
// failure rather than a reason to skip.
bool underCi();

}  // namespace tarnwell::test

// Gives the test server to the current test, or ends the test: failed under
// CI=true, skipped elsewhere.
#define TARNWELL_REQUIRE_PG(var)                                                   \
    if (!::tarnwell::test::testServer()) {                                         \
        if (::tarnwell::test::underCi()) {                                         \
            FAIL() << "the PostgreSQL test server is not running";                 \
        }                                                                          \
        GTEST_SKIP() << "no PostgreSQL test server (run the tests through ctest)"; \
    }                                                                              \
    const ::tarnwell::test::TestServer& var = *::tarnwell::test::testServer()

// Gives the MariaDB test server to the current test, or ends the test as
// TARNWELL_REQUIRE_PG does.
#define TARNWELL_REQUIRE_MARIADB(var)                                              \
    if (!::tarnwell::test::testMariaDbServer()) {                                  \
        if (::tarnwell::test::underCi()) {                                         \
            FAIL() << "the MariaDB test server is not running";                    \
        }                                                                          \
        GTEST_SKIP() << "no MariaDB test server (package mariadb-server; run the tests through ctest)"; \
    }                                                                              \
    const ::tarnwell::test::MariaDbTestServer& var = *::tarnwell::test::testMariaDbServer()

// Gives a started PrivatePgServer's server to the current test, or ends the
// test as TARNWELL_REQUIRE_PG does.
#define TARNWELL_REQUIRE_PRIVATE_PG(var, privateServer)                            \
    if (!(privateServer).server()) {                                               \
        if (::tarnwell::test::underCi()) {                                         \
            FAIL() << "a PostgreSQL server of the test's own did not start";       \
        }                                                                          \
        GTEST_SKIP() << "no PostgreSQL server of the test's own (package postgresql)"; \
    }                                                                              \
    const ::tarnwell::test::TestServer& var = *(privateServer).server()

// Ends the test unless the private unixODBC configuration is in place.
#define TARNWELL_REQUIRE_ODBC()                                                     \
    if (!::tarnwell::test::useTestOdbcConfiguration()) {                            \
        if (::tarnwell::test::underCi()) {                                          \
            FAIL() << "the unixODBC test configuration is missing";                 \
        }                                                                           \
        GTEST_SKIP() << "no unixODBC test configuration (run the tests through ctest)"; \
    }
