// GalaVu through the running daemon with a scripted PMS: check-in and LOOK,
// authorisation, multi-record answers, records out of turn, the
// harvest and the faults mended on the way.
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

// A NAME record answering `id`: room 101, account, name.
std::string nameRec(const std::string& id, const std::string& seq, const std::string& acct, const std::string& name) {
    return id + seq + "NAME" + pad("101", 6) + pad(acct, 6) + pad(name, 20);
}

class GalaVuDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        PG_REQUIRE(run.d.db());
        ASSERT_EQ(run.start("GalaVu 2-way", 6), "");
    }
    std::string guests() {
        std::string out;
        for (auto& r : run.d.db().rows("SELECT pms_guest_no, coalesce(pms_name_first, '-'), pms_name_last, "
                                       "pms_no_post FROM pms_guests WHERE pms_is_stale = 0 ORDER BY pms_seq_no"))
            out += r[0] + "," + r[1] + "," + r[2] + "," + r[3] + ";";
        return out;
    }
    std::future<std::string> async(const std::string& subtype, const std::string& data, int timeout_ms = 8000) {
        return std::async(std::launch::async,
                          [this, subtype, data, timeout_ms] { return run.control(subtype, data, timeout_ms); });
    }
    TxnRun run;
    TxnPeer& p = run.p();
};

}  // namespace

TEST_F(GalaVuDaemon, CheckinLooksUpTheRoomAndStoresItsGuests) {
    EXPECT_EQ(p.send("S9009999CHKI101  "), "\x06");
    EXPECT_EQ(p.expect(), "S9009999ERR ");
    EXPECT_EQ(p.send("S9019999CHKC101   "), "\x06");
    EXPECT_EQ(p.expect(), "S9019999VER ");
    const std::string look = p.expect();
    ASSERT_EQ(look, "S1029999LOOK101   ");
    EXPECT_EQ(p.send(nameRec("S102", "0001", "A1", "Ann Smith")), "\x06");
    EXPECT_EQ(p.send(nameRec("S102", "9999", "A2", "Jones, Bob")), "\x06");
    for (int i = 0; i < 50 && guests().size() < 20; ++i) usleep(100000);
    // Cash check-in: no posting to the room.
    EXPECT_EQ(guests(), "A1,Ann,Smith,Y;A2,Jones,Bob,Y;");
    // NAME from the PMS adds a guest; INHB lifts the restriction; a short
    // INHB is refused.
    EXPECT_EQ(p.send("S9029999NAME101   A3    Carl Miller"), "\x06");
    EXPECT_EQ(p.expect(), "S9029999VER ");
    EXPECT_EQ(p.send("S9039999INHB101   N"), "\x06");
    EXPECT_EQ(p.expect(), "S9039999VER ");
    EXPECT_EQ(p.send("S9049999INHB101   "), "\x06");
    EXPECT_EQ(p.expect(), "S9049999ERR ");
    EXPECT_EQ(guests(), "A1,Ann,Smith,N;A2,Jones,Bob,N;A3,Carl,Miller,N;");
}

TEST_F(GalaVuDaemon, AuthorisationStoresEveryGuestAndAtMostEight) {
    auto reply = async("07", "101|bob^JONES");
    const std::string look = p.expect();
    ASSERT_EQ(look, "S1029999LOOK101   ");
    const std::string id = look.substr(0, 4);
    for (int i = 1; i <= 9; ++i) {
        std::string name = i == 2 ? "Bob Jones" : "Guest" + std::to_string(i) + " Last";
        EXPECT_EQ(p.send(nameRec(id, i == 9 ? "9999" : "0001", "A" + std::to_string(i), name)), "\x06");
    }
    EXPECT_EQ(reply.get(), frame("02", "07", "1"));
    // All eight kept, not only those up to the match; the ninth is dropped.
    EXPECT_EQ(run.d.db().value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "8");
    EXPECT_TRUE(run.d.waitLog("received too many NAME responses", 1000));

    // A name nobody in the room has.
    reply = async("07", "101|Zed^Nobody");
    const std::string look2 = p.expect();
    EXPECT_EQ(p.send(nameRec(look2.substr(0, 4), "9999", "A1", "Ann Smith")), "\x06");
    EXPECT_EQ(reply.get().substr(0, 3), "\x02" "03");
    // A vacant room.
    reply = async("07", "101|XXXX^XXXX");
    const std::string look3 = p.expect();
    p.answer(look3, "ERR 03");
    std::string r3 = reply.get();
    EXPECT_EQ(r3.substr(0, 3), "\x02" "03");
    EXPECT_NE(r3.find("Vacant room"), std::string::npos) << r3;
}

TEST_F(GalaVuDaemon, RecordsOutOfTurnAreHandledAfterwards) {
    run.d.db().exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_no_post, pms_is_stale) "
                    "VALUES ('101', 'A1', 'Smith', 'N', 0)");
    // A record instead of the ACK, then the ACK.
    auto reply = async("06", "101|1.00|Internet|0|0");
    std::string post = p.expect(3000, 0);  // not acknowledged yet
    ASSERT_EQ(post.substr(4, 8), "9999POST");
    ASSERT_TRUE(run.peer.send(txnFrame("S9109999INHB101   Y") + "\x06"));
    // The daemon acknowledges our record, answers it, then awaits its answer.
    EXPECT_EQ(p.byte(), "\x06");
    EXPECT_EQ(p.expect(), "S9109999VER ");
    // A record while the daemon awaits the answer: kept, handled after it.
    EXPECT_EQ(p.send("S9119999MSGW101   Y"), "\x06");
    p.answer(post);
    EXPECT_EQ(p.expect(), "S9119999VER ");
    EXPECT_EQ(reply.get(), frame("02", "06", "1"));
    EXPECT_EQ(guests(), "A1,-,Smith,Y;");
}

TEST_F(GalaVuDaemon, FolioAndMessagesAreMultiRecordAnswers) {
    auto reply = async("04", "101|A1|0|0");
    std::string disp = p.expect();
    ASSERT_EQ(disp.substr(4), "9999DISP101   A1    ");
    const std::string id = disp.substr(0, 4);
    EXPECT_EQ(p.send(id + "0001NAME101   A1    Ann Smith"), "\x06");
    EXPECT_EQ(p.send(id + "0002ITEM101   A1    Minibar 12.00"), "\x06");
    EXPECT_EQ(p.send(id + "9999BAL 00012.00"), "\x06");
    EXPECT_EQ(reply.get(), frame("02", "04", "NAME101   A1    Ann Smith") + frame("02", "04", "ITEM101   A1    Minibar 12.00") +
                               frame("02", "04", "BAL 00012.00"));

    // Messages: the answer ends at the 10-second pause when no last record comes.
    reply = async("11", "101|A1", 15000);
    std::string msgr = p.expect();
    ASSERT_EQ(msgr.substr(4), "9999MSGR101   A1    ");
    EXPECT_EQ(p.send(msgr.substr(0, 4) + "0001MHDR From desk"), "\x06");
    EXPECT_EQ(p.send(msgr.substr(0, 4) + "0002MTXT Call home"), "\x06");
    EXPECT_EQ(reply.get(), frame("02", "11", "MHDR From desk") + frame("02", "11", "MTXT Call home"));
}

TEST_F(GalaVuDaemon, CheckoutNeedsTheBalance) {
    // No BAL in the folio: the check-out is refused, XCKO never sent.
    auto reply = async("02", "101|A1");
    std::string disp = p.expect();
    ASSERT_EQ(disp.substr(8, 4), "DISP");
    EXPECT_EQ(p.send(disp.substr(0, 4) + "9999NAME101   A1    Ann Smith"), "\x06");
    std::string r = reply.get();
    EXPECT_EQ(r.substr(0, 3), "\x02" "03");
    EXPECT_NE(r.find("No balance"), std::string::npos) << r;
    EXPECT_EQ(p.expect(300), "");
    // With the balance it goes out.
    reply = async("02", "101|A1");
    disp = p.expect();
    EXPECT_EQ(p.send(disp.substr(0, 4) + "9999BAL 00012.00"), "\x06");
    std::string xcko = p.expect();
    EXPECT_EQ(xcko.substr(4), "9999XCKO101   A1    00012.00");
    p.answer(xcko);
    EXPECT_EQ(reply.get(), frame("02", "02", "1"));
}

TEST_F(GalaVuDaemon, HarvestNamesPlaceholdersThenKeepsAlive) {
    run.d.db().exec("INSERT INTO pms_guests (pms_room, pms_arrival_dt, pms_no_post, pms_is_stale) "
                    "VALUES ('101', '2030-01-02 10:00', 'Y', 0)");
    auto reply = async("08", "");
    std::string look = p.expect();
    ASSERT_EQ(look, "S1029999LOOK101   ");
    EXPECT_EQ(p.send(nameRec("S102", "9999", "A1", "Ann Smith")), "\x06");
    EXPECT_EQ(reply.get(), frame("02", "08", "1"));
    EXPECT_EQ(guests(), "A1,Ann,Smith,Y;");
    EXPECT_EQ(run.d.db().value("SELECT to_char(pms_arrival_dt, 'YYYY-MM-DD HH24:MI') FROM pms_guests "
                               "WHERE pms_is_stale = 0"),
              "2030-01-02 10:00");
    // Nothing left to name: the keep-alive.
    reply = async("08", "");
    std::string test = p.expect();
    EXPECT_EQ(test.substr(4), "9999TEST");
    p.answer(test);
    EXPECT_EQ(reply.get(), frame("02", "08", "1"));
}

TEST_F(GalaVuDaemon, LinkCutDuringPostingLeavesTheChargeUnmarked) {
    run.d.db().exec("INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) "
                    "VALUES ('101', now() - interval '1 hour', now() + interval '1 hour', 2.00, '00:11:22:33:44:55')");
    auto reply = async("08", "");
    std::string post = p.expect();
    ASSERT_EQ(post.substr(4), "9999POST101    1INTERNET        200");
    run.peer.close();
    reply.get();
    EXPECT_EQ(run.d.db().value("SELECT count(*) FROM session_info WHERE ses_posted_dt IS NOT NULL"), "0");
    EXPECT_EQ(run.d.countLog("BILLING posted"), 0);
}

TEST(GalaVuScan, HeldBackWhileThePmsKeepsTalking) {
    TxnRun run;
    PG_REQUIRE(run.d.db());
    ASSERT_EQ(run.start("GalaVu 2-way", 6, "POSTDELAY=2\n"), "");
    TxnPeer& p = run.p();
    // A record every second: the scan (and its keep-alive) waits.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(p.send("S9" + std::to_string(10 + i) + "9999INFO"), "\x06");
        EXPECT_EQ(p.expect(), "S9" + std::to_string(10 + i) + "9999VER ");
        usleep(1000000);
    }
    EXPECT_EQ(run.d.countLog("About to send keep alive message"), 0);
    // Quiet: the keep-alive follows after two seconds.
    std::string test = p.expect(4000);
    EXPECT_EQ(test.substr(4), "9999TEST");
    p.answer(test);
}
