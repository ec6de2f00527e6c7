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

// Routes SIGHUP, SIGTERM, SIGTSTP and SIGCHLD through the daemon library and
// installs SIGUSR1 and SIGUSR2 the same way; 0, or -1.
int pms_install_signal_handlers();

// Read end of a pipe that becomes readable whenever a signal is recorded, for
// the main loop's select (closes the window between checking and waiting).
int pms_signal_wakeup_fd();
// True when some signal waits to be handled.
bool pms_signals_pending();
// Performs the actions of every recorded signal, in the order SIGCHLD, SIGHUP,
// SIGTSTP, SIGUSR1, SIGUSR2, SIGTERM.
void pms_handle_pending_signals();

// SIGHUP: reopens the link traffic log (set by the link layer; none by default).
extern std::function<void()> g_on_sighup;
// SIGTERM: closes the control port, the vendor, the link and the database
// (set by the daemon wiring). It runs between "Shutting down vornPMS" and the
// release of the configuration and lock file; the process then exits with 0.
extern std::function<void()> g_on_sigterm;
