// FIAS guest events arriving from a scripted PMS: their effect on
// pms_guests and sessions, and the announcements they make.
#include <gtest/gtest.h>

#include "db.h"
#include "fias_env.h"
#include "logcapture.h"
#include "platform/mcast.h"
#include "vendor.h"

class FiasGuest : public FiasTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(start({.database = true,
                                       .mcast = true,
                                       .settings = "USER_STRINGS=1\nMOVE_SESSION_INFO_RECORDS=1\n"
                                                   "DEPARTURE_TIME_OFFSET=110000\n"}));
        selectVendor();
        db_->exec("INSERT INTO service_sets (srs_seq_no, srs_name, srs_expire_on_checkout) VALUES (1, 'day', 1)");
    }
    // The PMS sends a record; the daemon reads and dispatches it.
    int receive(const std::string& body) {
        pms_->sendRecord(body);
        std::string rec;
        if (vendor_current()->read_msg(rec) <= 0) return -1;
        return vendor_handle_data(rec);
    }
    McastEvent announcement() {
        McastEvent ev;
        std::string d = nextAnnouncement();
        EXPECT_TRUE(vornpmsmcast_decode(d, ev)) << d;
        return ev;
    }
    // A running room-billed session of the guest.
    std::string session(const std::string& room, const std::string& guest) {
        return db_->value(
            "INSERT INTO session_info (ses_room_no, ses_guest_no, ses_pay_no, ses_srs_no, ses_mac, ses_reg_time_dt, "
            "ses_reg_expire_dt, ses_orig_expire_dt) VALUES ('" +
            room + "', '" + guest +
            "', 4, 1, '00:11:22:33:44:55', now() - interval '1 hour', now() + interval '1 day', now() + interval '1 "
            "day') RETURNING ses_seq_no");
    }
    std::string current(const std::string& room) {
        return db_->value("SELECT string_agg(pms_guest_no, ',' ORDER BY pms_guest_no) FROM pms_guests WHERE pms_room "
                          "= '" + room + "' AND pms_is_stale = 0");
    }
};

TEST_F(FiasGuest, CheckInAndCheckOutOfOneGuestOrTheRoom) {
    std::string longText(100, 'u');
    ASSERT_EQ(receive("GI|RN101|G#55|GNSmith|GFJohn|GV3|GLEN|GG7|GA261201|GD261215|DA261201|TI120000|NP0|A1" +
                      longText + "|"),
              1);
    McastEvent ev = announcement();
    EXPECT_EQ(ev.code, MCAST_CHECKIN);
    EXPECT_EQ(ev.last, "Smith");
    EXPECT_EQ(ev.room, "101");
    auto row = db_->rows(
        "SELECT pms_name_first, pms_vip_status, pms_language, pms_guest_group_no, to_char(pms_arrival_dt, "
        "'YYYY-MM-DD HH24:MI:SS'), to_char(pms_depart_dt, 'YYYY-MM-DD HH24:MI:SS'), pms_no_post, pms_user_1 FROM "
        "pms_guests WHERE pms_guest_no = '55'");
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(row[0], (std::vector<std::string>{"John", "3", "EN", "7", "2026-12-01 00:00:00", "2026-12-15 11:00:00",
                                                "0", std::string(79, 'u')}));

    // A swap-flagged check-in replaces the guest's current record.
    ASSERT_EQ(receive("GI|RN101|G#55|GNSmith|GFJohn|GA261201|GD261216|DA261201|TI120000|SF|"), 1);
    EXPECT_EQ(announcement().code, MCAST_CHECKOUT);
    EXPECT_EQ(announcement().code, MCAST_CHECKIN);
    EXPECT_EQ(current("101"), "55");

    ASSERT_EQ(receive("GI|RN101|G#56|GNSmith|GFJane|GA261201|GD261215|DA261201|TI120100|"), 1);
    announcement();
    // The same check-in again (its ACK was lost) changes the guest, not adds him.
    ASSERT_EQ(receive("GI|RN101|G#56|GNSmith|GFJanet|GA261201|GD261215|DA261201|TI120100|"), 1);
    EXPECT_EQ(announcement().code, MCAST_GUEST_CHANGE);
    EXPECT_EQ(current("101"), "55,56");
    EXPECT_EQ(db_->value("SELECT pms_name_first FROM pms_guests WHERE pms_guest_no = '56' AND pms_is_stale = 0"),
              "Janet");
    std::string s55 = session("101", "55"), s56 = session("101", "56");

    // A sharer checks out alone; the guest's session ends now.
    ASSERT_EQ(receive("GO|RN101|G#55|GSY|DA261215|TI100000|"), 1);
    EXPECT_EQ(announcement().code, MCAST_CHECKOUT);
    EXPECT_EQ(current("101"), "56");
    EXPECT_EQ(db_->value("SELECT ses_reg_expire_dt <= now() FROM session_info WHERE ses_seq_no = " + s55), "t");
    EXPECT_EQ(db_->value("SELECT ses_reg_expire_dt <= now() FROM session_info WHERE ses_seq_no = " + s56), "f");

    // Without GS the whole room checks out.
    ASSERT_EQ(receive("GO|RN101|G#56|DA261215|TI100100|"), 1);
    EXPECT_EQ(announcement().code, MCAST_CHECKOUT);
    EXPECT_EQ(current("101"), "<null>");
    EXPECT_EQ(db_->value("SELECT ses_reg_expire_dt <= now() FROM session_info WHERE ses_seq_no = " + s56), "t");

    // Dates that do not convert refuse the record.
    LogCapture log;
    EXPECT_EQ(receive("GI|RN103|G#57|GNLate|GA2612|GD261215|DA261201|TI120000|"), 0);
    EXPECT_TRUE(log.contains("Error converting date/time values from the PMS to local datebase values!"));
    EXPECT_EQ(current("103"), "<null>");

    // A garbled date in a swap-flagged check-in leaves the guest checked in.
    ASSERT_EQ(receive("GI|RN104|G#58|GNKeep|GA261201|GD261215|DA261201|TI120000|"), 1);
    announcement();
    EXPECT_EQ(receive("GI|RN104|G#58|GNKeep|GA2612x1|GD261215|DA261201|TI120000|SF|"), 0);
    EXPECT_EQ(current("104"), "58");
    EXPECT_EQ(receive("GI|RN104|G#58|GNKeep|GA301332|GD261215|DA261201|TI120000|SF|"), 0);
    EXPECT_EQ(current("104"), "58");
}

TEST_F(FiasGuest, TextsTheDatabaseCannotStoreRefuseTheRecord) {
    LogCapture log;
    // Latin-1 (the default PMS_CHARSET) is stored as UTF-8.
    ASSERT_EQ(receive("GI|RN101|G#55|GNM\xfc" "ller|GFJ\xf6" "rg|GA261201|GD261215|DA261201|TI120000|"), 1);
    announcement();
    EXPECT_EQ(db_->value("SELECT pms_name_last || ' ' || pms_name_first FROM pms_guests WHERE pms_guest_no = '55'"),
              "M\xc3\xbc" "ller J\xc3\xb6" "rg");

    // Texts too long to escape: the record is refused, nothing changes.
    const std::string huge(40000, '7');
    EXPECT_EQ(receive("GI|RN" + huge + "|G#56|GNLong|GA261201|GD261215|DA261201|TI120000|"), 0);
    EXPECT_TRUE(log.contains("Refusing guest record: field RN is too long to store (40000 bytes)"));
    EXPECT_EQ(receive("GI|RN101|G#55|GN" + huge + "|GA261201|GD261215|DA261201|TI120000|SF|"), 0);
    EXPECT_EQ(receive("GC|RN" + huge + "|RO101|G#55|"), 0);
    EXPECT_TRUE(log.contains("Refusing room move: field RN is too long to store (40000 bytes)"));
    EXPECT_EQ(receive("GO|RN101|G#" + huge + "|GSY|"), 0);
    EXPECT_EQ(db_->value("SELECT pms_room || '/' || pms_name_last FROM pms_guests WHERE pms_is_stale = 0"),
              "101/M\xc3\xbc" "ller");
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests"), "1");
}

TEST_F(FiasGuest, GuestChangeUpdatesAddsOrMovesTheRoom) {
    LogCapture log;
    // Unknown guest: treated as a check-in.
    ASSERT_EQ(receive("GC|RN201|G#60|GNBrown|GFAnn|GA261201|GD261210|DA261201|TI090000|"), 1);
    EXPECT_EQ(announcement().code, MCAST_CHECKIN);
    EXPECT_TRUE(log.contains("Unable to find occupancy information for room '201', guest '60', treating GC as GI"));

    // Known guest: updated in place.
    ASSERT_EQ(receive("GC|RN201|G#60|GNBrown-Smith|GFAnn|GA261201|GD261212|DA261202|TI090000|"), 1);
    EXPECT_EQ(announcement().code, MCAST_GUEST_CHANGE);
    EXPECT_EQ(db_->value("SELECT pms_name_last FROM pms_guests WHERE pms_guest_no = '60' AND pms_is_stale = 0"),
              "Brown-Smith");

    // Room move: only the room changes, the session follows, and the
    // announcement carries arrival and departure from GA/GD.
    std::string s60 = session("201", "60");
    ASSERT_EQ(receive("GC|RN305|RO201|G#60|GNIgnored|GFAnn|GA261201|GD261212|DA261203|TI090000|"), 1);
    McastEvent ev = announcement();
    EXPECT_EQ(ev.code, MCAST_GUEST_CHANGE);
    EXPECT_EQ(ev.room, "305");
    EXPECT_EQ(ev.prev_room, "201");
    EXPECT_EQ(ev.last, "Ignored");
    EXPECT_EQ(ev.arrival, vornpmsmcast_convert_timestamp_to_int("2026-12-01 00:00:00"));
    EXPECT_EQ(ev.departure, vornpmsmcast_convert_timestamp_to_int("2026-12-12 11:00:00"));
    EXPECT_EQ(db_->value("SELECT pms_room || '/' || pms_name_last FROM pms_guests WHERE pms_guest_no = '60' AND "
                         "pms_is_stale = 0"),
              "305/Brown-Smith");
    EXPECT_EQ(db_->value("SELECT ses_room_no FROM session_info WHERE ses_seq_no = " + s60), "305");

    // A move that does not name its guest changes nothing.
    EXPECT_EQ(receive("GC|RN401|RO305|GFAnn|"), 2);
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests WHERE pms_room = '401'"), "0");

    // Without GA/GD the move announces 0.
    ASSERT_EQ(receive("GC|RN306|RO305|G#60|GFAnn|GNBrown-Smith|"), 1);
    ev = announcement();
    EXPECT_EQ(ev.arrival, 0);
    EXPECT_EQ(ev.departure, 0);
}

TEST_F(FiasGuest, ClassOfServiceMessagesAndFolioUpdates) {
    ASSERT_EQ(receive("GI|RN101|G#55|GNSmith|GA261201|GD261215|DA261201|TI120000|"), 1);
    announcement();
    LogCapture log;
    EXPECT_EQ(receive("RE|RN101|CS2|"), 1);
    EXPECT_EQ(db_->value("SELECT pms_class_of_service FROM pms_guests WHERE pms_room = '101'"), "2");
    // Only a number may stand unquoted in the statement.
    EXPECT_EQ(receive("RE|RN101|CS0; DELETE FROM pms_guests|"), 2);
    EXPECT_EQ(db_->value("SELECT pms_class_of_service FROM pms_guests WHERE pms_room = '101'"), "2");
    EXPECT_EQ(receive("RE|RN101|CS|"), 2);
    EXPECT_EQ(receive("RE|CS3|"), 2);
    EXPECT_EQ(receive("RE|RN999|CS3|"), 1);
    EXPECT_TRUE(log.contains("no rows updated by"));

    // XL: the text in five pieces of at most 79 characters.
    std::string text = std::string(79, 'a') + std::string(79, 'b') + std::string(42, 'c');
    ASSERT_EQ(receive("XL|RN101|G#55|MI17|MT" + text + "|DA261201|TI120000|"), 1);
    McastEvent ev = announcement();
    EXPECT_EQ(ev.code, MCAST_MESSAGE);
    EXPECT_EQ(ev.first, std::string(79, 'a'));
    EXPECT_EQ(ev.last, std::string(79, 'b'));
    EXPECT_EQ(ev.group, std::string(42, 'c'));
    EXPECT_EQ(ev.vip, "");
    EXPECT_EQ(ev.language, "");
    EXPECT_EQ(ev.prev_room, "17");
    EXPECT_EQ(ev.guest_no, "55");
    EXPECT_EQ(receive("XL|MI18|MTno one|"), 2);

    ASSERT_EQ(receive("XO|RN101|G#55|BDMinibar|BI450|BA12000|"), 1);
    ev = announcement();
    EXPECT_EQ(ev.code, MCAST_FOLIO);
    EXPECT_EQ(ev.first, "Minibar");
    EXPECT_EQ(ev.last, "450");
    EXPECT_EQ(ev.group, "12000");
    EXPECT_EQ(ev.room, "101");
    EXPECT_EQ(receive("XO|BDMinibar|"), 2);
    EXPECT_FALSE(mcast_->next(200));
}
