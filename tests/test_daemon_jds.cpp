// JDS through the running daemon, against a scripted PMS on loopback TCP (and,
// for the guest records, a pseudo-terminal) that frames with its own LRC and
// sequence numbers: postings and their ACK/NAK
// handshake, guest records of each kind with their database rows and
// announcements, class of service, records that arrive during a request, and
// a link cut in the middle of a posting.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "fias_peer.h"
#include "platform/mcast.h"

namespace {

constexpr char STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15;

std::string jdsFrame(const std::string& body) {
    unsigned char lrc = ETX;
    for (char c : body) lrc ^= static_cast<unsigned char>(c);
    return std::string(1, STX) + body + ETX + static_cast<char>(lrc);
}
std::string linkResp(char code, const std::string& seq) { return jdsFrame(std::string(1, code) + seq); }

// A "53": status, swap flag, room, new room; 74 characters, or 123 with `longForm`.
std::string guestRecord(char status, char swap, const std::string& room, const std::string& newRoom,
                        const std::string& seq, bool longForm = false, const std::string& date = "20300501") {
    auto pad = [](std::string s, size_t n) { return s.append(n - s.size(), ' '); };
    std::string r = "53" + pad(room, 6) + "F1     " + status + "2" + pad("Smith", 30) + "EV" + pad(newRoom, 6) + "2" +
                    swap + date + "1405";
    if (longForm) r += pad("GRP", 8) + pad("Dr.", 10) + pad("Swiss", 15) + pad("Switzerland", 15) + seq + " ";
    else r += seq;
    return r;
}

class JdsDaemon : public ::testing::Test {
protected:
    void start(const std::string& extra = "", bool serial = false) {
        PG_REQUIRE(d.db());
        d.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101'), ('102'), ('12')");
        listener = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", d.mcastPort());
        ASSERT_GE(listener, 0);
        peer = serial ? FiasPeer::serial() : FiasPeer::tcp();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(d.start(peer->port(), peer->linkConfig() + extra + "VENDOR=JDS 2-way\nFLUSHTIMEOUT=1\nPSI_NO=0\n"));
        ASSERT_TRUE(peer->accept(10000)) << d.log();
        ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 4", 5000)) << d.log();
    }
    void TearDown() override {
        if (listener >= 0) close(listener);
    }
    // One frame from the daemon: STX up to ETX and the LRC ("" on time-out).
    std::string frameIn(int timeout_ms = 5000) {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            std::string b = peer->readRaw(1, 200);
            if (b.empty()) continue;
            if (got.empty() && b[0] != STX) continue;
            got += b;
            if (got.size() >= 2 && got[got.size() - 2] == ETX) return got;
        }
        return "";
    }
    // Sends a record and expects the daemon's ACK for `seq`.
    void pmsSends(const std::string& body, const std::string& seq) {
        peer->sendRaw(jdsFrame(body));
        EXPECT_EQ(peer->readRaw(9, 3000), linkResp(ACK, seq));
    }
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
        auto rows = d.db().rows("SELECT pms_room, pms_name_last, pms_vip_status, pms_language, "
                                "to_char(pms_arrival_dt, 'YYYY-MM-DD HH24:MI'), pms_is_stale "
                                "FROM pms_guests ORDER BY pms_seq_no");
        std::string out;
        for (auto& r : rows) {
            for (auto& v : r) out += v + ",";
            out += "\n";
        }
        return out;
    }
    void charge(const std::string& room, const std::string& amount) {
        d.db().exec("INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) "
                    "VALUES ('" + room + "', now() - interval '1 hour', now(), " + amount + ", 'aa')");
    }
    std::string flag() { return d.db().value("SELECT ses_posted_flag FROM session_info"); }

    DaemonHarness d;
    std::unique_ptr<FiasPeer> peer;
    int listener = -1;
};

// What the PMS answers to each send of a posting.
enum class Answer { AckRight, AckWrongSeq, Nak, BadLrc, Silence };
struct PostCase {
    const char* name;
    std::string settings;
    std::vector<Answer> answers;  // one per send the daemon makes
    bool posted;
};
void PrintTo(const PostCase& c, std::ostream* os) { *os << c.name; }

class JdsPosting : public JdsDaemon, public ::testing::WithParamInterface<PostCase> {};

TEST_P(JdsPosting, HandshakeDecidesWhetherTheChargeIsMarked) {
    const PostCase& c = GetParam();
    start(c.settings);
    charge("101", "12.5");
    std::string first;
    for (Answer a : c.answers) {
        const std::string f = frameIn(8000);
        ASSERT_FALSE(f.empty()) << d.log();
        ASSERT_EQ(f.size(), 108u) << f;
        if (first.empty()) first = f;
        EXPECT_EQ(f, first) << "a resend repeats the record, sequence number included";
        const std::string seq = f.substr(101, 5);
        EXPECT_EQ(f.substr(1, 8), "03101   ");
        EXPECT_EQ(f.substr(92, 9), "     1250");
        switch (a) {
            case Answer::AckRight: peer->sendRaw(linkResp(ACK, seq)); break;
            case Answer::AckWrongSeq: peer->sendRaw(linkResp(ACK, "99999")); break;
            case Answer::Nak: peer->sendRaw(linkResp(NAK, seq)); break;
            case Answer::BadLrc: {
                std::string r = linkResp(ACK, seq);
                r.back() ^= 0x40;
                peer->sendRaw(r);
                break;
            }
            case Answer::Silence: break;
        }
    }
    if (c.posted) {
        ASSERT_TRUE(d.waitLog("Message successfully sent, received ACK from PMS", 5000)) << d.log();
        for (int i = 0; i < 50 && flag() == "0"; ++i) usleep(100000);
        EXPECT_NE(flag(), "0");
    } else {
        ASSERT_TRUE(d.waitLog("jds_write_msg: To many failed attempts during sending!", 5000)) << d.log();
        EXPECT_TRUE(d.waitLog("Unable to send post!", 2000));
        EXPECT_EQ(flag(), "0");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, JdsPosting,
    ::testing::Values(PostCase{"AckRight", "", {Answer::AckRight}, true},
                      PostCase{"WrongSeqThenAck", "", {Answer::AckWrongSeq, Answer::AckRight}, true},
                      PostCase{"NakThenAck", "", {Answer::Nak, Answer::AckRight}, true},
                      PostCase{"BadLrcThenAck", "", {Answer::BadLrc, Answer::AckRight}, true},
                      PostCase{"RetriesExhausted", "MSG_RETRIES=2\n", {Answer::Nak, Answer::AckWrongSeq}, false},
                      PostCase{"SilenceExhausts", "MSG_RETRIES=2\n", {Answer::Silence, Answer::Silence}, false}),
    [](const auto& i) { return std::string(i.param.name); });

struct Transport {
    const char* name;
    bool serial;
};
class JdsOverLink : public JdsDaemon, public ::testing::WithParamInterface<Transport> {};

TEST_P(JdsOverLink, GuestRecordsOfEveryKindAndBothLengths) {
    start("EXPIRE_ON_CHECKOUT=1\n", GetParam().serial);
    // A running room-billed session in 102, which the check-out there ends.
    d.db().exec("INSERT INTO service_sets (srs_seq_no, srs_expire_on_checkout) VALUES (11, 1)");
    d.db().exec("INSERT INTO session_info (ses_room_no, ses_mac, ses_pay_no, ses_srs_no, ses_reg_time_dt, "
                "ses_reg_expire_dt, ses_orig_expire_dt, ses_posted_flag) VALUES ('102', 'mac102', 4, 11, "
                "now() - interval '1 hour', now() + interval '2 hours', now() + interval '2 hours', 1)");
    McastEvent ev;
    // Check-in, short form.
    pmsSends(guestRecord('1', '0', "101", "", "00001"), "00001");
    ASSERT_TRUE(nextEvent(1, ev, 3000));
    EXPECT_EQ(ev.room, "101");
    EXPECT_EQ(ev.last, "Smith");
    EXPECT_EQ(guests(), "101,Smith,V,E,2030-05-01 14:05,0,\n");
    // Data change of that guest, long form: the row is rewritten.
    pmsSends(guestRecord('4', '0', "101", "", "00002", true, "20300502"), "00002");
    ASSERT_TRUE(nextEvent(3, ev, 3000));
    EXPECT_EQ(guests(), "101,Smith,V,E,2030-05-02 14:05,0,\n");
    // Room move with the swap flag: out of 101, into 102.
    pmsSends(guestRecord('3', '1', "101", "102", "00003", true), "00003");
    ASSERT_TRUE(nextEvent(1, ev, 3000));
    EXPECT_EQ(ev.room, "102");
    EXPECT_EQ(guests(), "101,Smith,V,E,2030-05-02 14:05,1,\n102,Smith,V,E,2030-05-01 14:05,0,\n");
    // Check-out of 102.
    pmsSends(guestRecord('2', '0', "102", "", "00004"), "00004");
    ASSERT_TRUE(nextEvent(2, ev, 3000));
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "0");
    EXPECT_TRUE(d.waitLog("vrdi_set_reg_expiry_time: mac [mac102]", 3000)) << d.log();
    EXPECT_EQ(d.db().value("SELECT count(*) FROM session_info WHERE ses_reg_expire_dt > now()"), "0");
    // A date that is no calendar date changes nothing, though the frame is acknowledged.
    pmsSends(guestRecord('1', '0', "101", "", "00005", false, "20300231"), "00005");
    EXPECT_TRUE(d.waitLog("jds_vendor_cmd_guest_info: invalid date [20300231]", 3000));
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "0");
    // A corrupted frame is refused with its own sequence number.
    std::string bad = jdsFrame(guestRecord('1', '0', "101", "", "00006"));
    bad.back() ^= 1;
    peer->sendRaw(bad);
    EXPECT_EQ(peer->readRaw(9, 3000), linkResp(NAK, "00006"));
    // Markers switch the control server and keep the swap state.
    pmsSends("6000007", "00007");
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "01", "101")),
              frame("03", "01", "PMS Server Unavailable. Please retry later."));
    pmsSends("6100008", "00008");
    ASSERT_TRUE(d.waitLog("Entering jds_vendor_cmd_db_swap_end", 3000));
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "13", "")).substr(0, 8), "\x02" "021361^");
    EXPECT_EQ(controlRequest(d.controlPort(), frame("01", "14", "")).substr(0, 7), "\x02" "02140|");
}

TEST_F(JdsDaemon, ClassOfServiceReachesAShortRoom) {
    start();
    pmsSends(guestRecord('1', '0', "12", "", "00001"), "00001");
    ASSERT_TRUE(d.waitLog("db_pms_guests_add: sending check in", 3000));
    pmsSends("5912    700002", "00002");
    for (int i = 0; i < 30 && d.db().value("SELECT pms_class_of_service FROM pms_guests") != "7"; ++i) usleep(100000);
    EXPECT_EQ(d.db().value("SELECT pms_class_of_service FROM pms_guests"), "7") << d.log();
}

TEST_P(JdsOverLink, GuestRecordArrivingDuringARequestIsNotLost) {
    start("", GetParam().serial);
    auto answer = std::async(std::launch::async, [&] { return controlRequest(d.controlPort(), frame("01", "05", "101")); });
    const std::string req = frameIn();
    ASSERT_EQ(req.size(), 23u) << req;
    EXPECT_EQ(req.substr(1, 15), "12101   " + std::string(7, ' '));
    const std::string seq = req.substr(16, 5);
    peer->sendRaw(linkResp(ACK, seq));
    // A check-in first, then the awaited answer.
    pmsSends(guestRecord('1', '0', "101", "", "00001"), "00001");
    pmsSends("66101   " + std::string(16, ' ') + seq, seq);
    const std::string reply = answer.get();
    EXPECT_EQ(reply.substr(0, 5), "\x02" "0205") << reply;
    EXPECT_EQ(guests(), "101,Smith,V,E,2030-05-01 14:05,0,\n");
}

TEST_F(JdsDaemon, LinkCutDuringAPostingLeavesTheChargeUnmarked) {
    start();
    charge("101", "3");
    ASSERT_FALSE(frameIn(8000).empty());
    peer.reset();
    ASSERT_TRUE(d.waitLog("Unable to send post!", 8000)) << d.log();
    EXPECT_EQ(flag(), "0");
}

INSTANTIATE_TEST_SUITE_P(Transports, JdsOverLink, ::testing::Values(Transport{"Tcp", false}, Transport{"Pty", true}),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
