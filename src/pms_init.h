// Bringing the daemon up: configuration, detaching (or, in the foreground,
// the lock file), database, signal handlers, multicast client, control port,
// PMS link and vendor. Called once from main and again by the main loop at
// every time-out while the PMS link is closed.
#pragma once

#include <optional>

// 1 when the daemon may run (even with the PMS link still closed), 0 when it
// cannot. Nothing it sets up again on a retry is left behind by the last try.
int pms_init();

// POSTDELAY in seconds (a whole number above 0), or nullopt after logging why
// the daemon cannot run with it.
std::optional<unsigned> pms_read_postdelay();
