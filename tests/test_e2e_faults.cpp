// Faults under the whole system (daemon, simulator, the test's own
// PostgreSQL), over TCP and over a serial line: whatever breaks, no charge is
// marked posted without the PMS's OK, none reaches the PMS twice, no guest
// record is lost, and the daemon serves again afterwards.
#include <csignal>

#include <gtest/gtest.h>

#include "e2e_env.h"

namespace {

enum class Fault { GarbageOnTheLine, DatabaseRestartMidCycle, DatabaseDownAtStart };

struct FaultCase {
    const char* name;
    bool serial;
    Fault fault;
};

const char kHotel[] = "room 101 102 103\nguest 101 1001 Smith John\nguest 102 1002 Garcia Maria\n";

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {
protected:
    // Every charge the database calls posted was taken by the PMS, and no
    // charge was taken twice.
    void expectChargesConsistent(E2eSystem& s, const std::vector<std::pair<std::string, std::string>>& charges) {
        for (const auto& [seq, amount] : charges) {
            const std::string taken = "-- posted " + amount + " to room";
            const int at_pms = s.sim().proc().count(taken);
            EXPECT_LE(at_pms, 1) << amount << s.why();
            const std::string flag = s.db().value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + seq);
            if (flag == "1") {
                EXPECT_EQ(at_pms, 1) << amount << " marked without the PMS's OK" << s.why();
            }
            EXPECT_LE(s.daemon().countLog("BILLING posted " + seq + " "), 1);
        }
    }
    // The simulator's guests in the database, as after the PMS's resync.
    void loadGuests(E2eSystem& s) {
        s.sim().command("resync");
        ASSERT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0", "2", 15000)) << s.why();
    }
    // A check-in is stored and a new charge posted once.
    void expectServing(E2eSystem& s, const std::string& amount) {
        s.sim().command("checkin 103 1009 Serving Again");
        EXPECT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_guest_no = '1009' AND pms_is_stale = 0",
                                "1", 20000))
            << s.why();
        const std::string seq = s.addCharge("102", "1002", amount, "00:16:3e:00:09:09");
        EXPECT_TRUE(s.waitValue("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + seq, "1", 20000))
            << s.why();
        EXPECT_EQ(s.sim().proc().count("-- posted " + amount + " to room 102"), 1) << s.why();
    }
};

TEST_P(FaultMatrix, NothingPostedTwiceNothingLostServingAfterwards) {
    const FaultCase& c = GetParam();
    PgPrivateCluster cluster;
    if (!cluster.ok()) {
        if (getenv("PGHOST") != nullptr) FAIL() << "private cluster: " << cluster.error();
        GTEST_SKIP() << "no PostgreSQL for this test (" << cluster.error() << ")";
    }
    E2eSystem s(c.serial, &cluster.server());
    PG_REQUIRE(s.db());
    std::vector<std::pair<std::string, std::string>> charges;
    charges.emplace_back(s.addCharge("101", "1001", "1.11", "00:16:3e:00:01:01"), "1.11");

    switch (c.fault) {
        case Fault::GarbageOnTheLine: {
            ASSERT_TRUE(s.start(kHotel)) << s.why();
            loadGuests(s);
            for (const char* junk : {"send GI|", "send ZZ|RN101|", "send GO|RNxx'; DROP TABLE pms_guests; --|",
                                     "send GC|RO101|", "send PA|ASOK|RN999|P#4242|", "send ||||||||"})
                s.sim().command(junk);
            break;
        }
        case Fault::DatabaseRestartMidCycle: {
            ASSERT_TRUE(s.start(kHotel)) << s.why();
            loadGuests(s);
            ASSERT_TRUE(s.waitValue("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + charges[0].first,
                                    "1", 20000))
                << s.why();
            ASSERT_TRUE(cluster.stop()) << cluster.error();
            s.sim().command("checkout 101");
            ASSERT_TRUE(s.daemon().waitLog("record held until it is back", 15000)) << s.why();
            ASSERT_TRUE(cluster.start()) << cluster.error();
            EXPECT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_room = '101' AND pms_is_stale = 0", "0",
                                    20000))
                << s.why();
            break;
        }
        case Fault::DatabaseDownAtStart: {
            ASSERT_TRUE(cluster.stop()) << cluster.error();
            EXPECT_FALSE(s.start(kHotel));
            EXPECT_TRUE(s.daemon().waitLog("main: Unable to start PMS", 10000)) << s.why();
            EXPECT_EQ(s.daemon().stop(SIGKILL, 5000), 1) << s.why();
            ASSERT_TRUE(cluster.start()) << cluster.error();
            // What a service manager does: start it again.
            size_t mark = s.sim().proc().mark();
            ASSERT_TRUE(s.daemon().startWith(readFile(s.daemon().configPath())));
            ASSERT_TRUE(s.sim().waitFor("-- link up", 20000, mark)) << s.why();
            loadGuests(s);
            break;
        }
    }
    EXPECT_TRUE(s.waitValue("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + charges[0].first, "1",
                            20000))
        << s.why();
    expectServing(s, "2.22");
    expectChargesConsistent(s, charges);
    EXPECT_EQ(s.db().value("SELECT count(*) FROM pms_guests WHERE pms_guest_no = '1002' AND pms_is_stale = 0"), "1");
}

const FaultCase kCases[] = {
    {"TcpGarbage", false, Fault::GarbageOnTheLine},
    {"SerialGarbage", true, Fault::GarbageOnTheLine},
    {"TcpDatabaseRestart", false, Fault::DatabaseRestartMidCycle},
    {"SerialDatabaseRestart", true, Fault::DatabaseRestartMidCycle},
    {"TcpDatabaseDownAtStart", false, Fault::DatabaseDownAtStart},
    {"SerialDatabaseDownAtStart", true, Fault::DatabaseDownAtStart},
};

INSTANTIATE_TEST_SUITE_P(MicrosFidelio, FaultMatrix, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
