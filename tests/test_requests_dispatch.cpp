// Control requests end to end: a client on loopback, the connection served by
// svr_serveClient, a test vendor plugged into the registry.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ctl_support.h"
#include "io_gwy/requests.h"
#include "io_gwy/server.h"
#include "logcapture.h"
#include "state.h"

namespace {

const std::string kUnavailable = frame("03", "01", "PMS Server Unavailable. Please retry later.");
const std::string kInvalidParam = frame("03", "02", "Invalid parameter data");
const std::string kNotImplemented = frame("03", "03", "Functionality not implemented");

class Requests : public ::testing::Test {
  protected:
    void SetUp() override {
        TestVendorState& s = testVendor();
        s.calls.clear();
        s.result = 0;
        s.reply_text.clear();
        s.line_count = 0;
        s.lines.clear();
        s.status_text = "OK";
        s.billing_runs = 0;
    }
    std::vector<std::string> ask(const std::string& subtype, const std::string& data) {
        return exchange(cp.fd(), frame("01", subtype, data));
    }
    std::vector<std::string> calls() { return testVendor().calls; }

    ControlPort cp;
    TestVendorSelected vendor;
};

using Frames = std::vector<std::string>;

}  // namespace

TEST_F(Requests, RoomStatusAnswersTheVendorsStatus) {
    EXPECT_EQ(ask("01", "101"), Frames{std::string("\x02\x30\x32\x30\x31\x31\x03")});
    testVendor().room_status = 0;
    EXPECT_EQ(ask("01", "102"), Frames{frame("02", "01", "0")});
    EXPECT_EQ(calls(), (std::vector<std::string>{"room:101", "room:102"}));

    EXPECT_EQ(ask("01", "101|1"), Frames{kInvalidParam});
    EXPECT_EQ(ask("01", ""), Frames{kInvalidParam});
    EXPECT_EQ(calls().size(), 2u);  // refused requests never reach the vendor
}

TEST_F(Requests, FieldCountsAndEmptyFieldsAreChecked) {
    EXPECT_EQ(ask("02", "|101|5"), Frames{frame("02", "02", "1")});  // leading "|" skipped
    EXPECT_EQ(ask("03", "101|a|b"), Frames{frame("02", "03", "1")});
    EXPECT_EQ(ask("07", "101|SMITH"), Frames{frame("02", "07", "1")});
    EXPECT_EQ(ask("09", "101|3"), Frames{frame("02", "09", "1")});
    EXPECT_EQ(ask("12", "101|7"), Frames{frame("02", "12", "1")});
    EXPECT_EQ(calls(), (std::vector<std::string>{"out:101,5", "in:101,a,b", "auth:101,SMITH",
                                                 "equip:101,3", "delete:101,7"}));

    for (auto [sub, data] : std::vector<std::pair<std::string, std::string>>{{"02", "101"},
                                                                             {"02", "101|"},
                                                                             {"02", "101|5|6"},
                                                                             {"03", "101|a"},
                                                                             {"03", "101||b"},
                                                                             {"04", "101|1|0"},
                                                                             {"07", "|101"},
                                                                             {"09", "101|3|"},
                                                                             {"11", "101"},
                                                                             {"12", ""}}) {
        EXPECT_EQ(ask(sub, data), Frames{kInvalidParam}) << sub << " " << data;
    }
    EXPECT_EQ(calls().size(), 5u);
}

TEST_F(Requests, ListAnswersSendOneMessagePerLine) {
    EXPECT_EQ(ask("04", "101|1|0|10"), Frames{frame("02", "04", "0")});  // no lines: "0"
    EXPECT_EQ(calls().back(), "folio:101,1,0,10");

    testVendor().line_count = 2;
    testVendor().lines = {"first", "second"};
    EXPECT_EQ(ask("11", "101|1"),
              (Frames{frame("02", "11", "first"), frame("02", "11", "second")}));

    // A guest-info line fits one message: cut to 1017 characters.
    testVendor().line_count = 1;
    testVendor().lines = {std::string(1500, 'g')};
    EXPECT_EQ(ask("05", "101"), Frames{frame("02", "05", std::string(1017, 'g'))});

    // A count beyond the lines given never reads past them; a negative one sends nothing.
    testVendor().line_count = 5;
    testVendor().lines = {"only"};
    EXPECT_EQ(ask("04", "101|1|x|-3"), Frames{frame("02", "04", "only")});
    EXPECT_EQ(calls().back(), "folio:101,1,0,-3");
    testVendor().line_count = -1;
    EXPECT_EQ(ask("05", "101"), Frames{});
}

TEST_F(Requests, VendorResultsAndReplyTexts) {
    testVendor().result = 4;
    testVendor().reply_text = "Guest not found";
    EXPECT_EQ(ask("07", "101|SMITH"), Frames{frame("03", "04", "Guest not found")});

    // A vendor's "not implemented" keeps its own text in front.
    testVendor().result = 3;
    testVendor().reply_text = "Not supported by vendor";
    EXPECT_EQ(ask("02", "101|5"),
              Frames{frame("03", "03", "Not supported by vendorFunctionality not implemented")});

    // Any other code travels unchanged.
    testVendor().result = 7;
    testVendor().reply_text.clear();
    EXPECT_EQ(ask("01", "101"), Frames{frame("03", "07", "")});
}

TEST_F(Requests, UnknownSubtypeOrTypeIsRefused) {
    EXPECT_EQ(ask("15", "101"), Frames{frame("03", "04", "Invalid message")});
    EXPECT_EQ(ask("00", ""), Frames{frame("03", "04", "Invalid message")});
    EXPECT_EQ(exchange(cp.fd(), frame("02", "01", "101")), Frames{kInvalidParam});
    EXPECT_TRUE(calls().empty());
}

TEST_F(Requests, RealTimeBillingRunsTheScanOnlyWhenReady) {
    EXPECT_EQ(ask("08", ""), Frames{frame("02", "08", "1")});
    EXPECT_EQ(testVendor().billing_runs, 1);
    EXPECT_EQ(ask("08", "x"), Frames{kInvalidParam});
    EXPECT_EQ(testVendor().billing_runs, 1);

    // Straight through the dispatcher while BUSY: answered "1", nothing run.
    svr_setBusy();
    int client = connectLoopback(cp.port());
    int fd = accept(cp.fd(), nullptr, nullptr);
    std::string reply;
    EXPECT_EQ(svr_dispatchRequest(fd, vendor_current()->requests, PMS_REQ_RT_BILLING, "", reply),
              0);
    // Status requests need READY even here, and say nothing more.
    EXPECT_EQ(svr_dispatchRequest(fd, vendor_current()->requests, PMS_REQ_CHECK_STATUS, "", reply),
              4);
    EXPECT_EQ(reply, "");
    close(fd);
    EXPECT_EQ(splitFrames(readUntilClosed(client)), Frames{frame("02", "08", "1")});
    close(client);
    EXPECT_EQ(testVendor().billing_runs, 1);
}

TEST_F(Requests, StatusRequests) {
    testVendor().status_text = "LS received";
    EXPECT_EQ(ask("13", ""), Frames{frame("02", "13", "LS received")});
    EXPECT_EQ(ask("14", ""), Frames{frame("02", "14", "LS received")});
    EXPECT_EQ(ask("13", "x"), Frames{kInvalidParam});
    testVendor().status_text.reset();
    EXPECT_EQ(ask("14", ""), Frames{frame("03", "04", "Null value returned")});
}

TEST_F(Requests, DbSwapIgnoresItsData) {
    EXPECT_EQ(ask("10", "anything|at all"), Frames{frame("02", "10", "1")});
    EXPECT_EQ(calls(), std::vector<std::string>{"dbswap:"});
}

TEST_F(Requests, PostingRecordIsBuiltFromFiveFields) {
    EXPECT_EQ(ask("06", "101|2.50|Internet|1700000000|60"), Frames{frame("02", "06", "1")});
    EXPECT_EQ(testVendor().post_room, "101");
    EXPECT_FLOAT_EQ(testVendor().post_charge, 2.5f);
    EXPECT_EQ(testVendor().post_description, "Internet");
    EXPECT_EQ(testVendor().post_start, 1700000000);
    EXPECT_EQ(testVendor().post_duration, 60);

    EXPECT_EQ(ask("06", "102||Internet||"), Frames{frame("02", "06", "1")});  // empty charge: 0.00
    EXPECT_EQ(testVendor().post_room, "102");
    EXPECT_FLOAT_EQ(testVendor().post_charge, 0.0f);
    EXPECT_EQ(testVendor().post_duration, 0);

    EXPECT_EQ(ask("06", "101|2.50|Internet|0"), Frames{kInvalidParam});
    EXPECT_EQ(ask("06", "101|2.50|Internet|0|60|x"), Frames{kInvalidParam});
    EXPECT_EQ(ask("06", "|101|2.50|Internet|0"), Frames{kInvalidParam});
    EXPECT_EQ(calls().size(), 2u);
}

TEST_F(Requests, ControlBytesAndUnpostableAmountsNeverReachTheVendor) {
    for (auto [sub, data] : std::vector<std::pair<std::string, std::string>>{
             {"06", "101\x02PS|2.50|Internet|0|60"},
             {"06", "101|2.50|Inter\x1fnet|0|60"},
             {"06", "101|nan|Internet|0|60"},
             {"06", "101|inf|Internet|0|60"},
             {"06", "101|-inf|Internet|0|60"},
             {"06", "101|1e30|Internet|0|60"},
             {"07", "101\x01|SMITH"},
             {"01", "10\x7f" "1"},
             {"12", "101|7\x1b"},
             {"07", "101|M\xfc" "ller"}}) {
        EXPECT_EQ(ask(sub, data), Frames{kInvalidParam}) << sub << " " << data;
    }
    EXPECT_TRUE(calls().empty());
    // A negative amount is a refund.
    EXPECT_EQ(ask("06", "101|-2.50|Refund|0|0"), Frames{frame("02", "06", "1")});
    EXPECT_FLOAT_EQ(testVendor().post_charge, -2.5f);
}

TEST(RequestsUnavailable, BusyOrClosedLinkGetsUnavailableReply) {
    ControlPort cp;
    TestVendorSelected vendor;
    testVendor().calls.clear();  // left by earlier tests of the same program
    LogCapture log;
    svr_setBusy();
    EXPECT_EQ(exchange(cp.fd(), frame("01", "13", "")), Frames{kUnavailable});
    EXPECT_EQ(exchange(cp.fd(), frame("01", "08", "")), Frames{kUnavailable});
    EXPECT_TRUE(log.contains(
        "pms_service_GWY: PMS was unavailable... skipped client request from 127.0.0.1:"));

    svr_setReady();
    pms_fd_client = -1;
    EXPECT_EQ(exchange(cp.fd(), frame("01", "01", "101")), Frames{kUnavailable});
    EXPECT_EQ(testVendor().billing_runs, 0);
    EXPECT_TRUE(testVendor().calls.empty());
}

TEST(RequestsUnavailable, NoVendorClosesWithoutReply) {
    ControlPort cp;
    LogCapture log;
    pms_fd_client = 1000;
    svr_setReady();
    EXPECT_EQ(exchange(cp.fd(), frame("01", "01", "101")), Frames{});
    EXPECT_TRUE(log.contains("pms_service_GWY: PMS Vendor has not been initialized"));
    pms_fd_client = -1;
}

TEST(RequestsUnimplemented, EveryEmptySlotAnswersCode3) {
    ControlPort cp;
    TestVendorSelected vendor(bareVendorDescriptor);
    for (auto [sub, data] : std::vector<std::pair<std::string, std::string>>{{"01", "101"},
                                                                             {"02", "101|5"},
                                                                             {"03", "a|b|c"},
                                                                             {"04", "101|1|0|10"},
                                                                             {"05", "101"},
                                                                             {"06", "101|1|x|0|0"},
                                                                             {"07", "101|N"},
                                                                             {"09", "101|1"},
                                                                             {"10", ""},
                                                                             {"11", "101|1"},
                                                                             {"12", "101|1"},
                                                                             {"13", ""},
                                                                             {"14", ""}}) {
        Frames got = exchange(cp.fd(), frame("01", sub, data));
        EXPECT_EQ(got, Frames{kNotImplemented}) << sub;
    }
    // Real-time billing needs no vendor slot.
    EXPECT_EQ(exchange(cp.fd(), frame("01", "08", "")), Frames{frame("02", "08", "1")});
}
