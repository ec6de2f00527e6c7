// Galaxy and HTNG through the daemon: check-ins with their user strings and
// dates, changes, moves with the sessions following, restrictions; Galaxy's
// posting and authorisation; HTNG's refusals.
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

// A Galaxy NAME answering a LOOK: account 18-27, name 28-47, then codes.
std::string galaxyName(const std::string& id, const std::string& seq, const std::string& acct,
                       const std::string& name) {
    return id + seq + "NAME" + pad("101", 6) + pad(acct, 10) + pad(name, 20) + "Y" + "N" + "01";
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
    // Other forms the database reads are taken too; month first stays so.
    EXPECT_EQ(p.send(galaxyCheckin("S905", "12/08/2030 09:30", "20301210")), "\x06");
    EXPECT_EQ(p.expect(), "S9059999VER ");
    EXPECT_EQ(rows(run), "101,55,Ann,Smith,N,2030-12-08 09:30,2030-12-10 00:00;");
    EXPECT_EQ(p.send(galaxyCheckin("S906", "02/30/2030", "")), "\x06");
    EXPECT_EQ(p.expect(), "S9069999ERR ");
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

TEST(GalaxyDaemon, PostingWithoutGuestAndAuthorisation) {
    TxnRun run;
    PG_REQUIRE(run.d.db());
    ASSERT_EQ(run.start("Galaxy 2-way", 7), "");
    TxnPeer& p = run.p();
    auto async = [&run](const std::string& subtype, const std::string& data) {
        return std::async(std::launch::async, [&run, subtype, data] { return run.control(subtype, data); });
    };
    // Nobody in the room: no guest number to post to, nothing sent (the
    // posting itself is in the vendor matrix).
    EXPECT_EQ(run.control("06", "101|12.50|Internet|0|0").substr(0, 3), "\x02" "03");
    EXPECT_TRUE(run.d.waitLog("galaxy_handle_post_charge: no guest number can not post", 1000));
    EXPECT_EQ(p.expect(300), "");

    run.d.db().exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_is_stale) "
                    "VALUES ('101', '55', 'Ann', 'Smith', 0)");
    // Authorisation: the second guest of the answer matches, without case.
    auto reply = async("07", "101|ann^SMITH");
    std::string look = p.expect();
    ASSERT_EQ(look.substr(4), "9999LOOK101   ");
    EXPECT_EQ(p.send(galaxyName(look.substr(0, 4), "0001", "54", "Jones, Bob")), "\x06");
    EXPECT_EQ(p.send(galaxyName(look.substr(0, 4), "9999", "55", "Smith, Ann")), "\x06");
    EXPECT_EQ(reply.get(), frame("02", "07", "1"));
    // A name of one part stands for any first name.
    reply = async("07", "101|XXXX^Cher");
    look = p.expect();
    EXPECT_EQ(p.send(galaxyName(look.substr(0, 4), "9999", "56", "Cher")), "\x06");
    EXPECT_EQ(reply.get(), frame("02", "07", "1"));
    // Nobody of that name.
    reply = async("07", "101|Zed^Nobody");
    look = p.expect();
    EXPECT_EQ(p.send(galaxyName(look.substr(0, 4), "9999", "55", "Smith, Ann")), "\x06");
    EXPECT_EQ(reply.get().substr(0, 3), "\x02" "03");
    // The answers are compared only, never stored.
    EXPECT_EQ(run.d.db().value("SELECT count(*) FROM pms_guests"), "1");
}

TEST(HtngDaemon, RoomMoveTakesTheRunningSessionAlong) {
    TxnRun run;
    PG_REQUIRE(run.d.db());
    ASSERT_EQ(run.start("HTNG 2-way", 14, "MOVE_SESSION_INFO_RECORDS=1\n"), "");
    TxnPeer& p = run.p();
    EXPECT_EQ(p.send(htngGuest("S900", "CHKI", "55", "")), "\x06");
    EXPECT_EQ(p.expect(), "S9009999VER ");
    run.d.db().exec("INSERT INTO session_info (ses_room_no, ses_guest_no, ses_reg_time_dt, ses_reg_expire_dt, "
                    "ses_orig_expire_dt, ses_mac) VALUES ('101', '55', now() - interval '1 hour', "
                    "now() + interval '1 hour', now() + interval '1 hour', '00:11:22:33:44:55'), "
                    "('101', '55', now() - interval '2 hour', now() - interval '1 hour', "
                    "now() - interval '1 hour', '00:11:22:33:44:56')");
    const std::string move = "S9019999CMOV" + pad("102", 16) + pad("101", 16) + pad("55", 64);
    EXPECT_EQ(p.send(move.substr(0, 107)), "\x06");
    EXPECT_EQ(p.expect(), "S9019999ERR ");
    EXPECT_EQ(p.send(move), "\x06");
    EXPECT_EQ(p.expect(), "S9019999VER ");
    EXPECT_EQ(run.d.db().value("SELECT pms_room FROM pms_guests WHERE pms_is_stale = 0"), "102");
    // The running session follows; the ended one stays where it was used.
    EXPECT_EQ(run.d.db().value("SELECT string_agg(ses_room_no, ',' ORDER BY ses_mac) FROM session_info"), "102,101");
    // The guest is checked out of the new room.
    EXPECT_EQ(p.send("S9029999CHKO" + pad("102", 16) + pad("55", 64)), "\x06");
    EXPECT_EQ(p.expect(), "S9029999VER ");
    EXPECT_EQ(rows(run), "");
}
