// Micros-Fidelio answers to control requests over the real control port,
// with a scripted PMS and a real database behind them.
#include <gtest/gtest.h>

#include "db.h"
#include "fias_env.h"
#include "io_gwy/connection.h"
#include "io_gwy/server.h"
#include "logcapture.h"
#include "vendor.h"
#include "vendors/fias/fias_record.h"

namespace {

std::vector<std::string> texts(const std::vector<CtlMessage>& msgs) {
    std::vector<std::string> out;
    // "2:text" for an answer, "3/code:text" for a result.
    for (const auto& m : msgs)
        out.push_back(m.type == 3 ? "3/" + std::to_string(m.subtype) + ":" + m.text
                                  : std::to_string(m.type) + ":" + m.text);
    return out;
}

using Lines = std::vector<std::string>;

}  // namespace

class FiasRequests : public FiasTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(start({.database = true, .settings = "CONTROLPORT=0\n"}));
        selectVendor();
        server_ = svr_open();
        ASSERT_GE(server_, 0);
        svr_setReady();
    }
    void TearDown() override {
        svr_close();
        FiasTest::TearDown();
    }
    // Starts one request: the daemon serves it while the test plays the PMS.
    std::future<std::vector<CtlMessage>> ask(int subtype, const std::string& data) {
        served_ = async([this] { svr_serveClient(server_); });
        int port = svr_port();
        return async([port, subtype, data] { return controlRequest(port, subtype, data); });
    }
    Lines answer(std::future<std::vector<CtlMessage>>& f) {
        auto msgs = f.get();
        served_.get();
        return texts(msgs);
    }
    void guest(const std::string& room, const std::string& no, const std::string& first, const std::string& last) {
        db_->exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_first, pms_name_last, pms_arrival_dt, "
                  "pms_depart_dt) VALUES ('" + room + "', '" + no + "', '" + first + "', '" + last +
                  "', '2026-12-01', '2026-12-15')");
    }
    int server_ = -1;
    std::future<void> served_;
};

TEST_F(FiasRequests, RoomStatusGuestInfoCheckInAndStatus) {
    db_->exec("INSERT INTO port_room_status VALUES ('101'), ('102')");
    guest("101", "55", "John", "Smith");
    auto f = ask(1, "101");
    EXPECT_EQ(answer(f), Lines{"2:1"});
    f = ask(1, "102");
    EXPECT_EQ(answer(f), Lines{"2:0"});

    f = ask(5, "101");
    Lines info = answer(f);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].substr(0, 17), "2:55|John|Smith||");
    f = ask(5, "102");
    EXPECT_EQ(answer(f), Lines{"2:0"});

    f = ask(3, "101|a|b");
    EXPECT_EQ(answer(f), Lines{"3/3:Functionality not implemented"});

    f = ask(13, "");
    Lines status = answer(f);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0], "2:^0");  // nothing received yet

    // db swap: DR goes out, the PMS starts the resync.
    f = ask(10, "");
    ASSERT_TRUE(pms_->expectRecord("DR|DA*|TI*|"));
    pms_->sendRecord("DS|DA261208|TI101010|");
    EXPECT_EQ(answer(f), Lines{"2:1"});
    f = ask(14, "");
    status = answer(f);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].substr(0, 4), "2:1|");
}

TEST_F(FiasRequests, FolioKeepsDisplayableItemsInTheWindow) {
    guest("101", "55", "John", "Smith");
    time_t from = localTime(2026, 12, 2, 0, 0, 0), to = localTime(2026, 12, 5, 0, 0, 0);
    auto f = ask(4, "101|55|" + std::to_string(from) + "|" + std::to_string(to));
    ASSERT_TRUE(pms_->expectRecord("XR|G#55|RN101|DA*|TI*|")) << pms_->lastBody();
    pms_->sendRecord("XI|BDMinibar|BI450|DC1|G#55|RN101|DA261203|F#1|FDY|TI101112|");
    pms_->sendRecord("XI|BDHidden|BI100|DC1|G#55|RN101|DA261203|F#1|FDN|TI101112|");
    pms_->sendRecord("XI|BDEarly|BI100|DC1|G#55|RN101|DA261201|F#1|FDY|TI101112|");
    pms_->sendRecord("XI|BDNoFlag|BI100|DC1|G#55|RN101|DA261203|F#1|TI101112|");
    pms_->sendRecord("XB|BA12345|G#55|RN101|DA261210|TI090000|");
    Lines lines = answer(f);
    EXPECT_EQ(lines, (Lines{"2:55|Minibar|" + std::to_string(localTime(2026, 12, 3, 10, 11, 12)) + "|4.50",
                            "2:55|Balance|" + std::to_string(localTime(2026, 12, 10, 9, 0, 0)) + "|123.45"}));

    // Room and guest number are escaped in the look-up.
    f = ask(4, "10'1|empty|0|2000000000");
    EXPECT_EQ(answer(f), Lines{"3/4:Room not found"});
}

TEST_F(FiasRequests, RemoteCheckOutPerGuestCarriesTheBalance) {
    guest("101", "55", "John", "Smith");
    guest("101", "56", "Jane", "Smith");
    auto f = ask(2, "101|x");
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(pms_->expectRecord("XR|G#*|RN101|DA*|TI*|")) << pms_->lastBody();
        std::string g = fias_parse(pms_->lastBody())->text("G#");
        pms_->sendRecord("XB|BA" + std::to_string(1000 + i) + "|G#" + g + "|RN101|DA261210|TI090000|");
        ASSERT_TRUE(pms_->expectRecord("XC|BA" + std::to_string(1000 + i) + "|G#" + g + "|RN101|DA*|TI*|"))
            << pms_->lastBody();
        // The second answer carries no AS: that guest is not checked out.
        pms_->sendRecord(i == 0 ? "XC|RN101|G#" + g + "|ASOK|DA261210|TI090001|"
                                : "XC|RN101|G#" + g + "|DA261210|TI090001|");
    }
    EXPECT_EQ(answer(f), Lines{"3/4:Unable to check out room '101' - 1/2 guests have been checked out"});

    f = ask(2, "999|x");
    EXPECT_EQ(answer(f), Lines{"3/4:Room not found"});
}

TEST_F(FiasRequests, AuthorizeRefreshesTheRoomAndMatchesNames) {
    guest("101", "40", "Old", "Guest");  // replaced by the PMS's list
    auto plFor = [this](const std::string& pattern) {
        EXPECT_TRUE(pms_->expectRecord(pattern)) << pms_->lastBody();
        pms_->sendRecord(
            "PL|DA261208|TI101010|RN101|G#55|GNSmith|GFJohn|GA261201|GD261215|RN101|G#56|GNJones|GFAmy|GA261201|"
            "GD261215|");
    };
    const std::string inquiry = "PR|DA*|PI101|TI*|P#*|SO123|WS000000000000|IDELI|";
    auto f = ask(7, "101|XXXX^smith");
    plFor(inquiry);
    EXPECT_EQ(answer(f), Lines{"2:1"});
    EXPECT_EQ(db_->value("SELECT string_agg(pms_guest_no, ',' ORDER BY pms_guest_no) FROM pms_guests WHERE pms_room "
                         "= '101' AND pms_is_stale = 0"),
              "55,56");

    f = ask(7, "101|###^XXXX");
    plFor(inquiry);
    EXPECT_EQ(answer(f), Lines{"2:1"});
    f = ask(7, "101|Bob^Jones");
    plFor(inquiry);
    EXPECT_EQ(answer(f), Lines{"3/4:"});
    f = ask(7, "101|56");
    plFor(inquiry);
    EXPECT_EQ(answer(f), Lines{"2:1"});
    f = ask(7, "101|a^b^c");
    EXPECT_EQ(answer(f), Lines{"3/4:Incorrect arguments passed."});

    // A PMS that dates the list after its guests: both guests are still taken.
    f = ask(7, "101|Amy^Jones");
    EXPECT_TRUE(pms_->expectRecord(inquiry)) << pms_->lastBody();
    pms_->sendRecord("PL|RN101|G#57|GNBrown|GA261201|GD261215|RN101|G#58|GNJones|GFAmy|GA261201|GD261215|"
                     "DA261208|TI101010|");
    EXPECT_EQ(answer(f), Lines{"2:1"});
    EXPECT_EQ(db_->value("SELECT string_agg(pms_guest_no, ',' ORDER BY pms_guest_no) FROM pms_guests WHERE pms_room "
                         "= '101' AND pms_is_stale = 0"),
              "57,58");

    // A list whose second guest cannot be dated is refused and changes nothing.
    f = ask(7, "101|Amy^Jones");
    EXPECT_TRUE(pms_->expectRecord(inquiry)) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#59|GNBrown|GA261201|GD261215|RN101|G#60|GNJones|GFAmy|GA2612|");
    EXPECT_EQ(answer(f), Lines{"3/4:Error converting date/time values from the PMS to local datebase values!"});
    EXPECT_EQ(db_->value("SELECT string_agg(pms_guest_no, ',' ORDER BY pms_guest_no) FROM pms_guests WHERE pms_room "
                         "= '101' AND pms_is_stale = 0"),
              "57,58");
    f = ask(7, "101|Amy^Jones");
    EXPECT_TRUE(pms_->expectRecord(inquiry)) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#60|GNJones|GFAmy|GA301332|GD261215|");
    EXPECT_EQ(answer(f), Lines{"3/4:Error converting date/time values from the PMS to local datebase values!"});
    EXPECT_EQ(db_->value("SELECT string_agg(pms_guest_no, ',' ORDER BY pms_guest_no) FROM pms_guests WHERE pms_room "
                         "= '101' AND pms_is_stale = 0"),
              "57,58");

    // A list naming nobody: the PMS has no guest in the room.
    f = ask(7, "101|Amy^Jones");
    EXPECT_TRUE(pms_->expectRecord(inquiry)) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|");
    EXPECT_EQ(answer(f), Lines{"3/4:Error converting date/time values from the PMS to local datebase values!"});
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests WHERE pms_room = '101' AND pms_is_stale = 0"), "0");
}

TEST_F(FiasRequests, GuestMessagesDeleteAndRoomEquipment) {
    auto f = ask(11, "101|55");
    ASSERT_TRUE(pms_->expectRecord("XM|G#55|RN101|")) << pms_->lastBody();
    pms_->sendRecord("XT|G#55|MI1|MTHello|RN101|DA261208|TI101010|");
    pms_->sendRecord("XT|G#55|MI2|MTWorld|RN101|DA261208|TI101011|");
    EXPECT_EQ(answer(f), (Lines{"2:55|1|Hello", "2:55|2|World"}));

    // A message without id ends the list with an empty item.
    f = ask(11, "101|55");
    ASSERT_TRUE(pms_->expectRecord("XM|G#55|RN101|"));
    pms_->sendRecord("XT|G#55|MTHello|RN101|DA261208|TI101010|");
    pms_->sendRecord("XT|G#55|MI2|MTWorld|RN101|DA261208|TI101011|");
    EXPECT_EQ(answer(f), Lines{"2:55|0|"});

    f = ask(12, "101|7^55");
    ASSERT_TRUE(pms_->expectRecord("XD|MI7|RN101|G#55|")) << pms_->lastBody();
    pms_->sendRecord("XD|MI7|RN101|G#55|");
    EXPECT_EQ(answer(f), Lines{"2:1"});

    f = ask(9, "101|3");
    ASSERT_TRUE(pms_->expectRecord("RE|RN101|RS3|")) << pms_->lastBody();
    EXPECT_EQ(answer(f), Lines{"2:1"});

    // A value that would add a field to the PMS record is refused unsent.
    std::string reply;
    EXPECT_EQ(vendor_current()->requests.room_equipment_status("101", "3|RN102", reply), 4);
    EXPECT_EQ(reply, "Null parameter info.");
    int32_t count = 0;
    Lines lines;
    EXPECT_EQ(vendor_current()->requests.retrieve_guest_message("101", std::string("55\x03"), count, lines, reply), 2);
    EXPECT_TRUE(pms_->quiet(200));
}
