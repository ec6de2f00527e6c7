// The PMS link over a serial line, against a pseudo-terminal pair: the link
// opens the terminal side, the test plays the PMS on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "platform/log.h"
#include "state.h"

namespace {

class LinkSerial : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        device = name;
        // Start from a cooked line so that every change the link makes shows.
        ASSERT_EQ(tcgetattr(slave, &original), 0);
        cfsetispeed(&original, B1200);
        cfsetospeed(&original, B1200);
        original.c_cflag = (original.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        original.c_iflag |= IXON | IXOFF | ICRNL;
        original.c_lflag |= ICANON | ECHO | ECHOE | ISIG;
        original.c_oflag |= OPOST;
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &original), 0);
        ASSERT_EQ(tcgetattr(slave, &original), 0);
    }
    void TearDown() override {
        if (pms_fd_client >= 0) link_close();
        close(slave);
        close(master);
    }
    termios current() const {
        termios t{};
        EXPECT_EQ(tcgetattr(slave, &t), 0);
        return t;
    }
    std::string readMaster(size_t want) const {
        std::string got;
        pollfd p{master, POLLIN, 0};
        while (got.size() < want && poll(&p, 1, 1000) > 0) {
            char buf[256];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

    LogCapture log;
    LinkEnv env;
    int master = -1, slave = -1;
    std::string device;
    termios original{};
};

TEST_F(LinkSerial, OpenSetsTheRawLineAndCloseRestoresIt) {
    env.configure({"PMSCOMMTYPE=RS232", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + device + "|9600|8|N|1"});
    ASSERT_GE(link_open(), 0);
    EXPECT_EQ(link_type(), LINK_TYPE_RS232);

    termios t = current();
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    // Everything else is left as found.
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), original.c_cflag & (CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], original.c_cc[VMIN]);
    EXPECT_EQ(t.c_cc[VTIME], original.c_cc[VTIME]);

    link_close();
    termios back = current();
    EXPECT_EQ(back.c_iflag, original.c_iflag);
    EXPECT_EQ(back.c_oflag, original.c_oflag);
    EXPECT_EQ(back.c_cflag, original.c_cflag);
    EXPECT_EQ(back.c_lflag, original.c_lflag);
    EXPECT_EQ(cfgetospeed(&back), B1200);
}

// A Linux pseudo-terminal always reports 8 data bits without parity
// enable, whatever is set; the odd/even choice, stop bits and speed show.
TEST_F(LinkSerial, CharacterFormats) {
    struct Case {
        const char* opts;
        speed_t speed;
        tcflag_t parodd, stop;
        const char* parity_trace;
    } cases[] = {
        {"|19200|7|e|1", B19200, 0, 0, "RS232: Setting even parity"},
        {"|300|5|O|2", B300, PARODD, CSTOPB, "RS232: Setting odd parity"},
        {"|115200|6|n|2", B115200, 0, CSTOPB, "RS232: Setting no parity"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opts);
        log.clear();
        env.configure({"PMSCOMMTYPE=rs232", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + device + c.opts});
        ASSERT_GE(link_open(), 0);
        EXPECT_TRUE(log.contains(c.parity_trace));
        termios t = current();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & PARODD, c.parodd);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stop);
        link_close();
    }
}

TEST_F(LinkSerial, BytesCrossBothWaysUntranslated) {
    env.configure({"PMSCOMMTYPE=RS232", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + device + "|9600|8|N|1"});
    ASSERT_GE(link_open(), 0);
    ASSERT_EQ(write(master, "\x02GI|RN12\r\n\x03\x7f", 12), 12);
    std::string record;
    EXPECT_EQ(link_read_delim_timeout('\x03', 1, record), 11);
    EXPECT_EQ(record, "\x02GI|RN12\r\n\x03");
    EXPECT_EQ(link_read_nbytes(record, 1), 1);  // the byte after the record stayed
    EXPECT_EQ(record, "\x7f");

    EXPECT_EQ(link_write("\x06\r\n"), 1);
    EXPECT_EQ(readMaster(3), "\x06\r\n");
    EXPECT_EQ(link_read_delim_timeout('\x03', 1, record), 0);
    EXPECT_EQ(LinkEnv::sigpipes(), 0);
}

TEST_F(LinkSerial, OptionRefusalsLeaveTheLinkClosed) {
    struct Case {
        std::string fields;  // after the device
        std::vector<const char*> messages;
    } cases[] = {
        {"|14400|8|N|1", {"Invalid baudrate specified - 14400", "Missing/invalid baudrate setting"}},
        {"|96OO|8|N|1",
         {"Invalid format for baud setting.  Must be a valid number.", "Missing/invalid baudrate setting"}},
        {"||8|N|1", {"Unable to set null baudrate", "Missing/invalid baudrate setting"}},
        {"|9600|9|N|1", {"Invalid databits setting. Valid values are 5 through 8, inclusive."}},
        {"|9600|88|N|1", {"Missing/invalid databits setting"}},
        {"|9600|8|X|1", {"Invalid parity setting"}},
        {"|9600|8|1|1", {"Missing/invalid parity setting"}},
        {"|9600|8|N|3", {"Invalid stopbits setting"}},
        {"|9600|8|N|x", {"Missing/invalid stopbits setting"}},
        {"|9600|8|N", {"Unable to parse RS232 settings from config option PMSCOMMOPTS"}},
    };
    int fds = countOpenFds();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        log.clear();
        env.configure({"PMSCOMMTYPE=RS232", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + device + c.fields});
        EXPECT_EQ(link_open(), -1);
        for (const char* m : c.messages) EXPECT_TRUE(log.contains(m)) << m;
        EXPECT_EQ(pms_fd_client, -1);
        EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    }
    EXPECT_EQ(countOpenFds(), fds);
    // The refused opens left the line as it was.
    EXPECT_EQ(current().c_lflag, original.c_lflag);
}

TEST_F(LinkSerial, MissingDevice) {
    std::string missing = env.dir().path() + "/ttyS9";
    env.configure({"PMSCOMMTYPE=RS232", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + missing + "|9600|8|N|1",
                   "VENDOR=Micros-Fidelio"});
    EXPECT_EQ(link_open(), -1);
    EXPECT_TRUE(log.contains("Unable to open device '" + missing + "'"));
    EXPECT_EQ(pms_fd_client, -1);

    // The two-way HN MUX cannot run without its line: the daemon ends.
    env.configure({"PMSCOMMTYPE=RS232", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + missing + "|9600|8|N|1",
                   "VENDOR=HN MUX 2-way"});
    EXPECT_EXIT(
        {
            vornMSG_SetStderr(true);
            link_open();
        },
        ::testing::ExitedWithCode(1), "Exit, serial device is missing for vendor \\[HN MUX 2-way\\]");
}

}  // namespace
