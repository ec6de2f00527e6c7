#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "netutil.h"
#include "config.h"
#include "logcapture.h"
#include "platform/mcast.h"
#include "procrun.h"
#include "tmpfiles.h"

namespace {

McastEvent sampleEvent() {
    McastEvent e;
    e.code = MCAST_CHECKIN;
    e.first = "Ann|Marie";
    e.last = "O\\Brien";
    e.guest_no = "4711";
    e.room = "101";
    e.language = "EA";
    e.arrival = 1714557600;
    e.departure = 1714730400;
    return e;
}

// Client and listener on interface 127.0.0.1 with PMSMCAST_PORT set to a fresh port.
class McastLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = freeUdpPort();
        g_config_file = dir_.write("vornpms.cfg", "PMSMCAST_PORT=" + std::to_string(port_) + "\n");
        ASSERT_EQ(config_init(), 1);
        listener_ = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", port_);
        ASSERT_GE(listener_, 0);
        ASSERT_EQ(vornpmsmcast_init_client(kMcastGroup, "127.0.0.1"), 0);
    }
    void TearDown() override {
        vornpmsmcast_close_client();
        if (listener_ >= 0) close(listener_);
        config_free();
    }
    // One datagram, or "" after the time-out.
    std::string receive(int timeout_ms = 2000) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) return "";
        char buf[2048];
        ssize_t n = recv(listener_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    }

    TempDir dir_;
    int port_ = 0;
    int listener_ = -1;
};

}  // namespace

TEST(McastEncoding, TwelveFieldsWithEscapes) {
    McastEvent e = sampleEvent();
    std::string wire = vornpmsmcast_encode(e);
    EXPECT_EQ(wire, "1|Ann\\|Marie|O\\\\Brien|4711|101|||EA||1714557600|1714730400|0");
    McastEvent back;
    ASSERT_TRUE(vornpmsmcast_decode(wire, back));
    EXPECT_EQ(back.code, 1);
    EXPECT_EQ(back.first, "Ann|Marie");
    EXPECT_EQ(back.last, "O\\Brien");
    EXPECT_EQ(back.room, "101");
    EXPECT_EQ(back.group, "");
    EXPECT_EQ(back.arrival, 1714557600);
    EXPECT_EQ(back.departure, 1714730400);

    McastEvent keepalive;
    keepalive.code = MCAST_KEEPALIVE;
    keepalive.room = "        ";
    EXPECT_EQ(vornpmsmcast_encode(keepalive), "4||||        |||||0|0|0");

    EXPECT_FALSE(vornpmsmcast_decode("1|a|b", back));
    EXPECT_FALSE(vornpmsmcast_decode("1||||||||||0|0|0", back));  // thirteen fields
    EXPECT_FALSE(vornpmsmcast_decode("x|||||||||0|0|0", back));
    EXPECT_FALSE(vornpmsmcast_decode("1||||||||0|0|0\\", back));
}

TEST(McastTimestamp, LocalTimeForms) {
    setenv("TZ", "EST5", 1);  // five hours behind UTC, no summer time
    tzset();
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-05-01 09:00:00"), 1714572000);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-05-01 09:00"), 1714572000);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-05-01"), 1714539600);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-05-01 14:00:00+00"), 1714572000);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-05-01 16:30:00.25+02:30"), 1714572000);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int(""), 0);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int(nullptr), 0);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("01/05/2024"), 0);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-13-01"), 0);
    EXPECT_EQ(vornpmsmcast_convert_timestamp_to_int("2024-05-01 09:00:00 junk"), 0);
}

TEST(McastClient, NothingSentWithoutClient) {
    LogCapture log;
    vornpmsmcast_close_client();
    EXPECT_EQ(vornpmsmcast_make_and_send_msg(sampleEvent()), -1);
    EXPECT_TRUE(log.contains("DEBUG4 platform/mcast:"));
    EXPECT_TRUE(log.contains("no multicast client, not sent [1|Ann\\|Marie|"));
    EXPECT_NE(vornpmsmcast_init_client(kMcastGroup, "not-an-address"), 0);
    EXPECT_EQ(vornpmsmcast_make_and_send_msg(sampleEvent()), -1);
}

TEST_F(McastLoopback, ReceivesRealDatagrams) {
    ASSERT_EQ(vornpmsmcast_make_and_send_msg(sampleEvent()), 0);
    std::string got = receive();
    EXPECT_EQ(got, vornpmsmcast_encode(sampleEvent()));
    McastEvent out;
    McastEvent co;
    co.code = MCAST_CHECKOUT;
    co.room = "102";
    ASSERT_EQ(vornpmsmcast_make_and_send_msg(co), 0);
    ASSERT_TRUE(vornpmsmcast_decode(receive(), out));
    EXPECT_EQ(out.code, MCAST_CHECKOUT);
    EXPECT_EQ(out.room, "102");
    EXPECT_EQ(out.guest_no, "");
}

TEST_F(McastLoopback, ReinitDoesNotLeakSockets) {
    int before = countOpenFds();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(vornpmsmcast_init_client(kMcastGroup, "127.0.0.1"), 0);
    EXPECT_EQ(countOpenFds(), before);
    ASSERT_EQ(vornpmsmcast_make_and_send_msg(sampleEvent()), 0);
    EXPECT_FALSE(receive().empty());
}

TEST_F(McastLoopback, ListenToolPrintsEachAnnouncement) {
    // Arrival and departure as local date-times, or with -r as sent.
    for (auto [flag, dates] : {std::pair{"", "arrival[2024-05-01 12:00:00] departure[2024-05-03 12:00:00]"},
                               {"-r", "arrival[1714557600] departure[1714730400]"}}) {
        std::vector<std::string> argv{binPath("vornpms_mcast_listen"), "-i", "127.0.0.1", "-p", std::to_string(port_)};
        if (*flag) argv.push_back(flag);
        Child tool(argv, {"TZ=Europe/Berlin"});
        // The tool joins the group a moment after it starts: repeat until it prints.
        std::string line;
        bool got = false;
        for (int i = 0; i < 50 && !got; ++i) {
            vornpmsmcast_make_and_send_msg(sampleEvent());
            got = tool.readLine(line, 100);
        }
        ASSERT_TRUE(got);
        EXPECT_EQ(line, std::string("1 check-in first[Ann|Marie] last[O\\Brien] guest[4711] room[101] group[] vip[] "
                                    "language[EA] prev_room[] ") +
                            dates + " zero[0]");
    }
}
