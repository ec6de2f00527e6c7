#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "platform/daemon.h"
#include "procrun.h"
#include "tmpfiles.h"

namespace {

// Forks a starter that calls vornDAEMON_DaemonStart; the daemon it leaves
// behind waits (at most 20 s) to be killed. Returns the starter's status.
int startDaemon(const std::string& lock) {
    pid_t starter = fork();
    if (starter == 0) {
        if (vornDAEMON_DaemonStart(lock.c_str(), 1) != 0) _exit(3);
        alarm(20);
        for (;;) pause();
    }
    int status = 0;
    waitpid(starter, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(DaemonLock, DetachedDaemonHoldsLockAgainstSecondStart) {
    TempDir dir;
    std::string lock = dir.path() + "/vornpms.lock";
    ASSERT_EQ(startDaemon(lock), 0);
    long pid = strtol(readFile(lock).c_str(), nullptr, 10);
    ASSERT_GT(pid, 0);
    EXPECT_NE(pid, getpid());
    EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), 0);

    EXPECT_EQ(startDaemon(lock), 1);  // the second daemon refuses, its starter says so
    {
        LogCapture log;
        EXPECT_EQ(vornDAEMON_TakeLock(lock.c_str()), -1);
        EXPECT_TRUE(log.contains("lock file " + lock + " is held by a running vornpms (pid " +
                                 std::to_string(pid) + ")"));
    }
    kill(static_cast<pid_t>(pid), SIGKILL);
    // The lock goes with the process.
    bool taken = false;
    for (int i = 0; i < 200 && !taken; ++i) {
        taken = vornDAEMON_TakeLock(lock.c_str()) == 0;
        if (!taken) usleep(10000);
    }
    EXPECT_TRUE(taken);
    EXPECT_EQ(strtol(readFile(lock).c_str(), nullptr, 10), getpid());
    vornDAEMON_DaemonCleanup(1);
    EXPECT_NE(access(lock.c_str(), F_OK), 0);
}

TEST(DaemonLock, UncreatableLockFileIsNamed) {
    LogCapture log;
    EXPECT_EQ(vornDAEMON_TakeLock("/nonexistent-dir/vornpms.lock"), -1);
    EXPECT_TRUE(log.contains("cannot create lock file /nonexistent-dir/vornpms.lock: No such file"));
    TempDir dir;
    EXPECT_EQ(startDaemon(dir.path() + "/no/such/dir/lock"), 1);
}

TEST(DaemonLock, ForegroundInstanceRefusesWhileLockIsHeld) {
    TempDir dir;
    std::string lock = dir.path() + "/vornpms.lock";
    std::string cfg = dir.write("vornpms.cfg", "POSTDELAY=60\n");
    ASSERT_EQ(vornDAEMON_TakeLock(lock.c_str()), 0);
    RunResult r = runProgram({binPath("vornpms"), "-D", "-L", lock, "-c", cfg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lock file " + lock + " is held by a running vornpms (pid " +
                         std::to_string(getpid()) + ")"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("main: Unable to start PMS"), std::string::npos);
    vornDAEMON_DaemonCleanup(1);

    // Free again: the foreground run gets past the lock (to the missing
    // database settings) and removes it on its way out.
    r = runProgram({binPath("vornpms"), "-D", "-L", lock, "-c", cfg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Missing config value DBNAME!"), std::string::npos) << r.err;
    EXPECT_NE(access(lock.c_str(), F_OK), 0);
}
