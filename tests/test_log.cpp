#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "config.h"
#include "logcapture.h"
#include "platform/log.h"
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
