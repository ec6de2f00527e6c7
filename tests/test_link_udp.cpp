// The PMS link over UDP against a datagram peer on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "loopback_peer.h"
#include "state.h"

namespace {

class LinkUdp : public ::testing::Test {
protected:
    void openLink() {
        env.configure({"PMSCOMMTYPE=Udp", "PMSCOMMTIMEOUT=1",
                       "PMSCOMMOPTS=127.0.0.1|" + std::to_string(peer.port()),
                       "PMSCOMMSRCOPTS=127.0.0.1|" + std::to_string(local_port)});
        ASSERT_GE(link_open(), 0);
        ASSERT_EQ(link_type(), LINK_TYPE_UDP);
    }

    LogCapture log;
    LinkEnv env;
    UdpPeer peer;
    int local_port = freeLoopbackPort(SOCK_DGRAM);
};

TEST_F(LinkUdp, RecordsCrossBothWaysFromTheChosenPort) {
    openLink();
    ASSERT_EQ(link_write("LS|DA240101|\r"), 1);
    EXPECT_EQ(peer.receive(), "LS|DA240101|\r");
    EXPECT_EQ(peer.lastSenderPort(), local_port);

    // One byte per datagram, slower in all than the time-out.
    std::thread sender([&] {
        for (char c : std::string("LA|\r")) {
            peer.sendBack(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
    });
    std::string record;
    EXPECT_EQ(link_read_delim_timeout('\r', 1, record), 4);
    sender.join();
    EXPECT_EQ(record, "LA|\r");

    EXPECT_EQ(link_read_delim_timeout('\r', 1, record), 0);
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
    auto lines = env.trafficLog();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], std::make_pair('>', std::string("LS|DA240101|\r")));
    EXPECT_EQ(lines[2], std::make_pair('<', std::string("LA|\r")));
    EXPECT_EQ(lines[3], std::make_pair('<', std::string()));
}

TEST_F(LinkUdp, NothingOfADatagramIsLost) {
    openLink();
    ASSERT_EQ(link_write("hello"), 1);
    ASSERT_EQ(peer.receive(), "hello");
    ASSERT_TRUE(peer.sendBack("\x02GI|RN1\x03\x02GO|"));
    ASSERT_TRUE(peer.sendBack("RN2\x03" "ABCD"));
    std::string record;
    EXPECT_EQ(link_read_delim_timeout('\x03', 1, record), 8);
    EXPECT_EQ(record, "\x02GI|RN1\x03");
    EXPECT_EQ(link_read_delims_timeout("\x03", 1, record), 8);
    EXPECT_EQ(record, "\x02GO|RN2\x03");
    EXPECT_EQ(link_read_nbytes(record, 4), 4);
    EXPECT_EQ(record, "ABCD");
}

TEST_F(LinkUdp, SingleReceiveIsTcpOnly) {
    openLink();
    std::string data;
    EXPECT_EQ(link_read_with_timeout(data, 1), -1);
    EXPECT_TRUE(log.contains("link_read_with_timeout: Unhandled communications type"));
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
    EXPECT_EQ(link_type(), LINK_TYPE_UDP);
}

TEST_F(LinkUdp, VanishedPeerBreaksTheLinkAtTheNextRead) {
    openLink();
    peer.close();
    link_write("ping");  // answered by "port unreachable"
    std::string record;
    EXPECT_EQ(link_read_delim_timeout('\r', 1, record), -1);
    EXPECT_EQ(LinkEnv::sigpipes(), 1);
    EXPECT_EQ(pms_fd_client, -1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

}  // namespace
