#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <gtest/gtest.h>

#include "config.h"
#include "logcapture.h"
#include "platform/daemon.h"
#include "platform/log.h"
#include "signals.h"
#include "tmpfiles.h"

namespace {

class Signals : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pms_install_signal_handlers(), 0); }
    void TearDown() override {
        for (int s : {SIGHUP, SIGTERM, SIGTSTP, SIGCHLD, SIGUSR1, SIGUSR2, SIGPIPE}) signal(s, SIG_DFL);
        g_on_sigpipe = nullptr;
        config_free();
    }
};

}  // namespace

TEST_F(Signals, FiveUsr1EndAtLevelFourAndUsr2Silences) {
    LogCapture log(0);
    for (int i = 0; i < 5; ++i) raise(SIGUSR1);
    // Nothing happens inside the handlers: the level moves only when the loop acts.
    EXPECT_EQ(VORN_MSG_DEBUG_LEVEL, 0);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(pms_signals_pending());
    pms_handle_pending_signals();
    EXPECT_EQ(VORN_MSG_DEBUG_LEVEL, 4);
    EXPECT_EQ(log.count("Received SIGUSR1, increasing log verbosity"), 5);
    EXPECT_FALSE(pms_signals_pending());

    raise(SIGUSR2);
    pms_handle_pending_signals();
    EXPECT_EQ(VORN_MSG_DEBUG_LEVEL, 0);
    EXPECT_TRUE(log.contains("Received SIGUSR2, halting verbose logging"));
}

TEST_F(Signals, PipeFromOutsideWaitsForTheLoopTheLinkLayersOwnActsAtOnce) {
    ASSERT_EQ(vornDAEMON_InstallHandler(SIGPIPE, handle_sigpipe), 0);
    int closed = 0;
    g_on_sigpipe = [&] { ++closed; };
    LogCapture log(0);
    // From outside (kill -PIPE): recorded only, acted on once by the loop.
    for (int i = 0; i < 3; ++i) kill(getpid(), SIGPIPE);
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(pms_signals_pending());
    pms_handle_pending_signals();
    EXPECT_EQ(closed, 1);
    // The link layer's own: acted on before the raise's caller goes on, never
    // left for the loop.
    EXPECT_EQ(pms_raise_link_sigpipe(), 0);
    EXPECT_EQ(closed, 2);
    EXPECT_FALSE(pms_signals_pending());
    {
        LinkSigpipeScope write;
        raise(SIGPIPE);
        EXPECT_EQ(closed, 2);  // not inside the write
    }
    EXPECT_EQ(closed, 3);
    EXPECT_FALSE(pms_signals_pending());
}

TEST_F(Signals, TstpDumpsConfigurationAndDoesNotStop) {
    TempDir dir;
    g_config_file = dir.write("vornpms.cfg", "POSTDELAY=60\nVENDOR=JDS\n");
    ASSERT_EQ(config_init(), 1);
    LogCapture log(0);
    raise(SIGTSTP);  // with the default action this would stop the test
    pms_handle_pending_signals();
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_NE(log.lines()[0].find("Received TSTP, outputting configuration"), std::string::npos);
    EXPECT_NE(log.lines()[1].find("Config #POSTDELAY# => #60#"), std::string::npos);
    EXPECT_NE(log.lines()[2].find("Config #VENDOR# => #JDS#"), std::string::npos);
}

TEST_F(Signals, SignalFromOutsideInterruptsSelectAndRunsHupHook) {
    int hooked = 0;
    g_on_sighup = [&] { ++hooked; };
    pid_t parent = getpid();
    pid_t sender = fork();
    if (sender == 0) {
        usleep(100000);
        kill(parent, SIGHUP);
        _exit(0);
    }
    int fd = pms_signal_wakeup_fd();
    ASSERT_GE(fd, 0);
    auto start = std::chrono::steady_clock::now();
    int rc;
    do {
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(fd, &rd);
        timeval tv{5, 0};
        rc = select(fd + 1, &rd, nullptr, nullptr, &tv);
    } while (!pms_signals_pending() && rc != 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(rc == 1 || (rc == -1 && errno == EINTR));
    LogCapture log(0);
    pms_handle_pending_signals();
    EXPECT_TRUE(log.contains("Received SIGHUP, close and open link log"));
    EXPECT_EQ(hooked, 1);
    g_on_sighup = nullptr;
    waitpid(sender, nullptr, 0);
}

TEST_F(Signals, ChldReapsExitedChildrenWithoutWaitingForRunningOnes) {
    pid_t sleeper = fork();
    if (sleeper == 0) {
        sleep(30);
        _exit(0);
    }
    pid_t quick = fork();
    if (quick == 0) _exit(0);
    for (int i = 0; i < 200 && !pms_signals_pending(); ++i) usleep(10000);
    LogCapture log(1);
    auto start = std::chrono::steady_clock::now();
    pms_handle_pending_signals();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(log.contains("Received SIGCHLD, reaping zombie process(es)"));
    EXPECT_EQ(waitpid(quick, nullptr, WNOHANG), -1);  // already reaped
    EXPECT_EQ(errno, ECHILD);
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
}

TEST_F(Signals, TermRunsHookReleasesLockAndExitsZero) {
    TempDir dir;
    std::string lock = dir.path() + "/vornpms.lock";
    std::string marker = dir.path() + "/hook-ran";
    g_config_file = dir.write("vornpms.cfg", "POSTDELAY=60\n");
    pid_t child = fork();
    if (child == 0) {
        if (config_init() != 1 || vornDAEMON_TakeLock(lock.c_str()) != 0) _exit(3);
        g_on_sigterm = [&] { dir.write("hook-ran", "yes"); };
        raise(SIGTERM);
        pms_handle_pending_signals();
        _exit(4);  // not reached: the shutdown exits
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(marker), "yes");
    EXPECT_NE(access(lock.c_str(), F_OK), 0);
}
