// The running daemon's life: reconnecting to a PMS that went away, shutting
// down on SIGTERM, retrying for a long time without leaking, idling without CPU.
#include <signal.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "loopback_peer.h"

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
