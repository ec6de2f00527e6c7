// The Optima and Regal FIAS vendors where they leave the Micros-Fidelio
// path: Optima's drain-first start, authorize and zero-charge answer;
// Regal's wire rules, night-audit hold, refusals, room move and VIP discount;
// and a link cut in the middle of a posting for both. The PMS is scripted on
// a real link; the records it expects are written out here.
#include <gtest/gtest.h>

#include "db.h"
#include "fias_env.h"
#include "io_gwy/server.h"
#include "link.h"
#include "logcapture.h"
#include "scan.h"
#include "state.h"
#include "vendor.h"
#include "vendors/Optima.h"
#include "vendors/Regal.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_link.h"
#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_requests.h"

namespace {

constexpr char ACK = 0x06, NAK = 0x15, ENQ = 0x05, STX = 0x02;

template <FiasVendor& (*V)(), VendorDescriptor (*D)()>
VendorDescriptor without_link_start() {
    VendorDescriptor d = D();
    d.init = [] { return fias_load_settings(V()) ? 1 : 0; };
    return d;
}

class FiasVariantTest : public FiasTest {
protected:
    void TearDown() override {
        vendor_set_factory(VENDOR_REGAL, nullptr);
        vendor_set_factory(VENDOR_OPTIMA, nullptr);
        g_vendor_id = -1;
        FiasTest::TearDown();
    }

    // Makes Regal or Optima the current vendor with its settings read, without
    // a link start; Regal's wire rules hold on every link.
    void select(int id) {
        if (id == VENDOR_REGAL) {
            regal_vendor().s = FiasState{};
            vendor_set_factory(id, without_link_start<regal_vendor, regal_vendor_descriptor>);
            pms_->setWire(false, true);
        } else {
            optima_vendor().s = FiasState{};
            vendor_set_factory(id, without_link_start<optima_vendor, optima_vendor_descriptor>);
        }
        g_vendor_id = vendor_init(kVendorNames[id]);
        ASSERT_EQ(g_vendor_id, id);
        svr_setReady();
    }

    // Reads one record from the PMS and dispatches it, as the main loop does.
    void dispatch(const std::string& body) {
        pms_->sendRecord(body, false);
        std::string rec;
        ASSERT_GT(vendor_current()->read_msg(rec), 0);
        if (pms_->acks()) {
            ASSERT_EQ(pms_->readRaw(1), std::string(1, ACK));
        }
        vendor_handle_data(rec);
    }

    std::string session(const std::string& room, const std::string& amount) {
        return db_->value(
            "INSERT INTO session_info (ses_room_no, ses_amount, ses_mac, ses_reg_time_dt, ses_reg_expire_dt) "
            "VALUES ('" + room + "', " + amount + ", '00:1a:2b:3c:4d:5e', now() - interval '1 hour', now()) "
            "RETURNING ses_seq_no");
    }
    std::string flag(const std::string& seq) {
        return db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + seq);
    }

    PMSPostInfo charge(const std::string& seq, float amount) {
        PMSPostInfo p;
        p.db_seqno = std::stoll(seq);
        p.ses_seq_no = static_cast<int32_t>(p.db_seqno);
        p.start_time = localTime(2026, 12, 8, 10, 0, 0);
        p.room = "101";
        p.charge = amount;
        p.mac = "00:1a:2b:3c:4d:5e";
        p.type = PMS_POST_TYPE_STANDARD;
        return p;
    }
};

}  // namespace

// Optima drains what the PMS sent before it starts the link, then sends LS
// and, after its pause, takes the PMS's answer and describes the link.
class OptimaDrainStart : public FiasVariantTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OptimaDrainStart, RecordWaitingIsHandledBeforeLinkStart) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = GetParam(), .database = true, .settings = ""}));
    optima_vendor().s = FiasState{};
    pms_->sendRecord("GI|RN101|G#55|GNSmith|GFJohn|GA261201|GD261215|DA261208|TI101011|", false);
    auto id = async([] { return vendor_init("Optima 2-way"); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 10000)) << pms_->lastBody();
    EXPECT_EQ(db_->value("SELECT pms_guest_no FROM pms_guests WHERE pms_room = '101' AND pms_is_stale = 0"), "55");
    pms_->sendRecord("LS|DA261208|TI101012|", false);
    ASSERT_TRUE(pms_->expectRecord("LD|DA*|IFWW|TI*|V#0.24.2|", 10000)) << pms_->lastBody();
    std::string rec;
    for (;;) {
        auto body = pms_->readRecord(5000, GetParam() ? ACK : 0);
        ASSERT_TRUE(body);
        EXPECT_EQ(body->find("RIXL"), std::string::npos);
        if (body->rfind("LA|", 0) == 0) break;
    }
    pms_->sendRecord("LA|DA261208|TI101013|");
    EXPECT_EQ(id.get(), VENDOR_OPTIMA);
}

INSTANTIATE_TEST_SUITE_P(Transports, OptimaDrainStart, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

TEST_F(FiasVariantTest, OptimaAuthorizeByNameInThisInstanceOnlyAndZeroChargeUR) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = true, .settings = "PSI_NO=1\n"}));
    ASSERT_NO_FATAL_FAILURE(select(VENDOR_OPTIMA));
    // Another gateway instance's guest in the same room.
    db_->exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_psi_no) "
              "VALUES ('101', '77', 'John', 'Smith', 2)");
    std::string reply;
    auto auth = [&](const std::string& data) {
        return async([&, data] { return vendor_current()->requests.authorize("101", data, reply); });
    };
    auto other = auth("John^Smith");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS456|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101012|RN101|G#55|GNDoe|GFJane|GA261201|GD261215|");
    EXPECT_EQ(other.get(), ReqResult::Failed);

    auto own = auth("Jane^Doe");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS456|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101012|RN101|G#55|GNDoe|GFJane|GA261201|GD261215|");
    EXPECT_EQ(own.get(), ReqResult::Ok) << reply;

    // Names only: a guest number alone is refused without asking the PMS.
    EXPECT_EQ(vendor_current()->requests.authorize("101", "55", reply), ReqResult::Failed);
    EXPECT_EQ(reply, "Incorrect arguments passed.");
    EXPECT_TRUE(pms_->quiet(200));

    // Optima's class-of-service statement, as logged when it changes nothing.
    LogCapture log;
    ASSERT_NO_FATAL_FAILURE(dispatch("RE|RN999|CS2|"));
    EXPECT_TRUE(log.contains("no rows updated by 'UPDATE pms_guests SET\tpms_class_of_service = 2 WHERE\tpms_room = "
                             "'999' AND pms_is_stale = 0 AND pms_psi_no = 1'"));

    // A zero charge the PMS answers UR is done with, not offered forever.
    std::string seq = session("101", "0");
    PMSPostInfo zero = charge(seq, 0);
    auto posted = async([&] { return vendor_current()->post_charge(zero, reply); });
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS456|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101012|RN101|G#55|GNDoe|GFJane|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA0|TI*|P#*|GNDoe|PTC|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASUR|DA261208|TI101013|");
    EXPECT_EQ(posted.get(), ReqResult::Ok) << reply;
}

// Between NS and NE Regal posts nothing, neither from the scan nor when
// asked directly; after NE the same charge goes out, numbered by its row.
TEST_F(FiasVariantTest, RegalNightAuditHoldsPostingsUntilNE) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = true, .settings = ""}));
    ASSERT_NO_FATAL_FAILURE(select(VENDOR_REGAL));
    std::string seq = session("101", "12.34");
    ASSERT_NO_FATAL_FAILURE(dispatch("NS|DA261208|TI230000|"));
    pms_db_scan_and_post();
    std::string reply;
    EXPECT_EQ(vendor_current()->post_charge(charge(seq, 12.34f), reply), ReqResult::Failed);
    EXPECT_TRUE(pms_->quiet(300));
    EXPECT_EQ(flag(seq), "0");

    ASSERT_NO_FATAL_FAILURE(dispatch("NE|DA261209|TI010000|"));
    auto scan = async([] { pms_db_scan_and_post(); });
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN101|PC4|TA1234|TI*|CT00:1a:2b:3c:4d:5e|P#" + seq + "|"))
        << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|P#" + seq + "|DA261209|TI010001|");
    scan.get();
    EXPECT_EQ(flag(seq), "1");
}

// A refusal Regal knows marks the charge so that no scan offers it again;
// any other leaves it for the next scan.
class RegalRefusal : public FiasVariantTest,
                     public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

TEST_P(RegalRefusal, MarkedRefusalsAreNotOfferedAgain) {
    const auto& [status, marked] = GetParam();
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = true, .settings = ""}));
    ASSERT_NO_FATAL_FAILURE(select(VENDOR_REGAL));
    std::string seq = session("101", "12.34");
    auto scan = async([] { pms_db_scan_and_post(); });
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN101|PC4|TA1234|TI*|CT*|P#" + seq + "|")) << pms_->lastBody();
    pms_->sendRecord(std::string("PA|AS") + status + "|P#" + seq + "|DA261208|TI101013|");
    // Nothing posted: the scan ends with a keep-alive.
    ASSERT_TRUE(pms_->expectRecord("LA|DA*|TI*|")) << pms_->lastBody();
    pms_->sendRecord("LA|DA261208|TI101014|");
    scan.get();
    EXPECT_EQ(flag(seq), marked);

    // The next scan: the charge again, or only the keep-alive.
    scan = async([] { pms_db_scan_and_post(); });
    auto next = pms_->readRecord(5000, ACK);
    ASSERT_TRUE(next);
    const bool again = std::string(marked) == "0";
    EXPECT_EQ(next->rfind("PS|", 0) == 0, again) << *next;
    pms_->sendRecord(again ? "PA|ASOK|P#" + seq + "|DA261208|TI101015|" : "LA|DA261208|TI101015|");
    scan.get();
}

INSTANTIATE_TEST_SUITE_P(Answers, RegalRefusal,
                         ::testing::Values(std::pair{"ER", "3"}, std::pair{"NF", "4"}, std::pair{"IT", "5"},
                                           std::pair{"NG", "0"}),
                         [](const auto& info) { return std::string(info.param.first); });

// A Regal room move takes the guest's row to the new room, as Micros-Fidelio
// does, so that the new room reads occupied; the discount of a charge to the
// room is that of its current guest of this instance.
TEST_F(FiasVariantTest, RegalRoomMoveKeepsTheGuestAndVipUsesTheRoomsGuest) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = true, .mcast = true,
                                  .settings = "VIP=1\nMOVE_SESSION_INFO_RECORDS=1\n"}));
    ASSERT_NO_FATAL_FAILURE(select(VENDOR_REGAL));
    ASSERT_NO_FATAL_FAILURE(dispatch("GI|RN101|G#55|GNSmith|GFJohn|GV3|GA261201|GD261215|DA261208|TI101011|"));
    std::string seq = db_->value(
        "INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_reg_time_dt, "
        "ses_reg_expire_dt, ses_orig_expire_dt) VALUES ('101', '55', 12.34, '00:1a:2b:3c:4d:5e', "
        "now() - interval '1 hour', now() + interval '1 hour', now() + interval '1 hour') RETURNING ses_seq_no");
    ASSERT_NO_FATAL_FAILURE(dispatch("GC|RN102|RO101|G#55|GNSmith|GFJohn|GV3|GA261201|GD261215|DA261208|TI101012|"));
    EXPECT_EQ(db_->value("SELECT pms_room FROM pms_guests WHERE pms_guest_no = '55' AND pms_is_stale = 0"), "102");
    EXPECT_EQ(db_->value("SELECT ses_room_no FROM session_info WHERE ses_seq_no = " + seq), "102");
    bool announced = false;
    for (auto d = mcast_->next(2000); d && !announced; d = mcast_->next(2000))
        announced = d->find("102") != std::string::npos;
    EXPECT_TRUE(announced);

    // Another instance's guest shares room 102 with a lower VIP code: the
    // charge is discounted by this instance's guest's code 3 (80%).
    db_->exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_vip_status, pms_psi_no) "
              "VALUES ('102', '90', 'Other', '1', 2)");
    PMSPostInfo p = charge(seq, 12.34f);
    p.room = "102";
    std::string reply;
    auto posted = async([&] { return vendor_current()->post_charge(p, reply); });
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN102|PC4|TA987|TI*|CT*|P#" + seq + "|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|DA261208|TI101013|");
    EXPECT_EQ(posted.get(), ReqResult::Ok) << reply;
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_discounts WHERE pms_guest_no = '55'"), "1");
}

// Regal's handshake: no LRC, a frame cut off by the 2-second read is
// answered NAK, ENQ is answered with the last answer given, and an STX in
// place of the answer to our frame is a record of the PMS's own.
class RegalWire : public FiasVariantTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RegalWire, CutFrameNakEnqRepeatsLastAnswerAndStxWhileSending) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = GetParam(), .database = true, .settings = ""}));
    ASSERT_NO_FATAL_FAILURE(select(VENDOR_REGAL));
    std::string rec;
    auto read = async([&] { return vendor_current()->read_msg(rec); });
    pms_->sendRaw(std::string(1, STX) + "GI|RN101|G#55|GNSm");
    EXPECT_EQ(pms_->readRaw(1, 4000), std::string(1, NAK));
    EXPECT_EQ(read.get(), 0);
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests"), "0");

    read = async([&] { return vendor_current()->read_msg(rec); });
    pms_->sendRaw(std::string(1, ENQ));
    EXPECT_EQ(pms_->readRaw(1), std::string(1, NAK));
    EXPECT_EQ(pms_->sendRecord("GI|RN101|G#55|GNSmith|GA261201|GD261215|DA261208|TI101011|"), ACK);
    EXPECT_GT(read.get(), 0);
    EXPECT_EQ(rec, "GI|RN101|G#55|GNSmith|GA261201|GD261215|DA261208|TI101011|");
    read = async([&] { return vendor_current()->read_msg(rec); });
    pms_->sendRaw(std::string(1, ENQ));
    EXPECT_EQ(pms_->readRaw(1), std::string(1, ACK));
    pms_->sendRecord("LA|DA261208|TI101012|");
    read.get();

    // The vendor's frame, unanswered: the PMS sends a check-in of its own
    // first, which is acknowledged and handled, then acknowledges ours.
    auto sent = async([] { return fias_write_msg(regal_vendor(), "LA|DA261208|TI101013|"); });
    auto frame = pms_->readRaw(std::string("LA|DA261208|TI101013|").size() + 2);
    EXPECT_EQ(frame, std::string(1, STX) + "LA|DA261208|TI101013|\x03");
    EXPECT_EQ(pms_->sendRecord("GI|RN102|G#56|GNDoe|GA261201|GD261215|DA261208|TI101014|"), ACK);
    pms_->sendRaw(std::string(1, ACK));
    EXPECT_EQ(sent.get(), 1);
    EXPECT_EQ(db_->value("SELECT pms_guest_no FROM pms_guests WHERE pms_room = '102'"), "56");
}

INSTANTIATE_TEST_SUITE_P(Transports, RegalWire, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

// Regal's start when the PMS is silent: LS, and an LA is enough, with no
// link description after it.
TEST_F(FiasVariantTest, RegalStartsOnOneAnswerWithoutLinkDescription) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = false, .settings = ""}));
    regal_vendor().s = FiasState{};
    pms_->setWire(false, true);
    svr_setBusy();
    auto id = async([] { return vendor_init("Regal 2-way"); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 4000)) << pms_->lastBody();
    pms_->sendRecord("LA|DA261208|TI101010|");
    EXPECT_EQ(id.get(), VENDOR_REGAL);
    EXPECT_EQ(svr_isReady(), 1);
    EXPECT_TRUE(pms_->quiet(300));

    // Keep-alives the PMS acknowledges but never answers close the link
    // once more than 500 went unanswered.
    regal_vendor().s.keepalive_timeouts = 500;
    auto kept = async([] { return vendor_current()->keep_alive(); });
    ASSERT_TRUE(pms_->expectRecord("LA|DA*|TI*|", 4000)) << pms_->lastBody();
    EXPECT_EQ(kept.get(), 0);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

// The PMS drops the link after reading the posting: the charge stays
// unposted, for each vendor.
class PostingCut : public FiasVariantTest, public ::testing::WithParamInterface<int> {};

TEST_P(PostingCut, NoChargeMarkedWithoutThePmsOk) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = true, .settings = "USE_PS_POST=1\n"}));
    ASSERT_NO_FATAL_FAILURE(select(GetParam()));
    std::string seq = session("101", "12.34");
    auto scan = async([] { pms_db_scan_and_post(); });
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN101|PC4|TA1234|TI*|CT*|P#*|")) << pms_->lastBody();
    pms_->hangUp();
    scan.get();
    EXPECT_EQ(flag(seq), "0");
}

INSTANTIATE_TEST_SUITE_P(Vendors, PostingCut, ::testing::Values(VENDOR_OPTIMA, VENDOR_REGAL),
                         [](const auto& info) { return info.param == VENDOR_REGAL ? "Regal" : "Optima"; });
