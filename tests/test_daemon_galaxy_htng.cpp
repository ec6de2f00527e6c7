// Galaxy and HTNG guest records through the daemon: check-ins with their user
// strings and dates, changes, moves, restrictions; HTNG's refusals.
#include <unistd.h>

#include <future>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "txn_peer.h"

namespace {

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

// Galaxy CHKI/CHKR: 90 characters.
std::string galaxyCheckin(const std::string& id, const std::string& arrival, const std::string& departure) {
    return id + "9999CHKI" + pad("101", 6) + pad("55", 10) + pad("Smith, Ann", 20) + "Y" + "1" + "AB" +
           pad(arrival, 10) + pad(arrival.size() > 10 ? arrival.substr(11) : "", 5) + pad(departure, 10) +
           pad(departure.size() > 10 ? departure.substr(11) : "", 5) + "CD" + "EF" + "GHIJ";
}

// HTNG CHKI/CHKM/CHUP: 317 characters and the tail.
std::string htngGuest(const std::string& id, const std::string& verb, const std::string& guest,
                      const std::string& tail) {
    return id + "9999" + verb + pad("101", 16) + pad(guest, 64) + pad("Smith|Ann", 128) + pad("user0", 64) + "N" +
           pad("2030-05-01 14:00", 16) + pad("2030-05-03 11:00", 16) + tail;
}

std::string rows(TxnRun& run) {
    std::string out;
    for (auto& r : run.d.db().rows(
             "SELECT pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_no_post, "
             "coalesce(to_char(pms_arrival_dt, 'YYYY-MM-DD HH24:MI'), 'NULL'), "
             "coalesce(to_char(pms_depart_dt, 'YYYY-MM-DD HH24:MI'), 'NULL') FROM pms_guests "
             "WHERE pms_is_stale = 0 ORDER BY pms_seq_no"))
        for (auto& v : r) out += v + (&v == &r.back() ? ";" : ",");
    return out;
}

}  // namespace

TEST(GalaxyDaemon, CheckinsChangesAndMoves) {
    TxnRun run;
    PG_REQUIRE(run.d.db());
    ASSERT_EQ(run.start("Galaxy 2-way", 7, "USER_STRINGS=1\n"), "");
    TxnPeer& p = run.p();
    const std::string good = galaxyCheckin("S900", "2030-05-01 14:00", "05/03/2030 11:00");
    ASSERT_EQ(good.size(), 90u);
    // 89 and 91 characters: refused.
    EXPECT_EQ(p.send(good.substr(0, 89)), "\x06");
    EXPECT_EQ(p.expect(), "S9009999ERR ");
    EXPECT_EQ(p.send(good + " "), "\x06");
    EXPECT_EQ(p.expect(), "S9009999ERR ");
    // A date that is not one: refused, nothing stored.
    EXPECT_EQ(p.send(galaxyCheckin("S901", "2030-02-30 14:00", "")), "\x06");
    EXPECT_EQ(p.expect(), "S9019999ERR ");
    EXPECT_EQ(rows(run), "");
    EXPECT_EQ(p.send(good), "\x06");
    EXPECT_EQ(p.expect(), "S9009999VER ");
    EXPECT_EQ(rows(run), "101,55,Ann,Smith,N,2030-05-01 14:00,2030-05-03 11:00;");
    EXPECT_EQ(run.d.db().value("SELECT concat_ws(',', pms_user_0, pms_user_1, pms_user_2, pms_user_3, pms_user_4) "
                               "FROM pms_guests WHERE pms_is_stale = 0"),
              "CD,1,EF,GHIJ,AB");
    // Blank dates are stored as NULL, the guest is not lost.
    EXPECT_EQ(p.send(galaxyCheckin("S902", "", "")), "\x06");
    EXPECT_EQ(p.expect(), "S9029999VER ");
    EXPECT_EQ(rows(run), "101,55,Ann,Smith,N,NULL,NULL;");
    // The guest moves to 102.
    EXPECT_EQ(p.send("S9039999CMOV102   101   " + pad("55", 10)), "\x06");
    EXPECT_EQ(p.expect(), "S9039999VER ");
    EXPECT_EQ(run.d.db().value("SELECT pms_room FROM pms_guests WHERE pms_is_stale = 0"), "102");
    // Guest no "0" checks the whole room out.
    EXPECT_EQ(p.send("S9049999CHKO102   " + pad("0", 10)), "\x06");
    EXPECT_EQ(p.expect(), "S9049999VER ");
    EXPECT_EQ(rows(run), "");
}

TEST(HtngDaemon, GuestRecordsAndRefusals) {
    TxnRun run;
    PG_REQUIRE(run.d.db());
    ASSERT_EQ(run.start("HTNG 2-way", 14, "USER_STRINGS=1\n"), "");
    TxnPeer& p = run.p();
    const std::string tail(83, 'T');
    const std::string checkin = htngGuest("S900", "CHKI", "55", tail);
    ASSERT_EQ(checkin.size(), 400u);
    EXPECT_EQ(p.send(checkin.substr(0, 316)), "\x06");
    EXPECT_EQ(p.expect(), "S9009999ERR ");
    EXPECT_EQ(p.send(checkin), "\x06");
    EXPECT_EQ(p.expect(), "S9009999VER ");
    EXPECT_EQ(rows(run), "101,55,Ann,Smith,N,2030-05-01 14:00,2030-05-03 11:00;");
    EXPECT_EQ(run.d.db().value("SELECT pms_user_0 || '/' || pms_user_1 FROM pms_guests WHERE pms_is_stale = 0"),
              "user0/" + tail);
    // CHUP for a guest not in the room inserts; for one there, updates in place.
    EXPECT_EQ(p.send(htngGuest("S901", "CHUP", "56", "")), "\x06");
    EXPECT_EQ(p.expect(), "S9019999VER ");
    EXPECT_EQ(run.d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "2");
    // Another gateway instance's row of the same room and guest stays as it is.
    run.d.db().exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_is_stale, pms_psi_no) "
                    "VALUES ('101', '56', 'Other', 0, 7)");
    std::string chup = htngGuest("S902", "CHUP", "56", "");
    chup.replace(92, 9, "Jones|Bob");
    EXPECT_EQ(p.send(chup), "\x06");
    EXPECT_EQ(p.expect(), "S9029999VER ");
    EXPECT_EQ(run.d.db().value("SELECT string_agg(pms_name_last, ',' ORDER BY pms_psi_no) FROM pms_guests "
                               "WHERE pms_guest_no = '56'"),
              "Jones,Other");
    // RSTC: guest 55 may not be charged.
    EXPECT_EQ(p.send("S9039999RSTC" + pad("101", 16) + pad("55", 64) + pad("R1", 64) + "Y"), "\x06");
    EXPECT_EQ(p.expect(), "S9039999VER ");
    EXPECT_EQ(run.d.db().value("SELECT pms_no_post FROM pms_guests WHERE pms_guest_no = '55' AND pms_is_stale = 0"),
              "Y");
    // Requests HTNG does not serve, and no posting.
    std::string r = run.control("07", "101|Ann^Smith");
    EXPECT_EQ(r.substr(0, 5), "\x02" "0303") << r;
    EXPECT_NE(r.find("Not supported by vendor"), std::string::npos) << r;
    // A scan only keeps the link alive.
    auto scan = std::async(std::launch::async, [&run] { return run.control("08", ""); });
    std::string test = p.expect();
    EXPECT_EQ(test.substr(4), "9999TEST");
    p.answer(test);
    EXPECT_EQ(scan.get(), frame("02", "08", "1"));
}

TEST(HtngDaemon, SerialLinkIsRefused) {
    DaemonHarness d;
    PG_REQUIRE(d.db());
    ASSERT_TRUE(d.startWith("VENDOR=HTNG 2-way\nPMSCOMMTYPE=RS232\nPMSCOMMOPTS=/dev/ptmx|9600|8|N|1\n" +
                            d.baseConfig(1)));
    EXPECT_TRUE(d.waitLog("htng_vendor_init: not TCP?? This cannot happen", 5000)) << d.log();
}
