// End-to-end runs of the whole system as separate processes: the built
// daemon (through DaemonHarness), the PMS simulator vornpms_pmssim and the
// multicast listener vornpms_mcast_listen, each with its output in a file the
// test reads, and the test PostgreSQL.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "daemon_harness.h"
#include "pg_fixture.h"
#include "tmpfiles.h"

// A program in the background: standard output and error go to a file; its
// standard input is a pipe the test writes to.
class E2eProcess {
public:
    E2eProcess(const std::vector<std::string>& argv, const std::string& out_path);
    ~E2eProcess();  // SIGKILL and reap when still running
    E2eProcess(const E2eProcess&) = delete;
    E2eProcess& operator=(const E2eProcess&) = delete;

    pid_t pid() const { return pid_; }
    void send(const std::string& line);  // one line to standard input
    std::string output() const;
    size_t mark() const { return output().size(); }
    // Waits until `text` appears in the output after `from`.
    bool waitFor(const std::string& text, int timeout_ms, size_t from = 0) const;
    int count(const std::string& text, size_t from = 0) const;
    // Sends `sig` and waits; exit status, 128 + signal, or -1 on time-out.
    int stop(int sig, int timeout_ms = 5000);

private:
    pid_t pid_ = -1;
    int in_fd_ = -1;
    std::string out_path_;
};

// The simulator with a hotel file, over TCP on a free port or a pseudo-terminal.
class E2eSim {
public:
    // `vendor`: the daemon's VENDOR whose PMS the simulator plays ("": FIAS).
    E2eSim(const TempDir& dir, const std::string& hotel, bool serial = false, const std::string& vendor = "");
    bool ok() const { return !where_.empty(); }
    // PMSCOMMTYPE and PMSCOMMOPTS lines for the daemon's configuration.
    std::string linkConfig() const;
    void command(const std::string& line) { proc_->send(line); }
    E2eProcess& proc() { return *proc_; }
    bool waitFor(const std::string& text, int timeout_ms, size_t from = 0) const {
        return proc_->waitFor(text, timeout_ms, from);
    }

private:
    bool serial_;
    std::string where_;  // "127.0.0.1:PORT" or the device path
    std::unique_ptr<E2eProcess> proc_;
};

// One whole system: database (shared server, or `server` when given), the
// simulator, the multicast listener and the daemon with Micros-Fidelio.
class E2eSystem {
public:
    explicit E2eSystem(bool serial = false, const PgServer* server = nullptr);
    // Another FIAS vendor than Micros-Fidelio, for daemon and simulator; before start().
    void setVendor(const std::string& vendor) { vendor_ = vendor; }

    // Starts simulator, listener and daemon; true when the link came up.
    // `extra` settings go before the defaults (the first line of a key wins).
    bool start(const std::string& hotel, const std::string& extra = "");
    std::string why() const;  // the outputs, for failure messages

    PgTestDb& db() { return *db_; }
    DaemonHarness& daemon() { return d_; }
    E2eSim& sim() { return *sim_; }
    E2eProcess& mcast() { return *mcast_; }

    // An unposted room-billed session that started ten minutes ago; its ses_seq_no.
    std::string addCharge(const std::string& room, const std::string& guest, const std::string& amount,
                          const std::string& mac);
    // Polls `sql` until its value is `want`.
    bool waitValue(const std::string& sql, const std::string& want, int timeout_ms);
    // One control request; the frames the daemon answered with, concatenated.
    std::string control(const std::string& subtype, const std::string& data);

private:
    bool serial_;
    std::string vendor_ = "Micros-Fidelio 2-way";
    DaemonHarness d_;
    std::unique_ptr<PgTestDb> own_db_;
    PgTestDb* db_;
    std::unique_ptr<E2eSim> sim_;
    std::unique_ptr<E2eProcess> mcast_;
};

// STX type subtype data ETX of the control port.
std::string e2eFrame(const std::string& type, const std::string& subtype, const std::string& data);
