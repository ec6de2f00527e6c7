// One FIAS conversation, played byte for byte by a scripted PMS, for every
// FIAS vendor over every transport: link start with the link description, a
// check-in, a charge posted (through the posting inquiry where the vendor
// sends one), a zero charge the PMS answers UR, and the keep-alive; and a
// link cut in the middle of a posting.
// What each vendor must send is written out in its row, never taken from its
// profile, so that a wrong profile fails here.
#include <gtest/gtest.h>

#include <tuple>

#include "db.h"
#include "fias_env.h"
#include "io_gwy/server.h"
#include "vendor.h"
#include "scan.h"
#include "vendors/HNMUX.h"
#include "vendors/HiltonOnQ.h"
#include "vendors/MicrosFidelio.h"
#include "vendors/Optima.h"
#include "vendors/Protel.h"
#include "vendors/Regal.h"
#include "vendors/fias/fias_link.h"
#include "vendors/fias/fias_post.h"

namespace {

struct FiasRow {
    const char* label;
    const char* name;
    int id;
    FiasVendor& (*vendor)();
    std::vector<std::string> description;  // between LD and LA, with `settings`; none: no LD at all
    std::string inquiry;                   // the posting inquiry for room 101; "" for none
    std::string posting;                   // the posting of 12.34 to guest 55 (Smith)
    std::string keepalive;                 // sent when the scan has nothing to post
    bool keepalive_on_serial;
    const char* settings = "";
    bool serial_rules_on_tcp = false;  // LRC and ACK/NAK on TCP too
    bool lrc = true;                   // frames under serial rules carry an LRC
    bool acks_everywhere = false;      // ACK/NAK on TCP too, without the LRC
};

const FiasRow kMicrosFidelio = {
    "MicrosFidelio",
    "Micros-Fidelio 2-way",
    VENDOR_MICROS_FIDELIO,
    micfid_vendor,
    {
        "LR|RINS|FLDATI|",
        "LR|RINE|FLDATI|",
        "LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINP|",
        "LR|RIGO|FLG#RNGSSFDATI|",
        "LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNP|",
        "LR|RIDR|FLDATI|",
        "LR|RIDS|FLDATI|",
        "LR|RIDE|FLDATI|",
        "LR|RIXR|FLG#RNDATI|",
        "LR|RIXI|FLBDBIDCG#RNDAF#FDTI|",
        "LR|RIXB|FLBAG#RNDATI|",
        "LR|RIXC|FLASBAG#RNCTDATI|",
        "LR|RIPR|FLP#PIDAG#RNTATIPT|",
        "LR|RIPA|FLP#ASDARNTICT|",
        "LR|RIRE|FLRNCSRS|",
        "LR|RIPL|FLP#DATIRNG#GNGFGVGAGDGGGLNP|",
        "LR|RIXM|FLG#RN|",
        "LR|RIXT|FLG#MIMTRNDATI|",
        "LR|RIXD|FLG#MIRN|",
    },
    "PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|",
    "PR|DA*|G#55|RN101|TA1234|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|",
    "LS|DA*|TI*|",
    false,
};

const FiasRow kOptima = {
    "Optima",
    "Optima 2-way",
    VENDOR_OPTIMA,
    optima_vendor,
    kMicrosFidelio.description,  // the same records under default settings (no XL, XO)
    "PR|DA*|PI101|TI*|P#*|SO123|WS456|IDELI|",
    "PR|DA*|G#55|RN101|TA1234|TI*|P#*|GNSmith|PTC|",
    "LA|DA*|TI*|",
    true,
};

const FiasRow kHiltonOnQ = {
    "HiltonOnQ",
    "Hilton OnQ 2-way",
    VENDOR_HILTON_ONQ,
    honq_vendor,
    {
        "LR|RINS|FLDATI|",
        "LR|RINE|FLDATI|",
        "LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINP|",
        "LR|RIGO|FLG#RNGSSFDATI|",
        "LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNP|",
        "LR|RIDR|FLDATI|",
        "LR|RIDS|FLDATI|",
        "LR|RIDE|FLDATI|",
        "LR|RIXR|FLG#RNDATI|",
        "LR|RIXI|FLBDBIDCG#RNDAF#FDTI|",
        "LR|RIXB|FLBAG#RNDATI|",
        "LR|RIPR|FLPIDAG#RNTATI|",
        "LR|RIPA|FLASDARNTI|",
        "LR|RIRE|FLRNCSRS|",
    },
    // The room's last occupant is known: no inquiry.
    "",
    "PR|DA*|G#55|RN101|TA1234|TI*|PTC|",
    "LA|DA*|TI*|",
    true,
};

// No link description, no inquiry; the charge's row number is its P#.
const FiasRow kRegal = {
    "Regal",
    "Regal 2-way",
    VENDOR_REGAL,
    regal_vendor,
    {},
    "",
    "PS|DA*|PTC|RN101|PC4|TA1234|TI*|CT00:1a:2b:3c:4d:5e|P#1|",
    "LA|DA*|TI*|",
    true,
    "",
    false,
    false,
    true,
};

const FiasRow kHnMux = {
    "HNMUX",
    "HN MUX 2-way",
    VENDOR_HNMUX,
    hnmux_vendor,
    {
        "LR|RINS|FLDATI|",
        "LR|RINE|FLDATI|",
        "LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINP|",
        "LR|RIGO|FLG#RNGSSFDATI|",
        "LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNP|",
        "LR|RIDR|FLDATI|",
        "LR|RIDS|FLDATI|",
        "LR|RIDE|FLDATI|",
        "LR|RIXR|FLG#RNDATI|",
        "LR|RIXI|FLBDBIDCG#RNDAF#FDTI|",
        "LR|RIXB|FLBAG#RNDATI|",
        "LR|RIXC|FLASBAG#RNCTDATI|",
        "LR|RIPR|FLPIDAG#GNRNTATI|",
        "LR|RIPA|FLASDARNTI|",
        "LR|RIRE|FLRNCSRS|",
        "LR|RIPL|FLDATIRNG#GNGFGVGAGDGGGLNP|",
    },
    "PR|DA*|PI101|TI*|SO123|WS456|IDELI|",
    "PR|DA*|G#55|RN101|TA1234|TI*|GNSmith|PTC|",
    "LS|DA*|TI*|",
    false,
    "",
    true,
};

// Micros-Fidelio's description less the online message and folio records,
// which it does not send even when asked to.
const FiasRow kProtel = {
    "Protel",
    "Protel 2-way",
    VENDOR_PROTEL,
    protel_vendor,
    {
        "LR|RINS|FLDATI|",
        "LR|RINE|FLDATI|",
        "LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINP|",
        "LR|RIGO|FLG#RNGSSFDATI|",
        "LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNP|",
        "LR|RIDR|FLDATI|",
        "LR|RIDS|FLDATI|",
        "LR|RIDE|FLDATI|",
        "LR|RIXR|FLG#RNDATI|",
        "LR|RIXI|FLBDBIDCG#RNDAF#FDTI|",
        "LR|RIXB|FLBAG#RNDATI|",
        "LR|RIXC|FLASBAG#RNCTDATI|",
        "LR|RIPR|FLP#PIDAG#RNTATIPT|",
        "LR|RIPA|FLP#ASDARNTICT|",
        "LR|RIRE|FLRNCSRS|",
        "LR|RIPL|FLP#DATIRNG#GNGFGVGAGDGGGLNP|",
        "LR|RIXM|FLG#RN|",
        "LR|RIXT|FLG#MIMTRNDATI|",
        "LR|RIXD|FLG#MIRN|",
    },
    "PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|",
    "PR|DA*|G#55|RN101|TA1234|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|",
    "LS|DA*|TI*|",
    false,
    "REQUEST_ONLINE_MESSAGES=1\nREQUEST_ONLINE_FOLIO=1\n",
};

void PrintTo(const FiasRow& r, std::ostream* os) { *os << r.label; }

enum class Transport { Tcp, Serial };

using Param = std::tuple<FiasRow, Transport>;

std::string paramName(const ::testing::TestParamInfo<Param>& info) {
    return std::string(std::get<0>(info.param).label) +
           (std::get<1>(info.param) == Transport::Serial ? "_Serial" : "_Tcp");
}

}  // namespace

class FiasConversation : public FiasTest, public ::testing::WithParamInterface<Param> {
protected:
    const FiasRow& row() const { return std::get<0>(GetParam()); }
    bool serial() const { return std::get<1>(GetParam()) == Transport::Serial; }

    // Checks a record the vendor sent; serial frames must carry a right LRC.
    void expect(const std::string& pattern) {
        ASSERT_TRUE(pms_->expectRecord(pattern)) << "expected " << pattern << ", got " << pms_->lastBody();
        if (pms_->lrc()) {
            EXPECT_TRUE(pms_->lastLrcOk()) << pattern;
        }
    }

    // The PMS starts the link, the vendor describes it, and guest 55 checks
    // in to room 101.
    void startAndCheckIn() {
        const bool serial_rules = serial() || row().serial_rules_on_tcp;
        ASSERT_NO_FATAL_FAILURE(start({.serial = serial(),
                                       .database = true,
                                       .settings = row().settings,
                                       .serial_rules = row().serial_rules_on_tcp}));
        pms_->setWire(serial_rules && row().lrc, serial_rules || row().acks_everywhere);
        row().vendor().s = FiasState{};
        svr_setBusy();
        startLink();
        // A check-in, read and dispatched as the main loop does.
        pms_->sendRecord("GI|RN101|G#55|GNSmith|GFJohn|GA261201|GD261215|DA261208|TI101011|", false);
        std::string rec;
        ASSERT_GT(vendor_current()->read_msg(rec), 0);
        if (pms_->acks()) {
            EXPECT_EQ(pms_->readRaw(1), "\x06");
        }
        EXPECT_EQ(vendor_handle_data(rec), 1);
        EXPECT_EQ(db_->value("SELECT pms_guest_no FROM pms_guests WHERE pms_room = '101' AND pms_is_stale = 0"),
                  "55");
    }

    void startLink();

    // Plays the PMS's side of a posting up to the posting record itself.
    void expectPosting(const std::string& posting) {
        if (!row().inquiry.empty()) {
            ASSERT_NO_FATAL_FAILURE(expect(row().inquiry));
            pms_->sendRecord("PL|DA261208|TI101012|RN101|G#55|GNSmith|GA261201|GD261215|");
        }
        ASSERT_NO_FATAL_FAILURE(expect(posting));
    }

    static PMSPostInfo charge(float amount) {
        PMSPostInfo p;
        p.db_seqno = 1;
        p.start_time = localTime(2026, 12, 8, 10, 0, 0);
        p.room = "101";
        p.charge = amount;
        p.mac = "00:1a:2b:3c:4d:5e";
        p.type = PMS_POST_TYPE_STANDARD;
        return p;
    }
};

void FiasConversation::startLink() {
    auto id = async([this] { return vendor_init(row().name); });
    pms_->sendRecord("LS|DA261208|TI101010|");
    if (!row().description.empty()) {
        ASSERT_NO_FATAL_FAILURE(expect("LD|DA*|IFWW|TI*|V#0.24.2|"));
        for (const auto& r : row().description) ASSERT_NO_FATAL_FAILURE(expect(r));
        ASSERT_NO_FATAL_FAILURE(expect("LA|DA*|TI*|"));
        pms_->sendRecord("LA|DA261208|TI101010|");
    }
    ASSERT_EQ(id.get(), row().id);
    if (row().description.empty()) {
        EXPECT_TRUE(pms_->quiet(300));
    }
    EXPECT_EQ(svr_isReady(), 1);
}

TEST_P(FiasConversation, StartCheckInPostAndKeepAlive) {
    ASSERT_NO_FATAL_FAILURE(startAndCheckIn());

    // A charge, answered OK.
    PMSPostInfo p = charge(12.34f);
    std::string reply;
    auto posted = async([&] { return vendor_current()->post_charge(p, reply); });
    ASSERT_NO_FATAL_FAILURE(expectPosting(row().posting));
    pms_->sendRecord("PA|ASOK|DA261208|TI101013|");
    EXPECT_EQ(posted.get(), ReqResult::Ok) << reply;

    // A zero charge the PMS answers UR counts as posted: otherwise it would
    // go out again at every scan.
    PMSPostInfo zero = charge(0.0f);
    std::string zero_posting = row().posting;
    zero_posting.replace(zero_posting.find("TA1234"), 6, "TA0");
    posted = async([&] { return vendor_current()->post_charge(zero, reply); });
    ASSERT_NO_FATAL_FAILURE(expectPosting(zero_posting));
    pms_->sendRecord("PA|ASUR|DA261208|TI101013|");
    EXPECT_EQ(posted.get(), ReqResult::Ok) << reply;

    // Nothing to post: the keep-alive, where the vendor sends one.
    auto kept = async([] { return vendor_current()->keep_alive(); });
    if (!serial() || row().keepalive_on_serial) {
        ASSERT_NO_FATAL_FAILURE(expect(row().keepalive));
        pms_->sendRecord("LA|DA261208|TI101014|");
    } else {
        EXPECT_TRUE(pms_->quiet(300));
    }
    EXPECT_EQ(kept.get(), 0);
}

// The link dies after the vendor sent its posting: the charge stays
// unposted, to go out again on the next link.
TEST_P(FiasConversation, LinkCutMidPostingLeavesTheChargeUnposted) {
    ASSERT_NO_FATAL_FAILURE(startAndCheckIn());
    db_->exec("INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) "
              "VALUES ('101', now() - interval '1 hour', now(), 12.34, '00:1a:2b:3c:4d:5e')");
    auto scanned = async([] { pms_db_scan_and_post(); });
    ASSERT_NO_FATAL_FAILURE(expectPosting(row().posting));
    pms_->hangUp();
    scanned.get();
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info"), "0");
}

INSTANTIATE_TEST_SUITE_P(Vendors, FiasConversation,
                         ::testing::Combine(::testing::Values(kMicrosFidelio, kHiltonOnQ, kHnMux, kOptima, kProtel,
                                                              kRegal),
                                            ::testing::Values(Transport::Tcp, Transport::Serial)),
                         paramName);

// Knobs no vendor row above turns yet: a refusal code that marks the charge,
// and the inquiry only with SEND_POST_INQUIRY and no known guest.
class FiasProfileKnobs : public FiasTest {};

TEST_F(FiasProfileKnobs, RefusalMarksTheChargeAndInquiryOnlyWithoutGuest) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = false, .database = true, .settings = "SEND_POST_INQUIRY=1\n"}));
    FiasProfile profile = micfid_vendor().p;
    profile.inquiry_rule = FiasInquiryRule::SettingAndNoGuest;
    profile.reads |= kFiasReadsSendPostInquiry;
    profile.refusals = {{"NF", 4}};
    FiasVendor v{profile, {}};
    ASSERT_TRUE(fias_load_settings(v));
    EXPECT_TRUE(v.s.post_inquiry);

    auto charge = [&](const std::string& guest_no) {
        PMSPostInfo p;
        p.db_seqno = std::stoll(db_->value(
            "INSERT INTO session_info (ses_room_no, ses_amount, ses_mac, ses_reg_time_dt) "
            "VALUES ('101', 12.34, '00:1a:2b:3c:4d:5e', now()) RETURNING ses_seq_no"));
        p.ses_seq_no = static_cast<int32_t>(p.db_seqno);
        p.start_time = localTime(2026, 12, 8, 10, 0, 0);
        p.room = "101";
        p.charge = 12.34f;
        p.mac = "00:1a:2b:3c:4d:5e";
        p.guest_no = guest_no;
        p.type = PMS_POST_TYPE_STANDARD;
        return p;
    };

    // The charge names its guest: no inquiry; the PMS refuses it with NF.
    PMSPostInfo named = charge("55");
    std::string reply;
    auto posted = async([&] { return fias_handle_post_charge(v, named, reply); });
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#|RN101|TA1234|TI*|P#*|GN|WS001a2b3c4d5e|PTC|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASNF|DA261208|TI101013|");
    EXPECT_EQ(posted.get(), ReqResult::Failed);
    EXPECT_EQ(reply, "PMS returned unsuccessful post response: NF");
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " +
                         std::to_string(named.db_seqno)),
              "4");

    // Without a guest number the inquiry goes first; another refusal code
    // leaves the charge unposted.
    PMSPostInfo unnamed = charge("");
    reply.clear();
    posted = async([&] { return fias_handle_post_charge(v, unnamed, reply); });
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101012|RN101|G#56|GNDoe|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#56|RN101|TA1234|TI*|P#*|GNDoe|WS001a2b3c4d5e|PTC|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASUR|DA261208|TI101014|");
    EXPECT_EQ(posted.get(), ReqResult::Failed);
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " +
                         std::to_string(unnamed.db_seqno)),
              "0");
}
