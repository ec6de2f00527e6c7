// Control-port socket and framing over real loopback connections.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "netutil.h"
#include "config.h"
#include "ctl_support.h"
#include "io_gwy/connection.h"
#include "io_gwy/server.h"
#include "logcapture.h"

namespace {

using Clock = std::chrono::steady_clock;

// The server end of a fresh loopback connection, with the client end in `client`.
int acceptedPair(const ControlPort& cp, int& client) {
    client = connectLoopback(cp.port());
    return accept(cp.fd(), nullptr, nullptr);
}

// svr_getMessage on a connection whose client sent `bytes` and then closed.
std::optional<ServerMessage> receive(const ControlPort& cp, const std::string& bytes) {
    int client = -1;
    int fd = acceptedPair(cp, client);
    sendAll(client, bytes);
    shutdown(client, SHUT_WR);
    auto msg = svr_getMessage(fd);
    close(fd);
    close(client);
    return msg;
}

}  // namespace

TEST(ServerOpen, ListensOnControlAddressAndStartsBusy) {
    ControlPort cp;
    ASSERT_GT(cp.fd(), 0);
    ASSERT_GT(cp.port(), 0);
    EXPECT_EQ(svr_isReady(), 0);
    int c = connectLoopback(cp.port());
    EXPECT_GE(c, 0);
    close(c);
    svr_close();
    EXPECT_EQ(svr_port(), 0);
    EXPECT_EQ(svr_isReady(), 0);
}

TEST(ServerOpen, PortIsTheLow16BitsOfTheNumber) {
    int port = freeTcpPort();
    TempDir dir;
    g_config_file = dir.write(
        "c.cfg", "CONTROLPORT=" + std::to_string(65536 + port) + "\nCONTROLADDR=127.0.0.1\n");
    config_init();
    ASSERT_GT(svr_open(), 0);
    EXPECT_EQ(svr_port(), port);
    svr_close();
}

TEST(ServerOpen, RejectsMissingOrMalformedSettings) {
    LogCapture log;
    TempDir dir;
    g_config_file = dir.write("a.cfg", "VENDOR=x\n");
    config_init();
    EXPECT_EQ(svr_open(), -1);
    EXPECT_TRUE(log.contains(
        "Unable to retrieve communcations option 'CONTROLPORT' from configuration file"));
    EXPECT_TRUE(log.contains("Null value for CONTROLPORT"));

    g_config_file = dir.write("b.cfg", "CONTROLPORT=port\n");
    config_init();
    EXPECT_EQ(svr_open(), -1);
    EXPECT_TRUE(log.contains("Invalid CONTROLPORT.  Must be a valid port number"));

    g_config_file = dir.write("c.cfg", "CONTROLPORT=0\nCONTROLADDR=localhost.example\n");
    config_init();
    EXPECT_EQ(svr_open(), -1);
    EXPECT_TRUE(log.contains("Invalid value for CONTROLADDR: localhost.example"));

    // A port some other socket holds cannot be bound.
    ControlPort taken;
    g_config_file = dir.write(
        "d.cfg", "CONTROLPORT=" + std::to_string(taken.port()) + "\nCONTROLADDR=127.0.0.1\n");
    config_init();
    EXPECT_EQ(svr_open(), -1);
    EXPECT_TRUE(log.contains("Unable to bind to local address '127.0.0.1'"));
}

TEST(ServerFraming, ReadsWellFormedFrames) {
    ControlPort cp;
    auto m = receive(cp,
                     "\x02"
                     "0101101\x03");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, "01");
    EXPECT_EQ(m->subtype, "01");
    EXPECT_EQ(m->data, "101");

    m = receive(cp,
                "\x02"
                "0101\x03");  // no data
    ASSERT_TRUE(m);
    EXPECT_EQ(m->data, "");

    m = receive(cp,
                "junk\x02"
                "0113\x03");  // bytes before STX are skipped
    ASSERT_TRUE(m);
    EXPECT_EQ(m->subtype, "13");

    int type = 0, subtype = 0;
    std::string data;
    ASSERT_EQ(svr_parseMessage(*m, type, subtype, data), 1);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(subtype, 13);
}

TEST(ServerFraming, RejectsMalformedFrames) {
    ControlPort cp;
    LogCapture log;
    EXPECT_FALSE(receive(cp,
                         "\x02"
                         "0A01101\x03"));
    EXPECT_FALSE(receive(cp,
                         "\x02"
                         "010\x03"));  // five bytes
    EXPECT_EQ(log.count("Invalid message format"), 2);

    EXPECT_FALSE(receive(cp, std::string("\x02"
                                         "0101a\0b\x03",
                                         9)));  // zero byte in the data
    EXPECT_TRUE(log.contains("Unable to find end message marker"));

    EXPECT_FALSE(receive(cp, "no marker\x03"));
    EXPECT_TRUE(log.contains("Unable to find beginning message marker"));

    EXPECT_FALSE(receive(cp,
                         "\x02"
                         "01"));  // client hangs up mid-frame
    EXPECT_TRUE(log.contains("Client hung up"));
}

TEST(ServerFraming, OversizeMessageIsCutAt1024Bytes) {
    ControlPort cp;
    LogCapture log;
    int client = -1;
    int fd = acceptedPair(cp, client);
    // 1024 bytes without ETX, then a valid frame the server must not reach.
    sendAll(client,
            "\x02"
            "0101" +
                std::string(1019, 'x') +
                "\x02"
                "0101\x03");
    EXPECT_FALSE(svr_getMessage(fd));
    EXPECT_TRUE(log.contains("Unable to find end message marker"));
    // Exactly 1024 bytes were taken: the valid frame is still unread.
    auto next = svr_getMessage(fd);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->subtype, "01");
    close(fd);
    close(client);
}

TEST(ServerFraming, WholeMessageMustArriveWithinTwoSeconds) {
    ControlPort cp;
    LogCapture log;
    int client = -1;
    int fd = acceptedPair(cp, client);
    // One byte every 400 ms keeps the line busy, but the frame needs 3.2 s.
    std::thread trickle([client] {
        for (char c : std::string("\x02"
                                  "0101101\x03")) {
            send(client, &c, 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
    });
    auto t0 = Clock::now();
    EXPECT_FALSE(svr_getMessage(fd));
    auto took = Clock::now() - t0;
    trickle.join();
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(2600));
    EXPECT_TRUE(log.contains("Client connection hung up"));
    close(fd);
    close(client);
}

TEST(ServerFraming, HalfFrameClientIsDroppedAndNextClientServed) {
    ControlPort cp;
    TestVendorSelected vendor;
    int stalled = connectLoopback(cp.port());
    sendAll(stalled,
            "\x02"
            "01");
    int next = connectLoopback(cp.port());
    sendAll(next, frame("01", "01", "101"));

    svr_serveClient(cp.fd());                      // the stalled client, given up after 2 s
    EXPECT_EQ(readUntilClosed(stalled, 500), "");  // closed without a reply
    svr_serveClient(cp.fd());
    EXPECT_EQ(readUntilClosed(next), std::string("\x02"
                                                 "02011\x03"));
    close(stalled);
    close(next);
}

TEST(ServerSend, MessagesAndReplies) {
    EXPECT_EQ(svr_newMessage(3, 123, "").subtype, "12");  // wider values keep two characters
    EXPECT_EQ(svr_frame(svr_newMessage(2, 1, "1")), std::string("\x02"
                                                                "02011\x03"));

    ControlPort cp;
    int client = -1;
    int fd = acceptedPair(cp, client);
    EXPECT_EQ(svr_sendReply(fd, 2, ""), 1);
    EXPECT_EQ(svr_sendReply(fd, 4, "Invalid message"), 1);
    close(fd);
    EXPECT_EQ(readUntilClosed(client), std::string("\x02"
                                                   "0302\x03"
                                                   "\x02"
                                                   "0304Invalid message\x03"));
    close(client);
    EXPECT_EQ(svr_sendMessage(-1, svr_newMessage(2, 1, "1")), 0);
}

TEST(ServerSend, LargeMessageGoesOutInPartialSends) {
    ControlPort cp;
    int client = -1;
    int fd = acceptedPair(cp, client);
    int sndbuf = 16 * 1024, rcvbuf = 64 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    setsockopt(client, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);

    // Signals without SA_RESTART cut a blocking send short (a partial count,
    // or EINTR before any byte went out); both must be resumed.
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    struct sigaction old {};
    sigaction(SIGUSR1, &sa, &old);
    const pthread_t sender = pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done) {
            pthread_kill(sender, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::string got;
    std::thread reader([&] {
        char buf[8192];
        for (;;) {
            ssize_t n = recv(client, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::string data(1024 * 1024, 'd');
    for (size_t i = 0; i < data.size(); i += 997) data[i] = static_cast<char>('a' + i % 26);
    EXPECT_EQ(svr_sendMessage(fd, svr_newMessage(2, 5, data)), 1);
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &old, nullptr);
    close(fd);
    reader.join();
    EXPECT_EQ(got,
              "\x02"
              "0205" +
                  data + "\x03");
    close(client);
}

TEST(ServerSend, PeerThatHungUpFailsWithoutSignal) {
    ControlPort cp;
    int client = -1;
    int fd = acceptedPair(cp, client);
    close(client);
    int rc = 1;
    // The first send may still be accepted by the kernel; a later one fails
    // (EPIPE), and the process must not be killed by SIGPIPE.
    for (int i = 0; i < 50 && rc == 1; ++i) {
        rc = svr_sendMessage(fd, svr_newMessage(2, 1, std::string(4096, 'x')));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(rc, 0);
    close(fd);
}
