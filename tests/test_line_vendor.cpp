// The Marriott line protocol against a scripted PMS on a loopback socket: the
// same conversations for both vendors, with the records each must send
// written out here.
#include <future>
#include <sstream>

#include <gtest/gtest.h>

#include "db.h"
#include "fias_peer.h"
#include "io_gwy/server.h"
#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "pg_fixture.h"
#include "scan.h"
#include "state.h"
#include "vendor.h"
#include "vendors/line/line_core.h"

namespace {

constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, NAK = 0x15, ETB = 0x17;

struct LineCase {
    const char* vendor;
    int id;
    const char* post_wired0;  // 2.50 to room 101, wired flag 0
    const char* post_wired2;  // the same with wired flag 2
    bool equipment_status_served;
    bool serial;  // a pseudo-terminal instead of TCP
    const char* label;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.vendor; }

const LineCase kCases[] = {
    {"Marriott 2-way", VENDOR_MARRIOTT, "POST   101     011INTERNET        250",
     "POST   101     099A+E             250", false, false, "Marriott"},
    {"MarriottFOSSE 2-way", VENDOR_MARRIOTT_FOSSE, "POST   101     0 2                250",
     "POST   101     099B               250", true, false, "Fosse"},
    {"MarriottFOSSE 2-way", VENDOR_MARRIOTT_FOSSE, "POST   101     0 2                250",
     "POST   101     099B               250", true, true, "FosseSerial"},
};

// The PMS's own LRC: XOR of the text and the terminator.
char lrc(const std::string& s) {
    char x = 0;
    for (char c : s) x ^= c;
    return x;
}
std::string frame(const std::string& body, char end = ETX) { return STX + body + end + lrc(body + end); }
std::string name_record(const std::string& name) {
    std::string n = name;
    n.resize(20, ' ');
    return "NAME" + std::string(18, ' ') + n;
}
std::string err_record(int code) {
    char buf[16];
    snprintf(buf, sizeof buf, "%6d", code);
    return std::string("ERR ") + buf + std::string(12, ' ');
}

class LineTest : public ::testing::TestWithParam<LineCase> {
protected:
    void SetUp() override {
        env_ = std::make_unique<LinkEnv>();
        pms_ = GetParam().serial ? FiasPeer::serial() : FiasPeer::tcp();
        ASSERT_TRUE(pms_);
        db_ = std::make_unique<PgTestDb>();
        PG_REQUIRE(*db_);
        std::vector<std::string> lines;
        std::istringstream in(pms_->linkConfig() + "PMSCOMMTIMEOUT=1\nLOOK_WAIT=1\nNAME_WAIT=1\nPSI_NO=0\n" +
                              db_->configLines());
        for (std::string l; std::getline(in, l);)
            if (!l.empty()) lines.push_back(l);
        ASSERT_NO_FATAL_FAILURE(env_->configure(lines));
        ASSERT_EQ(db_connect(), 1);
        pms_fd_client = link_open();
        ASSERT_GE(pms_fd_client, 0);
        ASSERT_TRUE(pms_->accept());
    }
    void TearDown() override {
        vendor_stop();
        if (link_type() != LINK_TYPE_CLOSED) link_close();
        db_disconnect();
    }

    // The PMS's side of a start: ACK the bid, take STRT, see EOT.
    void start() {
        auto f = std::async(std::launch::async, [&] { return vendor_init(GetParam().vendor); });
        expect(ENQ);
        pms_->sendRaw(std::string(1, ACK));
        expectFrame("STRT");
        expect(EOT);
        ASSERT_EQ(f.get(), GetParam().id);
        EXPECT_TRUE(svr_isReady());
    }
    void expect(char c, int ms = 5000) { EXPECT_EQ(pms_->readRaw(1, ms), std::string(1, c)); }
    // Reads one frame, checks its LRC and answers `answer`.
    std::string readFrame(char answer = ACK) {
        std::string got = pms_->readRaw(1);
        EXPECT_EQ(got, std::string(1, STX));
        std::string body;
        for (;;) {
            std::string b = pms_->readRaw(1);
            if (b.empty()) return "<timeout>";
            if (b[0] == ETX) break;
            body += b;
        }
        EXPECT_EQ(pms_->readRaw(1), std::string(1, lrc(body + ETX))) << body;
        if (answer) pms_->sendRaw(std::string(1, answer));
        return body;
    }
    void expectFrame(const std::string& body) { EXPECT_EQ(readFrame(), body); }
    // The PMS's exchange: bid, record, acknowledgement.
    void send(const std::string& body) {
        pms_->sendRaw(std::string(1, ENQ));
        expect(ACK);
        pms_->sendRaw(frame(body));
        expect(ACK);
    }
    // Our turn on the line: bid, one request record, EOT.
    void takeRequest(const std::string& body) {
        expect(ENQ);
        pms_->sendRaw(std::string(1, ACK));
        expectFrame(body);
        expect(EOT);
    }
    // What the main loop does with one PMS record.
    static int serveOne() {
        std::string rec;
        if (vendor_current()->read_msg(rec) <= 0) return -1;
        return vendor_handle_data(rec);
    }
    PMSPostInfo charge(const std::string& room, float amount, int wired) {
        PMSPostInfo p;
        p.room = room;
        p.charge = amount;
        p.wired_flag = wired;
        return p;
    }
    std::vector<std::vector<std::string>> guests(const std::string& room) {
        return db_->rows("SELECT pms_name_last, pms_name_first, pms_is_stale FROM pms_guests WHERE pms_room = '" +
                         room + "' ORDER BY pms_seq_no");
    }

    std::unique_ptr<LinkEnv> env_;
    std::unique_ptr<FiasPeer> pms_;
    std::unique_ptr<PgTestDb> db_;
};

TEST_P(LineTest, StartEchoesAndStatus) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto f = std::async(std::launch::async, serveOne);
    send("TEST");
    takeRequest("TEST");
    EXPECT_EQ(f.get(), 1);
    f = std::async(std::launch::async, serveOne);
    send("INIT");
    EXPECT_EQ(f.get(), 1);
    EXPECT_TRUE(pms_->quiet(300));

    std::optional<std::string> status;
    vendor_current()->requests.check_status(status);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->substr(0, 5), "INIT^");
    std::string reply;
    const int32_t rc = req_code(vendor_current()->requests.room_equipment_status("101", "1", reply));
    EXPECT_EQ(rc, GetParam().equipment_status_served ? 0 : 3);
    EXPECT_EQ(req_code(vendor_current()->requests.db_swap()), 0);
}

// A start refused by the PMS leaves the interface BUSY until an EOT or a
// keep-alive runs it again.
TEST_P(LineTest, PendingStartRetriedOnEotAndKeepAlive) {
    auto f = std::async(std::launch::async, [&] { return vendor_init(GetParam().vendor); });
    for (int i = 0; i < 4; ++i) {
        expect(ENQ);
        pms_->sendRaw("x");
    }
    ASSERT_EQ(f.get(), GetParam().id);
    EXPECT_FALSE(svr_isReady());

    // EOT while pending: the start runs again, the read still fails.
    auto r = std::async(std::launch::async, serveOne);
    pms_->sendRaw(std::string(1, EOT));
    for (int i = 0; i < 4; ++i) {
        expect(ENQ);
        pms_->sendRaw("x");
    }
    EXPECT_EQ(r.get(), -1);
    EXPECT_FALSE(svr_isReady());

    auto k = std::async(std::launch::async, [] { return vendor_current()->keep_alive(); });
    takeRequest("STRT");
    EXPECT_EQ(k.get(), 0);
    EXPECT_TRUE(svr_isReady());
}

TEST_P(LineTest, PostAnswers) {
    ASSERT_NO_FATAL_FAILURE(start());
    VendorDescriptor& d = *vendor_current();
    std::string reply;
    auto f = std::async(std::launch::async, [&] { return d.post_charge(charge("101", 2.50f, 0), reply); });
    takeRequest(GetParam().post_wired0);
    send("VER");
    EXPECT_EQ(f.get(), ReqResult::Ok);

    // NAK then the frame again; an ETB-ended answer with a CR for its LRC.
    f = std::async(std::launch::async, [&] { return d.post_charge(charge("101", 2.50f, 2), reply); });
    expect(ENQ);
    pms_->sendRaw(std::string(1, ACK));
    EXPECT_EQ(readFrame(NAK), GetParam().post_wired2);
    expectFrame(GetParam().post_wired2);
    expect(EOT);
    pms_->sendRaw(std::string(1, ENQ));
    expect(ACK);
    pms_->sendRaw(std::string(1, STX) + "VER" + ETB + "\r");
    expect(ACK);
    EXPECT_EQ(f.get(), ReqResult::Ok);

    // ERR 4: counted as posted by the request slot, refused for the scan.
    LogCapture log(0);
    reply.clear();
    auto s = std::async(std::launch::async, [&] { return d.requests.post_charge(charge("101", 2.50f, 0), reply); });
    takeRequest(GetParam().post_wired0);
    send(err_record(4));
    EXPECT_EQ(s.get(), ReqResult::Ok);
    EXPECT_NE(reply.find("Vacant room:  The room specified in the command is not occupied."), std::string::npos);
    EXPECT_TRUE(log.contains("refused by the PMS with ERR 4"));
    f = std::async(std::launch::async, [&] { return d.post_charge(charge("101", 2.50f, 0), reply); });
    takeRequest(GetParam().post_wired0);
    send(err_record(4));
    EXPECT_EQ(f.get(), ReqResult::Failed);

    // ERR 6: not posted, offered again.
    f = std::async(std::launch::async, [&] { return d.post_charge(charge("101", 2.50f, 0), reply); });
    takeRequest(GetParam().post_wired0);
    send(err_record(6));
    EXPECT_EQ(f.get(), ReqResult::Failed);
}

// From the scan, a final refusal marks the charge posted but writes no
// billing line: the PMS took nothing.
TEST_P(LineTest, RefusedChargeMarkedPostedWithoutBillingLine) {
    ASSERT_NO_FATAL_FAILURE(start());
    db_->exec(
        "INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_pay_no, ses_reg_time_dt, "
        "ses_reg_expire_dt) VALUES ('101', '1001', 2.50, '00:16:3e:10:01:01', 4, now() - interval '20 minutes', "
        "now() + interval '1 day')");
    LogCapture log(0);
    auto f = std::async(std::launch::async, pms_db_scan_and_post);
    expect(ENQ);
    pms_->sendRaw(std::string(1, ACK));
    EXPECT_EQ(readFrame().substr(0, 10), "POST   101");
    expect(EOT);
    send(err_record(5));
    f.get();
    EXPECT_EQ(db_->rows("SELECT ses_posted_flag FROM session_info"), (std::vector<std::vector<std::string>>{{"1"}}));
    EXPECT_TRUE(log.contains("refused by the PMS with ERR 5"));
    EXPECT_FALSE(log.contains("BILLING posted"));
}

TEST_P(LineTest, ChargesThatDoNotFitAreRefusedUnsent) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::string reply;
    EXPECT_EQ(vendor_current()->post_charge(charge("1234567", 2.5f, 0), reply), ReqResult::Failed);
    EXPECT_EQ(vendor_current()->post_charge(charge("101", 2e10f, 0), reply), ReqResult::Failed);
    EXPECT_TRUE(pms_->quiet(300));
}

TEST_P(LineTest, LinkCutDuringPost) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::string reply;
    auto f = std::async(std::launch::async, [&] { return vendor_current()->post_charge(charge("101", 1, 0), reply); });
    expect(ENQ);
    pms_->sendRaw(std::string(1, ACK));
    readFrame(0);
    pms_.reset();
    EXPECT_EQ(f.get(), ReqResult::Failed);
}

// A CHKI looks the room up; three NAMEs come within the NAME window.
TEST_P(LineTest, CheckInNamesAndCheckOut) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto f = std::async(std::launch::async, serveOne);
    send("CHKI 1 0 1");
    takeRequest("LOOK   101");
    send(name_record("Smith/John"));
    send(name_record("Smith/Jane"));
    send(name_record("Doe"));
    pms_->sendRaw(std::string(1, EOT));
    f.get();
    EXPECT_EQ(guests("101"), (std::vector<std::vector<std::string>>{
                                 {"Smith", "John", "0"}, {"Smith", "Jane", "0"}, {"Doe", "", "0"}}));

    f = std::async(std::launch::async, serveOne);
    send("CHKO 1 0 1");
    f.get();
    for (const auto& row : guests("101")) EXPECT_EQ(row[2], "1");

    // A LOOK nobody answers still leaves a nameless row for the harvest.
    f = std::async(std::launch::async, serveOne);
    send("CHKI   102");
    takeRequest("LOOK   102");
    f.get();
    EXPECT_EQ(guests("102"), (std::vector<std::vector<std::string>>{{"", "", "0"}}));
}

// The PMS's CHKI during a POST is handled before the POST's answer, and a
// NAK to our bid lets the PMS's pending CHKI go first.
TEST_P(LineTest, PmsRecordsGoFirst) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::string reply;
    auto f = std::async(std::launch::async, [&] { return vendor_current()->post_charge(charge("101", 2.5f, 0), reply); });
    takeRequest(GetParam().post_wired0);
    send("CHKI   102");
    takeRequest("LOOK   102");
    send(name_record("Roe/Rita"));
    pms_->sendRaw(std::string(1, EOT));
    EXPECT_TRUE(pms_->quiet(300));
    send("VER");
    EXPECT_EQ(f.get(), ReqResult::Ok);
    EXPECT_EQ(guests("102"), (std::vector<std::vector<std::string>>{{"Roe", "Rita", "0"}}));

    f = std::async(std::launch::async, [&] { return vendor_current()->post_charge(charge("101", 2.5f, 0), reply); });
    expect(ENQ, 6000);
    pms_->sendRaw(std::string(1, NAK));
    send("CHKI   103");
    takeRequest("LOOK   103");
    send(name_record("Poe/Edgar"));
    pms_->sendRaw(std::string(1, EOT));
    takeRequest(GetParam().post_wired0);
    send("VER");
    EXPECT_EQ(f.get(), ReqResult::Ok);
    EXPECT_EQ(guests("103"), (std::vector<std::vector<std::string>>{{"Poe", "Edgar", "0"}}));
}

// The harvest names one room and checks out another the PMS calls vacant.
TEST_P(LineTest, HarvestNamesAndChecksOut) {
    ASSERT_NO_FATAL_FAILURE(start());
    db_->exec("INSERT INTO pms_guests (pms_room, pms_arrival_dt, pms_psi_no) VALUES ('201', now(), 0), ('202', now(), 0)");
    auto f = std::async(std::launch::async, [] { return vendor_current()->keep_alive(); });
    takeRequest("LOOK   201");
    send(name_record("Kim/Lee"));
    pms_->sendRaw(std::string(1, EOT));
    takeRequest("LOOK   202");
    send(err_record(4));
    EXPECT_EQ(f.get(), 0);
    EXPECT_EQ(guests("201"), (std::vector<std::vector<std::string>>{{"<null>", "<null>", "1"}, {"Kim", "Lee", "0"}}));
    EXPECT_EQ(guests("202"), (std::vector<std::vector<std::string>>{{"<null>", "<null>", "1"}}));
}

TEST_P(LineTest, AuthoriseByNameAndByConf) {
    ASSERT_NO_FATAL_FAILURE(start());
    struct Case {
        const char* data;
        ReqResult want;
    };
    for (const Case& c : {Case{"john^SMITH^2", ReqResult::Ok}, Case{"jo^smith^2", ReqResult::Failed},
                          Case{"jo^smith^0", ReqResult::Ok}, Case{"XXXX^smith^2", ReqResult::Ok},
                          Case{"XXXX^XXXX^2", ReqResult::Ok}, Case{"jo^smith^zz", ReqResult::Failed}}) {
        std::string reply;
        auto f = std::async(std::launch::async,
                            [&] { return vendor_current()->requests.authorize("101", c.data, reply); });
        if (std::string(c.data).find("zz") == std::string::npos) {
            takeRequest("LOOK   101");
            send(name_record("Smith/John"));
            pms_->sendRaw(std::string(1, EOT));
        }
        EXPECT_EQ(f.get(), c.want) << c.data;
    }
    std::string reply;
    auto f = std::async(std::launch::async,
                        [&] { return vendor_current()->requests.authorize("101", "john^SMITH^1", reply); });
    takeRequest("CONF   101johnSMIT");
    send("VER");
    EXPECT_EQ(f.get(), ReqResult::Ok);
}

INSTANTIATE_TEST_SUITE_P(Vendors, LineTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(LineRecords, ErrorCodesAndRooms) {
    std::string reply;
    EXPECT_EQ(line_parse_error("ERR      4", reply), 0);  // 21 characters or less
    EXPECT_EQ(reply, "");
    EXPECT_EQ(line_parse_error(err_record(4), reply), 4);
    EXPECT_EQ(reply, "Vacant room:  The room specified in the command is not occupied.");
    reply.clear();
    EXPECT_EQ(line_parse_error(err_record(15), reply), 0);
    EXPECT_EQ(line_parse_error(err_record(-3), reply), 0);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(line_record_room("CHKO 1 0 1"), "101");
    EXPECT_EQ(line_record_room("CHKO 101"), std::nullopt);
    EXPECT_EQ(line_record_room(std::string("CHKO 1\x03") + "01"), std::nullopt);
    EXPECT_FALSE(line_room_fits("1234567"));
    EXPECT_TRUE(line_room_fits("101"));
}

}  // namespace
