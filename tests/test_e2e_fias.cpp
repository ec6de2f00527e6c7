// The whole system over TCP: the built daemon with Micros-Fidelio, the PMS
// simulator, the multicast listener and PostgreSQL, each its own process.
#include <regex>
#include <tuple>

#include <gtest/gtest.h>

#include "e2e_env.h"
#include "procrun.h"

namespace {

const char kHotel[] =
    "room 101 102 103 104 105 106\n"
    "guest 101 1001 Smith John vip=3 nights=2\n"
    "guest 102 1002 Garcia Maria lang=ES\n"
    "guest 102 1003 Garcia Pablo lang=ES\n"
    "folio 101 1001 24.00 \"Room service\"\n"
    "message 101 1001 \"Your taxi is booked\"\n";

const char kPosted[] = "SELECT ses_posted_flag || ',' || (ses_posted_dt IS NOT NULL) FROM session_info WHERE ses_seq_no = ";

}  // namespace

TEST(E2eFias, LinkStartsAndUnpostedChargesArePostedAndMarked) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    std::string a = s.addCharge("101", "1001", "9.95", "00:16:3e:00:01:01");
    std::string b = s.addCharge("102", "", "0.29", "00:16:3e:00:02:01");
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    // The interface described itself to the PMS before the link counted as up.
    EXPECT_TRUE(s.sim().waitFor("<- LD|DA", 0));
    EXPECT_TRUE(s.sim().waitFor("<- LR|RIPL|", 0));

    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + b + " ", 20000)) << s.why();
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + a + " ", 5000)) << s.why();
    std::regex line("BILLING posted " + a + " \\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d 101 9\\.95 00:16:3e:00:01:01\n");
    EXPECT_TRUE(std::regex_search(s.daemon().log(), line)) << s.daemon().log();
    EXPECT_EQ(s.db().value(kPosted + a), "1,true");
    EXPECT_EQ(s.db().value(kPosted + b), "1,true");

    // The PMS got an inquiry, then the posting with the guest it named and
    // the amount in hundredths (0.29 rounds to 29, not 28).
    std::string sim = s.sim().proc().output();
    EXPECT_NE(sim.find("<- PR|DA"), std::string::npos);
    EXPECT_TRUE(std::regex_search(sim, std::regex("<- PR\\|DA\\d+\\|PI101\\|.*\\|IDELI\\|")));
    EXPECT_TRUE(std::regex_search(sim, std::regex("<- PR\\|DA\\d+\\|G#1001\\|RN101\\|TA995\\|.*GNSmith\\|WS00163e000101\\|PTC\\|")))
        << sim;
    EXPECT_TRUE(std::regex_search(sim, std::regex("<- PR\\|DA\\d+\\|G#1002\\|RN102\\|TA29\\|"))) << sim;
    EXPECT_NE(sim.find("-- posted 9.95 to room 101 guest 1001"), std::string::npos);

    // Nothing is posted twice.
    size_t mark = s.daemon().mark();
    ASSERT_TRUE(s.daemon().waitLog("Executing database scan", 6000, mark));
    ASSERT_TRUE(s.daemon().waitLog("Executing database scan", 6000, s.daemon().mark()));
    EXPECT_EQ(s.daemon().countLog("BILLING posted"), 2);
}

TEST(E2eFias, RefusedPostingStaysUnpostedAndIsRetried) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    std::string seq = s.addCharge("101", "1001", "5.00", "00:16:3e:00:01:09");
    ASSERT_TRUE(s.start(std::string(kHotel) + "refuse 101 NP \"Posting not allowed\"\n")) << s.why();

    // Refused twice: at the first scan and again at the next one.
    ASSERT_TRUE(s.sim().waitFor("-> PA|P#", 20000)) << s.why();
    size_t first = s.sim().proc().output().find("|ASNP|CTPosting not allowed|");
    ASSERT_NE(first, std::string::npos) << s.why();
    ASSERT_TRUE(s.sim().waitFor("|ASNP|", 10000, first + 10)) << s.why();
    EXPECT_TRUE(s.daemon().waitLog("PMS returned unsuccessful post response: NP", 0));
    EXPECT_EQ(s.db().value(kPosted + seq), "0,false");
    EXPECT_EQ(s.daemon().countLog("BILLING posted"), 0);

    // Once the PMS accepts the room again the same charge goes through, once.
    s.sim().command("accept 101");
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + seq + " ", 10000)) << s.why();
    EXPECT_EQ(s.db().value(kPosted + seq), "1,true");
    EXPECT_EQ(s.sim().proc().count("-- posted 5.00 to room 101 guest 1001"), 1);
}

TEST(E2eFias, GuestEventsReachPmsGuestsAndTheMulticastListener) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    s.db().exec("INSERT INTO service_sets (srs_seq_no, srs_name, srs_expire_on_checkout) VALUES (1, 'day', -1)");
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    const std::string guest = "SELECT pms_room || ',' || pms_name_first || ',' || pms_name_last || ',' || pms_is_stale "
                              "FROM pms_guests WHERE pms_guest_no = '2001' ORDER BY pms_seq_no DESC LIMIT 1";

    s.sim().command("checkin 104 2001 Jones Ann vip=2 nights=3");
    ASSERT_TRUE(s.waitValue(guest, "104,Ann,Jones,0", 10000)) << s.why();
    ASSERT_TRUE(s.mcast().waitFor("1 check-in first[Ann] last[Jones] guest[2001] room[104]", 5000)) << s.why();
    EXPECT_EQ(s.db().value("SELECT prl_occupied FROM pms_room_list WHERE prl_room = '104'"), "1");

    // A running room-billed session of the guest follows the room move and
    // ends at check-out.
    std::string ses = s.db().value(
        "INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_pay_no, ses_srs_no, "
        "ses_posted_flag, ses_reg_time_dt, ses_reg_expire_dt, ses_orig_expire_dt) VALUES ('104', '2001', 3.00, "
        "'00:16:3e:00:04:01', 4, 1, 1, now() - interval '10 minutes', now() + interval '2 hours', "
        "now() + interval '2 hours') RETURNING ses_seq_no");

    s.sim().command("move 104 105 2001");
    ASSERT_TRUE(s.waitValue(guest, "105,Ann,Jones,0", 10000)) << s.why();
    ASSERT_TRUE(s.mcast().waitFor("3 guest-change first[Ann] last[Jones] guest[2001] room[105]", 5000)) << s.why();
    EXPECT_NE(s.mcast().output().find("prev_room[104]"), std::string::npos) << s.mcast().output();
    ASSERT_TRUE(s.waitValue("SELECT ses_room_no FROM session_info WHERE ses_seq_no = " + ses, "105", 5000));

    s.sim().command("change 105 2001 last=Jones-Baker");
    ASSERT_TRUE(s.waitValue(guest, "105,Ann,Jones-Baker,0", 10000)) << s.why();

    s.sim().command("message 105 2001 Please call the front desk");
    ASSERT_TRUE(s.mcast().waitFor("5 message first[Please call the front desk] last[] guest[2001] room[105]", 5000))
        << s.why();
    s.sim().command("folio 105 2001 7.50 Minibar");
    ASSERT_TRUE(s.mcast().waitFor("6 folio first[Minibar] last[750] guest[2001] room[105]", 5000)) << s.why();

    s.sim().command("checkout 105");
    ASSERT_TRUE(s.waitValue(guest, "105,Ann,Jones-Baker,1", 10000)) << s.why();
    ASSERT_TRUE(s.mcast().waitFor("2 check-out", 5000)) << s.why();
    EXPECT_TRUE(s.daemon().waitLog("vrdi_set_reg_expiry_time: mac [00:16:3e:00:04:01] expires at", 5000)) << s.why();
    EXPECT_EQ(s.db().value("SELECT ses_reg_expire_dt <= now() FROM session_info WHERE ses_seq_no = " + ses), "t");
    EXPECT_EQ(s.db().value("SELECT prl_occupied FROM pms_room_list WHERE prl_room = '105'"), "0");

    // A database resync from the PMS brings the whole house back.
    s.sim().command("resync");
    ASSERT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0", "3", 10000)) << s.why();
    EXPECT_TRUE(s.daemon().waitLog("Micros DB Resync has completed", 5000));
}

TEST(E2eFias, EveryControlRequestThroughTheControlPortAndTheClients) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    // The house as the PMS reports it when the link starts.
    s.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101'), ('102'), ('103')");
    ASSERT_TRUE(s.start(kHotel, "AUTO_DB_SWAP=1\n")) << s.why();
    ASSERT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0", "3", 10000)) << s.why();

    EXPECT_EQ(s.control("01", "101"), e2eFrame("02", "01", "1"));
    EXPECT_EQ(s.control("01", "103"), e2eFrame("02", "01", "0"));
    std::string info = s.control("05", "102");
    EXPECT_NE(info.find("\x02" "02051002|Maria|Garcia||ES|"), std::string::npos) << info;
    EXPECT_NE(info.find("\x02" "02051003|Pablo|Garcia||ES|"), std::string::npos) << info;

    std::string folio = s.control("04", "101|1001|0|2000000000");
    EXPECT_NE(folio.find("1001|Room service|"), std::string::npos) << folio << s.why();
    EXPECT_NE(folio.find("|24.00"), std::string::npos) << folio;
    EXPECT_NE(folio.find("1001|Balance|"), std::string::npos) << folio;

    std::string auth = s.control("07", "101|John^Smith");
    EXPECT_EQ(auth, e2eFrame("02", "07", "1")) << s.why();
    EXPECT_EQ(s.control("07", "101|XXXX^smith"), e2eFrame("02", "07", "1"));
    EXPECT_EQ(s.control("07", "101|1001"), e2eFrame("02", "07", "1"));
    EXPECT_EQ(s.control("07", "101|Jane^Doe"), e2eFrame("03", "04", ""));

    std::string msgs = s.control("11", "101|1001");
    EXPECT_NE(msgs.find("1001|1|Your taxi is booked"), std::string::npos) << msgs << s.why();
    EXPECT_EQ(s.control("12", "101|1^1001"), e2eFrame("02", "12", "1")) << s.why();
    EXPECT_TRUE(s.sim().waitFor("<- XD|MI1|RN101|G#1001|", 0));

    EXPECT_EQ(s.control("09", "101|2"), e2eFrame("02", "09", "1"));
    EXPECT_TRUE(s.sim().waitFor("<- RE|RN101|RS2|", 3000));

    std::string status = s.control("13", "");
    EXPECT_TRUE(std::regex_search(status, std::regex("^\x02" "0213[A-Z]{2}\\^\\d+\x03$"))) << status;
    std::string swap = s.control("14", "");
    EXPECT_TRUE(std::regex_search(swap, std::regex("^\x02" "02140\\|\\d+\x03$"))) << swap;

    // Check-in is the PMS's own business.
    EXPECT_EQ(s.control("03", "104|a|b"), e2eFrame("03", "03", "Functionality not implemented"));

    // Remote check-out: the PMS confirms and sends its check-out record.
    std::string out = s.control("02", "102|x");
    EXPECT_EQ(out, e2eFrame("02", "02", "1")) << s.why();
    ASSERT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_room = '102' AND pms_is_stale = 0", "0", 10000))
        << s.why();

    // The three clients.
    std::string port = std::to_string(s.daemon().controlPort());
    RunResult post = runProgram({binPath("vornpms_post_charge"), "-r", "101", "-a", "3.50", "-p", port}, {}, 20000);
    EXPECT_EQ(post.status, 0) << post.out << post.err << s.why();
    EXPECT_TRUE(s.sim().waitFor("-- posted 3.50 to room 101 guest 1001", 3000));
    RunResult refused = runProgram({binPath("vornpms_post_charge"), "-r", "103", "-a", "1.00", "-p", port}, {}, 20000);
    EXPECT_EQ(refused.status, 1) << refused.out;

    s.addCharge("101", "1001", "1.25", "00:16:3e:00:01:05");
    size_t mark = s.daemon().mark();
    RunResult rt = runProgram({binPath("vornpms_rt_billing"), "-p", port}, {}, 20000);
    EXPECT_EQ(rt.status, 0) << rt.out << rt.err;
    EXPECT_TRUE(s.daemon().waitLog("BILLING posted", 10000, mark)) << s.why();

    size_t sim_mark = s.sim().proc().mark();
    RunResult swapc = runProgram({binPath("vornpms_db_swap"), "-p", port}, {}, 20000);
    EXPECT_EQ(swapc.status, 0) << swapc.out << swapc.err;
    EXPECT_TRUE(s.sim().waitFor("<- DR|", 5000, sim_mark));
    EXPECT_TRUE(s.sim().waitFor("-> DE|", 5000, sim_mark));
}

TEST(E2eFias, NightAuditMakesTheControlPortAnswerUnavailable) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    s.sim().command("nightaudit start");
    ASSERT_TRUE(s.daemon().waitLog("PMS has gone into Night Audit mode", 10000)) << s.why();
    std::string busy = s.control("01", "101");
    EXPECT_NE(busy.find("PMS Server Unavailable. Please retry later."), std::string::npos) << busy;
    // The scan posts nothing meanwhile.
    std::string seq = s.addCharge("101", "1001", "2.00", "00:16:3e:00:01:07");
    size_t mark = s.daemon().mark();
    ASSERT_TRUE(s.daemon().waitLog("Skipping DB scan because the vendor PMS is not yet ready", 6000, mark))
        << s.why();
    EXPECT_EQ(s.daemon().countLog("BILLING posted"), 0);
    EXPECT_EQ(s.db().value(kPosted + seq), "0,false");

    s.sim().command("nightaudit end");
    ASSERT_TRUE(s.daemon().waitLog("PMS has awoke from Night Audit mode", 10000)) << s.why();
    EXPECT_EQ(s.control("01", "101"), e2eFrame("02", "01", "0"));  // nobody in pms_guests yet
    EXPECT_TRUE(s.daemon().waitLog("BILLING posted " + seq + " ", 10000)) << s.why();
}

// The other FIAS vendors against the simulator playing their PMS: a
// check-in, a charge posted and marked, and the check-out, seen in the
// database and by the multicast listener. Vendors whose serial start is quick
// run on a pseudo-terminal too.
class E2eFiasVendor : public ::testing::TestWithParam<std::tuple<std::string, bool>> {};

TEST_P(E2eFiasVendor, CheckInPostingAndCheckOut) {
    const auto& [vendor, serial] = GetParam();
    E2eSystem s(serial);
    PG_REQUIRE(s.db());
    s.setVendor(vendor);
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    const std::string guest = "SELECT pms_room || ',' || pms_name_last || ',' || pms_is_stale FROM pms_guests "
                              "WHERE pms_guest_no = '2001' ORDER BY pms_seq_no DESC LIMIT 1";

    s.sim().command("checkin 104 2001 Jones Ann nights=3");
    ASSERT_TRUE(s.waitValue(guest, "104,Jones,0", 15000)) << s.why();
    ASSERT_TRUE(s.mcast().waitFor("1 check-in first[Ann] last[Jones] guest[2001] room[104]", 5000)) << s.why();

    std::string seq = s.addCharge("104", "2001", "4.50", "00:16:3e:00:04:02");
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + seq + " ", 30000)) << s.why();
    EXPECT_EQ(s.db().value(kPosted + seq), "1,true");
    EXPECT_TRUE(s.sim().waitFor("-- posted 4.50 to room 104 guest 2001", 5000)) << s.why();

    s.sim().command("checkout 104");
    ASSERT_TRUE(s.waitValue(guest, "104,Jones,1", 15000)) << s.why();
    ASSERT_TRUE(s.mcast().waitFor("2 check-out", 5000)) << s.why();
}

INSTANTIATE_TEST_SUITE_P(Vendors, E2eFiasVendor,
                         ::testing::Values(std::make_tuple("Hilton OnQ 2-way", false),
                                           std::make_tuple("HN MUX 2-way", false),
                                           std::make_tuple("Protel 2-way", false),
                                           std::make_tuple("Optima 2-way", false),
                                           std::make_tuple("Optima 2-way", true),
                                           std::make_tuple("Regal 2-way", false),
                                           std::make_tuple("Regal 2-way", true)),
                         [](const auto& info) {
                             std::string n = std::get<0>(info.param);
                             std::string name = n.substr(0, n.find(' ')) + (n.rfind("HN ", 0) == 0 ? "MUX" : "");
                             return name + (std::get<1>(info.param) ? "_Serial" : "_Tcp");
                         });
