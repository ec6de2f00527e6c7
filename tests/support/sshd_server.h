// A real OpenSSH SFTP server for the tests, run by scripts/sftptmp on a
// loopback port with a host key and directory of its own and the shared test
// user (made once, idempotently). Stopped when the object dies.
#pragma once

#include <unistd.h>

#include <ctime>
#include <string>

#include "tmpfiles.h"

class SshdServer {
public:
    SshdServer();
    ~SshdServer();
    SshdServer(const SshdServer&) = delete;
    SshdServer& operator=(const SshdServer&) = delete;

    bool ok() const { return port_ > 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::string& hostkey() const { return hostkey_; }
    // The directory the user lands in (SFTP "."), readable by the user.
    const std::string& files() const { return files_; }

    // The SFTP link settings ("KEY=VALUE\n" lines) for this server.
    std::string linkConfig(int timeout = 1, bool pin = true) const;
    // Writes files()/name with `content` and the given modification time.
    std::string put(const std::string& name, const std::string& content, time_t mtime) const;
    // sshd's own log.
    std::string log() const;

    bool stop();
    bool start();  // again, on the same port with the same host key

private:
    TempDir dir_;
    std::string root_, error_, user_, password_, hostkey_, files_;
    int port_ = 0;
};

// Stops the current test when the server could not be started: a failure
// when run as root (as CI does), else a skip with the reason.
#define SSHD_REQUIRE(s)                                                                     \
    do {                                                                                    \
        if (!(s).ok()) {                                                                    \
            if (geteuid() == 0) FAIL() << "sshd: " << (s).error();                          \
            GTEST_SKIP() << "no SFTP server for this test (" << (s).error() << ")";         \
        }                                                                                   \
    } while (0)
