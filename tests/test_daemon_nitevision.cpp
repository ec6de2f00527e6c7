// NiteVision through the running daemon and a real OpenSSH server: guests
// follow the newest guest file (rows, sessions, multicast), files that must
// change nothing, the server going away and coming back, and a server that
// accepts TCP and never answers.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "loopback_peer.h"
#include "platform/mcast.h"
#include "sshd_server.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHeading = "ID|FIRST|LAST|PHONE|ROOM|ARRIVAL|DEPARTURE|CHECKIN";

class NiteVisionDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        SSHD_REQUIRE(sshd);
        PG_REQUIRE(d.db());
        d.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101'), ('102'), ('103'), ('104')");
        listener = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", d.mcastPort());
        ASSERT_GE(listener, 0);
    }
    void TearDown() override {
        if (listener >= 0) close(listener);
    }
    void start(const std::string& extra = "") {
        ASSERT_TRUE(d.start(0, extra + "VENDOR=NiteVisionSFTP 1-way\n" + sshd.linkConfig(3) + "EXPIRE_ON_CHECKOUT=1\n"));
    }
    // Publishes a new guest file, newer than the one before.
    void publish(const std::string& text) {
        static int n = 0;
        ++n;
        sshd.put("guests" + std::to_string(n) + ".txt", text, time(nullptr) - 100 + n);
    }
    std::string current() {
        std::string out;
        for (auto& r : d.db().rows("SELECT pms_room, pms_name_first, pms_name_last, "
                                   "to_char(pms_created_dt, 'YYYY-MM-DD HH24:MI') FROM pms_guests "
                                   "WHERE pms_is_stale = 0 ORDER BY pms_room"))
            out += r[0] + " " + r[1] + " " + r[2] + " " + r[3] + "\n";
        return out;
    }
    bool waitCurrent(const std::string& want, int timeout_ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (current() != want) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }
    // "code:room" of every guest announcement received so far (keep-alives skipped).
    std::vector<std::string> events() {
        std::vector<std::string> out;
        pollfd p{listener, POLLIN, 0};
        while (poll(&p, 1, 300) > 0) {
            char buf[2048];
            ssize_t n = recv(listener, buf, sizeof buf, 0);
            McastEvent ev;
            if (n > 0 && vornpmsmcast_decode(std::string(buf, n), ev) && ev.code != MCAST_KEEPALIVE)
                out.push_back(std::to_string(ev.code) + ":" + ev.room);
        }
        return out;
    }
    std::string control(const std::string& subtype, const std::string& data) {
        return controlRequest(d.controlPort(), frame("01", subtype, data));
    }

    SshdServer sshd;
    DaemonHarness d;
    int listener = -1;
};

}  // namespace

TEST_F(NiteVisionDaemon, GuestsFollowTheNewestFile) {
    // A guest the PMS no longer lists, with a running room-billed session.
    d.db().exec("INSERT INTO pms_guests (pms_room, pms_name_first, pms_name_last, pms_is_stale) "
                "VALUES ('103', 'Old', 'Guest', 0)");
    d.db().exec("INSERT INTO service_sets (srs_seq_no, srs_expire_on_checkout) VALUES (11, 1)");
    for (const char* room : {"101", "103"})
        d.db().exec(std::string("INSERT INTO session_info (ses_room_no, ses_mac, ses_pay_no, ses_srs_no, "
                                "ses_reg_time_dt, ses_reg_expire_dt, ses_orig_expire_dt, ses_posted_flag) VALUES ('") +
                    room + "', 'mac" + room + "', 4, 11, now() - interval '1 hour', now() + interval '2 hours', " +
                    "now() + interval '2 hours', 1)");
    // CR/LF line ends, a heading, an empty first field, quotes and an empty
    // check-in date: each used to lose a guest.
    const std::string ann = "|Ann|Smith|555-1|101|2030-05-01 14:00:00|2030-05-03 11:00:00|2030-05-01 14:05:00";
    publish(kHeading + "\r\n" + ann + "\r\n9|Cleo|Smith||101|||2030-05-01 14:06\r\n" +
            "\"8\"|\"Bob\"|\"Jones\"|\"\"|\"102\"|\"2030-05-01\"|\"2030-05-04\"|\"\"\r\n");
    start();
    const std::string all = "101 Ann Smith 2030-05-01 14:05\n101 Cleo Smith 2030-05-01 14:06\n"
                            "102 Bob Jones 2000-11-11 00:00\n";
    ASSERT_TRUE(waitCurrent(all, 15000)) << current() << d.log();
    EXPECT_EQ(d.db().value("SELECT ses_room_no FROM session_info WHERE ses_reg_expire_dt <= now()"), "103");
    EXPECT_TRUE(d.waitLog("vrdi_set_reg_expiry_time: mac [mac103]", 3000));
    std::vector<std::string> ev = events();
    EXPECT_EQ(ev, (std::vector<std::string>{"2:103", "1:101", "1:101", "1:102"}));

    EXPECT_EQ(control("01", "101"), frame("02", "01", "1"));
    EXPECT_EQ(control("01", "103"), frame("02", "01", "0"));
    EXPECT_EQ(control("13", "").rfind("\x02" "0213CHKI^", 0), 0u);
    EXPECT_EQ(control("14", "").rfind("\x02" "02140|", 0), 0u);
    // Nothing is posted, nor can be asked for.
    EXPECT_NE(control("07", "101|Smith").find("\x02" "03"), std::string::npos);

    // A file of headings only is no guest list: nobody is checked out.
    size_t mark = d.mark();
    publish(kHeading + "\n");
    ASSERT_TRUE(d.waitLog("nv_update_guest_data: no guest data", 10000, mark));
    EXPECT_EQ(current(), all);
    EXPECT_EQ(events(), std::vector<std::string>{});

    // Bob and Cleo left. Ann, who shared Cleo's room, keeps her row and the
    // room's session; a db swap applies the file at once.
    const std::string ann_row = d.db().value("SELECT pms_seq_no FROM pms_guests WHERE pms_name_first = 'Ann'");
    publish(kHeading + "\n" + ann + "\n");
    EXPECT_EQ(control("10", ""), frame("02", "10", "1"));
    EXPECT_EQ(current(), "101 Ann Smith 2030-05-01 14:05\n");
    EXPECT_EQ(d.db().value("SELECT pms_seq_no FROM pms_guests WHERE pms_room = '101' AND pms_is_stale = 0"), ann_row);
    EXPECT_EQ(d.db().value("SELECT count(*) FROM session_info WHERE ses_room_no = '101' AND ses_reg_expire_dt > now()"),
              "1");
    ev = events();
    std::sort(ev.begin(), ev.end());
    EXPECT_EQ(ev, (std::vector<std::string>{"2:101", "2:102"}));
    EXPECT_EQ(control("13", "").rfind("\x02" "0213CHKO^", 0), 0u);
    EXPECT_EQ(d.log().find(sshd.password()), std::string::npos);
}

TEST_F(NiteVisionDaemon, ServerGoneAndBackWithoutBusyLoop) {
    publish("1|Ann|Smith||101|||\n");
    start();
    ASSERT_TRUE(waitCurrent("101 Ann Smith 2000-11-11 00:00\n", 15000)) << d.log();

    // Idle with the link open: the daemon sleeps between scans.
    long before = d.cpuTicks();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_LT(d.cpuTicks() - before, 100) << "the daemon spins";

    size_t mark = d.mark();
    ASSERT_TRUE(sshd.stop());
    ASSERT_TRUE(d.waitLog("Received SIGPIPE, closing PMS connection.", 10000, mark)) << d.log().substr(mark);
    // The control port still answers while the server is away.
    EXPECT_EQ(control("01", "101"), frame("03", "01", "PMS Server Unavailable. Please retry later."));

    mark = d.mark();
    ASSERT_TRUE(sshd.start()) << sshd.error();
    publish("1|Ann|Smith||101|||\n2|Carl|Brown||103|||\n");
    ASSERT_TRUE(waitCurrent("101 Ann Smith 2000-11-11 00:00\n103 Carl Brown 2000-11-11 00:00\n", 20000))
        << d.log().substr(mark);
    EXPECT_TRUE(d.waitLog("io_sftp_open: exit", 100, mark));
}

TEST(NiteVisionSilentServer, DaemonAndControlPortStayResponsive) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener silent;  // accepts TCP, never speaks SSH
    ASSERT_TRUE(d.start(0, "VENDOR=NiteVisionSFTP 1-way\nPMSCOMMTYPE=SFTP\nPMSCOMMOPTS=127.0.0.1|" +
                               std::to_string(silent.port()) +
                               "\nPMSCOMMTIMEOUT=1\nSFTP_USERNAME=nobody\nSFTP_PASSWORD=secret-pw\n"));
    ASSERT_TRUE(d.waitCount("io_sftp_open: Failure establishing SSH session", 2, 15000)) << d.log();
    auto t0 = Clock::now();
    std::string reply = controlRequest(d.controlPort(), frame("01", "01", "101"));
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(reply, frame("03", "01", "PMS Server Unavailable. Please retry later."));
    EXPECT_EQ(d.stop(SIGTERM), 0);
}
