// The whole system when things break: the PMS drops the link, PostgreSQL
// restarts under the running daemon, and the daemon is told to stop.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "e2e_env.h"

namespace {

const char kHotel[] =
    "room 101 102\n"
    "guest 101 1001 Smith John\n"
    "guest 102 1002 Garcia Maria\n";

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(E2eResilience, DroppedLinkIsReopenedAndWorkCarriesOn) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    std::string first = s.addCharge("101", "1001", "1.00", "00:16:3e:00:01:01");
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + first + " ", 15000)) << s.why();

    size_t mark = s.sim().proc().mark();
    s.sim().command("drop");
    ASSERT_TRUE(s.sim().waitFor("-- dropping the connection", 3000, mark));
    // The daemon notices, reconnects and starts the link again.
    ASSERT_TRUE(s.sim().waitFor("-- connection from 127.0.0.1:", 20000, mark)) << s.why();
    ASSERT_TRUE(s.sim().waitFor("-- link up", 15000, mark)) << s.why();

    // Work goes on over the new link: a check-in and a new charge.
    s.sim().command("checkin 102 1003 Garcia Pablo");
    ASSERT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_guest_no = '1003' AND pms_is_stale = 0", "1",
                            10000))
        << s.why();
    std::string second = s.addCharge("102", "1003", "2.00", "00:16:3e:00:02:02");
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + second + " ", 15000)) << s.why();
    EXPECT_EQ(s.daemon().countLog("BILLING posted " + first + " "), 1);
}

TEST(E2eResilience, PostgresRestartUnderTheRunningDaemon) {
    PgPrivateCluster cluster;
    if (!cluster.ok()) {
        if (getenv("PGHOST") != nullptr) FAIL() << "private cluster: " << cluster.error();
        GTEST_SKIP() << "no PostgreSQL for this test (" << cluster.error() << ")";
    }
    E2eSystem s(false, &cluster.server());
    PG_REQUIRE(s.db());
    std::string first = s.addCharge("101", "1001", "1.50", "00:16:3e:00:01:03");
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + first + " ", 15000)) << s.why();

    size_t mark = s.daemon().mark();
    ASSERT_TRUE(cluster.restart()) << cluster.error();
    // The daemon's connection died with the server; the next cycle finds it
    // lost, connects again and posts what came in meanwhile.
    std::string second = s.addCharge("102", "1002", "2.50", "00:16:3e:00:02:03");
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + second + " ", 20000, mark)) << s.why();
    EXPECT_TRUE(s.daemon().waitLog("DB connection lost, resetting", 0, mark)) << s.why();
    EXPECT_EQ(s.db().value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + second), "1");
    // Guest records after the restart are stored too.
    s.sim().command("checkin 102 1004 Keller Anna");
    EXPECT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_guest_no = '1004'", "1", 10000)) << s.why();
}

TEST(E2eResilience, SigtermStopsTheDaemonCleanly) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    ASSERT_TRUE(exists(s.daemon().lockPath()));
    size_t mark = s.sim().proc().mark();
    EXPECT_EQ(s.daemon().stop(SIGTERM, 15000), 0) << s.why();
    EXPECT_TRUE(s.daemon().waitLog("vornPMS has been cleanly shutdown", 0)) << s.why();
    // It said goodbye to the PMS and let go of the link and the lock file.
    EXPECT_TRUE(s.sim().waitFor("<- LE|DA", 2000, mark)) << s.why();
    EXPECT_TRUE(s.sim().waitFor("-- connection closed by the interface", 2000, mark)) << s.why();
    EXPECT_FALSE(exists(s.daemon().lockPath()));
}

// The PMS took a charge, the database refused its posted mark, and the daemon
// was killed before it could try again. The restarted daemon marks the charge
// from its journal and never sends it a second time.
TEST(E2eResilience, ChargeTakenButUnmarkedIsNotPostedAgainAfterSigkill) {
    E2eSystem s;
    PG_REQUIRE(s.db());
    s.db().exec(
        "CREATE FUNCTION refuse_mark() RETURNS trigger AS $$ BEGIN "
        "IF NEW.ses_posted_flag <> OLD.ses_posted_flag THEN RAISE EXCEPTION 'mark refused'; END IF; "
        "RETURN NEW; END $$ LANGUAGE plpgsql");
    s.db().exec("CREATE TRIGGER refuse_mark BEFORE UPDATE ON session_info FOR EACH ROW EXECUTE FUNCTION refuse_mark()");
    std::string seq = s.addCharge("101", "1001", "5.00", "00:16:3e:00:01:05");
    ASSERT_TRUE(s.start(kHotel)) << s.why();
    ASSERT_TRUE(s.daemon().waitLog("posted charge seq[" + seq + "] could not be marked", 15000)) << s.why();
    const std::string journal = s.daemon().lockPath() + ".postjournal";
    ASSERT_TRUE(exists(journal));
    EXPECT_EQ(s.daemon().stop(SIGKILL, 5000), 128 + SIGKILL);

    s.db().exec("DROP TRIGGER refuse_mark ON session_info");
    size_t sim_mark = s.sim().proc().mark();
    size_t log_mark = s.daemon().mark();
    ASSERT_TRUE(s.daemon().startWith(readFile(s.daemon().configPath())));
    ASSERT_TRUE(s.sim().waitFor("-- link up", 15000, sim_mark)) << s.why();
    ASSERT_TRUE(s.waitValue("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + seq, "1", 10000))
        << s.why();
    EXPECT_TRUE(s.daemon().waitLog("charge seq[" + seq + "] was taken by the PMS before a restart", 0, log_mark))
        << s.why();
    // A new charge goes through after the replay, the old one never again.
    std::string next = s.addCharge("102", "1002", "2.00", "00:16:3e:00:02:05");
    ASSERT_TRUE(s.daemon().waitLog("BILLING posted " + next + " ", 15000, log_mark)) << s.why();
    EXPECT_EQ(s.sim().proc().count("-- posted 5.00 to room 101"), 1) << s.why();
    EXPECT_EQ(s.daemon().countLog("BILLING posted " + seq + " "), 1);
    EXPECT_EQ(readFile(journal), "");
}

// Check-in, check-out and move sent while PostgreSQL is stopped are held in
// order and applied once it is back, before a check-in sent afterwards.
TEST(E2eResilience, GuestRecordsDuringADatabaseOutageAreAppliedAfterIt) {
    PgPrivateCluster cluster;
    if (!cluster.ok()) {
        if (getenv("PGHOST") != nullptr) FAIL() << "private cluster: " << cluster.error();
        GTEST_SKIP() << "no PostgreSQL for this test (" << cluster.error() << ")";
    }
    E2eSystem s(false, &cluster.server());
    PG_REQUIRE(s.db());
    ASSERT_TRUE(s.start("room 101 102 103 104\nguest 101 1001 Smith John\nguest 102 1002 Garcia Maria\n")) << s.why();
    s.sim().command("resync");
    ASSERT_TRUE(s.waitValue("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0", "2", 10000)) << s.why();

    ASSERT_TRUE(cluster.stop()) << cluster.error();
    s.sim().command("checkin 103 1005 Novak Eva");
    s.sim().command("checkout 101");
    s.sim().command("move 102 104 1002");
    ASSERT_TRUE(s.daemon().waitCount("record held until it is back", 3, 15000)) << s.why();
    ASSERT_TRUE(cluster.start()) << cluster.error();
    s.sim().command("checkin 101 1006 Keller Anna");

    const char* live = "SELECT string_agg(pms_room || ':' || pms_guest_no, ',' ORDER BY pms_room) "
                       "FROM pms_guests WHERE pms_is_stale = 0";
    EXPECT_TRUE(s.waitValue(live, "101:1006,103:1005,104:1002", 20000)) << s.why();
    EXPECT_TRUE(s.daemon().waitLog("database back: applying 3 held PMS records", 0)) << s.why();
    // The held check-in went in before the one sent after the outage.
    EXPECT_EQ(s.db().value("SELECT (SELECT max(pms_seq_no) FROM pms_guests WHERE pms_guest_no = '1005') < "
                           "(SELECT max(pms_seq_no) FROM pms_guests WHERE pms_guest_no = '1006')"),
              "t");
}
