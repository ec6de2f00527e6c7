// Micros 4700 through the running daemon, against a scripted PMS over
// loopback TCP and over a pseudo-terminal (one matrix, both transports). The
// PMS computes its own sums and keeps its own control bytes: authorisation by
// name with its compare lengths and markers, posting with each kind of
// answer, the guest cache refreshed when nothing is posted, and a link cut in
// the middle of a posting.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <future>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "fias_peer.h"

namespace {

constexpr char SOH = 0x01, STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, NAK = 0x15;

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

// A whole message as it travels: SOH, header, STX, text, ETX, sum, EOT.
std::string msg(const std::string& text) {
    const std::string body = "01Micros 4700 Sys." + std::string(1, STX) + text + ETX;
    unsigned sum = 0;
    for (char c : body) sum += static_cast<unsigned char>(c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", sum % 65536);
    return SOH + body + hex + EOT;
}
std::string namesRequest(const std::string& room) { return msg(" 1 " + pad(room, 16) + "   0"); }
std::string namesData(const std::vector<std::string>& names) {
    std::string d;
    for (const auto& n : names) d += pad(n, 16);
    return d;
}

struct Transport {
    const char* name;
    bool serial;
};

class M4700Daemon : public ::testing::TestWithParam<Transport> {
protected:
    void start(const std::string& extra = "") {
        PG_REQUIRE(d.db());
        link = GetParam().serial ? FiasPeer::serial() : FiasPeer::tcp();
        ASSERT_TRUE(link);
        ASSERT_TRUE(d.start(link->port(), link->linkConfig() + extra +
                                              "VENDOR=Micros4700 1.5-way\nPMSCOMMTIMEOUT=5\n"));
        ASSERT_TRUE(link->accept(10000)) << d.log();
        ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 10", 8000)) << d.log();
    }
    // The next message from the daemon, SOH to EOT ("" on time-out).
    std::string messageIn(int timeout_ms = 8000) {
        std::string got;
        for (;;) {
            std::string b = link->readRaw(1, timeout_ms);
            if (b.empty()) return "";
            if (got.empty() && b[0] != SOH) continue;
            got += b;
            if (b[0] == EOT) return got;
        }
    }
    // Takes the daemon's message `want`, acknowledges it and answers it with
    // `answer`; expects the daemon's ACK of the answer.
    void serve(const std::string& want, const std::string& answer) {
        ASSERT_EQ(messageIn(), want) << d.log();
        link->sendRaw(std::string(1, ACK));
        link->sendRaw(answer);
        EXPECT_EQ(link->readRaw(1, 5000), std::string(1, ACK));
    }
    void serveNames(const std::string& room, const std::vector<std::string>& names) {
        serve(namesRequest(room), msg(" 1" + namesData(names)));
    }
    std::string current(const std::string& room) {
        auto rows = d.db().rows("SELECT pms_name_last || ' ' || pms_name_first FROM pms_guests WHERE pms_room = '" +
                                room + "' AND pms_is_stale = 0 ORDER BY pms_seq_no");
        std::string out;
        for (auto& r : rows) out += (out.empty() ? "" : ",") + r[0];
        return out;
    }
    std::string control(const std::string& sub, const std::string& data) {
        return controlRequest(d.controlPort(), frame("01", sub, data), 15000);
    }

    DaemonHarness d;
    std::unique_ptr<FiasPeer> link;
};

const std::vector<std::string> kThree = {"SMITH,JOHN", "DOE,JANE", "ROE,RICHARD"};
const std::vector<std::string> kSmith = {"SMITH,JOHN"};

struct AuthCase {
    const char* given;
    std::vector<std::string> names;  // the PMS's answer
    const char* refusal;             // nullptr: authorised
    const char* guests = nullptr;    // room 101's current guests afterwards, when checked
    bool asks = true;
};

TEST_P(M4700Daemon, AuthorisationAsksThePmsAndCachesItsNames) {
    start();
    const AuthCase cases[] = {
        // The walk stops at the guest who matched: ROE is not cached.
        {"JANE^DOE^16", kThree, nullptr, "SMITH JOHN,DOE JANE"},
        {"JOHNNY^SMITHERS^4", kSmith, nullptr, "SMITH JOHN"},
        {"JOAN^SMITH^4", kSmith, " No match found", "SMITH JOHN"},
        {"BOB^NOBODY^0", kSmith, nullptr},
        // 2 stands for 16, and so does anything above 16.
        {"JOHN^SMIRNOFF^2", kSmith, " No match found"},
        {"john^smith^20", kSmith, nullptr},
        {"JOHN^SMIT^20", kSmith, " No match found"},
        {"XXXX^XXXX^16", kSmith, nullptr},
        {"xxxx^doe^16", kThree, nullptr},
        {"XXXX^BROWN^16", kSmith, " No match found"},
        {"CAN POST^X^16", kSmith, nullptr},
        {"CAN POST^X^16", {"/VACANT ROOM"}, "No charge permissions on room: [101] No match found"},
        {"JOHN^SMITH^16", {"CASH-ONLY GUEST"}, "No charge permissions on room: [101] No match found"},
        // No name field: nobody is in the room.
        {"JOHN^SMITH^16", {}, " No match found", ""},
        {"JOHN^SMITH^abc", {}, "Incorrect arguments passed. 'JOHN^SMITH^abc', '3'", nullptr, false},
        {"JOHN^SMITH", {}, "Incorrect arguments passed. 'JOHN^SMITH', '2'", nullptr, false},
    };
    for (const AuthCase& c : cases) {
        SCOPED_TRACE(c.given);
        auto answer = std::async(std::launch::async, [&] { return control("07", std::string("101|") + c.given); });
        if (c.asks) serveNames("101", c.names);
        const std::string reply = answer.get();
        EXPECT_EQ(reply, c.refusal ? frame("03", "04", c.refusal) : frame("02", "07", "1"));
        if (c.guests) {
            EXPECT_EQ(current("101"), c.guests);
        }
    }
    EXPECT_EQ(control("13", "").rfind("\x02" "0213GI^", 0), 0u);
    // Served by the vendor or not at all.
    EXPECT_EQ(control("01", "101"), frame("03", "03", "Functionality not implemented"));
    EXPECT_EQ(control("05", "101"), frame("03", "03", "Functionality not implemented"));
}

TEST_P(M4700Daemon, PostingIsMarkedOnlyWhenThePmsTakesIt) {
    start();
    const std::string seq = d.db().value(
        "INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) "
        "VALUES ('101', now() - interval '1 hour', now(), 9.95, 'aa') RETURNING ses_seq_no");
    auto flag = [&] { return d.db().value("SELECT ses_posted_flag FROM session_info"); };
    char seq4[8];
    std::snprintf(seq4, sizeof seq4, "%4ld", std::stol(seq) % 10000);
    const std::string posting = msg(" 2 " + pad("101", 16) + "    " + pad("SMITH,JOHN", 16) + "1   1   1  1  1" +
                                    seq4 + "   1   1  1      9.95      9.95" +
                                    [] {
                                        std::string z;
                                        for (int i = 0; i < 11; ++i) z += "      0.00";
                                        return z;
                                    }());
    // An answer without names: nobody to charge, nothing is sent.
    serveNames("101", {});
    ASSERT_TRUE(d.waitLog("No guest name for room [101].  Post failed.", 5000)) << d.log();
    // Refused, then asked for an account: both leave the charge for later.
    const std::pair<const char*, const char*> refusals[] = {
        {"\\NO POST", "Posting was denied by the PMS."},
        {"?ACCOUNT", "PMS has requested positive posting account identification."},
    };
    for (auto [status, log] : refusals) {
        serveNames("101", kSmith);
        serve(posting, msg(" 2" + pad(status, 16)));
        ASSERT_TRUE(d.waitLog(log, 5000)) << d.log();
        EXPECT_EQ(flag(), "0");
    }
    // A NAK makes the daemon send the same request again.
    ASSERT_EQ(messageIn(), namesRequest("101"));
    link->sendRaw(std::string(1, NAK));
    serveNames("101", kSmith);
    serve(posting, msg(" 2" + pad("POSTED", 16)));
    for (int i = 0; i < 50 && flag() == "0"; ++i) usleep(100000);
    EXPECT_EQ(flag(), "1") << d.log();
    EXPECT_EQ(control("13", "").rfind("\x02" "0213PA^", 0), 0u);
}

TEST_P(M4700Daemon, IdleScansRefreshTheOldestRooms) {
    d.db().exec("INSERT INTO pms_room_list (prl_room, prl_occupied, prl_updated_dt) VALUES "
                "('102', 1, now() - interval '9 hours'), ('101', 1, now() - interval '10 hours'), "
                "('103', 1, now() - interval '1 hour')");
    start("NUM_ROOMS_CACHED_PER_RUN=2\nROOM_CACHE_AGE_IN_HOURS=4\n");
    // Oldest first; each name replaces the one before.
    serveNames("101", {"SMITH,JOHN", "DOE,JANE"});
    serveNames("102", {"/VACANT ROOM"});
    EXPECT_TRUE(link->quiet(2500)) << "room 103 is not due yet";
    EXPECT_EQ(current("101"), "DOE JANE");
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests WHERE pms_room = '101'"), "2");
    EXPECT_EQ(current("102"), "");
}

TEST_P(M4700Daemon, LinkCutDuringAPostingLeavesTheChargeUnmarked) {
    // A cut serial line is silence: every send waits out its time-out.
    start("PMSCOMMTIMEOUT=3\n");
    d.db().exec("INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) "
                "VALUES ('101', now() - interval '1 hour', now(), 3, 'aa')");
    serveNames("101", kSmith);
    ASSERT_NE(messageIn().find(" 2 101"), std::string::npos);
    link.reset();
    ASSERT_TRUE(d.waitLog("micros4700_handle_post_charge: Unable to send post message!", 20000)) << d.log();
    EXPECT_EQ(d.db().value("SELECT ses_posted_flag FROM session_info"), "0");
}

INSTANTIATE_TEST_SUITE_P(Transports, M4700Daemon,
                         ::testing::Values(Transport{"Tcp", false}, Transport{"Pty", true}),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
