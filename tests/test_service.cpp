// The daemon under a service manager, seen from a real notify socket:
// readiness only once the control port accepts, the status line, watchdog
// keep-alives at the configured rate that stop while the daemon is stopped,
// foreground without -D, one copy of each line in the journal, and a start
// with a broken configuration that names the file and the key.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "daemon_harness.h"
#include "loopback_peer.h"
#include "netutil.h"
#include "platform/notify.h"
#include "procrun.h"
#include "tmpfiles.h"

namespace {

using Clock = std::chrono::steady_clock;

// The service manager's end: a datagram socket on a path, or in the
// abstract namespace when `abstract_name` is given.
class NotifyListener {
public:
    explicit NotifyListener(const std::string& where, bool abstract = false) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        strncpy(sa.sun_path + (abstract ? 1 : 0), where.c_str(), sizeof sa.sun_path - 2);
        socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + where.size() + (abstract ? 1 : 0));
        if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), len) != 0) ADD_FAILURE() << "bind " << strerror(errno);
        env_ = "NOTIFY_SOCKET=" + std::string(abstract ? "@" : "") + where;
    }
    ~NotifyListener() { close(fd_); }
    const std::string& env() const { return env_; }
    // Next datagram, or "" after timeout_ms.
    std::string next(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return "";
        char buf[4096];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    }
    // Waits for a datagram containing `text`; every datagram seen is kept in `seen`.
    bool waitFor(const std::string& text, int timeout_ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (Clock::now() < deadline) {
            std::string m = next(50);
            if (m.empty()) continue;
            seen += m + "\n";
            if (m.find(text) != std::string::npos) return true;
        }
        return false;
    }
    // Datagrams equal to `text` during `ms`.
    int countFor(const std::string& text, int ms) {
        int n = 0;
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < deadline) {
            std::string m = next(20);
            seen += m.empty() ? "" : m + "\n";
            if (m == text) ++n;
        }
        return n;
    }
    std::string seen;

private:
    int fd_ = -1;
    std::string env_;
};

}  // namespace

TEST(Notify, ProtocolAndWatchdogSettings) {
    TempDir dir;
    NotifyListener path_socket(dir.path() + "/notify");
    NotifyListener abstract_socket("vornpms-test-" + std::to_string(getpid()), true);
    for (NotifyListener* l : {&path_socket, &abstract_socket}) {
        setenv("NOTIFY_SOCKET", l->env().substr(strlen("NOTIFY_SOCKET=")).c_str(), 1);
        notify_reset();
        ASSERT_TRUE(notify_enabled());
        EXPECT_TRUE(notify_send("STATUS=hello"));
        EXPECT_EQ(l->next(1000), "STATUS=hello");
    }
    struct Case {
        const char* usec;
        const char* pid;  // nullptr: unset; "self": this process
        long long want_us;  // -1: no watchdog
    };
    const std::string self = std::to_string(getpid());
    for (const Case& c : {Case{"2000000", nullptr, 1000000}, Case{"2000000", "self", 1000000},
                          Case{"2000000", "1", -1}, Case{"abc", nullptr, -1}, Case{"0", nullptr, -1},
                          Case{nullptr, nullptr, -1}}) {
        if (c.usec) setenv("WATCHDOG_USEC", c.usec, 1); else unsetenv("WATCHDOG_USEC");
        if (c.pid) setenv("WATCHDOG_PID", strcmp(c.pid, "self") == 0 ? self.c_str() : c.pid, 1);
        else unsetenv("WATCHDOG_PID");
        auto period = notify_watchdog_period();
        EXPECT_EQ(period ? period->count() : -1, c.want_us) << (c.usec ? c.usec : "unset");
    }
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    setenv("NOTIFY_SOCKET", "relative/path", 1);
    notify_reset();
    EXPECT_FALSE(notify_enabled());
    unsetenv("NOTIFY_SOCKET");
    notify_reset();
    EXPECT_FALSE(notify_send("READY=1"));
}

TEST(ServiceDaemon, ReadyStatusWatchdogAndStop) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    NotifyListener sd(d.dir().path() + "/notify");
    // Keep-alive every 200 ms; no -D: the service manager's daemon stays in
    // the foreground by itself. Standard error is the journal.
    d.setEnv({sd.env(), "WATCHDOG_USEC=400000"});
    d.setForegroundOption(false);
    ASSERT_TRUE(d.start(pms.port(), "POSTDELAY=3600\n"));

    ASSERT_TRUE(sd.waitFor("READY=1", 10000)) << sd.seen << d.log();
    // Readiness comes once the control port accepts.
    int fd = connectLoopback(d.controlPort());
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_EQ(kill(d.pid(), 0), 0) << "the daemon detached or died";
    EXPECT_TRUE(sd.waitFor("STATUS=link up, Agilysys 2-way, ", 3000)) << sd.seen;
    EXPECT_NE(sd.seen.find(", last posting never"), std::string::npos) << sd.seen;

    // The PMS goes away: the status line follows.
    StreamPeer peer = pms.accept(5000);
    peer.close();
    EXPECT_TRUE(sd.waitFor("STATUS=link down, Agilysys 2-way, BUSY", 5000)) << sd.seen;

    // 2 s at one keep-alive per 200 ms, with room for a loaded machine.
    int pings = sd.countFor("WATCHDOG=1", 2000);
    EXPECT_GE(pings, 7);
    EXPECT_LE(pings, 12);

    // A stopped (hung) daemon sends none: the service manager would restart it.
    ASSERT_EQ(kill(d.pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    while (!sd.next(0).empty()) {
    }
    EXPECT_EQ(sd.countFor("WATCHDOG=1", 1000), 0);
    ASSERT_EQ(kill(d.pid(), SIGCONT), 0);
    EXPECT_GE(sd.countFor("WATCHDOG=1", 1000), 3);

    // The keep-alives cost next to nothing.
    EXPECT_LT(d.cpuTicks(), 100);
    EXPECT_EQ(d.stop(SIGTERM), 0);
    EXPECT_TRUE(sd.waitFor("STOPPING=1", 1000)) << sd.seen;
}

// With standard error the journal's stream (JOURNAL_STREAM names it) the
// lines go to syslog only, which the journal collects: one copy each.
TEST(ServiceDaemon, JournalGetsEachLineOnce) {
    for (bool journal : {false, true}) {
        TempDir dir;
        std::string err_path = dir.write("stderr", "");
        struct stat st {};
        ASSERT_EQ(stat(err_path.c_str(), &st), 0);
        std::string stream = "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        RunResult r = runProgram({"/bin/sh", "-c", "exec \"$0\" -C -c /nonexistent.cfg 2>>\"$1\"",
                                  binPath("vornpms"), err_path},
                                 {journal ? stream : "JOURNAL_STREAM"});
        EXPECT_EQ(r.status, 0);
        std::string err = readFile(err_path);
        if (journal)
            EXPECT_EQ(err, "");
        else
            EXPECT_NE(err.find("Could not open /nonexistent.cfg"), std::string::npos) << err;
    }
}

// A unit started with a configuration it cannot use sends no READY=1 and
// names the file and the key in one line.
TEST(ServiceDaemon, BrokenConfigurationNamesFileAndKey) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    struct Case {
        const char* settings;  // before the base settings; "" keys a line out below
        const char* drop;      // base key removed
        std::string want;      // in one line with the file
    };
    const Case cases[] = {
        {"", "POSTDELAY=", "Null value for POSTDELAY"},
        {"POSTDELAY=soon\n", "", "Invalid value for POSTDELAY: soon"},
        {"", "CONTROLPORT=", "Null value for CONTROLPORT"},
        {"", "DBNAME=", "Null value for DBNAME"},
        {"CONTROLPORT=x\n", "", "Invalid value for CONTROLPORT: x"},
    };
    for (const Case& c : cases) {
        std::string config = c.settings;
        std::string base = d.baseConfig(freeTcpPort());
        size_t pos = 0;
        while (pos < base.size()) {
            size_t nl = base.find('\n', pos);
            std::string line = base.substr(pos, nl - pos + 1);
            if (!*c.drop || line.rfind(c.drop, 0) != 0) config += line;
            pos = nl + 1;
        }
        TempDir dir;
        std::string cfg = dir.write("vornpms.cfg", config);
        NotifyListener sd(dir.path() + "/notify");
        RunResult r = runProgram({binPath("vornpms"), "-c", cfg, "-L", dir.path() + "/lock"}, {sd.env()});
        EXPECT_NE(r.status, -1) << c.want;
        EXPECT_NE(r.err.find(c.want + " (configuration file " + cfg + ")"), std::string::npos) << r.err;
        EXPECT_EQ(sd.seen.find("READY=1"), std::string::npos);
        EXPECT_FALSE(sd.waitFor("READY=1", 100)) << c.want;
    }
}
