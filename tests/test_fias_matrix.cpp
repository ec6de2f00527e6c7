// One FIAS conversation, played byte for byte by a scripted PMS, for every
// FIAS vendor over every transport: link start with the link description, a
// check-in, a charge posted through the posting inquiry, and the keep-alive.
// What each vendor must send is written out in its row, never taken from its
// profile, so that a wrong profile fails here.
#include <gtest/gtest.h>

#include <tuple>

#include "db.h"
#include "fias_env.h"
#include "io_gwy/server.h"
#include "vendor.h"
#include "vendors/MicrosFidelio.h"

namespace {

struct FiasRow {
    const char* label;
    const char* name;
    int id;
    FiasVendor& (*vendor)();
    std::vector<std::string> description;  // between LD and LA, default settings
    std::string inquiry;                   // the posting inquiry for room 101
    std::string posting;                   // the posting of 12.34 to guest 55 (Smith)
    std::string keepalive;                 // sent when the scan has nothing to post
    bool keepalive_on_serial;
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
        if (serial()) {
            EXPECT_TRUE(pms_->lastLrcOk()) << pattern;
        }
    }
};

TEST_P(FiasConversation, StartCheckInPostAndKeepAlive) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = serial(), .database = true, .settings = ""}));
    row().vendor().s = FiasState{};
    svr_setBusy();

    // The PMS starts the link; the vendor describes it.
    auto id = async([this] { return vendor_init(row().name); });
    pms_->sendRecord("LS|DA261208|TI101010|");
    ASSERT_NO_FATAL_FAILURE(expect("LD|DA*|IFWW|TI*|V#0.24.2|"));
    for (const auto& r : row().description) ASSERT_NO_FATAL_FAILURE(expect(r));
    ASSERT_NO_FATAL_FAILURE(expect("LA|DA*|TI*|"));
    pms_->sendRecord("LA|DA261208|TI101010|");
    ASSERT_EQ(id.get(), row().id);
    EXPECT_EQ(svr_isReady(), 1);

    // A check-in, read and dispatched as the main loop does.
    pms_->sendRecord("GI|RN101|G#55|GNSmith|GFJohn|GA261201|GD261215|DA261208|TI101011|");
    std::string rec;
    ASSERT_GT(vendor_current()->read_msg(rec), 0);
    EXPECT_EQ(vendor_handle_data(rec), 1);
    EXPECT_EQ(db_->value("SELECT pms_guest_no FROM pms_guests WHERE pms_room = '101' AND pms_is_stale = 0"), "55");

    // A charge: inquiry, the PMS's guest list, the posting and its answer.
    PMSPostInfo p;
    p.db_seqno = 1;
    p.start_time = localTime(2026, 12, 8, 10, 0, 0);
    p.room = "101";
    p.charge = 12.34f;
    p.mac = "00:1a:2b:3c:4d:5e";
    p.type = PMS_POST_TYPE_STANDARD;
    std::string reply;
    auto posted = async([&] { return vendor_current()->post_charge(p, reply); });
    ASSERT_NO_FATAL_FAILURE(expect(row().inquiry));
    pms_->sendRecord("PL|DA261208|TI101012|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_NO_FATAL_FAILURE(expect(row().posting));
    pms_->sendRecord("PA|ASOK|DA261208|TI101013|");
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

INSTANTIATE_TEST_SUITE_P(Vendors, FiasConversation,
                         ::testing::Combine(::testing::Values(kMicrosFidelio),
                                            ::testing::Values(Transport::Tcp, Transport::Serial)),
                         paramName);
