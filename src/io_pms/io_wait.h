// Other work a wait for the PMS link may do meanwhile. The daemon installs
// the control port here, so that a PMS that answers slowly, or trickles a
// record byte by byte, does not leave control clients unanswered.
#pragma once

#include <poll.h>

#include <chrono>
#include <functional>
#include <vector>

struct IoWaitCompanion {
    // Appends the descriptors to watch beside the link.
    std::function<void(std::vector<pollfd>&)> fds;
    // Called when one of them is ready or its deadline has come.
    std::function<void()> serve;
    // The next time serve must run even without traffic.
    std::function<std::chrono::steady_clock::time_point()> deadline;
};

// Installs the companion (an empty one removes it).
void io_set_wait_companion(IoWaitCompanion companion);

// Waits up to `timeout_ms` (-1: no limit) for `fd` to become readable while
// serving the companion: 1 readable, 0 time-out, -1 failure. A signal that
// interrupts the wait does not end it. The companion is not served from
// inside its own serve (it may wait on the link itself).
int io_wait_readable_serving(int fd, int timeout_ms);
