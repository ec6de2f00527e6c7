// The PMS link over TCP against a PMS end on 127.0.0.1 driven byte by byte.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "platform/log.h"
#include "loopback_peer.h"
#include "state.h"

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;

class LinkTcp : public ::testing::Test {
protected:
    // Opens the link on the listener and accepts its connection.
    void openLink(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> settings{"PMSCOMMTYPE=tcp", "PMSCOMMTIMEOUT=1",
                                          "PMSCOMMOPTS=127.0.0.1|" + std::to_string(listener.port())};
        settings.insert(settings.end(), extra.begin(), extra.end());
        env.configure(settings);
        int fd = link_open();
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pms_fd_client, fd);
        ASSERT_EQ(link_type(), LINK_TYPE_TCP);
        peer = listener.accept();
        ASSERT_GE(peer.fd(), 0);
    }

    LogCapture log;
    LinkEnv env;
    TcpListener listener;
    StreamPeer peer;
};

TEST_F(LinkTcp, SlowRecordIsReadWholeAndTheNextStaysQueued) {
    openLink();
    // 7 bytes 300 ms apart: 2.1 s in all, each gap well within the 1 s time-out.
    std::thread sender([&] { peer.sendSlowly(std::string{STX} + "ABCDE" + ETX, 300); });
    std::string record;
    int n = link_read_delim_timeout(ETX, 1, record);
    sender.join();
    EXPECT_EQ(n, 7);
    EXPECT_EQ(record, std::string{STX} + "ABCDE" + ETX);

    // Two records in one segment: one byte per read leaves the second in place.
    ASSERT_TRUE(peer.send("X\rY\n"));
    EXPECT_EQ(link_read_delims_timeout("\r\n", 1, record), 2);
    EXPECT_EQ(record, "X\r");
    EXPECT_EQ(link_read_delim(ETX, record), 0);  // configured 1 s, no ETX after "Y\n"
    EXPECT_EQ(record, "");

    auto lines = env.trafficLog();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::make_pair('*', std::string("Logging initialized")));
    EXPECT_EQ(lines[1], std::make_pair('<', std::string{STX} + "ABCDE" + ETX));
    EXPECT_EQ(lines[2], std::make_pair('<', std::string("X\r")));
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
}

TEST_F(LinkTcp, TimeoutReturnsZeroRaisesNothingAndLogsAnEmptyLine) {
    openLink();
    std::string record = "stale";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link_read_delim_timeout(ETX, 1, record), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(record, "");
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
    EXPECT_EQ(link_type(), LINK_TYPE_TCP);
    EXPECT_EQ(env.trafficLog().back(), std::make_pair('<', std::string()));
}

TEST_F(LinkTcp, PeerClosingMidRecordClosesTheLinkThroughSigpipe) {
    openLink();
    ASSERT_TRUE(peer.send(std::string{STX} + "AB"));
    peer.close();
    std::string record;
    EXPECT_EQ(link_read_delim_timeout(ETX, 1, record), -1);
    EXPECT_EQ(LinkEnv::sigpipes(), 1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    EXPECT_EQ(pms_fd_client, -1);
    EXPECT_TRUE(log.contains("link_read_delim_timeout: Raising SIGPIPE 2"));
    // The log closed with the link: nothing was written after its last line.
    EXPECT_EQ(env.trafficLog().back(), std::make_pair('*', std::string("Logging terminated")));
    // A closed link refuses further reads.
    EXPECT_EQ(link_read_delim_timeout(ETX, 1, record), -1);
    EXPECT_TRUE(log.contains("link_read_delim_timeout: Link isn't open. Must open link before reading"));
}

TEST_F(LinkTcp, EndOfFileIsATimeoutForTheDelimiterSetReader) {
    openLink();
    ASSERT_TRUE(peer.send("AB"));
    peer.close();
    std::string record;
    EXPECT_EQ(link_read_delims_timeout("\x03\x04", 1, record), 0);
    EXPECT_EQ(record, "");
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
    EXPECT_EQ(link_type(), LINK_TYPE_TCP);
}

TEST_F(LinkTcp, FixedLengthReads) {
    openLink();
    ASSERT_TRUE(peer.send("0123456789"));
    std::string data;
    EXPECT_EQ(link_read_nbytes_timeout(data, 10, 1), 10);
    EXPECT_EQ(data, "0123456789");

    // Only 6 of 10 bytes there: the read would block, which is a failure.
    ASSERT_TRUE(peer.send("ABCDEF"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(link_read_nbytes(data, 10), -1);
    EXPECT_TRUE(log.contains("of 10 nbytes threw EAGAIN, COMM ERROR"));
    EXPECT_TRUE(log.contains("link_read_nbytes: Raising SIGPIPE 6"));
    EXPECT_EQ(LinkEnv::sigpipes(), 1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

TEST_F(LinkTcp, SingleReceiveWithTimeout) {
    openLink();
    std::string data;
    EXPECT_EQ(link_read_with_timeout(data, 1), 0);
    ASSERT_TRUE(peer.send("one receive\r\n"));
    EXPECT_EQ(link_read_with_timeout(data, 1), 13);
    EXPECT_EQ(data, "one receive\r\n");
}

TEST_F(LinkTcp, OversizedRecordIsRefused) {
    VORN_MSG_DEBUG_LEVEL = 0;  // 65536 bytes would trace every one
    openLink();
    std::thread sender([&] { peer.send(std::string(65536, 'A')); });
    std::string record;
    EXPECT_EQ(link_read_delim_timeout(ETX, 1, record), -1);
    sender.join();
    EXPECT_TRUE(log.contains("ioc_read_delim(): Exceeded max buffer size of 65536"));
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

TEST_F(LinkTcp, WriteReachesThePeerAfterwardsPausesAndIsLogged) {
    openLink();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link_write(std::string{STX} + "PS|RN101|" + ETX), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(peer.receive(11), std::string{STX} + "PS|RN101|" + ETX);
    EXPECT_EQ(env.trafficLog().back(), std::make_pair('>', std::string{STX} + "PS|RN101|" + ETX));
}

TEST_F(LinkTcp, WritingToAVanishedPeerClosesTheLinkAndNothingElse) {
    openLink();
    peer.close();
    // The first write may still be taken; the peer's reset then breaks the pipe.
    int results = 0;
    for (int i = 0; i < 5 && link_type() != LINK_TYPE_CLOSED; ++i) results += link_write("ping");
    EXPECT_LT(results, 5);
    EXPECT_GE(LinkEnv::sigpipes(), 1);
    EXPECT_EQ(pms_fd_client, -1);
    EXPECT_TRUE(log.contains("link_write: Error writing data to PMS"));
}

TEST_F(LinkTcp, ConnectionRefused) {
    RefusingPort refusing;
    env.configure({"PMSCOMMTYPE=TCP", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=127.0.0.1|" + std::to_string(refusing.port())});
    int fds = countOpenFds();
    EXPECT_EQ(link_open(), -1);
    char expected[96];
    snprintf(expected, sizeof expected, "Unable to connect to remote address '127.0.0.1' [%d]", ECONNREFUSED);
    EXPECT_TRUE(log.contains(expected));
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    EXPECT_EQ(pms_fd_client, -1);
    EXPECT_EQ(countOpenFds(), fds);
}

TEST_F(LinkTcp, SourceOptionsBindTheChosenLocalPort) {
    int port = freeLoopbackPort(SOCK_STREAM);
    openLink({"PMSCOMMSRCOPTS=127.0.0.1|" + std::to_string(port)});
    EXPECT_EQ(peer.remotePort(), port);
}

TEST_F(LinkTcp, ReopeningClosesFirstAndLeaksNothing) {
    openLink();
    StreamPeer first = std::move(peer);
    ASSERT_GE(link_open(), 0);  // already open: closed, then opened again
    EXPECT_TRUE(log.contains("link_open: Link is already open.. should close link first"));
    EXPECT_EQ(first.receive(1, 1000), "");  // the old connection was closed
    peer = listener.accept();
    auto lines = env.trafficLog();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].second, "Logging terminated");
    EXPECT_EQ(lines[2].second, "Logging initialized");
    link_close();
    peer.close();
    first.close();

    int fds = countOpenFds();
    for (int i = 0; i < 20; ++i) {
        ASSERT_GE(link_open(), 0);
        StreamPeer p = listener.accept();
        link_close();
    }
    EXPECT_EQ(countOpenFds(), fds);
    EXPECT_EQ(pms_fd_client, -1);
}

TEST_F(LinkTcp, TrafficLogCanBeRotated) {
    openLink();
    ASSERT_EQ(link_write("before"), 1);
    std::string rotated = env.dir().path() + "/link.log.1";
    ASSERT_EQ(rename(env.trafficLogPath().c_str(), rotated.c_str()), 0);
    linklog_reopen();  // what SIGHUP asks for
    ASSERT_EQ(link_write("after"), 1);
    EXPECT_NE(readFile(rotated).find("> before\n"), std::string::npos);
    EXPECT_NE(readFile(rotated).find("* Logging terminated\n"), std::string::npos);
    auto lines = env.trafficLog();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].second, "Logging initialized");
    EXPECT_EQ(lines[1], std::make_pair('>', std::string("after")));
}

}  // namespace

namespace {

// A listener whose accept queue is full: the kernel drops further SYNs, as a
// host behind a silent firewall does.
class SynDroppingPort {
public:
    SynDroppingPort() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), len) != 0 || listen(fd_, 0) != 0) return;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        // Backlog 0 admits one; a few more make sure the queue is full.
        for (int i = 0; i < 3; ++i) {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(c, reinterpret_cast<sockaddr*>(&sa), len);
            fillers_.push_back(c);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~SynDroppingPort() {
        for (int c : fillers_) close(c);
        close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

struct ConnectCase {
    const char* name;
    int timeout_s;
    bool opens;
    double max_seconds;
};

class LinkTcpConnect : public ::testing::TestWithParam<ConnectCase> {};

}  // namespace

// Opening the link never takes longer than PMSCOMMTIMEOUT, whatever the far
// end does with the SYN.
TEST_P(LinkTcpConnect, OpenIsBoundedByTheReadTimeout) {
    const ConnectCase& c = GetParam();
    LogCapture log;
    LinkEnv env;
    TcpListener live;
    RefusingPort refusing;
    SynDroppingPort dropping;
    ASSERT_GT(dropping.port(), 0);
    const std::string name = c.name;
    const int port = name == "live" ? live.port() : name == "refused" ? refusing.port() : dropping.port();
    env.configure({"PMSCOMMTYPE=tcp", "PMSCOMMTIMEOUT=" + std::to_string(c.timeout_s),
                   "PMSCOMMOPTS=127.0.0.1|" + std::to_string(port)});
    auto t0 = std::chrono::steady_clock::now();
    int fd = link_open();
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(fd >= 0, c.opens);
    EXPECT_LT(took, c.max_seconds);
    if (!c.opens) {
        EXPECT_EQ(pms_fd_client, -1);
        EXPECT_TRUE(log.contains("Unable to connect to remote address '127.0.0.1'"));
    }
    if (name == "dropping") {
        EXPECT_GE(took, 0.9 * c.timeout_s);
    }
    link_close();
}

INSTANTIATE_TEST_SUITE_P(Peers, LinkTcpConnect,
                         ::testing::Values(ConnectCase{"live", 1, true, 0.5}, ConnectCase{"refused", 1, false, 0.5},
                                           ConnectCase{"dropping", 1, false, 1.6},
                                           ConnectCase{"dropping", 2, false, 2.6}),
                         [](const auto& info) {
                             return std::string(info.param.name) + std::to_string(info.param.timeout_s) + "s";
                         });
