// The unposted-charge scan and the posted marks, against a real PostgreSQL server.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "db.h"
#include "logcapture.h"
#include "pg_fixture.h"

namespace {

class DbCharges : public DbTestBase {
protected:
    // A room-billed session of room `room`, started `start` and expiring
    // `expire` (SQL expressions); its sequence number.
    std::string addSession(const std::string& room, const std::string& start, const std::string& expire,
                           int psi = 0) {
        return db_->value("INSERT INTO session_info (ses_room_no, ses_psi_no, ses_reg_time_dt, ses_reg_expire_dt, "
                          "ses_amount, ses_mac, ses_guest_no, ses_port_id, ses_wired_for_bus) VALUES ('" +
                          room + "', " + std::to_string(psi) + ", " + start + ", " + expire +
                          ", 9.95, '00:11:22:33:44:55', 'G" + room + "', 7, 1) RETURNING ses_seq_no");
    }
    std::vector<std::string> scannedRooms() {
        int64_t count = -1;
        auto list = db_scan_unposted(&count);
        EXPECT_TRUE(list.has_value());
        std::vector<std::string> rooms;
        if (!list) return rooms;
        EXPECT_EQ(count, static_cast<int64_t>(list->size()));
        for (const auto& r : *list) rooms.push_back(r.room);
        std::sort(rooms.begin(), rooms.end());
        return rooms;
    }
};

using Rooms = std::vector<std::string>;

TEST_F(DbCharges, ScanFillsRecordsOfThisInstanceOnly) {
    std::string seq = addSession("101", "timestamptz '2024-05-01 10:00:00+00'", "timestamptz '2024-05-01 12:00:00+00'");
    addSession("999", "now() - interval '1 hour'", "now() + interval '1 hour'", 5);
    db_->exec("INSERT INTO session_info (ses_room_no, ses_posted_flag, ses_reg_time_dt, ses_reg_expire_dt) "
              "VALUES ('102', 1, now() - interval '1 hour', now())");
    LogCapture log;
    int64_t count = 0;
    auto list = db_scan_unposted(&count);
    ASSERT_TRUE(list);
    ASSERT_EQ(count, 1);
    const PMSPostInfo& r = (*list)[0];
    EXPECT_EQ(std::to_string(r.db_seqno), seq);
    EXPECT_EQ(r.ses_seq_no, r.db_seqno);
    EXPECT_EQ(r.start_time, 1714557600);
    EXPECT_EQ(r.end_time, 1714564800);
    EXPECT_EQ(r.duration, 7200);
    EXPECT_EQ(r.room, "101");
    EXPECT_FLOAT_EQ(r.charge, 9.95f);
    EXPECT_EQ(r.mac, "00:11:22:33:44:55");
    EXPECT_EQ(r.port_id, 7);
    EXPECT_EQ(r.wired_flag, 1);
    EXPECT_EQ(r.guest_no, "G101");
    EXPECT_EQ(r.description, "Standard Internet Service");
    EXPECT_EQ(r.type, PMS_POST_TYPE_STANDARD);
    EXPECT_TRUE(log.contains("Found total of 1 records requiring posting"));
    EXPECT_TRUE(log.contains("Found '1' stand, '0' byte, '0' time, '0' aux, '0' uqb, '0' gbq"));

    reconnect("PSI_NO=5\n");
    EXPECT_EQ(scannedRooms(), Rooms{"999"});
}

TEST_F(DbCharges, CutOffs) {
    addSession("old", "now() - interval '12 days'", "now() - interval '10 days'");
    addSession("day", "now() - interval '30 hours'", "now() - interval '23 hours'");
    addSession("min4", "now() - interval '1 hour'", "now() - interval '4 minutes'");
    addSession("min6", "now() - interval '1 hour'", "now() - interval '6 minutes'");
    addSession("live", "now() - interval '1 hour'", "now() + interval '1 hour'");

    LogCapture log;
    EXPECT_EQ(scannedRooms(), (Rooms{"day", "live", "min4", "min6", "old"}));  // POSTEXPIRED absent
    EXPECT_TRUE(log.contains("DB Scan: posting expired records 1971-01-01 12:00:00"));
    configure("POSTEXPIRED=1\n");
    EXPECT_EQ(scannedRooms().size(), 5u);
    configure("POSTEXPIRED=0\nPOSTDELAY=300\n");
    EXPECT_EQ(scannedRooms(), (Rooms{"live", "min4"}));
    EXPECT_TRUE(log.contains("DB Scan: posting non-expired records "));
    configure("POSTEXPIRED=24\n");
    EXPECT_EQ(scannedRooms(), (Rooms{"day", "live", "min4", "min6"}));
    EXPECT_TRUE(log.contains("DB Scan: posting expired records newer then "));
}

TEST_F(DbCharges, EffectiveClauseAndCustomWhere) {
    addSession("now", "now() - interval '1 hour'", "now() + interval '1 hour'");
    addSession("later", "now() + interval '1 day'", "now() + interval '2 days'");
    EXPECT_EQ(scannedRooms(), Rooms{"now"});
    configure("POST_ONLY_EFFECTIVE=1\n");
    EXPECT_EQ(scannedRooms(), Rooms{"now"});
    configure("POST_ONLY_EFFECTIVE=0\n");
    EXPECT_EQ(scannedRooms(), (Rooms{"later", "now"}));

    // '#' in the file stands for a quote.
    configure("POST_ONLY_EFFECTIVE=0\nSESSION_INFO_CUSTOM_WHERE=and s.ses_room_no = #later#\n");
    EXPECT_EQ(scannedRooms(), Rooms{"later"});
    // Only the first 199 characters count: what follows would break the statement.
    std::string clause = "and s.ses_room_no <> #now#";
    clause += std::string(199 - clause.size(), ' ') + "garbage that is cut off ###";
    configure("POST_ONLY_EFFECTIVE=0\nSESSION_INFO_CUSTOM_WHERE=" + clause + "\n");
    EXPECT_EQ(scannedRooms(), Rooms{"later"});
}

TEST_F(DbCharges, MarkSessionRecords) {
    auto list = [&] {
        addSession("101", "now() - interval '1 hour'", "now()");
        return *db_scan_unposted(nullptr);
    }();
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(db_mark_posted(list[0], 1), 1);
    std::string where = " FROM session_info WHERE ses_seq_no = " + std::to_string(list[0].db_seqno);
    EXPECT_EQ(db_->value("SELECT ses_posted_flag" + where), "1");
    EXPECT_EQ(db_->value("SELECT ses_posted_dt IS NOT NULL" + where), "t");
    EXPECT_TRUE(db_scan_unposted(nullptr)->empty());

    // A refused charge (Regal) stores the flag the caller passes; SESSION marks like STANDARD.
    PMSPostInfo session = list[0];
    session.type = PMS_POST_TYPE_SESSION;
    ASSERT_EQ(db_mark_posted(session, 4), 1);
    EXPECT_EQ(db_->value("SELECT ses_posted_flag" + where), "4");

    LogCapture log;
    db_->exec("DELETE FROM session_info");
    EXPECT_EQ(db_mark_posted(list[0], 1), 0);
    EXPECT_TRUE(log.contains("Error updating record as posted! Type = 1"));
    PMSPostInfo control;  // built on the control port: type 0
    EXPECT_EQ(db_mark_posted(control, 1), 0);
    EXPECT_TRUE(log.contains("Invalid type for DB post record!?!"));
}

TEST_F(DbCharges, MarkQueueRecords) {
    struct Case {
        int type;
        const char* table;
        const char* prefix;
    };
    for (Case c : {Case{PMS_POST_TYPE_AUX, "aux_service_info", "asi"},
                   Case{PMS_POST_TYPE_UNRATED, "unrated_billing_queue", "ubq"},
                   Case{PMS_POST_TYPE_GENERIC, "generic_billing_queue", "gbq"}}) {
        std::string p = c.prefix;
        std::string seq = db_->value(std::string("INSERT INTO ") + c.table + " (" + p + "_amount) VALUES (1), (2) RETURNING " +
                                     p + "_seq_no");
        PMSPostInfo rec;
        rec.type = c.type;
        rec.db_seqno = std::stol(seq);
        ASSERT_EQ(db_mark_posted(rec, 1), 1) << c.table;
        EXPECT_EQ(db_->value("SELECT string_agg(" + p + "_posted_flag::text, ',' ORDER BY " + p + "_seq_no) FROM " +
                             c.table),
                  "1,0")
            << c.table;
    }
}

TEST_F(DbCharges, MarkUsageRecordsAndLimit) {
    std::string ses = addSession("101", "now() - interval '1 hour'", "now() + interval '1 hour'");
    db_->exec("INSERT INTO user_status (usr_ses_seq_no) VALUES (" + ses + ")");
    std::vector<std::string> traffic;
    for (int i = 0; i < 3; ++i)
        traffic.push_back(db_->value("INSERT INTO session_traffic (str_ses_seq_no, str_amount) VALUES (" + ses +
                                     ", 1) RETURNING str_seq_no"));

    // Marking the second byte record marks every earlier unposted one of the session.
    PMSPostInfo rec;
    rec.type = PMS_POST_TYPE_BYTE;
    rec.db_seqno = std::stol(traffic[1]);
    rec.ses_seq_no = std::stoi(ses);
    rec.charge = 1;
    rec.posted_amount = 2;
    rec.posted_limit = 3;
    ASSERT_EQ(db_mark_posted(rec, 1), 1);
    EXPECT_EQ(db_->value("SELECT string_agg(str_posted_flag::text, ',' ORDER BY str_seq_no) FROM session_traffic"),
              "1,1,0");
    EXPECT_EQ(db_->value("SELECT usr_posted_amount FROM user_status"), "2");
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info"), "0");

    // The third reaches the limit: the session is used up (flag 2).
    rec.db_seqno = std::stol(traffic[2]);
    rec.posted_amount = 3;
    ASSERT_EQ(db_mark_posted(rec, 1), 1);
    EXPECT_EQ(db_->value("SELECT usr_posted_amount FROM user_status"), "3");
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info"), "2");

    // Time records the same way, on sub_session_info; no user_status row is a failure.
    std::string sub = db_->value("INSERT INTO sub_session_info (ssi_ses_seq_no) VALUES (" + ses +
                                 ") RETURNING ssi_seq_no");
    rec.type = PMS_POST_TYPE_TIME;
    rec.db_seqno = std::stol(sub);
    rec.posted_amount = 1;
    ASSERT_EQ(db_mark_posted(rec, 1), 1);
    EXPECT_EQ(db_->value("SELECT ssi_posted_flag FROM sub_session_info"), "1");
    db_->exec("DELETE FROM user_status");
    db_->exec("UPDATE sub_session_info SET ssi_posted_flag = 0");
    LogCapture log;
    EXPECT_EQ(db_mark_posted(rec, 1), 0);
    EXPECT_TRUE(log.contains("Error updating user_status total = 2.000000, ses_seq_no = " + ses));
}

}  // namespace
