// The charge scan read in batches, and the statements prepared once per
// connection, against a real PostgreSQL server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db.h"
#include "logcapture.h"
#include "platform/log.h"
#include "pg_fixture.h"

namespace {

class DbBatches : public DbTestBase {
protected:
    void addCharges(int n, const std::string& amount = "1.5") {
        // Equal start times for some rows: the order among them is the server's.
        db_->exec("INSERT INTO session_info (ses_room_no, ses_psi_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, "
                  "ses_mac, ses_guest_no) SELECT '1' || (g % 7), 0, now() - interval '1 hour' + (g / 3) * "
                  "interval '1 s', now() + interval '1 hour', " + amount + ", 'm', 'G' FROM generate_series(1, " +
                  std::to_string(n) + ") g");
    }
    std::string prepared(const std::string& name) {
        // The daemon's own session sees its prepared statements; this asks
        // through that session.
        int64_t rows = 0, fields = 0;
        DbResult r = db_query(("SELECT count(*) FROM pg_prepared_statements WHERE name = '" + name + "'").c_str(),
                              &rows, &fields);
        return r ? vornDB_getStringData(r, 0, 0).value_or("") : "";
    }
};

// Whatever the batch size, the scan gives the rows of one SELECT, in its
// order, even while each row is marked posted as it comes.
class DbBatchSizes : public DbBatches, public ::testing::WithParamInterface<size_t> {};

TEST_P(DbBatchSizes, SameRowsSameOrderWhileMarking) {
    addCharges(23);
    int64_t listed = 0;
    auto whole = db_scan_unposted(&listed);
    ASSERT_TRUE(whole);
    ChargeScan scan;
    int64_t count = 0;
    ASSERT_TRUE(scan.open(&count, GetParam()));
    EXPECT_EQ(count, 23);
    std::vector<int64_t> seen;
    PMSPostInfo rec;
    while (scan.next(rec)) {
        seen.push_back(rec.db_seqno);
        EXPECT_EQ(db_mark_posted(rec, 1), 1);
    }
    std::vector<int64_t> expected;
    for (const auto& r : *whole) expected.push_back(r.db_seqno);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(db_->value("SELECT count(*) FROM session_info WHERE ses_posted_flag = 1"), "23");
    // The cursor is gone once the scan ends.
    EXPECT_EQ(db_->value("SELECT count(*) FROM pg_cursors"), "0");
}

INSTANTIATE_TEST_SUITE_P(Sizes, DbBatchSizes, ::testing::Values(1, 4, 23, 256));

TEST_F(DbBatches, EmptyScanAndTwoScansAtOnce) {
    ChargeScan empty;
    int64_t count = -1;
    ASSERT_TRUE(empty.open(&count));
    EXPECT_EQ(count, 0);
    PMSPostInfo rec;
    EXPECT_FALSE(empty.next(rec));

    // A scan started from a control request while another one runs has its own cursor.
    addCharges(3);
    ChargeScan a, b;
    ASSERT_TRUE(a.open(&count, 1));
    ASSERT_TRUE(b.open(&count, 1));
    int n = 0;
    while (a.next(rec) && b.next(rec)) ++n;
    EXPECT_EQ(n, 3);
}

// The repeated statements are prepared once per connection, and again on a
// new connection or when the server dropped them; the answers stay the same.
TEST_F(DbBatches, PreparedOncePerConnectionAndAfterLoss) {
    db_->exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101');"
              "INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_is_stale, pms_psi_no) "
              "VALUES ('101', 'G1', 'Smith', 0, 0)");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(db_room_is_occupied("101"), 1);
        EXPECT_EQ(db_room_is_occupied("102"), 0);
        EXPECT_EQ(db_room_is_occupied("1'01"), 0);
        EXPECT_EQ(db_get_guest_name("G1"), "Smith");
        EXPECT_EQ(db_find_guest_in_room("101", "G1"), 1);
        EXPECT_EQ(prepared("vornpms_room_occupied"), "1");
        int first = db_get_message_seq_no();
        EXPECT_EQ(db_get_message_seq_no(), first + 1);
        if (round == 0) reconnect("");
        if (round == 1) {
            ASSERT_GE(db_command("DEALLOCATE ALL"), 0);
        }
    }
    addCharges(1);
    int64_t count = 0;
    auto list = db_scan_unposted(&count);
    ASSERT_TRUE(list);
    ASSERT_EQ(count, 1);
    LogCapture log;
    VORN_MSG_DEBUG_LEVEL = 4;
    EXPECT_EQ(db_mark_posted((*list)[0], 1), 1);
    VORN_MSG_DEBUG_LEVEL = 0;
    // The debug line shows the statement with its values, as before.
    EXPECT_TRUE(log.contains("DB COMMAND: UPDATE session_info SET\tses_posted_flag = 1, \tses_posted_dt = 'now()' "
                             "WHERE  ses_seq_no = " + std::to_string((*list)[0].db_seqno)));
}

}  // namespace
