// The scan-and-post cycle and the PMS service step in-process, with a vendor
// of the test's own on the real database and a real link.
#include <unistd.h>

#include <gtest/gtest.h>

#include "db.h"
#include "io_gwy/server.h"
#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "loopback_peer.h"
#include "mainloop.h"
#include "pg_fixture.h"
#include "scan.h"
#include "state.h"
#include "vendor.h"

namespace {

struct ScriptedVendor {
    std::vector<std::string> posted;  // rooms, in order
    std::string refuse_room;          // refused with an explanation
    int keep_alives = 0;
    int closes = 0;
    int read_result = 0;
};
ScriptedVendor g_v;

VendorDescriptor scriptedVendor() {
    VendorDescriptor d;
    d.post_charge = [](const PMSPostInfo& p, std::string& reply) {
        if (p.room == g_v.refuse_room) {
            reply = "room " + p.room + " has no folio";
            return ReqResult::Failed;
        }
        g_v.posted.push_back(p.room);
        return ReqResult::Ok;
    };
    d.keep_alive = [] { return ++g_v.keep_alives, 0; };
    d.close = [] { return ++g_v.closes, 1; };
    d.read_msg = [](std::string&) { return g_v.read_result; };
    return d;
}

class ScanTest : public DbTestBase {
protected:
    void SetUp() override {
        DbTestBase::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        g_v = ScriptedVendor{};
    }
    void TearDown() override {
        vendor_stop();
        for (int id : {VENDOR_JDS, VENDOR_HTNG}) vendor_set_factory(id, nullptr);
        g_vendor_id = -1;
        DbTestBase::TearDown();
    }
    void select(int id) {
        vendor_set_factory(id, scriptedVendor);
        g_vendor_id = vendor_init(kVendorNames[id]);
        ASSERT_EQ(g_vendor_id, id);
    }
    void session(const std::string& room, const std::string& amount) {
        db_->exec("INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) "
                  "VALUES ('" + room + "', now() - interval '1 hour', now(), " + amount + ", 'aa')");
    }
    std::string flags() {
        return db_->value("SELECT string_agg(ses_posted_flag::text, ',' ORDER BY ses_seq_no) FROM session_info");
    }
};

}  // namespace

TEST_F(ScanTest, RefusedPostStaysUnpostedAndTheRestIsPosted) {
    select(VENDOR_JDS);
    svr_setReady();
    session("101", "3.00");
    session("102", "4.00");
    g_v.refuse_room = "101";
    LogCapture log;
    pms_db_scan_and_post();
    EXPECT_EQ(g_v.posted, std::vector<std::string>{"102"});
    EXPECT_EQ(log.count("pms_db_scan_and_post: Unsuccessful post - [room 101 has no folio]"), 1);
    EXPECT_EQ(log.count("BILLING posted"), 1);
    EXPECT_EQ(g_v.keep_alives, 0);
    EXPECT_EQ(flags(), "0,1");
    // Offered again at the next run, and then posted.
    g_v.refuse_room.clear();
    pms_db_scan_and_post();
    EXPECT_EQ(g_v.posted, (std::vector<std::string>{"102", "101"}));
    EXPECT_EQ(flags(), "1,1");
}

TEST_F(ScanTest, BusyOrNoVendorSkipsAndHtngOnlyKeepsAlive) {
    session("101", "3.00");
    LogCapture log;
    pms_db_scan_and_post();
    EXPECT_TRUE(log.contains("Skipping DB scan because the PMS is NOT connected"));

    select(VENDOR_JDS);
    svr_setBusy();
    pms_db_scan_and_post();
    EXPECT_TRUE(log.contains("Skipping DB scan because the vendor PMS is not yet ready to accept charge postings"));
    EXPECT_FALSE(log.contains("Executing database scan for unposted records"));
    EXPECT_EQ(g_v.keep_alives, 0);

    select(VENDOR_HTNG);
    svr_setReady();
    pms_db_scan_and_post();
    EXPECT_EQ(g_v.keep_alives, 1);
    EXPECT_TRUE(g_v.posted.empty());
    EXPECT_FALSE(log.contains("sending keep alive mcast"));
    EXPECT_EQ(flags(), "0");
}

TEST_F(ScanTest, ZeroChargeFollowsPostZeroCharge) {
    select(VENDOR_JDS);
    svr_setReady();
    session("101", "0");
    configure("POST_ZERO_CHARGE=0\n");
    LogCapture log;
    pms_db_scan_and_post();
    EXPECT_TRUE(g_v.posted.empty());
    EXPECT_EQ(flags(), "1");
    EXPECT_FALSE(log.contains("BILLING posted"));
    // Nothing was posted: the run still keeps alive.
    EXPECT_EQ(g_v.keep_alives, 1);
    EXPECT_TRUE(log.contains("sending keep alive mcast"));
}

TEST_F(ScanTest, ElevenEmptyReadsCloseTheLink) {
    LinkEnv env;
    TcpListener pms;
    env.configure({"PMSCOMMTYPE=TCP", "PMSCOMMOPTS=127.0.0.1|" + std::to_string(pms.port()), "PMSCOMMTIMEOUT=1"});
    ASSERT_GT(link_open(), 0);
    select(VENDOR_JDS);
    LogCapture log;
    for (int i = 0; i < 10; ++i) pms_service_PMS();
    EXPECT_GT(pms_fd_client, 0);
    EXPECT_EQ(log.count("pms_service_PMS: handling read timeout"), 10);
    pms_service_PMS();
    EXPECT_EQ(pms_fd_client, -1);
    EXPECT_EQ(vendor_current(), nullptr);
    EXPECT_EQ(g_v.closes, 1);

    // A failed read neither counts nor resets the count.
    ASSERT_GT(link_open(), 0);
    select(VENDOR_JDS);
    for (int i = 0; i < 10; ++i) pms_service_PMS();
    g_v.read_result = -1;
    pms_service_PMS();
    EXPECT_TRUE(log.contains("pms_service_PMS: vendor read returned < 0"));
    g_v.read_result = 0;
    pms_service_PMS();
    EXPECT_EQ(pms_fd_client, -1);
    link_close();
}

TEST_F(ScanTest, PostedChargeWhoseMarkFailsIsNotPostedAgain) {
    select(VENDOR_JDS);
    svr_setReady();
    session("101", "3.00");
    // The database refuses the posted mark while the switch is on.
    db_->exec("CREATE TABLE refuse_mark (on_ boolean)");
    db_->exec("INSERT INTO refuse_mark VALUES (true)");
    db_->exec("CREATE FUNCTION refuse_mark_fn() RETURNS trigger AS $$ BEGIN "
              "IF (SELECT on_ FROM refuse_mark) THEN RAISE EXCEPTION 'mark refused'; END IF; RETURN NEW; END $$ "
              "LANGUAGE plpgsql");
    db_->exec("CREATE TRIGGER refuse_mark_tr BEFORE UPDATE ON session_info FOR EACH ROW EXECUTE FUNCTION "
              "refuse_mark_fn()");
    LogCapture log;
    pms_db_scan_and_post();
    EXPECT_EQ(g_v.posted, std::vector<std::string>{"101"});
    EXPECT_EQ(flags(), "0");
    // Still refused: the charge is not offered to the PMS again.
    pms_db_scan_and_post();
    EXPECT_EQ(g_v.posted, std::vector<std::string>{"101"});
    // The database takes marks again: the row is marked, never posted twice.
    db_->exec("UPDATE refuse_mark SET on_ = false");
    pms_db_scan_and_post();
    EXPECT_EQ(g_v.posted, std::vector<std::string>{"101"});
    EXPECT_EQ(flags(), "1");
    EXPECT_EQ(log.count("BILLING posted"), 1);
}
