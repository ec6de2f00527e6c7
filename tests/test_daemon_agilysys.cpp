// Agilysys check-ins through the running daemon: acknowledgement, the guest
// row, the multicast check-in, refused frames.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "loopback_peer.h"
#include "platform/mcast.h"

namespace {

class AgilysysDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        PG_REQUIRE(d.db());
        d.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101')");
        listener = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", d.mcastPort());
        ASSERT_GE(listener, 0);
        ASSERT_TRUE(d.start(pms.port()));
        peer = pms.accept(10000);
        ASSERT_GE(peer.fd(), 0) << d.log();
        ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 5000)) << d.log();
    }
    void TearDown() override {
        if (listener >= 0) close(listener);
    }
    // Announcements of `code` within `timeout_ms` (keep-alives are skipped unless asked for).
    bool nextEvent(int code, McastEvent& ev, int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{listener, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buf[2048];
            ssize_t n = recv(listener, buf, sizeof buf, 0);
            if (n > 0 && vornpmsmcast_decode(std::string(buf, n), ev) && ev.code == code) return true;
        }
        return false;
    }
    std::string guests() {
        auto rows = d.db().rows("SELECT pms_room, pms_guest_no, pms_name_first, pms_name_last, "
                                "to_char(pms_arrival_dt, 'YYYY-MM-DD HH24:MI:SS'), "
                                "to_char(pms_depart_dt, 'YYYY-MM-DD HH24:MI:SS'), pms_is_stale "
                                "FROM pms_guests ORDER BY pms_seq_no");
        std::string out;
        for (auto& r : rows) {
            for (auto& v : r) out += v + ",";
            out += "\n";
        }
        return out;
    }
    DaemonHarness d;
    TcpListener pms;
    StreamPeer peer;
    int listener = -1;
};

const std::string kCheckin = "4711,x,2030-05-01,2030-05-03,x,101,x,Smith,Ann";

}  // namespace

TEST_F(AgilysysDaemon, GoodCheckinIsAcknowledgedStoredAndAnnounced) {
    ASSERT_TRUE(peer.send(agilysysFrame(kCheckin)));
    EXPECT_EQ(peer.receive(1, 3000), "\x06");
    McastEvent ev;
    ASSERT_TRUE(nextEvent(1, ev, 3000));
    EXPECT_EQ(ev.room, "101");
    EXPECT_EQ(ev.guest_no, "4711");
    EXPECT_EQ(ev.first, "Ann");
    EXPECT_EQ(ev.last, "Smith");
    EXPECT_EQ(guests(), "101,4711,Ann,Smith,2030-05-01 00:00:00,2030-05-03 23:59:59,0,\n");
    EXPECT_EQ(controlRequest(d.controlPort(), "\x02" "0101101\x03"), "\x02" "02011\x03");
    // The status names the last record's code and time.
    std::string status = controlRequest(d.controlPort(), frame("01", "13", ""));
    EXPECT_EQ(status.rfind("\x02" "0213CI^", 0), 0u) << status;

    // A frame ending with CR instead of an LRC is taken too; a second guest
    // whose stay has not ended yet joins the first.
    ASSERT_TRUE(peer.send(agilysysFrame("4712,x,2030-05-01,2030-05-04,x,101,x,Jones,Bob", '\r')));
    EXPECT_EQ(peer.receive(1, 3000), "\x06");
    ASSERT_TRUE(nextEvent(1, ev, 3000));
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "2");

    // Latin-1 names (the default PMS_CHARSET) are stored as UTF-8.
    ASSERT_TRUE(peer.send(agilysysFrame("4713,x,2030-05-01,2030-05-04,x,102,x,M\xfc" "ller,J\xf6" "rg")));
    EXPECT_EQ(peer.receive(1, 3000), "\x06");
    ASSERT_TRUE(nextEvent(1, ev, 3000));
    EXPECT_EQ(d.db().value("SELECT pms_name_last || ' ' || pms_name_first FROM pms_guests WHERE pms_guest_no = '4713'"),
              "M\xc3\xbc" "ller J\xc3\xb6" "rg");
}

TEST_F(AgilysysDaemon, BadFramesChangeNothing) {
    // LRC over the ETX as well: refused.
    unsigned char wrong = 0x03;
    for (char c : kCheckin) wrong ^= static_cast<unsigned char>(c);
    ASSERT_TRUE(peer.send(agilysysFrame(kCheckin, static_cast<char>(wrong))));
    EXPECT_EQ(peer.receive(1, 3000), "\x15");
    // Eight fields: acknowledged (the frame is sound) but not stored.
    ASSERT_TRUE(peer.send(agilysysFrame("4711,x,2030-05-01,2030-05-03,x,101,x,Smith")));
    EXPECT_EQ(peer.receive(1, 3000), "\x06");
    EXPECT_TRUE(d.waitLog("Incoming message has the wrong number of fields!", 3000));
    EXPECT_TRUE(d.waitLog("pms_service_PMS: Unsuccessful return value from PMS vendor command handler.", 3000));
    EXPECT_TRUE(d.waitLog("PMS message failed checksum", 100));
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests"), "0");
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "01", "101")), frame("02", "01", "0"));
    // The link survives both.
    ASSERT_TRUE(peer.send(agilysysFrame(kCheckin)));
    EXPECT_EQ(peer.receive(1, 3000), "\x06");
}
