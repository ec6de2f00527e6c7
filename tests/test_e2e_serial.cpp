// The whole system over a serial line: the simulator offers a
// pseudo-terminal, frames carry an LRC and every frame is acknowledged.
#include <regex>

#include <gtest/gtest.h>

#include "e2e_env.h"

TEST(E2eSerial, LinkChargesAndGuestEventsOverAPseudoTerminal) {
    E2eSystem s(true);
    PG_REQUIRE(s.db());
    std::string seq = s.addCharge("101", "1001", "4.20", "00:16:3e:00:01:04");
    ASSERT_TRUE(s.start("room 101 102\nguest 101 1001 Smith John\n")) << s.why();

    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + seq + " ", 20000)) << s.why();
    EXPECT_EQ(s.db().value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + seq), "1");

    s.sim().command("checkin 102 1002 Garcia Maria");
    ASSERT_TRUE(s.waitValue("SELECT pms_room FROM pms_guests WHERE pms_guest_no = '1002' AND pms_is_stale = 0", "102",
                            10000))
        << s.why();
    ASSERT_TRUE(s.mcast().waitFor("1 check-in first[Maria] last[Garcia] guest[1002] room[102]", 5000)) << s.why();
    s.sim().command("checkout 102");
    ASSERT_TRUE(s.waitValue("SELECT pms_is_stale FROM pms_guests WHERE pms_guest_no = '1002'", "1", 10000)) << s.why();

    // Every frame was acknowledged and none refused on either side.
    std::string sim = s.sim().proc().output();
    EXPECT_EQ(sim.find("bad LRC"), std::string::npos) << sim;
    EXPECT_EQ(sim.find("<- <NAK>"), std::string::npos) << sim;
    EXPECT_EQ(sim.find("giving up"), std::string::npos) << sim;
    EXPECT_NE(sim.find("<- <ACK>"), std::string::npos) << sim;
    EXPECT_EQ(s.daemon().log().find("PMS message failed checksum"), std::string::npos);

    // A link end from the PMS is the serial line's "drop": the daemon closes
    // the line, opens it again and starts the link anew.
    size_t mark = s.sim().proc().mark();
    s.sim().command("drop");
    ASSERT_TRUE(s.sim().waitFor("-- link up", 30000, mark)) << s.why();
    std::string again = s.addCharge("101", "1001", "1.10", "00:16:3e:00:01:05");
    EXPECT_TRUE(s.daemon().waitLog("BILLING posted " + again + " ", 20000)) << s.why();
}
