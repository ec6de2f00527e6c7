// Sessions at check-out and room moves, against a real PostgreSQL server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "db.h"
#include "logcapture.h"
#include "pg_fixture.h"

namespace {

class DbExpire : public DbTestBase {
protected:
    void SetUp() override {
        DbTestBase::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // One service set per expiry mode, numbered mode + 10.
        db_->exec("INSERT INTO service_sets (srs_seq_no, srs_expire_on_checkout) VALUES "
                  "(9, -1), (10, 0), (11, 1), (12, 2), (13, 3)");
    }
    // A session of room 101 bought from the service set of `mode`; its number.
    std::string session(int mode, const std::string& start, const std::string& expire, int pay = 4,
                        const std::string& guest = "G1", const std::string& orig = "") {
        return db_->value("INSERT INTO session_info (ses_room_no, ses_guest_no, ses_mac, ses_assigned_ip, ses_pay_no, "
                          "ses_srs_no, ses_reg_time_dt, ses_reg_expire_dt, ses_orig_expire_dt) VALUES ('101', '" +
                          guest + "', 'mac" + std::to_string(mode) + "', '10.0.0.1', " + std::to_string(pay) + ", " +
                          std::to_string(mode + 10) + ", " + start + ", " + expire + ", " +
                          (orig.empty() ? expire : orig) + ") RETURNING ses_seq_no");
    }
    // Seconds between a session's column and now (positive: ahead).
    long ahead(const std::string& seq, const char* column) {
        return std::stol(db_->value(std::string("SELECT round(extract(epoch from ") + column +
                                    " - now()))::bigint FROM session_info WHERE ses_seq_no = " + seq));
    }
};

TEST_F(DbExpire, ModesOfTheServiceSet) {
    std::string never = session(0, "now() - interval '1 hour'", "now() + interval '2 hours'");
    std::string now1 = session(1, "now() - interval '1 hour'", "now() + interval '2 hours'");
    std::string db3 = session(3, "now() - interval '1 hour'", "now() + interval '2 hours'");
    std::string global = session(-1, "now() - interval '1 hour'", "now() + interval '2 hours'");
    std::string card = session(1, "now() - interval '1 hour'", "now() + interval '2 hours'", 1);
    std::string pay32 = session(1, "now() - interval '1 hour'", "now() + interval '2 hours'", 32);

    LogCapture log;
    ASSERT_EQ(db_expire_on_checkout("101", "", 0), 1);
    EXPECT_GT(ahead(never, "ses_reg_expire_dt"), 7000);
    EXPECT_GT(ahead(global, "ses_reg_expire_dt"), 7000);  // -1 and EXPIRE_ON_CHECKOUT absent
    EXPECT_GT(ahead(card, "ses_reg_expire_dt"), 7000);    // paid another way: never selected
    for (const auto& seq : {now1, db3, pay32}) {
        EXPECT_LE(std::abs(ahead(seq, "ses_reg_expire_dt")), 2) << seq;
        EXPECT_LE(std::abs(ahead(seq, "ses_orig_expire_dt")), 2) << seq;
    }
    // The registration driver is told for mode 1, not for mode 3.
    EXPECT_EQ(log.count("vrdi_set_reg_expiry_time: mac [mac1]"), 2);
    EXPECT_EQ(log.count("vrdi_set_reg_expiry_time: mac [mac3]"), 0);

    // A repeated check-out finds only what is still running.
    log.clear();
    configure("EXPIRE_ON_CHECKOUT=1\n");
    ASSERT_EQ(db_expire_on_checkout("101", "", 0), 1);
    EXPECT_TRUE(log.contains("db_expire_on_checkout: Starting, global setting [1]"));
    EXPECT_TRUE(log.contains("db_expire_on_checkout: Found 2 records"));  // never and global
    EXPECT_LE(std::abs(ahead(global, "ses_reg_expire_dt")), 2);
    EXPECT_GT(ahead(never, "ses_reg_expire_dt"), 7000);
}

TEST_F(DbExpire, MidnightIsLocal) {
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "Asia/Kolkata", 1);  // +05:30 all year, unlike the server's zone
    tzset();
    reconnect("");
    const std::string midnight =
        "((date_trunc('day', now() AT TIME ZONE 'Asia/Kolkata') + interval '1 day') AT TIME ZONE 'Asia/Kolkata')";
    std::string later = session(2, "now() - interval '1 hour'", "now() + interval '3 days'");
    // A session that ends before midnight is not lengthened.
    std::string sooner = session(2, "now() - interval '1 hour'", "now() + (" + midnight + " - now()) / 2");
    std::string sooner_end = db_->value("SELECT ses_reg_expire_dt FROM session_info WHERE ses_seq_no = " + sooner);
    ASSERT_EQ(db_expire_on_checkout("101", "G1", 0), 1);
    EXPECT_EQ(db_->value("SELECT ses_reg_expire_dt = " + midnight + " AND ses_orig_expire_dt = " + midnight +
                         " FROM session_info WHERE ses_seq_no = " + later),
              "t");
    EXPECT_EQ(db_->value("SELECT abs(extract(epoch from ses_reg_expire_dt - '" + sooner_end +
                         "'::timestamptz)) < 1 FROM session_info WHERE ses_seq_no = " + sooner),
              "t");
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST_F(DbExpire, ExpiredUnstartedAndOtherGuests) {
    // Expired, but bought until later: only the bought expiry moves to now.
    std::string expired = session(1, "now() - interval '3 hours'", "now() - interval '1 hour'", 4, "G1",
                                  "now() + interval '5 hours'");
    // Bought for tomorrow: taken out of posting, its discount ignored.
    std::string tomorrow = session(1, "now() + interval '1 day'", "now() + interval '2 days'");
    std::string used_up = session(1, "now() + interval '1 day'", "now() + interval '2 days'");
    db_->exec("UPDATE session_info SET ses_posted_flag = 2 WHERE ses_seq_no = " + used_up);
    db_->exec("INSERT INTO pms_discount_log (pdl_ses_no) VALUES (" + tomorrow + ")");
    std::string other = session(1, "now() - interval '1 hour'", "now() + interval '2 hours'", 4, "G2");

    LogCapture log;
    ASSERT_EQ(db_expire_on_checkout("101", "G1", 1), 1);  // keep unstarted
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + tomorrow), "0");
    EXPECT_EQ(log.count("vrdi_set_reg_expiry_time:"), 0);  // nothing running of G1
    EXPECT_LE(std::abs(ahead(expired, "ses_orig_expire_dt")), 2);
    EXPECT_LT(ahead(expired, "ses_reg_expire_dt"), -3000);

    ASSERT_EQ(db_expire_on_checkout("101", "G1", 0), 1);
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + tomorrow), "3");
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + used_up), "2");
    EXPECT_GT(ahead(tomorrow, "ses_reg_expire_dt"), 80000);
    EXPECT_EQ(db_->value("SELECT pdl_ignore AND pdl_updated_dt IS NOT NULL FROM pms_discount_log"), "t");
    EXPECT_GT(ahead(other, "ses_reg_expire_dt"), 7000);  // another guest of the room

    // A quote in the room or guest number is escaped, not run.
    EXPECT_EQ(db_expire_on_checkout("101' OR '1'='1", "", 0), 1);
    EXPECT_GT(ahead(other, "ses_reg_expire_dt"), 7000);
}

TEST_F(DbExpire, MoveSessions) {
    std::string running = session(1, "now() - interval '1 hour'", "now() + interval '2 hours'");
    std::string future = session(1, "now() + interval '1 day'", "now() + interval '2 days'");
    std::string over = session(1, "now() - interval '3 hours'", "now() - interval '1 hour'");
    auto room = [&](const std::string& seq) {
        return db_->value("SELECT ses_room_no FROM session_info WHERE ses_seq_no = " + seq);
    };

    EXPECT_EQ(db_move_session_info("G1", "202"), 0);  // MOVE_SESSION_INFO_RECORDS absent
    configure("MOVE_SESSION_INFO_RECORDS=0\n");
    EXPECT_EQ(db_move_session_info("G1", "202"), 0);
    EXPECT_EQ(room(running), "101");

    configure("MOVE_SESSION_INFO_RECORDS=1\n");
    LogCapture log;
    EXPECT_EQ(db_move_session_info("", "202"), -1);
    EXPECT_EQ(db_move_session_info("G1", ""), -1);
    EXPECT_TRUE(log.contains("db_move_session_info: guest_no null"));
    EXPECT_TRUE(log.contains("db_move_session_info: new room null"));
    EXPECT_EQ(db_move_session_info("G1", "20'2"), 1);
    EXPECT_TRUE(log.contains("db_move_session_info: [1] records updated"));
    EXPECT_EQ(room(running), "20'2");
    EXPECT_EQ(room(future), "101");
    EXPECT_EQ(room(over), "101");
}

}  // namespace
