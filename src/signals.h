// Process signals. The handlers only record that a signal arrived (logging,
// freeing and socket I/O are not safe inside an asynchronous handler); the
// main loop calls pms_handle_pending_signals after every wake-up and the
// recorded signals are acted on there, each as often as it arrived.
#pragma once

#include <functional>

// Recording handlers, one per signal (the number is checked).
void handle_sighup(int sig);
void handle_sigterm(int sig);
void handle_sigtstp(int sig);
void handle_sigchld(int sig);
void handle_sigusr1(int sig);
void handle_sigusr2(int sig);
// SIGPIPE: inside a LinkSigpipeScope it is the link layer's own and is acted
// on when the scope ends; any other SIGPIPE (kill -PIPE) is recorded like the
// signals above.
void handle_sigpipe(int sig);

// Marks the stretch in which the link layer raises SIGPIPE itself or writes
// to the PMS (where the kernel raises it for a peer that has gone). A SIGPIPE
// that arrives inside it runs g_on_sigpipe as soon as the scope ends, before
// the link layer goes on, so that a failed read or write leaves the link
// closed; the handler itself only notes it.
class LinkSigpipeScope {
public:
    LinkSigpipeScope();
    ~LinkSigpipeScope();
    LinkSigpipeScope(const LinkSigpipeScope&) = delete;
    LinkSigpipeScope& operator=(const LinkSigpipeScope&) = delete;
};
// raise(SIGPIPE) inside a LinkSigpipeScope; raise's result.
int pms_raise_link_sigpipe();

// Routes SIGHUP, SIGTERM, SIGTSTP and SIGCHLD through the daemon library and
// installs SIGUSR1 and SIGUSR2 the same way; 0, or -1.
int pms_install_signal_handlers();

// Read end of a pipe that becomes readable whenever a signal is recorded, for
// the main loop's select (closes the window between checking and waiting).
int pms_signal_wakeup_fd();
// True when some signal waits to be handled.
bool pms_signals_pending();
// Performs the actions of every recorded signal, in the order SIGCHLD, SIGHUP,
// SIGTSTP, SIGUSR1, SIGUSR2, SIGPIPE, SIGTERM.
void pms_handle_pending_signals();

// SIGHUP: reopens the link traffic log (set by the link layer; none by default).
extern std::function<void()> g_on_sighup;
// SIGTERM: closes the control port, the vendor, the link and the database
// (set by the daemon wiring). It runs between "Shutting down vornPMS" and the
// release of the configuration and lock file; the process then exits with 0.
extern std::function<void()> g_on_sigterm;
// SIGPIPE: sets the control server BUSY and closes the link, to be reopened at
// the next time-out (set by the daemon wiring).
extern std::function<void()> g_on_sigpipe;
