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

// Ends the test unless the private unixODBC configuration is in place.
#define TARNWELL_REQUIRE_ODBC()                                                     \
    if (!::tarnwell::test::useTestOdbcConfiguration()) {                            \
        if (::tarnwell::test::underCi()) {                                          \
            FAIL() << "the unixODBC test configuration is missing";                 \
        }                                                                           \
        GTEST_SKIP() << "no unixODBC test configuration (run the tests through ctest)"; \
    }
