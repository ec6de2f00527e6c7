// The running daemon's life: reconnecting to a PMS that went away, shutting
// down on SIGTERM, retrying for a long time without leaking, idling without CPU.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "loopback_peer.h"
#include "procrun.h"

TEST(DaemonLifecycle, ReconnectsAfterThePmsHangsUpAndStopsOnSigterm) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    ASSERT_TRUE(d.start(pms.port()));
    StreamPeer first = pms.accept(10000);
    ASSERT_GE(first.fd(), 0) << d.log();
    ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 5000));
    EXPECT_EQ(readFile(d.lockPath()), std::to_string(d.pid()) + "\n");

    size_t mark = d.mark();
    first.close();
    ASSERT_TRUE(d.waitLog("Received SIGPIPE, closing PMS connection.  Will reopen before the next database scan.",
                          3000, mark))
        << d.log();
    StreamPeer second = pms.accept(4000);
    ASSERT_GE(second.fd(), 0) << d.log().substr(mark);
    ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 3000, mark));
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "01", "101")), frame("02", "01", "0"));

    EXPECT_EQ(d.stop(SIGTERM), 0);
    std::string log = d.log();
    EXPECT_NE(log.find("Recieved SIGTERM.  Shutting down..."), std::string::npos);
    EXPECT_NE(log.find("vornPMS has been cleanly shutdown"), std::string::npos);
    EXPECT_NE(access(d.lockPath().c_str(), F_OK), 0);
    // The PMS sees the link go.
    EXPECT_EQ(second.receive(1, 2000), "");
}

TEST(DaemonLifecycle, DetachedWithRelativePathsReconnectsAndLogsBesideItsConfig) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    // Relative configuration file and traffic log, from the start directory.
    d.dir().write("det.cfg", "LINKLOGFILE=det-link.log\n" + d.baseConfig(pms.port()));
    std::string bin = binPath("vornpms");
    pid_t starter = fork();
    if (starter == 0) {
        if (chdir(d.dir().path().c_str()) != 0) _exit(126);
        execl(bin.c_str(), bin.c_str(), "-c", "det.cfg", "-L", d.lockPath().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = -1;
    ASSERT_EQ(waitpid(starter, &status, 0), starter);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    pid_t daemon = static_cast<pid_t>(strtol(readFile(d.lockPath()).c_str(), nullptr, 10));
    ASSERT_GT(daemon, 0);
    struct Stop {
        pid_t pid;
        ~Stop() {
            kill(pid, SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            kill(pid, SIGKILL);
        }
    } stop{daemon};

    StreamPeer first = pms.accept(10000);
    ASSERT_GE(first.fd(), 0);
    first.close();
    // The configuration is read again from its place, not from "/".
    StreamPeer second = pms.accept(5000);
    EXPECT_GE(second.fd(), 0) << "no reconnect after the first link drop";
    EXPECT_NE(readFile(d.dir().path() + "/det-link.log").find("Logging initialized"), std::string::npos);
}

TEST(DaemonLifecycle, SigpipeStormFromOutsideLeavesTheDaemonServing) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    ASSERT_TRUE(d.start(pms.port()));
    StreamPeer peer = pms.accept(10000);
    ASSERT_GE(peer.fd(), 0) << d.log();
    ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 5000));
    // kill -PIPE every millisecond for three seconds while the daemon logs
    // busily (debug level 4, control requests, reconnects).
    pid_t target = d.pid();
    pid_t sender = fork();
    if (sender == 0) {
        for (int i = 0; i < 3000; ++i) {
            kill(target, SIGPIPE);
            usleep(1000);
        }
        _exit(0);
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        controlRequest(d.controlPort(), frame("01", "01", "101"));
        StreamPeer again = pms.accept(50);
    }
    waitpid(sender, nullptr, 0);
    EXPECT_TRUE(d.waitLog("Received SIGPIPE, closing PMS connection.", 1000)) << d.log().substr(0, 2000);
    // Still serving, and still able to shut down.
    EXPECT_FALSE(controlRequest(d.controlPort(), frame("01", "01", "101")).empty()) << "the control port is dead";
    EXPECT_EQ(d.stop(SIGTERM), 0);
}

TEST(DaemonLifecycle, ReconnectsWithoutLeakingDescriptors) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    ASSERT_TRUE(d.start(pms.port()));
    // Every connection is closed by the PMS at once: link, vendor and
    // multicast client are set up again at every time-out.
    int base = -1;
    for (int i = 1; i <= 8; ++i) {
        StreamPeer p = pms.accept(4000);
        ASSERT_GE(p.fd(), 0) << "cycle " << i << "\n" << d.log();
        ASSERT_TRUE(d.waitCount("pms_init: g_vendor_id = 3", i, 3000));
        p.close();
        ASSERT_TRUE(d.waitCount("Received SIGPIPE", i, 3000));
        if (i == 3) base = d.openFds();
    }
    EXPECT_GT(base, 0);
    EXPECT_EQ(d.openFds(), base) << "descriptors grow across reconnections";
    EXPECT_EQ(d.stop(SIGTERM), 0);
}

TEST(DaemonLifecycle, RetriesWithThePmsAwayKeepDescriptorsFlat) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    RefusingPort away;
    ASSERT_TRUE(d.start(away.port()));
    ASSERT_TRUE(d.waitCount("pms_execute: NO PMS CONNECTED", 2, 5000)) << d.log();
    int base = d.openFds();
    ASSERT_TRUE(d.waitCount("pms_execute: NO PMS CONNECTED", 8, 9000));
    EXPECT_GT(base, 0);
    EXPECT_EQ(d.openFds(), base);
}

TEST(DaemonLifecycle, IdleDaemonUsesNoCpu) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    ASSERT_TRUE(d.start(pms.port()));
    StreamPeer peer = pms.accept(10000);
    ASSERT_GE(peer.fd(), 0);
    ASSERT_TRUE(d.waitLog("pms_db_scan_and_post: sending keep alive mcast", 5000));
    long before = d.cpuTicks();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long used = d.cpuTicks() - before;
    // Three scans a second apart cost a few ticks; a loop that spins costs
    // about 100 ticks per second.
    EXPECT_LT(used, 90) << "ticks in 3 s";
    EXPECT_EQ(d.stop(SIGTERM), 0);
}
