// FIAS link life against a scripted PMS: link start both ways with the link
// description, keep-alive, night audit, database resync, link end, VIP file.
#include <gtest/gtest.h>

#include "fias_env.h"
#include "io_gwy/server.h"
#include "link.h"
#include "logcapture.h"
#include "vendor.h"
#include "vendors/fias/fias_link.h"
#include "vendors/fias/fias_post.h"

namespace {

const std::vector<std::string> kDescriptionDefaults = {
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
};

// USE_PS_POST, USER_STRINGS and REQUEST_ONLINE_FOLIO on.
const std::vector<std::string> kDescriptionPsUserFolio = {
    "LR|RINS|FLDATI|",
    "LR|RINE|FLDATI|",
    "LR|RIGI|FLG#RNGSDAGAGDGFGGGLGNGTGVSFTINPA0A1A2A3A4A5A6A7A8A9|",
    "LR|RIGO|FLG#RNGSSFDATI|",
    "LR|RIGC|FLG#GSRNRODATIGAGDGFGGGLGNGTGVNPA0A1A2A3A4A5A6A7A8A9|",
    "LR|RIDR|FLDATI|",
    "LR|RIDS|FLDATI|",
    "LR|RIDE|FLDATI|",
    "LR|RIXR|FLG#RNDATI|",
    "LR|RIXI|FLBDBIDCG#RNDAF#FDTI|",
    "LR|RIXB|FLBAG#RNDATI|",
    "LR|RIXC|FLASBAG#RNCTDATI|",
    "LR|RIPS|FLP#DADDDUPTRNPCTATICT|",
    "LR|RIPA|FLP#ASDARNTI|",
    "LR|RIRE|FLRNCSRS|",
    "LR|RIPL|FLP#DATIRNG#GNGFGVGAGDGGGLNPA0A1A2A3A4A5A6A7A8A9|",
    "LR|RIXM|FLG#RN|",
    "LR|RIXT|FLG#MIMTRNDATI|",
    "LR|RIXD|FLG#MIRN|",
    "LR|RIXO|FLBABDBIDCG#RNDAF#FDTI|",
};

}  // namespace

class FiasLink : public FiasTest {
protected:
    // The PMS side of a link description: LD, the link records, LA; the PMS
    // answers LA. Serial frames must carry a correct LRC.
    void expectDescription(const std::vector<std::string>& records) {
        ASSERT_TRUE(pms_->expectRecord("LD|DA*|IFWW|TI*|V#0.24.2|")) << pms_->lastBody();
        if (pms_->isSerial()) {
            EXPECT_TRUE(pms_->lastLrcOk());
        }
        for (const auto& r : records) {
            ASSERT_TRUE(pms_->expectRecord(r)) << "expected " << r << ", got " << pms_->lastBody();
            if (pms_->isSerial()) {
                EXPECT_TRUE(pms_->lastLrcOk()) << r;
            }
        }
        ASSERT_TRUE(pms_->expectRecord("LA|DA*|TI*|")) << pms_->lastBody();
        pms_->sendRecord("LA|DA261208|TI101010|");
    }
};

TEST_F(FiasLink, TcpStartAnsweredByLaDescribesTheLink) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    svr_setBusy();
    // The previous link dropped between the PMS's DS and its DE.
    vendor().s.dbswap_flag = 1;
    auto id = async([] { return vendor_init("Micros-Fidelio 2-way"); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 4000)) << pms_->lastBody();
    pms_->sendRecord("LA|DA261208|TI101010|");
    expectDescription(kDescriptionDefaults);
    EXPECT_EQ(id.get(), VENDOR_MICROS_FIDELIO);
    EXPECT_EQ(svr_isReady(), 1);
    EXPECT_EQ(vendor().s.retries, 3);

    // That resync is over: a new one can be asked for.
    EXPECT_EQ(vendor().s.dbswap_flag, 0);
    auto swapped = async([] { return vendor_current()->requests.db_swap(); });
    EXPECT_TRUE(pms_->expectRecord("DR|DA*|TI*|")) << pms_->lastBody();
    EXPECT_EQ(swapped.get(), 0);
}

TEST_F(FiasLink, TcpStartByThePmsWithPsPostUserStringsFolioAndResync) {
    ASSERT_NO_FATAL_FAILURE(start({.settings = "USE_PS_POST=1\nUSER_STRINGS=1\nREQUEST_ONLINE_FOLIO=1\n"
                                               "AUTO_DB_SWAP=1\nMSG_RETRIES=5\n"}));
    svr_setBusy();
    pms_->sendRecord("LS|DA261208|TI101010|");
    auto id = async([] { return vendor_init("Micros-Fidelio 2-way"); });
    expectDescription(kDescriptionPsUserFolio);
    // AUTO_DB_SWAP: ask for a resync; the PMS starts it.
    ASSERT_TRUE(pms_->expectRecord("DR|DA*|TI*|")) << pms_->lastBody();
    pms_->sendRecord("DS|DA261208|TI101011|");
    EXPECT_EQ(id.get(), VENDOR_MICROS_FIDELIO);
    EXPECT_EQ(svr_isReady(), 1);
    EXPECT_EQ(vendor().s.retries, 5);
    EXPECT_EQ(vendor().s.dbswap_flag, 1);

    std::optional<std::string> status;
    vendor_current()->requests.check_db_swap_status(status);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->substr(0, 2), "1|");
    // Asked again while the resync runs: nothing is sent.
    vendor_current()->requests.db_swap();
    EXPECT_TRUE(pms_->quiet(300));

    // DE ends it.
    pms_->sendRecord("DE|DA261208|TI101500|");
    std::string rec;
    ASSERT_GT(vendor_current()->read_msg(rec), 0);
    EXPECT_EQ(vendor_handle_data(rec), 1);
    EXPECT_EQ(vendor().s.dbswap_flag, 0);
}

TEST_F(FiasLink, SerialStartByThePmsWithLrcFrames) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = true, .settings = "REQUEST_ONLINE_MESSAGES=1\n"}));
    auto id = async([] { return vendor_init("Micros-Fidelio 2-way"); });
    EXPECT_EQ(pms_->sendRecord("LS|DA261208|TI101010|"), 0x06);
    auto records = kDescriptionDefaults;
    records.push_back("LR|RIXL|FLG#MIMTRNDATI|");
    expectDescription(records);
    EXPECT_EQ(id.get(), VENDOR_MICROS_FIDELIO);
}

TEST_F(FiasLink, TcpStartFailsWithoutAnswerOrVipFile) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    LogCapture log;
    auto id = async([] { return vendor_init("Micros-Fidelio 2-way"); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 4000));
    EXPECT_EQ(id.get(), -1);
    EXPECT_TRUE(log.contains("Error initializing PMS connection.. no response"));

    // An unexpected answer to LS fails the start too.
    id = async([] { return vendor_init("Micros-Fidelio 2-way"); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 4000));
    pms_->sendRecord("GX|RN1|");
    EXPECT_EQ(id.get(), -1);
    EXPECT_TRUE(log.contains("Out-of-place message found.. expecting LS/LA"));
}

TEST_F(FiasLink, VipFileChecks) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    LogCapture log;
    auto check = [&](const std::string& content) {
        env_->dir().write("vip.cfg", content);
        return fias_load_vip_table(vendor());
    };
    EXPECT_TRUE(check(fiasVipFile()));
    EXPECT_FLOAT_EQ(vendor().s.vip[2], 80.0f);
    EXPECT_TRUE(check("3 50\n3 40\n1 1\n1 1\n1 1\n1 1\n1 1\n1 1\n1 1\n1 1"));  // later value holds
    EXPECT_FLOAT_EQ(vendor().s.vip[2], 40.0f);
    EXPECT_FLOAT_EQ(vendor().s.vip[4], 100.0f);  // not given: full charge
    std::string nine = fiasVipFile().substr(0, fiasVipFile().rfind("10 10"));
    EXPECT_FALSE(check(nine));
    EXPECT_TRUE(log.contains("Incorrect number of VIP codes found (expected 10, got 9)"));
    EXPECT_FALSE(check(fiasVipFile() + "1 100\n"));
    EXPECT_FALSE(check("1 100.5\n" + fiasVipFile().substr(fiasVipFile().find('\n') + 1)));
    EXPECT_TRUE(log.contains("Invalid item value 100 in VIP code config file"));
    EXPECT_FALSE(check("11 5\n" + fiasVipFile().substr(fiasVipFile().find('\n') + 1)));
    EXPECT_FALSE(check("x\n" + fiasVipFile().substr(fiasVipFile().find('\n') + 1)));
    EXPECT_TRUE(log.contains("Parse error in VIP code config file"));
    unlink(vip_path_.c_str());
    EXPECT_FALSE(fias_load_settings(vendor()));
    EXPECT_TRUE(log.contains("Unable to open Micros-Fidelio VIP code file '" + vip_path_ + "'"));
}

class FiasRunning : public FiasTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(start({}));
        selectVendor();
    }
    // Reads one record from the PMS and dispatches it, as the main loop does.
    int serviceOne() {
        std::string rec;
        if (vendor_current()->read_msg(rec) <= 0) return -1;
        return vendor_handle_data(rec);
    }
};

TEST_F(FiasRunning, KeepAliveNightAuditAndStatus) {
    LogCapture log;
    auto done = async([] { return vendor_current()->keep_alive(); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 4000)) << pms_->lastBody();
    pms_->sendRecord("LA|DA261208|TI101010|");
    EXPECT_EQ(done.get(), 0);
    std::optional<std::string> status;
    vendor_current()->requests.check_status(status);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->substr(0, 3), "LA^");

    // Unanswered: neither the empty drain nor the LA wait counts towards
    // closing the link, whatever the count already was.
    vendor().s.fail_count = 10;
    done = async([] { return vendor_current()->keep_alive(); });
    ASSERT_TRUE(pms_->expectRecord("LS|DA*|TI*|", 4000));
    EXPECT_EQ(done.get(), 0);
    EXPECT_EQ(vendor().s.fail_count, 10);
    EXPECT_NE(link_type(), LINK_TYPE_CLOSED);
    EXPECT_TRUE(log.contains("micfid_link_keep_alive - timeout reading LA response"));

    // A record waiting on the link is handled instead; no LS this time.
    svr_setReady();
    pms_->sendRecord("NS|DA261208|TI235900|");
    done = async([] { return vendor_current()->keep_alive(); });
    EXPECT_EQ(done.get(), 0);
    EXPECT_TRUE(pms_->quiet(200));
    EXPECT_EQ(svr_isReady(), 0);
    EXPECT_TRUE(log.contains("micfid_link_keep_alive - trying to send LS but found mesg on pipe 'NS|DA261208|TI235900|'"));
    pms_->sendRecord("NE|DA261208|TI235959|");
    EXPECT_EQ(serviceOne(), 1);
    EXPECT_EQ(svr_isReady(), 1);
}

TEST_F(FiasRunning, ResyncRecordsShortRecordsAndLinkEnd) {
    LogCapture log;
    pms_->sendRecord("DR|DA261208|TI101010|");
    auto handled = async([this] { return serviceOne(); });
    EXPECT_TRUE(pms_->expectRecord("LR|RIDS|FLDATI|"));
    EXPECT_TRUE(pms_->expectRecord("LR|RIDE|FLDATI|"));
    EXPECT_EQ(handled.get(), 1);

    // Our own DR refused: READY, warning, flag stays 0.
    svr_setBusy();
    auto swapped = async([] { return vendor_current()->requests.db_swap(); });
    ASSERT_TRUE(pms_->expectRecord("DR|DA*|TI*|"));
    EXPECT_EQ(swapped.get(), 0);
    EXPECT_EQ(svr_isReady(), 1);
    EXPECT_TRUE(log.contains("PMS refused resync request.. Database may be out sync"));

    // Two characters are no record: a link failure.
    pms_->sendRecord("GI");
    EXPECT_EQ(serviceOne(), 0);
    EXPECT_EQ(vendor().s.fail_count, 1);
    EXPECT_TRUE(log.contains("Unhandled message format [GI]"));

    // LE from the PMS closes the link through SIGPIPE.
    int before = LinkEnv::sigpipes();
    pms_->sendRecord("LE|DA261208|TI101010|");
    EXPECT_EQ(serviceOne(), 1);
    EXPECT_EQ(LinkEnv::sigpipes(), before + 1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

TEST_F(FiasRunning, VendorCloseSendsLinkEnd) {
    auto closed = async([] {
        vendor_stop();
        return 1;
    });
    ASSERT_TRUE(pms_->expectRecord("LE|DA*|TI*|"));
    pms_->sendRecord("LA|DA261208|TI101010|");
    EXPECT_EQ(closed.get(), 1);
    EXPECT_EQ(vendor_current(), nullptr);
    EXPECT_FALSE(vendor().s.vip_loaded);
}
