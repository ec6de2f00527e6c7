// The running daemon's control port, seen from outside: raw frames and the
// three command-line clients.
#include <unistd.h>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "loopback_peer.h"
#include "procrun.h"

namespace {

const std::string kUnavailable = frame("03", "01", "PMS Server Unavailable. Please retry later.");

// A daemon connected to a scripted PMS and running the Agilysys vendor.
class ConnectedDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        PG_REQUIRE(d.db());
        ASSERT_TRUE(d.start(pms.port()));
        peer = pms.accept(10000);
        ASSERT_GE(peer.fd(), 0) << d.log();
        ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 5000)) << d.log();
    }
    DaemonHarness d;
    TcpListener pms;
    StreamPeer peer;
};

}  // namespace

TEST_F(ConnectedDaemon, RoomStatusOfOccupiedRoomIsSevenBytes) {
    d.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101'), ('102')");
    d.db().exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_is_stale) "
                "VALUES ('101', 'G1', 'Smith', 0)");
    EXPECT_EQ(controlRequest(d.controlPort(), "\x02" "0101101\x03"), "\x02" "02011\x03");
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "01", "102")), frame("02", "01", "0"));
    // A room argument with "|" is refused before the vendor sees it.
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "01", "101|1")),
              frame("03", "02", "Invalid parameter data"));
    // Slots Agilysys does not serve.
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "07", "101|Smith")),
              frame("03", "03", "Functionality not implemented"));
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "14", "")),
              frame("03", "03", "Functionality not implemented"));
}

TEST_F(ConnectedDaemon, FramingFaultsAndHalfFrames) {
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "15", "")), frame("03", "04", "Invalid message"));

    // Half a frame: dropped without a reply after 2 s; the next client is served.
    int slow = connectLoopback(d.controlPort());
    ASSERT_GE(slow, 0);
    sendAll(slow, "\x02" "0113");
    int next = connectLoopback(d.controlPort());
    ASSERT_GE(next, 0);
    sendAll(next, frame("01", "13", ""));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(readUntilClosed(slow, 6000), "");
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(waited, 1.5);
    EXPECT_LT(waited, 4.0);
    std::string status = readUntilClosed(next, 6000);
    close(slow);
    close(next);
    // No record yet: an empty code and time 0.
    EXPECT_EQ(status, frame("02", "13", "^0"));
    EXPECT_TRUE(d.waitLog("Client connection hung up", 1000));
}

TEST_F(ConnectedDaemon, ClientsPostAndRunBilling) {
    RunResult post = runProgram({binPath("vornpms_post_charge"), "-r", "101", "-a", "2.50", "-p",
                                 std::to_string(d.controlPort())});
    EXPECT_EQ(post.status, 0) << post.out << post.err;
    EXPECT_NE(post.out.find("vornpms post charge request received\n"), std::string::npos) << post.out;
    EXPECT_TRUE(d.waitLog("entering agilysys_handle_post_charge charge = 2.500000", 2000));

    size_t mark = d.mark();
    RunResult rt = runProgram({binPath("vornpms_rt_billing"), "-p", std::to_string(d.controlPort())});
    EXPECT_EQ(rt.status, 0) << rt.out << rt.err;
    EXPECT_NE(rt.out.find("RT Billing Response received\n"), std::string::npos);
    EXPECT_TRUE(d.waitLog("RT_BILLING request running", 2000, mark));
    EXPECT_TRUE(d.waitLog("Starting DB scan for unposted charge records", 2000, mark));

    RunResult swap = runProgram({binPath("vornpms_db_swap"), "-p", std::to_string(d.controlPort())});
    EXPECT_EQ(swap.status, 1);  // Agilysys has no database swap
}

TEST(DaemonControl, LinkClosedAnswersUnavailable) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    RefusingPort away;
    ASSERT_TRUE(d.start(away.port()));
    ASSERT_TRUE(d.waitLog("pms_execute: pms_fd_client <= 0, not monitoring", 10000)) << d.log();
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "01", "101")), kUnavailable);
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "13", "")), kUnavailable);

    RunResult rt = runProgram({binPath("vornpms_rt_billing"), "-p", std::to_string(d.controlPort())});
    EXPECT_EQ(rt.status, 1);
    EXPECT_EQ(rt.out.find("RT Billing Response received"), std::string::npos);
    EXPECT_TRUE(d.waitLog("pms_execute: NO PMS CONNECTED", 3000));
    EXPECT_EQ(d.countLog("Starting DB scan"), 0);
}

TEST(DaemonControl, PostClientWithoutRoomPrintsUsage) {
    RunResult r = runProgram({binPath("vornpms_post_charge"), "-a", "2.50", "-p", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Both the room number and amount must be specified\n\n");
    EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("-r room   Post the charge to this room number"), std::string::npos);
}
