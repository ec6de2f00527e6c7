// Detaching into the background, the lock file that keeps a second daemon
// from starting, and installation of the process signal handlers.
#pragma once

using vornDAEMON_Handler = void (*)(int);

// The four handlers routed by vornDAEMON_InitializeHandlers, in this order.
struct vornDAEMON_HandlerTable {
    vornDAEMON_Handler hup;
    vornDAEMON_Handler term;
    vornDAEMON_Handler tstp;
    vornDAEMON_Handler chld;
};

// Flushes buffered output so that nothing is written twice after the fork; 0.
int vornDAEMON_DaemonSetup();
// Detaches (fork, setsid, chdir "/", standard streams to /dev/null) and then
// takes the lock file. The starting process waits for the outcome and exits
// with 0 when the daemon holds the lock, 1 when it does not. Returns 0 in the
// daemon, -1 (logged, naming the file) when the lock cannot be taken.
int vornDAEMON_DaemonStart(const char* lockfile, int detach);
// Takes the lock file without detaching (foreground runs): creates it, locks
// it exclusively and writes our pid. 0, or -1 with an error naming the file
// and, when another daemon holds it, that daemon's pid.
int vornDAEMON_TakeLock(const char* lockfile);
// Installs the handlers for SIGHUP, SIGTERM, SIGTSTP and SIGCHLD (without
// SA_RESTART, so that a blocking select returns EINTR); 0, or -1.
int vornDAEMON_InitializeHandlers(const vornDAEMON_HandlerTable& table);
// Removes and releases the lock file when this process holds it; 0.
int vornDAEMON_DaemonCleanup(int daemonized);
// Installs one handler the same way (no SA_RESTART, the other routed signals
// blocked while it runs); 0, or -1.
int vornDAEMON_InstallHandler(int sig, vornDAEMON_Handler handler);
