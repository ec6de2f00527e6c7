// What GalaVu, Galaxy and HTNG share, played against the running daemon by a
// scripted PMS: the start, STRT/XXXX/INFO, check-out records good and of the
// wrong length, the database swap and its status.
#include <future>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "daemon_harness.h"
#include "loopback_peer.h"
#include "txn_peer.h"

namespace {

struct TxnCase {
    const char* vendor;
    int id;
    bool info_answered;              // INFO gets a VER
    std::string checkout;            // a good check-out of room 101, guest 55 (id S901)
    bool swap_by_dbst;               // the PMS answers INIT with DBST
};

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

class TxnDaemon : public ::testing::TestWithParam<TxnCase> {
protected:
    void SetUp() override {
        PG_REQUIRE(run.d.db());
        const std::string failed = run.start(GetParam().vendor, GetParam().id);
        ASSERT_EQ(failed, "");
    }
    std::string control(const std::string& subtype, const std::string& data) { return run.control(subtype, data); }
    TxnRun run;
    DaemonHarness& d = run.d;
    StreamPeer& peer = run.peer;
};

}  // namespace

TEST_P(TxnDaemon, StartStopAndInfoRecords) {
    TxnPeer& p = run.p();
    EXPECT_EQ(p.send("S9009999XXXX"), "\x06");
    EXPECT_EQ(p.expect(), "S9009999VER ");
    // BUSY: the status requests are refused.
    EXPECT_EQ(control("13", "").substr(0, 3), "\x02" "03");
    EXPECT_EQ(p.send("S9019999STRT"), "\x06");
    EXPECT_EQ(p.expect(), "S9019999VER ");
    std::string status = control("13", "");
    EXPECT_EQ(status.rfind("\x02" "0213STRT^", 0), 0u) << status;
    EXPECT_EQ(p.send("S9029999INFO"), "\x06");
    EXPECT_EQ(p.expect(GetParam().info_answered ? 3000 : 500), GetParam().info_answered ? "S9029999VER " : "");
    // A frame with a wrong LRC is refused and changes nothing.
    std::string bad = txnFrame("S9039999XXXX");
    bad.back() ^= 0x01;
    ASSERT_TRUE(peer.send(bad));
    EXPECT_EQ(p.byte(), "\x15");
    EXPECT_EQ(control("13", "").rfind("\x02" "0213INFO^", 0), 0u);
}

TEST_P(TxnDaemon, CheckoutRecordsGoodAndOfTheWrongLength) {
    d.db().exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_is_stale) "
                "VALUES ('101', '55', 'Smith', 0)");
    TxnPeer& p = run.p();
    const std::string good = GetParam().checkout;
    EXPECT_EQ(p.send(good + " "), "\x06");
    EXPECT_EQ(p.expect(), "S9019999ERR ");
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "1");
    EXPECT_EQ(p.send(good), "\x06");
    EXPECT_EQ(p.expect(), "S9019999VER ");
    EXPECT_EQ(d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "0");
    EXPECT_EQ(control("01", "101"), frame("02", "01", "0"));
}

TEST_P(TxnDaemon, DatabaseSwap) {
    TxnPeer& p = run.p();
    auto reply = std::async(std::launch::async, [this] { return control("10", ""); });
    const std::string init = p.expect();
    ASSERT_EQ(init.substr(4), "9999INIT") << d.log();
    if (GetParam().swap_by_dbst) {
        EXPECT_EQ(p.send(init.substr(0, 4) + "9999DBST"), "\x06");
        EXPECT_EQ(p.expect(), init.substr(0, 4) + "9999VER ");
    } else {
        p.answer(init);
    }
    EXPECT_EQ(reply.get(), frame("02", "10", "1"));
    EXPECT_EQ(control("14", "").rfind("\x02" "02141|", 0), 0u);
    if (GetParam().swap_by_dbst) {
        // The PMS ends its resync with DBED.
        EXPECT_EQ(p.send("S9059999DBED"), "\x06");
        EXPECT_TRUE(d.waitLog("DB Resync has completed", 3000));
        EXPECT_EQ(control("14", "").rfind("\x02" "02140|", 0), 0u);
    }
    // A swap the PMS refuses does not start (or ends the one running).
    reply = std::async(std::launch::async, [this] { return control("10", ""); });
    const std::string again = p.expect();
    ASSERT_EQ(again.substr(4), "9999INIT");
    p.answer(again, "ERR 03");
    if (GetParam().swap_by_dbst) {
        // Galaxy and HTNG wait for DBST; the ERR is handled as a record and
        // the wait goes on to its end: answer the swap with another id.
        EXPECT_EQ(p.send("S9069999DBST"), "\x06");
    }
    EXPECT_EQ(reply.get().substr(0, 3), "\x02" "03");
    if (!GetParam().swap_by_dbst) {
        EXPECT_EQ(control("14", "").rfind("\x02" "02140|", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Vendors, TxnDaemon,
    ::testing::Values(TxnCase{"GalaVu 2-way", 6, true, "S9019999CHKO101   ", false},
                      TxnCase{"Galaxy 2-way", 7, false, "S9019999CHKO101   " + pad("55", 10), true},
                      TxnCase{"HTNG 2-way", 14, false, "S9019999CHKO" + pad("101", 16) + pad("55", 64), true}),
    [](const auto& info) { return std::string(info.param.vendor).substr(0, std::string(info.param.vendor).find(' ')); });
