#include "signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "config.h"
#include "platform/daemon.h"
#include "platform/log.h"
#include "state.h"

static constexpr char kLogSrc[] = "signals";

std::function<void()> g_on_sighup;
std::function<void()> g_on_sigterm;
std::function<void()> g_on_sigpipe;

namespace {

enum Slot { kChld, kHup, kTstp, kUsr1, kUsr2, kPipe, kTerm, kSlots };
constexpr int kSignalOf[kSlots] = {SIGCHLD, SIGHUP, SIGTSTP, SIGUSR1, SIGUSR2, SIGPIPE, SIGTERM};

// Set while the link layer may raise SIGPIPE itself (its own raise, or the
// kernel's inside a write to a PMS that has gone); the handler then only
// notes the signal and the link layer acts on it as soon as the raise or
// write returns.
volatile sig_atomic_t g_link_pipe_scope = 0;
volatile sig_atomic_t g_link_pipe_seen = 0;

// Arrivals per signal since the last pms_handle_pending_signals. Handlers for
// these signals block each other, so an increment is never interrupted by
// another handler touching the counters.
volatile sig_atomic_t g_count[kSlots];
int g_wake[2] = {-1, -1};

void record(Slot slot) {
    g_count[slot] = g_count[slot] + 1;
    if (g_wake[1] >= 0) {
        int saved = errno;
        ssize_t ignored = write(g_wake[1], "s", 1);
        (void)ignored;
        errno = saved;
    }
}

sigset_t recordedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignalOf) sigaddset(&set, s);
    return set;
}

void reapChildren() {
    VLOG_DEBUG(1, 1000, "Received SIGCHLD, reaping zombie process(es)");
    // WNOHANG: a child that is still running must not stall the daemon.
    int status;
    while (waitpid(-1, &status, WNOHANG) > 0) {
    }
}

[[noreturn]] void shutdownDaemon() {
    VLOG_INFO("Recieved SIGTERM.  Shutting down...");
    VLOG_DEBUG(2, 1000, "Shutting down vornPMS");
    if (g_on_sigterm) g_on_sigterm();
    pms_fd_server = -1;
    pms_fd_client = -1;
    config_free();
    // The lock file is ours whether or not we detached; leaving it would
    // name a dead pid.
    vornDAEMON_DaemonCleanup(g_daemonize);
    VLOG_INFO("vornPMS has been cleanly shutdown");
    exit(0);
}

}  // namespace

void handle_sighup(int sig) {
    if (sig == SIGHUP) record(kHup);
}
void handle_sigterm(int sig) {
    if (sig == SIGTERM) record(kTerm);
}
void handle_sigtstp(int sig) {
    if (sig == SIGTSTP) record(kTstp);
}
void handle_sigchld(int sig) {
    if (sig == SIGCHLD) record(kChld);
}
void handle_sigusr1(int sig) {
    if (sig == SIGUSR1) record(kUsr1);
}
void handle_sigusr2(int sig) {
    if (sig == SIGUSR2) record(kUsr2);
}
void handle_sigpipe(int sig) {
    if (sig != SIGPIPE) return;
    if (g_link_pipe_scope > 0)
        g_link_pipe_seen = 1;
    else
        record(kPipe);
}

LinkSigpipeScope::LinkSigpipeScope() { g_link_pipe_scope = g_link_pipe_scope + 1; }

LinkSigpipeScope::~LinkSigpipeScope() {
    g_link_pipe_scope = g_link_pipe_scope - 1;
    if (g_link_pipe_scope == 0 && g_link_pipe_seen) {
        g_link_pipe_seen = 0;
        if (g_on_sigpipe) g_on_sigpipe();
    }
}

int pms_raise_link_sigpipe() {
    LinkSigpipeScope own;
    return raise(SIGPIPE);
}

int pms_install_signal_handlers() {
    if (g_wake[0] < 0 && pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        VLOG_ERRNO(1000, "pms_install_signal_handlers: pipe");
        g_wake[0] = g_wake[1] = -1;
    }
    int rc = vornDAEMON_InitializeHandlers(
        {handle_sighup, handle_sigterm, handle_sigtstp, handle_sigchld});
    rc |= vornDAEMON_InstallHandler(SIGUSR1, handle_sigusr1);
    rc |= vornDAEMON_InstallHandler(SIGUSR2, handle_sigusr2);
    return rc == 0 ? 0 : -1;
}

int pms_signal_wakeup_fd() { return g_wake[0]; }

bool pms_signals_pending() {
    for (int i = 0; i < kSlots; ++i)
        if (g_count[i] != 0) return true;
    return false;
}

void pms_handle_pending_signals() {
    // Take the counts with the signals blocked so that none is lost between
    // reading a counter and clearing it.
    sigset_t set = recordedSignals(), old;
    sigprocmask(SIG_BLOCK, &set, &old);
    int count[kSlots];
    for (int i = 0; i < kSlots; ++i) {
        count[i] = g_count[i];
        g_count[i] = 0;
    }
    if (g_wake[0] >= 0) {
        char buf[64];
        while (read(g_wake[0], buf, sizeof buf) > 0) {
        }
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);

    for (int i = 0; i < count[kChld]; ++i) reapChildren();
    for (int i = 0; i < count[kHup]; ++i) {
        VLOG_INFO("Received SIGHUP, close and open link log");
        if (g_on_sighup) g_on_sighup();
    }
    for (int i = 0; i < count[kTstp]; ++i) {
        VLOG_INFO("Received TSTP, outputting configuration");
        config_dump();
    }
    for (int i = 0; i < count[kUsr1]; ++i) {
        VLOG_INFO("Received SIGUSR1, increasing log verbosity");
        if (VORN_MSG_DEBUG_LEVEL < 4) ++VORN_MSG_DEBUG_LEVEL;
    }
    for (int i = 0; i < count[kUsr2]; ++i) {
        VLOG_INFO("Received SIGUSR2, halting verbose logging");
        VORN_MSG_DEBUG_LEVEL = 0;
    }
    // A SIGPIPE sent from outside closes the link like the link layer's own,
    // once however many arrived.
    if (count[kPipe] > 0 && g_on_sigpipe) g_on_sigpipe();
    if (count[kTerm] > 0) shutdownDaemon();
}
