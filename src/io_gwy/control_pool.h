// Control connections served side by side. Each accepted connection is
// non-blocking and keeps its own bytes received, its answer still to send and
// its deadline: 2 seconds for the whole request, SVR_SEND_TIMEOUT_S for the
// whole answer. A client that sends half a frame or never reads its answer
// holds up nobody but itself.
//
// The pool is served from the main loop, between two postings of the scan,
// and from every wait for the PMS link (io_wait.h). Inside a link wait a PMS
// exchange may be under way, so a request that needs the link waits for the
// next point where the link is free: the end of the posting under way during
// a scan. While the daemon reads what the PMS sends of its own accord (a
// record that may trickle in byte by byte, a resynchronisation) there is no
// such point to count on; a request then waits at most one read time-out
// (PMSCOMMTIMEOUT) and is answered as the unavailable PMS is.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <vector>

enum class SvrLink {
    Free,  // no PMS exchange under way: every request may be answered
    Busy,  // inside an exchange: requests that need the link wait
};

// How many connections to accept first. A caller whose poll just reported
// the listening socket accepts one: the next poll reports any other, and an
// accept that finds none is a system call wasted on every request.
enum class SvrAccept {
    UntilEmpty,  // all that wait (nobody polled the listening socket)
    One,         // poll reported it readable
    None,        // poll reported it quiet
};

// Accepts what is waiting on `listen_fd` and moves every connection on as far
// as it goes without blocking.
void svr_servePending(int listen_fd, SvrLink link, SvrAccept accept = SvrAccept::UntilEmpty);
// Appends the descriptors to wait on: the listening socket for new
// connections, each connection for reading or for writing its answer.
void svr_pendingFds(int listen_fd, std::vector<pollfd>& fds);
// The earliest connection deadline; time_point::max() when there is none.
std::chrono::steady_clock::time_point svr_pendingDeadline();
// While one lives, requests waiting for the link are answered unavailable
// after one read time-out.
class SvrLinkWaitLimit {
public:
    SvrLinkWaitLimit();
    ~SvrLinkWaitLimit();
    SvrLinkWaitLimit(const SvrLinkWaitLimit&) = delete;
    SvrLinkWaitLimit& operator=(const SvrLinkWaitLimit&) = delete;
};

// True when a complete request waits for the link to be free.
bool svr_pendingQueued();
