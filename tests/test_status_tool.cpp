// vornpms_status against a running daemon and its database, as text and in
// the Prometheus format, and with the daemon or the database down.
#include <gtest/gtest.h>

#include "daemon_harness.h"
#include "loopback_peer.h"
#include "netutil.h"
#include "procrun.h"
#include "tmpfiles.h"

namespace {

class StatusTool : public ::testing::Test {
protected:
    void SetUp() override {
        PG_REQUIRE(d.db());
        // Charges of ten and five minutes ago; an hour's POSTDELAY keeps them unposted.
        for (const char* age : {"10 minutes", "5 minutes"})
            d.db().exec(std::string("INSERT INTO session_info (ses_room_no, ses_amount, ses_posted_flag, "
                                    "ses_reg_time_dt, ses_reg_expire_dt) VALUES ('101', 9.95, 0, now() - interval '") +
                        age + "', now() + interval '1 day')");
        // Another interface instance's charge is not counted.
        d.db().exec("INSERT INTO session_info (ses_psi_no, ses_room_no, ses_posted_flag, ses_reg_time_dt) "
                    "VALUES (7, '102', 0, now() - interval '2 days')");
        ASSERT_TRUE(d.start(pms.port(), "POSTDELAY=3600\n"));
        peer = pms.accept(10000);
        ASSERT_GE(peer.fd(), 0) << d.log();
        ASSERT_TRUE(d.waitLog("pms_init: g_vendor_id = 3", 5000)) << d.log();
    }
    RunResult status(const std::vector<std::string>& args, const std::string& config = "") {
        std::vector<std::string> argv{binPath("vornpms_status"), "-c", config.empty() ? d.configPath() : config};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProgram(argv);
    }
    DaemonHarness d;
    TcpListener pms;
    StreamPeer peer;
};

}  // namespace

TEST_F(StatusTool, TextAndPrometheusOfARunningDaemon) {
    RunResult r = status({});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("vornpms: Agilysys 2-way, link up, READY\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("last PMS record: none since the daemon started\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("last posting: never\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("unposted charges: 2, the oldest 10 min old\n"), std::string::npos) << r.out;

    ASSERT_TRUE(peer.send(agilysysFrame("4711,x,2030-05-01,2030-05-03,x,101,x,Smith,Ann")));
    ASSERT_EQ(peer.receive(1, 3000), "\x06");
    r = status({});
    EXPECT_NE(r.out.find("  4711,x,2030-05-01,2030-05-03,x,101,x,Smith,Ann\n"), std::string::npos) << r.out;

    r = status({"--prometheus"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* line : {"# TYPE vornpms_up gauge\nvornpms_up 1\n", "vornpms_database_up 1\n",
                             "vornpms_link_up{vendor=\"Agilysys 2-way\"} 1\n", "vornpms_ready 1\n",
                             "vornpms_last_posting_timestamp_seconds 0\n", "vornpms_unposted_charges 2\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    long record_time = 0, age = 0;
    size_t at = r.out.find("\nvornpms_last_record_timestamp_seconds ");
    ASSERT_NE(at, std::string::npos);
    record_time = strtol(r.out.c_str() + at + 39, nullptr, 10);
    EXPECT_LE(std::labs(record_time - time(nullptr)), 10);
    at = r.out.find("\nvornpms_oldest_unposted_charge_age_seconds ");
    ASSERT_NE(at, std::string::npos);
    age = strtol(r.out.c_str() + at + 44, nullptr, 10);
    EXPECT_GE(age, 600);
    EXPECT_LT(age, 700);

    // The link goes down: the daemon still answers, BUSY.
    peer.close();
    ASSERT_TRUE(d.waitLog("Received SIGPIPE", 5000)) << d.log();
    r = status({});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("vornpms: Agilysys 2-way, link down, BUSY\n"), std::string::npos) << r.out;
}

// One line saying which part is down, and a status for monitoring checks.
TEST_F(StatusTool, DaemonOrDatabaseDown) {
    std::string config = readFile(d.configPath());
    TempDir dir;
    struct Case {
        std::string settings;  // in front of the daemon's own
        int want_status;
        std::string want;
    } cases[] = {
        {"CONTROLPORT=" + std::to_string(freeTcpPort()) + "\n", 2, "vornpms_status: the daemon does not answer on 127.0.0.1:"},
        {"DBNAME=no_such_database\n", 3, "vornpms_status: the database does not answer: "},
        {"CONTROLPORT=" + std::to_string(freeTcpPort()) + "\nDBNAME=no_such_database\n", 2,
         "vornpms_status: the daemon does not answer on 127.0.0.1:"},
    };
    for (const Case& c : cases) {
        std::string cfg = dir.write("status.cfg", c.settings + config);
        RunResult r = status({}, cfg);
        EXPECT_EQ(r.status, c.want_status) << r.out;
        EXPECT_EQ(r.out.rfind(c.want, 0), 0u) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;

        r = status({"--prometheus"}, cfg);
        EXPECT_EQ(r.status, c.want_status);
        EXPECT_EQ(r.err.rfind(c.want, 0), 0u) << r.err;
        bool daemon_down = c.want_status == 2;
        EXPECT_NE(r.out.find(daemon_down ? "\nvornpms_up 0\n" : "\nvornpms_up 1\n"), std::string::npos) << r.out;
        bool db_down = c.settings.find("DBNAME") != std::string::npos;
        EXPECT_NE(r.out.find(db_down ? "\nvornpms_database_up 0\n" : "\nvornpms_database_up 1\n"), std::string::npos)
            << r.out;
    }
    EXPECT_EQ(status({}, dir.path() + "/missing.cfg").status, 1);
}
