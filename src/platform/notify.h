// Service manager notifications (the notify-socket protocol of systemd):
// readiness, a status line, watchdog keep-alives and stopping, each one
// datagram to the AF_UNIX socket named by $NOTIFY_SOCKET. Without that
// variable every call does nothing, so the daemon runs the same anywhere.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

// True when a service manager listens ($NOTIFY_SOCKET set and usable).
bool notify_enabled();
// Sends one message ("READY=1", "STATUS=...", "WATCHDOG=1", "STOPPING=1",
// several separated by newlines); true when the datagram went out.
bool notify_send(std::string_view message);
// The keep-alive period asked for: half of $WATCHDOG_USEC, when that is set
// and $WATCHDOG_PID (if present) names this process; nullopt otherwise.
std::optional<std::chrono::microseconds> notify_watchdog_period();
// Forgets what was read from the environment (tests change it).
void notify_reset();
