// End-to-end runs of the built daemon: a database of its own, a configuration
// file, control and multicast ports, a lock file, and `vornpms -D` in the
// foreground with its log lines (standard error) collected in a file.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "pg_fixture.h"
#include "tmpfiles.h"

class DaemonHarness {
public:
    DaemonHarness();
    ~DaemonHarness();  // SIGKILL and reap when still running
    DaemonHarness(const DaemonHarness&) = delete;
    DaemonHarness& operator=(const DaemonHarness&) = delete;

    bool dbOk() const { return db_->ok(); }
    PgTestDb& db() { return *db_; }
    const TempDir& dir() const { return dir_; }

    // The settings every run gets: database, CONTROLPORT on 127.0.0.1,
    // POSTDELAY 1, Agilysys over TCP to 127.0.0.1:pms_port with a 1 s read
    // time-out, multicast on 127.0.0.1 and a port of its own, a traffic log.
    std::string baseConfig(int pms_port) const;
    // Writes the configuration (baseConfig + `extra` "KEY=VALUE\n" lines,
    // later lines of a key do not override earlier ones) and starts the daemon.
    bool start(int pms_port, const std::string& extra = "");
    // Starts with a configuration text of the caller's.
    bool startWith(const std::string& config);

    // For the next start: extra "NAME=value" environment entries, and whether
    // -D is passed (a service manager's daemon stays in the foreground without it).
    void setEnv(std::vector<std::string> env) { env_ = std::move(env); }
    void setForegroundOption(bool on) { foreground_option_ = on; }
    std::string configPath() const { return dir_.path() + "/vornpms.cfg"; }
    const std::string& logPath() const { return log_path_; }

    pid_t pid() const { return pid_; }
    int controlPort() const { return control_port_; }
    int mcastPort() const { return mcast_port_; }
    const std::string& lockPath() const { return lock_; }

    // The daemon's log so far, and its length (a mark to wait from).
    std::string log() const;
    size_t mark() const { return log().size(); }
    // Waits until `text` appears in the log after `from`; true when it did.
    bool waitLog(const std::string& text, int timeout_ms, size_t from = 0) const;
    int countLog(const std::string& text, size_t from = 0) const;
    // Waits until `text` has appeared at least `n` times.
    bool waitCount(const std::string& text, int n, int timeout_ms) const;

    // Sends `sig` and waits for the exit; the status (128 + signal when
    // killed by one, -1 when it did not end in time).
    int stop(int sig, int timeout_ms = 5000);
    // False once the daemon has ended (it is reaped; stop() then returns its status).
    bool running();
    // Descriptors the daemon holds, and its CPU time in clock ticks.
    int openFds() const;
    long cpuTicks() const;

private:
    std::unique_ptr<PgTestDb> db_;
    TempDir dir_;
    int control_port_ = 0;
    int mcast_port_ = 0;
    std::string lock_, log_path_;
    pid_t pid_ = -1;
    int exit_status_ = -1;  // of a daemon reaped by running()
    std::vector<std::string> env_;
    bool foreground_option_ = true;
};

// One control request over a fresh connection: the bytes received until the
// daemon closed it.
std::string controlRequest(int port, const std::string& bytes, int timeout_ms = 8000);
// An Agilysys frame: STX, text, ETX and the LRC of the text (or `lrc`).
std::string agilysysFrame(const std::string& text);
std::string agilysysFrame(const std::string& text, char lrc);
