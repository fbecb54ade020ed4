#pragma once

// Helpers of the tests that talk to a database server through one backend.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "dataaccess/DbError.h"
#include "dataaccess/mariadb/MariaDbConnection.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {

// Runs `call` and gives the DbError it throws; fails the test if it throws
// none.
template <typename Call>
db::DbError errorOf(Call&& call) {
    try {
        call();
    } catch (const db::DbError& error) {
        return error;
    }
    ADD_FAILURE() << "no DbError was thrown";
    return db::DbError("");
}

// A socket on a free port of 127.0.0.1; listening, the kernel accepts
// connections to it that nobody ever answers.
class LoopbackSocket {
public:
    explicit LoopbackSocket(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = std::to_string(ntohs(address.sin_port));
        if (listening) {
            ::listen(fd_, 4);
        }
    }
    ~LoopbackSocket() { ::close(fd_); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    const std::string& port() const { return port_; }

private:
    int fd_;
    std::string port_;
};

// The settings that reach the MariaDB test server.
inline db::MariaDbSettings mariaDbSettingsOf(const MariaDbTestServer& server) {
    db::MariaDbSettings settings;
    settings.host = server.host;
    settings.port = server.port;
    settings.database = server.database;
    settings.user = server.user;
    settings.password = server.password;
    return settings;
}

}  // namespace tarnwell::test
