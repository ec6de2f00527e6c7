// The daemon under a service manager: readiness once it serves, a status
// line whenever it changes, and watchdog keep-alives from the main loop, so
// that a daemon whose loop hangs is restarted. Nothing happens without
// $NOTIFY_SOCKET.
#pragma once

#include <chrono>

using ServiceClock = std::chrono::steady_clock;

// READY=1 with the first status line; called once the control port is open
// and the configuration has been found usable.
void pms_service_ready();
// STOPPING=1 at an orderly shutdown.
void pms_service_stopping();
// The earlier of `deadline` and the time the next keep-alive is due: the
// main loop waits no longer than this.
ServiceClock::time_point pms_service_wake(ServiceClock::time_point deadline);
// After every wake-up of the main loop: a keep-alive when one is due, and the
// status line when it changed.
void pms_service_tick();
// Forgets the watchdog period and status read so far (tests).
void pms_service_reset();
