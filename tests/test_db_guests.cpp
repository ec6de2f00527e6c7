// Guest occupancy rows, the room list and the announcements of each change,
// against a real PostgreSQL server and a multicast listener on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "netutil.h"
#include "db.h"
#include "logcapture.h"
#include "pg_fixture.h"
#include "platform/mcast.h"

namespace {

PmsGuest sampleGuest() {
    PmsGuest g;
    g.room = "101";
    g.guest_no = "4711";
    g.first = "Ann";
    g.last = "O'Brien";
    g.vip = "3";
    g.language = "EA";
    g.group = "G7";
    g.arrival = "2024-05-01 14:00:00";
    g.departure = "2024-05-03 11:00:00";
    g.created = "2024-05-01 13:59:00";
    g.no_post = "N";
    return g;
}

class DbGuests : public DbTestBase {
protected:
    void SetUp() override {
        DbTestBase::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        port_ = std::to_string(freeUdpPort());
        reconnect(settings(""));
        listener_ = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", std::stoi(port_));
        ASSERT_GE(listener_, 0);
        ASSERT_EQ(vornpmsmcast_init_client(kMcastGroup, "127.0.0.1"), 0);
    }
    void TearDown() override {
        vornpmsmcast_close_client();
        if (listener_ >= 0) close(listener_);
        DbTestBase::TearDown();
    }
    std::string settings(const std::string& extra) { return "PMSMCAST_PORT=" + port_ + "\n" + extra; }
    // The next announcement, or code 0 after the time-out.
    McastEvent receive(int timeout_ms = 2000) {
        McastEvent ev;
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) return ev;
        char buf[2048];
        ssize_t n = recv(listener_, buf, sizeof buf, 0);
        if (n <= 0 || !vornpmsmcast_decode(std::string(buf, static_cast<size_t>(n)), ev)) ev.code = -1;
        return ev;
    }
    std::string guestRow(const std::string& columns) {
        auto r = db_->rows("SELECT " + columns + " FROM pms_guests ORDER BY pms_seq_no DESC LIMIT 1");
        std::string out;
        for (const auto& v : r.empty() ? std::vector<std::string>{} : r[0]) out += (out.empty() ? "" : "|") + v;
        return out;
    }
    std::string roomList(const std::string& room) {
        return db_->value("SELECT prl_occupied FROM pms_room_list WHERE prl_room = '" + room + "'");
    }

    std::string port_;
    int listener_ = -1;
};

TEST_F(DbGuests, CheckInStoresEscapedAndAnnouncesUnescaped) {
    reconnect(settings("PSI_NO=3\n"));
    PmsGuest g = sampleGuest();
    ASSERT_EQ(db_pms_guests_add(g), 1);
    EXPECT_EQ(guestRow("pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_vip_status, pms_language, "
                       "pms_guest_group_no, pms_is_stale, pms_no_post, pms_psi_no, pms_user_0"),
              "101|4711|Ann|O'Brien|3|EA|G7|0|N|3|<null>");
    EXPECT_EQ(guestRow("pms_arrival_dt = timestamp '2024-05-01 14:00:00', pms_created_dt IS NOT NULL"), "t|t");
    EXPECT_EQ(roomList("101"), "1");

    McastEvent ev = receive();
    EXPECT_EQ(ev.code, MCAST_CHECKIN);
    EXPECT_EQ(ev.last, "O'Brien");
    EXPECT_EQ(ev.first, "Ann");
    EXPECT_EQ(ev.guest_no, "4711");
    EXPECT_EQ(ev.room, "101");
    EXPECT_EQ(ev.group, "G7");
    EXPECT_EQ(ev.vip, "3");
    EXPECT_EQ(ev.language, "EA");
    EXPECT_EQ(ev.arrival, vornpmsmcast_convert_timestamp_to_int("2024-05-01 14:00:00"));
    EXPECT_EQ(ev.departure, vornpmsmcast_convert_timestamp_to_int("2024-05-03 11:00:00"));

    // Values the vendor takes from the PMS as they are are escaped all the same.
    g.no_post = "Y'); DROP TABLE pms_guests; --";
    g.resort_fee = "it's";
    ASSERT_EQ(db_pms_guests_add(g), 1);
    EXPECT_EQ(guestRow("pms_no_post, pms_resort_fee"), "Y'); DROP TABLE pms_guests; --|it's");
}

TEST_F(DbGuests, MissingDatesAreStoredAsNull) {
    PmsGuest g = sampleGuest();
    g.arrival.clear();
    g.created.clear();
    ASSERT_EQ(db_pms_guests_add(g), 1);
    EXPECT_EQ(guestRow("pms_arrival_dt, pms_created_dt, pms_depart_dt IS NOT NULL"), "<null>|<null>|t");
    EXPECT_EQ(receive().arrival, 0);
    g.departure.clear();
    ASSERT_EQ(db_pms_guests_update(g), 1);
    EXPECT_EQ(guestRow("pms_depart_dt"), "<null>");
}

TEST_F(DbGuests, UserStringsSetting) {
    PmsGuest g = sampleGuest();
    g.user[0] = "zero";
    g.user[9] = "ni'ne";
    g.user_count = 10;
    struct Case {
        const char* setting;
        int count;
        bool stored;
    };
    for (Case c : {Case{nullptr, 10, false}, Case{"no", 10, false}, Case{"No", 10, false},
                   Case{"FALSE", 10, false}, Case{"false", 10, false}, Case{"0", 10, false}, Case{"yes", 10, true},
                   Case{"1", 10, true}, Case{"yes", -1, false}}) {
        reconnect(settings(c.setting ? std::string("USER_STRINGS=") + c.setting + "\n" : ""));
        g.user_count = c.count;
        ASSERT_EQ(db_pms_guests_add(g), 1);
        EXPECT_EQ(guestRow("pms_user_0, pms_user_5, pms_user_9"), c.stored ? "zero||ni'ne" : "<null>|<null>|<null>")
            << (c.setting ? c.setting : "(absent)") << " " << c.count;
        g.user[0] = "changed";
        ASSERT_EQ(db_pms_guests_update(g), 1);
        EXPECT_EQ(guestRow("pms_user_0"), c.stored ? "changed" : "<null>")
            << (c.setting ? c.setting : "(absent)") << " " << c.count;
        g.user[0] = "zero";
    }
}

TEST_F(DbGuests, UpdateRewritesCurrentRowAndAnnounces) {
    PmsGuest g = sampleGuest();
    ASSERT_EQ(db_pms_guests_add(g), 1);
    receive();
    g.last = "Smith";
    g.vip = "";
    g.departure = "2024-05-04 11:00:00";
    ASSERT_EQ(db_pms_guests_update(g), 1);
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests"), "1");
    EXPECT_EQ(guestRow("pms_name_last, pms_vip_status, pms_depart_dt = timestamp '2024-05-04 11:00:00'"),
              "Smith||t");
    McastEvent ev = receive();
    EXPECT_EQ(ev.code, MCAST_GUEST_CHANGE);
    EXPECT_EQ(ev.last, "Smith");
    // No matching row: still a success, still announced.
    g.guest_no = "9999";
    ASSERT_EQ(db_pms_guests_update(g), 1);
    EXPECT_EQ(receive().code, MCAST_GUEST_CHANGE);
}

TEST_F(DbGuests, PartialUpdate) {
    PmsGuest g = sampleGuest();
    ASSERT_EQ(db_pms_guests_add(g), 1);
    receive();

    LogCapture log;
    PmsGuest p;
    p.room = "101";
    p.last = "Smith";
    ASSERT_EQ(db_pms_guests_partial_update(p), 1);
    EXPECT_TRUE(log.contains("db_pms_guests_partial_update: sql [UPDATE pms_guests set pms_name_last = 'Smith'  "
                             "WHERE pms_room = '101' and pms_is_stale = 0 and pms_psi_no = 0]"));
    EXPECT_EQ(guestRow("pms_name_first, pms_name_last, pms_vip_status"), "Ann|Smith|3");
    McastEvent ev = receive();
    EXPECT_EQ(ev.code, MCAST_GUEST_CHANGE);
    EXPECT_EQ(ev.last, "Smith");
    EXPECT_EQ(ev.first, "");

    // The language goes to pms_language; user strings are cut at 520 characters.
    p = PmsGuest();
    p.room = "101";
    p.guest_no = "4711";
    p.language = "DE";
    p.user[2] = std::string(600, 'u');
    ASSERT_EQ(db_pms_guests_partial_update(p), 1);
    EXPECT_EQ(guestRow("pms_language, length(pms_user_2)"), "DE|520");
    receive();
    p.guest_no = "other";
    p.language = "FR";
    ASSERT_EQ(db_pms_guests_partial_update(p), 1);
    EXPECT_EQ(guestRow("pms_language"), "DE");
    receive();

    // Nothing to write: the statement fails and nothing is announced.
    p = PmsGuest();
    p.room = "101";
    EXPECT_EQ(db_pms_guests_partial_update(p), 0);
    EXPECT_EQ(receive(300).code, 0);
    p.room.clear();
    EXPECT_EQ(db_pms_guests_partial_update(p), 0);
}

TEST_F(DbGuests, CheckOuts) {
    PmsGuest a = sampleGuest();
    PmsGuest b = sampleGuest();
    b.guest_no = "4712";
    b.departure = "2999-01-01 11:00:00";  // still ahead
    ASSERT_EQ(db_pms_guests_add(a), 1);
    ASSERT_EQ(db_pms_guests_add(b), 1);
    receive();
    receive();

    // Only departed guests: the one still due stays, the room is announced all the same.
    ASSERT_EQ(db_pms_guests_mark_room_stale("101", 1), 1);
    EXPECT_EQ(db_->value("SELECT string_agg(pms_guest_no || ':' || pms_is_stale, ',' ORDER BY pms_seq_no) FROM "
                         "pms_guests"),
              "4711:1,4712:0");
    McastEvent ev = receive();
    EXPECT_EQ(ev.code, MCAST_CHECKOUT);
    EXPECT_EQ(ev.room, "101");
    EXPECT_EQ(ev.guest_no, "");
    EXPECT_EQ(roomList("101"), "0");

    ASSERT_EQ(db_pms_guests_mark_guest_stale("101", "4712"), 1);
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "0");
    ev = receive();
    EXPECT_EQ(ev.code, MCAST_CHECKOUT);
    EXPECT_EQ(ev.guest_no, "4712");

    // Another instance's rows are not touched.
    ASSERT_EQ(db_pms_guests_add(a), 1);
    reconnect(settings("PSI_NO=2\n"));
    ASSERT_EQ(db_pms_guests_add(b), 1);
    ASSERT_EQ(db_pms_guests_mark_room_stale("101", 0), 1);
    EXPECT_EQ(db_->value("SELECT string_agg(pms_psi_no::text, ',') FROM pms_guests WHERE pms_is_stale = 0"), "0");
    reconnect(settings(""));
    ASSERT_EQ(db_pms_guests_set_no_post("101", "Y"), 1);
    EXPECT_EQ(guestRow("pms_no_post"), "N");  // newest row belongs to instance 2
    EXPECT_EQ(db_->value("SELECT pms_no_post FROM pms_guests WHERE pms_is_stale = 0"), "Y");
    ASSERT_EQ(db_pms_guests_mark_all_stale(), 1);
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests WHERE pms_is_stale = 0"), "0");
}

TEST_F(DbGuests, Questions) {
    db_->exec("INSERT INTO port_room_status VALUES ('101')");
    PmsGuest a = sampleGuest();
    PmsGuest b = sampleGuest();
    b.guest_no = "1000";
    b.first = "";
    b.last = "";
    ASSERT_EQ(db_pms_guests_add(a), 1);
    ASSERT_EQ(db_pms_guests_add(b), 1);
    PmsGuest elsewhere = sampleGuest();
    elsewhere.room = "102";
    ASSERT_EQ(db_pms_guests_add(elsewhere), 1);

    EXPECT_EQ(db_find_guest_in_room("101", "4711"), 1);
    EXPECT_EQ(db_find_guest_in_room("101", ""), 1);
    EXPECT_EQ(db_find_guest_in_room("101", "nobody"), 0);
    EXPECT_EQ(db_find_guest_in_room("", "4711"), 0);

    EXPECT_EQ(db_is_guest_in_room("101", "Ann", "O'Brien"), 1);
    EXPECT_EQ(db_is_guest_in_room("101", "", "O'Brien"), 1);
    EXPECT_EQ(db_is_guest_in_room("101", "Ann", "o'brien"), 0);
    EXPECT_EQ(db_is_guest_in_room("101", "", ""), 1);  // matches only the guest without a name
    EXPECT_EQ(db_is_guest_in_room("102", "", ""), 0);
    EXPECT_EQ(db_is_guest_in_room("101", "", std::string(200, 'x')), 0);

    EXPECT_EQ(db_room_is_occupied("101"), 1);
    EXPECT_EQ(db_room_is_occupied("102"), 0);  // not in the port list
    EXPECT_EQ(db_room_is_occupied(""), -1);

    EXPECT_EQ(db_get_last_occupant("101").value_or("-"), "1000");
    EXPECT_EQ(db_get_first_guest_in_room("101").value_or("-"), "1000");
    EXPECT_EQ(db_get_guest_name("4711").value_or("-"), "O'Brien");
    EXPECT_EQ(db_get_guest_vip_status("101", "4711").value_or("-"), "3");
    EXPECT_FALSE(db_get_guest_vip_status("101", ""));
    EXPECT_FALSE(db_get_last_occupant("999"));

    std::vector<std::string> items;
    EXPECT_EQ(db_get_room_info("101", "^", items), 2);
    ASSERT_EQ(items.size(), 2u);
    std::string arrival = std::to_string(vornpmsmcast_convert_timestamp_to_int("2024-05-01 14:00:00"));
    std::string departure = std::to_string(vornpmsmcast_convert_timestamp_to_int("2024-05-03 11:00:00"));
    EXPECT_EQ(items[0], "4711^Ann^O'Brien^3^EA^" + arrival + "^" + departure);
    EXPECT_EQ(items[1], "1000^^^3^EA^" + arrival + "^" + departure);
    std::vector<std::string> none;
    EXPECT_EQ(db_get_room_info("999", "^", none), 0);
    EXPECT_EQ(db_get_room_info("101", nullptr, none), -1);
    EXPECT_TRUE(none.empty());
}

}  // namespace

// The statements the vendors share: who is in a room with and without the
// instance filter, a room move, the class of service (a number only) and the
// VIP discount record.
TEST_F(DbGuests, SharedRoomStatements) {
    PmsGuest a = sampleGuest();
    ASSERT_EQ(db_pms_guests_add(a), 1);
    g_psi_no = 7;  // a guest of another interface in the same room number
    PmsGuest other = sampleGuest();
    other.guest_no = "9";
    other.last = "Other";
    ASSERT_EQ(db_pms_guests_add(other), 1);
    g_psi_no = 0;
    receive(200);

    auto mine = db_room_guests("101", 0);
    ASSERT_TRUE(mine);
    ASSERT_EQ(mine->size(), 1u);
    EXPECT_EQ((*mine)[0].last, "O'Brien");
    auto all = db_room_guests("101", std::nullopt);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 2u);
    EXPECT_EQ(db_room_guest_numbers("101", "", 0), std::vector<std::string>{"4711"});
    EXPECT_EQ(db_room_guest_numbers("101", "9", 0), std::vector<std::string>{});

    std::string stmt;
    EXPECT_EQ(db_pms_guests_set_class_of_service("101", "3", 0, &stmt), 1);
    EXPECT_NE(stmt.find("pms_class_of_service = 3"), std::string::npos);
    EXPECT_EQ(db_pms_guests_set_class_of_service("101", "3; DELETE FROM pms_guests", 0), -2);
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests"), "2");

    EXPECT_EQ(db_pms_guests_move_room("4711", "101", "105", 0), 1);
    EXPECT_EQ(db_room_guest_numbers("105", "4711", 0), std::vector<std::string>{"4711"});
    EXPECT_EQ(db_room_guest_numbers("101", "", 7), std::vector<std::string>{"9"});  // the other instance stays

    EXPECT_TRUE(db_add_discount("105", "4711", 3, 2.5f));
    EXPECT_EQ(db_->value("SELECT pms_room || ',' || pms_guest_no || ',' || pms_vip_status FROM pms_discounts"),
              "105,4711,3");
}
