#include "platform/daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/log.h"

static constexpr char kLogSrc[] = "platform/daemon";

namespace {

int g_lock_fd = -1;
std::string g_lock_path;

// The pid written in a lock file, or 0 when there is none.
long lockOwner(int fd) {
    char buf[32] = {};
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    return n > 0 ? strtol(buf, nullptr, 10) : 0;
}

std::string absolutePath(const char* path) {
    if (path[0] == '/') return path;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return path;
    return std::string(cwd) + "/" + path;
}

void redirectStdStreams() {
    int fd = open("/dev/null", O_RDWR);
    if (fd < 0) return;
    dup2(fd, STDIN_FILENO);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    if (fd > STDERR_FILENO) close(fd);
}

}  // namespace

int vornDAEMON_DaemonSetup() {
    fflush(nullptr);
    return 0;
}

int vornDAEMON_TakeLock(const char* lockfile) {
    if (lockfile == nullptr || *lockfile == '\0') {
        VLOG_ERROR(1000, "vornDAEMON_TakeLock: no lock file given");
        return -1;
    }
    std::string path = absolutePath(lockfile);
    if (g_lock_fd >= 0 && g_lock_path == path) return 0;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        VLOG_ERRNO(1000, "vornDAEMON_TakeLock: cannot create lock file %s", path.c_str());
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            VLOG_ERROR(1000,
                       "vornDAEMON_TakeLock: lock file %s is held by a running vornpms (pid %ld); "
                       "not starting a second one",
                       path.c_str(), lockOwner(fd));
        else
            VLOG_ERRNO(1000, "vornDAEMON_TakeLock: cannot lock %s", path.c_str());
        close(fd);
        return -1;
    }
    char pid[32];
    int len = snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid, static_cast<size_t>(len), 0) != len) {
        VLOG_ERRNO(1000, "vornDAEMON_TakeLock: cannot write pid to %s", path.c_str());
        close(fd);
        return -1;
    }
    // A lock of another path taken earlier is given up for the new one.
    vornDAEMON_DaemonCleanup(0);
    g_lock_fd = fd;
    g_lock_path = path;
    return 0;
}

int vornDAEMON_DaemonStart(const char* lockfile, int detach) {
    if (!detach) return vornDAEMON_TakeLock(lockfile);
    if (lockfile == nullptr) lockfile = "";
    // chdir("/") below must not change which file a relative path names.
    std::string path = *lockfile ? absolutePath(lockfile) : std::string();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        VLOG_ERRNO(1000, "vornDAEMON_DaemonStart: pipe");
        return -1;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        VLOG_ERRNO(1000, "vornDAEMON_DaemonStart: fork");
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (pid > 0) {
        // The starting process ends once the daemon knows whether it holds the
        // lock, so that whoever started it learns the outcome from the status.
        close(report[1]);
        char ok = 1;
        ssize_t n;
        do n = read(report[0], &ok, 1);
        while (n < 0 && errno == EINTR);
        _exit(n == 1 && ok == 0 ? 0 : 1);
    }
    close(report[0]);
    setsid();
    if (chdir("/") != 0) VLOG_ERRNO(1000, "vornDAEMON_DaemonStart: chdir /");
    // Taken before the streams go, so that a refusal still reaches the terminal.
    int rc = vornDAEMON_TakeLock(path.c_str());
    redirectStdStreams();
    vornMSG_SetStderr(false);
    char status = rc == 0 ? 0 : 1;
    ssize_t ignored = write(report[1], &status, 1);
    (void)ignored;
    close(report[1]);
    return rc;
}

int vornDAEMON_InstallHandler(int sig, vornDAEMON_Handler handler) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGHUP, SIGTERM, SIGTSTP, SIGCHLD, SIGUSR1, SIGUSR2}) sigaddset(&sa.sa_mask, s);
    // No SA_RESTART: the main loop's select must return at once with EINTR.
    sa.sa_flags = sig == SIGCHLD ? SA_NOCLDSTOP : 0;
    return sigaction(sig, &sa, nullptr) == 0 ? 0 : -1;
}

int vornDAEMON_InitializeHandlers(const vornDAEMON_HandlerTable& table) {
    int rc = 0;
    rc |= vornDAEMON_InstallHandler(SIGHUP, table.hup);
    rc |= vornDAEMON_InstallHandler(SIGTERM, table.term);
    rc |= vornDAEMON_InstallHandler(SIGTSTP, table.tstp);
    rc |= vornDAEMON_InstallHandler(SIGCHLD, table.chld);
    return rc == 0 ? 0 : -1;
}

int vornDAEMON_DaemonCleanup(int) {
    if (g_lock_fd < 0) return 0;
    unlink(g_lock_path.c_str());
    close(g_lock_fd);
    g_lock_fd = -1;
    g_lock_path.clear();
    return 0;
}
