#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config.h"
#include "logcapture.h"
#include "platform/log.h"
#include "platform/syslog_conn.h"
#include "tmpfiles.h"

static constexpr char kLogSrc[] = "io_pms/io_tcp";

TEST(Log, LevelFilteringAndLineLayout) {
    LogCapture log(2);
    int line = __LINE__ + 1;
    VLOG_DEBUG(2, 1000, "pms_init: %s", "shown");
    VLOG_DEBUG(3, 1000, "pms_init: %s", "hidden");
    VLOG_DEBUG(1, 414, "announce");
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0], "DEBUG2 io_pms/io_tcp:" + std::to_string(line) + " [1000] pms_init: shown");
    EXPECT_NE(log.lines()[1].find("DEBUG1 io_pms/io_tcp:"), std::string::npos);
    EXPECT_NE(log.lines()[1].find("[414] announce"), std::string::npos);

    VORN_MSG_DEBUG_LEVEL = 0;
    log.clear();
    VLOG_DEBUG(1, 1000, "hidden");
    VLOG_INFO("Received SIGUSR1, increasing log verbosity");
    VLOG_WARN(999, "w %d", 1);
    errno = ENOENT;
    VLOG_ERRNO(1000, "open %s", "x");
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_NE(log.lines()[0].find("INFO io_pms/io_tcp:"), std::string::npos);
    EXPECT_NE(log.lines()[0].find("Received SIGUSR1, increasing log verbosity"), std::string::npos);
    EXPECT_NE(log.lines()[1].find("WARNING io_pms/io_tcp:"), std::string::npos);
    EXPECT_NE(log.lines()[1].find("[999] w 1"), std::string::npos);
    EXPECT_NE(log.lines()[2].find("[1000] open x: No such file or directory"), std::string::npos);
}

TEST(Log, SecretsFromConfigurationAreMasked) {
    TempDir dir;
    g_config_file = dir.write("vornpms.cfg", "DBPASS=pa55word\nSFTP_PASSWORD=sftp-secret\n");
    ASSERT_EQ(config_init(), 1);
    LogCapture log;
    VLOG_ERROR(1000, "db_connect: dbname=gw user=gw password=%s", "pa55word");
    VLOG_INFO("sftp login %s/%s and again %s", "user", "sftp-secret", "sftp-secret");
    vornMSG_Syslog(LOG_INFO, "BILLING posted %s", "pa55word");
    ASSERT_EQ(log.lines().size(), 3u);
    for (const auto& l : log.lines()) {
        EXPECT_EQ(l.find("pa55word"), std::string::npos) << l;
        EXPECT_EQ(l.find("sftp-secret"), std::string::npos) << l;
    }
    EXPECT_NE(log.lines()[0].find("password=****"), std::string::npos);
    EXPECT_NE(log.lines()[1].find("user/**** and again ****"), std::string::npos);
    EXPECT_EQ(log.lines()[2], "BILLING posted ****");
    config_free();
}

TEST(Log, VeryShortSecretsDoNotGarbleLines) {
    TempDir dir;
    g_config_file = dir.write("vornpms.cfg", "DBPASS=x\n");
    ASSERT_EQ(config_init(), 1);
    LogCapture log;
    VLOG_INFO("Executing %s", "next");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("Executing next"), std::string::npos) << log.lines()[0];
    config_free();
}

TEST(Log, LongLinesAreKeptWhole) {
    LogCapture log;
    std::string big(5000, 'q');
    VLOG_INFO("%s|end", big.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find(big + "|end"), std::string::npos);
}

namespace {
int g_sigpipes = 0;
void countSigpipe(int) { ++g_sigpipes; }
}  // namespace

// The daemon takes SIGPIPE for a broken PMS link; a standard error whose
// reader has gone must not raise it.
TEST(Log, StderrReaderGoneRaisesNoSigpipe) {
    struct sigaction sa {}, old {};
    sa.sa_handler = countSigpipe;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &sa, &old), 0);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    close(p[0]);
    int saved_stderr = dup(STDERR_FILENO);
    dup2(p[1], STDERR_FILENO);
    close(p[1]);
    bool was = vornMSG_GetStderr();
    vornMSG_SetStderr(true);
    g_sigpipes = 0;
    VLOG_ERROR(1000, "first line to a gone reader");
    VLOG_ERROR(1000, "second line");
    bool still = vornMSG_GetStderr();
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    vornMSG_SetStderr(was);
    sigaction(SIGPIPE, &old, nullptr);
    EXPECT_EQ(g_sigpipes, 0);
    EXPECT_FALSE(still);
}

namespace {

// A syslog daemon of our own: a datagram socket at a path of the test's.
struct SyslogListener {
    explicit SyslogListener(const std::string& path) : path(path) { bind_now(); }
    ~SyslogListener() {
        if (fd >= 0) close(fd);
        unlink(path.c_str());
    }
    void bind_now() {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        unlink(path.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    void gone() {
        close(fd);
        fd = -1;
        unlink(path.c_str());
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        char buf[2048];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0) out.emplace_back(buf, static_cast<size_t>(n));
        return out;
    }
    std::string path;
    int fd = -1;
};

}  // namespace

// One socket for every line; opened again when the syslog daemon comes back,
// and not once per line while nobody listens.
TEST(Log, SyslogSocketIsKeptAndReopenedOnlyOnError) {
    TempDir dir;
    SyslogListener syslogd(dir.path() + "/log");
    syslog_conn_set_path(syslogd.path.c_str());
    vornMSG_Setup("vornpms", 0, LOG_LOCAL6, 0);
    const unsigned opens = syslog_conn_opens();
    // Read as we go: a datagram socket queues only a few lines.
    std::vector<std::string> got;
    for (int i = 0; i < 50; ++i) {
        vornMSG_Syslog(LOG_INFO, "BILLING posted %d", i);
        if (i % 5 == 4)
            for (auto& l : syslogd.lines()) got.push_back(std::move(l));
    }
    EXPECT_EQ(syslog_conn_opens(), opens + 1);
    ASSERT_EQ(got.size(), 50u);
    const std::string head = "<" + std::to_string(LOG_LOCAL6 | LOG_INFO) + ">";
    EXPECT_EQ(got[0].compare(0, head.size(), head), 0) << got[0];
    const std::string tail = " vornpms[" + std::to_string(getpid()) + "]: BILLING posted 0";
    ASSERT_GE(got[0].size(), tail.size());
    EXPECT_EQ(got[0].substr(got[0].size() - tail.size()), tail) << got[0];

    syslogd.gone();
    for (int i = 0; i < 20; ++i) vornMSG_Syslog(LOG_INFO, "lost %d", i);
    EXPECT_LE(syslog_conn_opens(), opens + 2);  // one attempt, then a pause

    // Back within the pause: the next attempt comes after it, not per line.
    syslogd.bind_now();
    syslog_conn_set_path(syslogd.path.c_str());  // what a restart of the pause looks like
    vornMSG_Syslog(LOG_ERR, "back");
    got = syslogd.lines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0].find("]: back"), std::string::npos);
    syslog_conn_set_path("/dev/log");
}
