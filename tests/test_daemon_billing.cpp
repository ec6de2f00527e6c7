// The scan-and-post cycle of the running daemon: unposted sessions are
// posted and marked with their BILLING line; zero charges and keep-alives.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "daemon_harness.h"
#include "loopback_peer.h"
#include "platform/mcast.h"

namespace {

std::string insertSession(PgTestDb& db, const std::string& room, const std::string& amount,
                          const std::string& mac) {
    return db.value("INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, "
                    "ses_mac) VALUES ('" + room + "', now() - interval '1 hour', now() + interval '1 hour', " +
                    amount + ", '" + mac + "') RETURNING ses_seq_no");
}

}  // namespace

TEST(DaemonBilling, UnpostedSessionsArePostedAtTheNextCycle) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    std::string a = insertSession(d.db(), "101", "9.95", "00:11:22:33:44:55");
    std::string b = insertSession(d.db(), "102", "4.50", "00:11:22:33:44:66");
    std::string zero = insertSession(d.db(), "103", "0", "00:11:22:33:44:77");
    TcpListener pms;
    ASSERT_TRUE(d.start(pms.port(), "POST_ZERO_CHARGE=0\n"));
    StreamPeer peer = pms.accept(10000);
    ASSERT_GE(peer.fd(), 0) << d.log();

    ASSERT_TRUE(d.waitLog("BILLING posted " + b, 6000)) << d.log();
    std::string log = d.log();
    // "BILLING posted <seq> <YYYY-MM-DD,HH:MM:SS> <room> <amount> <mac>"
    std::regex line("BILLING posted " + a + " \\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d 101 9\\.95 00:11:22:33:44:55\n");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    EXPECT_NE(log.find(" 102 4.50 00:11:22:33:44:66\n"), std::string::npos);
    EXPECT_EQ(d.countLog("BILLING posted"), 2);
    EXPECT_NE(log.find("pms_db_scan_and_post: not posting zero charge"), std::string::npos);
    EXPECT_EQ(d.db().value("SELECT string_agg(ses_posted_flag::text, ',' ORDER BY ses_seq_no) FROM session_info "
                           "WHERE ses_posted_dt IS NOT NULL"),
              "1,1,1");
    (void)zero;

    // Nothing left: the next cycles only keep alive, and nothing is posted twice.
    size_t mark = d.mark();
    ASSERT_TRUE(d.waitLog("pms_db_scan_and_post: sending keep alive mcast", 4000, mark));
    EXPECT_EQ(d.countLog("BILLING posted"), 2);
}

TEST(DaemonBilling, KeepAliveIsAnnouncedWhenNothingIsPosted) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    int listener = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", d.mcastPort());
    ASSERT_GE(listener, 0);
    TcpListener pms;
    ASSERT_TRUE(d.start(pms.port()));
    StreamPeer peer = pms.accept(10000);
    ASSERT_GE(peer.fd(), 0);
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    char buf[512];
    ssize_t n = recv(listener, buf, sizeof buf, 0);
    close(listener);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, n), "4||||        |||||0|0|0");
    // A zero charge is posted like any other without POST_ZERO_CHARGE=0.
    std::string seq = insertSession(d.db(), "104", "0", "00:11:22:33:44:88");
    EXPECT_TRUE(d.waitLog("BILLING posted " + seq, 4000));
}
