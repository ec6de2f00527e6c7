// Link settings that must be refused, and the closed link's answers. Every
// refusal leaves the link closed with no descriptor left behind.
#include <gtest/gtest.h>

#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "state.h"

namespace {

struct Refusal {
    std::vector<std::string> settings;
    const char* message;
};

void expectRefused(LinkEnv& env, LogCapture& log, const Refusal& r) {
    SCOPED_TRACE(r.message);
    log.clear();
    env.configure(r.settings);
    int fds = countOpenFds();
    pms_fd_client = 7;  // a stale value must not survive a failed open
    EXPECT_EQ(link_open(), -1);
    EXPECT_TRUE(log.contains(r.message));
    EXPECT_EQ(pms_fd_client, -1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    EXPECT_EQ(countOpenFds(), fds);
}

TEST(LinkConfig, CommTypeAndTimeoutRefusals) {
    LogCapture log;
    LinkEnv env;
    const std::string opts = "PMSCOMMOPTS=127.0.0.1|5010";
    const Refusal cases[] = {
        {{"PMSCOMMTIMEOUT=1", opts}, "link_init: NULL communications type"},
        {{"PMSCOMMTYPE=Serial", "PMSCOMMTIMEOUT=1", opts}, "link_init: Unhandled communications type"},
        {{"PMSCOMMTYPE=Serial", "PMSCOMMTIMEOUT=1", opts}, "Invalid value for PMSCOMMTYPE: Serial"},
        {{"PMSCOMMTYPE=SFTP", "PMSCOMMTIMEOUT=1", opts}, "io_sftp_init: SFTP_USERNAME value not defined"},
        {{"PMSCOMMTYPE=sftp", "PMSCOMMTIMEOUT=1", opts, "SFTP_USERNAME=u"}, "io_sftp_init: SFTP_PASSWORD value not defined"},
        {{"PMSCOMMTYPE=SFTP", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=127.0.0.1|0", "SFTP_USERNAME=u", "SFTP_PASSWORD=p"},
         "io_sftp_init: Invalid PMSCOMMOPTS for SFTP.  Must be a valid port number"},
        {{"PMSCOMMTYPE=TCP", opts},
         "ling_timeout: Unable to retrieve PMS communications timeout value PMSCOMMTIMEOUT from the configuration"},
        {{"PMSCOMMTYPE=TCP", "PMSCOMMTIMEOUT=abc", opts},
         "ling_timeout: Invalid PMSCOMMTIMEOUT value.  Must be a non-negative number."},
        {{"PMSCOMMTYPE=UDP", "PMSCOMMTIMEOUT=-5", opts},
         "ling_timeout: Invalid PMSCOMMTIMEOUT value.  Must be a non-negative number."},
        {{"PMSCOMMTYPE=RS232", "PMSCOMMTIMEOUT=99999999999", "PMSCOMMOPTS=/dev/null|9600|8|N|1"},
         "ling_timeout: Invalid PMSCOMMTIMEOUT value.  Must be a non-negative number."},
    };
    for (const auto& r : cases) expectRefused(env, log, r);

    // A time-out of 0 makes the transport give up without a message of its own.
    env.configure({"PMSCOMMTYPE=TCP", "PMSCOMMTIMEOUT=0", opts});
    EXPECT_EQ(link_timeout(), 0u);
    EXPECT_EQ(link_open(), -1);
    env.configure({"PMSCOMMTIMEOUT=15"});
    EXPECT_EQ(link_timeout(), 15u);
}

TEST(LinkConfig, NetworkOptionRefusals) {
    LogCapture log;
    LinkEnv env;
    const char* tcp_parse = "Unable to parse TCP settings from config option PMSCOMMOPTS";
    const char* tcp_port = "Invalid PMSCOMMOPTS for TCP.  Must be a valid port number";
    auto tcp = [](const std::string& opts, const std::string& src = "") {
        std::vector<std::string> s{"PMSCOMMTYPE=TCP", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + opts};
        if (!src.empty()) s.push_back("PMSCOMMSRCOPTS=" + src);
        return s;
    };
    auto udp = [](const std::string& opts, const std::string& src = "") {
        std::vector<std::string> s{"PMSCOMMTYPE=UDP", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=" + opts};
        if (!src.empty()) s.push_back("PMSCOMMSRCOPTS=" + src);
        return s;
    };
    const Refusal cases[] = {
        {{"PMSCOMMTYPE=TCP", "PMSCOMMTIMEOUT=1"},
         "Unable to retrieve communcations option 'PMSCOMMOPTS' from configuration file"},
        {tcp("10.0.0.5:5010"), tcp_parse},
        {tcp("10.0.0.5"), tcp_parse},
        {tcp("10.0.0.5|5010|x"), tcp_parse},
        {tcp("10.0.0.5|0"), tcp_port},
        {tcp("10.0.0.5|65536"), tcp_port},
        {tcp("10.0.0.5|abc"), tcp_port},
        {tcp("10.0.0.5|"), tcp_port},
        {tcp("10.0.0.5|99999999999999999999"), tcp_port},
        {tcp("127.0.0.1|5010", "localhost|6000"), "Invalid PMSCOMMSRCOPTS for TCP.  Must be a valid IP address"},
        {tcp("127.0.0.1|5010", "127.0.0.1:6000"),
         "Unable to parse local TCP settings from config option PMSCOMMSRCOPTS"},
        {tcp("127.0.0.1|5010", "127.0.0.1|65536"), "Invalid PMSCOMMSRCOPTS for TCP.  Must be a valid port number"},
        {tcp("127.0.0.1|5010", "127.0.0.1|-1"), "Invalid PMSCOMMSRCOPTS for TCP.  Must be a valid port number"},
        {udp("10.0.0.5:5010"), "Unable to parse udp settings from config option PMSCOMMOPTS"},
        {udp("10.0.0.5|65536"), "Invalid PMSCOMMOPTS for UDP.  Must be a valid port number"},
        {udp("127.0.0.1|5010", "localhost|6000"), "Invalid PMSCOMMSRCOPTS for UDP.  Must be a valid IP address"},
        {udp("127.0.0.1|5010", "127.0.0.1"),
         "Unable to parse local UDP settings from config option PMSCOMMSRCOPTS"},
        {udp("127.0.0.1|5010", "127.0.0.1|x"), "Invalid PMSCOMMSRCOPTS for UDP.  Must be a valid port number"},
    };
    for (const auto& r : cases) expectRefused(env, log, r);
}

TEST(LinkConfig, ClosedLinkAnswers) {
    LogCapture log;
    LinkEnv env;
    env.configure({});
    std::string out = "stale";
    EXPECT_EQ(link_write("x"), 0);
    EXPECT_TRUE(log.contains("link_write: Link isn't open! Must open link before writing"));
    struct Read {
        const char* name;
        int result;
    } reads[] = {
        {"link_read_nbytes", link_read_nbytes(out, 4)},
        {"link_read_nbytes_timeout", link_read_nbytes_timeout(out, 4, 1)},
        {"link_read_delim", link_read_delim('\r', out)},
        {"link_read_delim_timeout", link_read_delim_timeout('\r', 1, out)},
        {"link_read_delims_timeout", link_read_delims_timeout("\r", 1, out)},
        {"link_read_with_timeout", link_read_with_timeout(out, 1)},
        {"link_determine_newest_file", link_determine_newest_file(out)},
        {"link_read_file", link_read_file("guests.csv", 10, out)},
    };
    for (const auto& r : reads) {
        EXPECT_EQ(r.result, -1) << r.name;
        EXPECT_TRUE(log.contains(std::string(r.name) + ": Link isn't open. Must open link before reading")) << r.name;
    }
    EXPECT_EQ(out, "");
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    EXPECT_TRUE(log.contains("link_type: my_conn is null"));
    EXPECT_EQ(link_fd(), -1);
    EXPECT_TRUE(log.contains("link_fd: Link is closed.. should open link before asking for file descriptor."));
    EXPECT_EQ(LinkEnv::sigpipes(), 0);

    // Closing a closed link still closes a traffic log left open.
    ASSERT_EQ(linklog_open(env.trafficLogPath()), 1);
    link_close();
    EXPECT_TRUE(log.contains("link_close: Attempting to close an already closed PMS link"));
    EXPECT_FALSE(linklog_is_open());
    auto lines = env.trafficLog();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], std::make_pair('*', std::string("Logging terminated")));
}

}  // namespace
