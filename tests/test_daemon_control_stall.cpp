// No control client and no slow PMS holds the control port up: the running
// daemon answers a proper request promptly beside hostile clients, between
// the postings of a backlog, and while a PMS record trickles in.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "e2e_env.h"
#include "loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kHotel[] =
    "room 101 102\n"
    "guest 101 1001 Smith John\n"
    "folio 101 1001 24.00 \"Room service\"\n";

// The guest of the hotel file, as the occupancy table holds him.
void seedGuest(PgTestDb& db) {
    db.exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101'), ('102')");
    db.exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_is_stale) "
            "VALUES ('101', '1001', 'John', 'Smith', 0)");
}

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// One request and its answer, with the time it took.
std::string timedRequest(int port, const std::string& bytes, double& took) {
    auto t0 = Clock::now();
    std::string got = controlRequest(port, bytes, 15000);
    took = secondsSince(t0);
    return got;
}

enum class Hostile { HalfFrames, SilentClients, Trickler, NonReader };

struct HostileCase {
    const char* name;
    Hostile kind;
    // What the daemon logs when it gives up on the hostile client, and by when.
    const char* given_up;
    int given_up_ms;
};

class HostileClients : public ::testing::TestWithParam<HostileCase> {
protected:
    ~HostileClients() override {
        stop_ = true;
        if (trickle_.joinable()) trickle_.join();
        for (int fd : fds_) close(fd);
    }

    void open(Hostile kind, int port) {
        switch (kind) {
            case Hostile::HalfFrames:
            case Hostile::SilentClients:
                for (int i = 0; i < 4; ++i) {
                    int fd = connectLoopback(port);
                    ASSERT_GE(fd, 0);
                    if (kind == Hostile::HalfFrames) sendAll(fd, "\x02" "0113");
                    fds_.push_back(fd);
                }
                break;
            case Hostile::Trickler: {
                int fd = connectLoopback(port);
                ASSERT_GE(fd, 0);
                fds_.push_back(fd);
                trickle_ = std::thread([this, fd] {
                    for (char c : frame("01", "01", "101")) {
                        if (stop_) return;
                        send(fd, &c, 1, MSG_NOSIGNAL);
                        std::this_thread::sleep_for(std::chrono::milliseconds(400));
                    }
                });
                break;
            }
            case Hostile::NonReader: {
                // A tiny receive window and an answer of megabytes it never reads.
                int fd = socket(AF_INET, SOCK_STREAM, 0);
                int small = 1024;
                setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
                sockaddr_in sa{};
                sa.sin_family = AF_INET;
                sa.sin_port = htons(static_cast<uint16_t>(port));
                sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
                fds_.push_back(fd);
                sendAll(fd, frame("01", "05", "999"));
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    std::vector<int> fds_;
    std::thread trickle_;
    std::atomic<bool> stop_{false};
};

}  // namespace

TEST_P(HostileClients, ProperRequestIsAnsweredAtOnce) {
    const HostileCase& c = GetParam();
    E2eSystem s;
    PG_REQUIRE(s.db());
    // 2,000 guests of 900-byte names: a guest-information answer of 1.8 MB.
    s.db().exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_is_stale) "
                "SELECT '999', g::text, repeat('x', 900), 'Many', 0 FROM generate_series(1, 2000) g");
    seedGuest(s.db());
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    const int port = s.daemon().controlPort();
    // Once the link start is through, the room is answered from the table.
    const std::string expected = frame("02", "01", "1");
    ASSERT_TRUE(s.daemon().waitLog("Modifying server status to READY", 10000)) << s.why();
    for (int i = 0; i < 50 && controlRequest(port, frame("01", "01", "101")) != expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(controlRequest(port, frame("01", "01", "101")), expected) << s.why();
    double took = 0;

    size_t mark = s.daemon().mark();
    ASSERT_NO_FATAL_FAILURE(open(c.kind, port));
    // The large answer is made (a one-off cost) before the proper requests.
    if (c.kind == Hostile::NonReader) {
        ASSERT_TRUE(s.daemon().waitLog("PMS vendor successfully handled the request", 5000, mark));
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(timedRequest(port, frame("01", "01", "101"), took), expected);
        EXPECT_LT(took, 0.5) << "request " << i;
    }
    EXPECT_TRUE(s.daemon().waitLog(c.given_up, c.given_up_ms, mark)) << s.daemon().log().substr(mark);
    // The hostile connections are closed by the daemon: end of file (or a
    // reset) after what little they were sent.
    for (int fd : fds_) {
        std::string rest = readUntilClosed(fd, 3000);
        if (c.kind != Hostile::NonReader) {
            EXPECT_EQ(rest, "");
        }
    }
    EXPECT_EQ(controlRequest(port, frame("01", "01", "101")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Daemon, HostileClients,
    ::testing::Values(HostileCase{"HalfFrames", Hostile::HalfFrames, "Client connection hung up", 3000},
                      HostileCase{"SilentClients", Hostile::SilentClients, "Client connection hung up", 3000},
                      HostileCase{"Trickler", Hostile::Trickler, "Client connection hung up", 3000},
                      HostileCase{"NonReader", Hostile::NonReader, "did not take its answer within 5 seconds", 8000}),
    [](const auto& info) { return std::string(info.param.name); });

// A backlog of FIAS charges: a request from the database is answered within
// the wait of the posting under way, one that needs the PMS before the next
// charge goes out, not after the whole backlog.
TEST(DaemonControlBacklog, RequestsAreAnsweredBetweenPostings) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    constexpr int kCharges = 6;
    seedGuest(s.db());
    for (int i = 0; i < kCharges; ++i) s.addCharge("101", "1001", "1.0" + std::to_string(i), "00:16:3e:00:01:0" + std::to_string(i));
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    const int port = s.daemon().controlPort();
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted", 20000)) << s.why();

    double took = 0;
    EXPECT_EQ(timedRequest(port, frame("01", "01", "101"), took), frame("02", "01", "1"));
    EXPECT_LT(took, 0.5);

    const int before = s.daemon().countLog("BILLING posted");
    std::string folio = timedRequest(port, frame("01", "04", "101|1001|0|2000000000"), took);
    const int after = s.daemon().countLog("BILLING posted");
    EXPECT_NE(folio.find("1001|Room service|"), std::string::npos) << folio << s.why();
    // At most the posting under way finished before the answer, and the
    // backlog was not through.
    EXPECT_LE(after - before, 1) << "took " << took << " s";
    EXPECT_LT(after, kCharges);

    ASSERT_TRUE(s.daemon().waitCount("BILLING posted", kCharges, 40000)) << s.why();
    EXPECT_TRUE(s.waitValue("SELECT count(*) FROM session_info WHERE ses_posted_flag = 0", "0", 3000));
}

// A PMS record trickled byte by byte: the database is answered meanwhile,
// and a request for the PMS waits no longer than one read time-out.
TEST(DaemonControlTrickle, RecordTrickledByteByByteHoldsNoClient) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    TcpListener pms;
    d.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101'), ('102')");
    ASSERT_TRUE(d.start(pms.port()));
    StreamPeer peer = pms.accept(10000);
    ASSERT_GE(peer.fd(), 0) << d.log();
    ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 5000)) << d.log();
    const int port = d.controlPort();

    // About 4.5 s in all, each byte well within the 1 s read time-out.
    const std::string record = agilysysFrame("4711,x,2030-05-01,2030-05-03,x,101,x,Smith,Ann");
    std::thread trickle([&] { peer.sendSlowly(record, 100); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    double took = 0;
    EXPECT_EQ(timedRequest(port, frame("01", "01", "102"), took), frame("02", "01", "0"));
    EXPECT_LT(took, 0.5);
    EXPECT_EQ(timedRequest(port, frame("01", "90", ""), took).rfind("\x02" "0290", 0), 0u);
    EXPECT_LT(took, 0.5);
    // A posting needs the link, which the record holds for longer than 1 s.
    EXPECT_EQ(timedRequest(port, frame("01", "06", "101|2.50|Web|0|0"), took),
              frame("03", "01", "PMS Server Unavailable. Please retry later."));
    EXPECT_GT(took, 0.8);
    EXPECT_LT(took, 1.6);
    trickle.join();

    // The record itself arrived whole.
    EXPECT_EQ(peer.receive(1, 3000), "\x06");
    EXPECT_EQ(controlRequest(port, frame("01", "01", "101")), frame("02", "01", "1")) << d.log();
}
