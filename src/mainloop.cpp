#include "mainloop.h"

#include <poll.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "db.h"
#include "io_gwy/control_pool.h"
#include "io_pms/io_common.h"
#include "link.h"
#include "pms_init.h"
#include "platform/log.h"
#include "scan.h"
#include "service.h"
#include "signals.h"
#include "state.h"
#include "vendor.h"

static constexpr char kLogSrc[] = "mainloop";

namespace {

using Clock = std::chrono::steady_clock;

int g_read_timeouts = 0;

// Consecutive empty reads after which the link counts as dead.
constexpr int kMaxReadTimeouts = 10;

// The wait set: the PMS link, the control port (listening socket and open
// control connections) and the signal pipe. A vendor driven by the scan alone
// keeps its link out of the set: a descriptor with data pending would end
// every wait at once. The link, when present, is always the first entry.
struct WaitSet {
    std::vector<pollfd> fds;
    bool has_link = false;
    size_t signal_at = 0;
    size_t db_at = SIZE_MAX;   // the idle database connection, when there is one
};

void buildWaitSet(WaitSet& w, bool first) {
    w.fds.clear();
    w.has_link = false;
    if (pms_fd_client > 0) {
        if (vendor_traits().waits_on_link) {
            w.fds.push_back({pms_fd_client, POLLIN, 0});
            w.has_link = true;
        }
    } else if (first) {
        VLOG_DEBUG(4, 1000, "pms_execute: pms_fd_client <= 0, not monitoring");
    }
    if (pms_fd_server <= 0) {
        if (first)
            VLOG_DEBUG(4, 1000, "pms_execute: pms_fd_server <= 0, not monitoring");
        else
            VLOG_DEBUG(4, 1000, "pms_execute: pms_fd_server <= 0, this may have caused a segfault");
    }
    // A database server that goes away says so on the idle connection.
    w.db_at = SIZE_MAX;
    if (int db = db_idle_fd(); db >= 0) {
        w.db_at = w.fds.size();
        w.fds.push_back({db, POLLIN, 0});
    }
    // Signals end the wait through this pipe (also one that arrives just
    // before the wait is entered).
    w.signal_at = w.fds.size();
    w.fds.push_back({pms_signal_wakeup_fd(), POLLIN, 0});
    svr_pendingFds(pms_fd_server, w.fds);
}

bool linkReady(const WaitSet& w) { return w.has_link && w.fds[0].revents != 0; }
bool signalReady(const WaitSet& w) { return w.fds[w.signal_at].fd >= 0 && w.fds[w.signal_at].revents != 0; }
// Whether poll reported the listening socket (absent when the pool is full).
SvrAccept acceptFrom(const WaitSet& w) {
    for (size_t i = w.signal_at + 1; i < w.fds.size(); ++i)
        if (w.fds[i].fd == pms_fd_server) return w.fds[i].revents != 0 ? SvrAccept::One : SvrAccept::None;
    return SvrAccept::None;
}
bool controlReady(const WaitSet& w) {
    return std::any_of(w.fds.begin() + static_cast<long>(w.signal_at) + 1, w.fds.end(),
                       [](const pollfd& p) { return p.revents != 0; });
}

bool stillReadable(int fd) {
    if (fd != pms_fd_client) return false;
    if (ioc_pending(fd) > 0) return true;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

int msUntil(Clock::time_point t) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000));
}

// The wait expired: reopen a closed link, then scan (only with a link).
void onTimeout() {
    if (pms_fd_client < 0) {
        VLOG_DEBUG(4, 1000, "pms_execute: calling pms_init");
        pms_init();
        if (pms_fd_client < 0) {
            VLOG_WARN(1000, "pms_execute: NO PMS CONNECTED");
            return;
        }
    }
    g_last_scan = time(nullptr);
    // Guest records held while the database was away go in before anything new.
    vendor_replay_held();
    pms_db_scan_and_post();
}

}  // namespace

int pms_execute(unsigned postdelay) {
    WaitSet w;
    buildWaitSet(w, true);
    if (pms_fd_client <= 0 && pms_fd_server <= 0) {
        VLOG_ERROR(1000, "pms_execute: Both pms_fd_client and pms_fd_server invalid");
        return 0;
    }
    const auto period = std::chrono::seconds(postdelay);
    // The wait ends at this point whatever traffic comes in between; only a
    // scan (and, for a vendor whose records re-arm it, a PMS record) moves it on.
    Clock::time_point deadline = Clock::now() + period;

    for (;;) {
        // Requests that waited for the link during an exchange: it is free now.
        if (svr_pendingQueued()) {
            pms_service_GWY();
            buildWaitSet(w, false);
        }
        // The wait also ends when the service manager's keep-alive is due or
        // a control connection's deadline comes.
        const Clock::time_point wake = pms_service_wake(deadline);
        const Clock::time_point control_due = svr_pendingDeadline();
        // Records already received with an earlier one wait in the link's
        // buffer, where poll cannot see them: do not sleep on them.
        const bool kept = vendor_traits().waits_on_link && w.has_link && pms_fd_client > 0 &&
                          w.fds[0].fd == pms_fd_client && ioc_pending(pms_fd_client) > 0;
        int n = poll(w.fds.data(), w.fds.size(), kept ? 0 : msUntil(std::min(wake, control_due)));
        if (kept && n >= 0) {
            if (w.fds[0].revents == 0) ++n;
            w.fds[0].revents |= POLLIN;
        }
        if (n >= 0 && w.db_at != SIZE_MAX) db_idle_seen(w.fds[w.db_at].revents != 0);
        if (n == 0 && (wake < deadline || control_due < deadline) && Clock::now() < deadline) {
            // Woken for the keep-alive (sent below) or a control deadline.
            pms_service_GWY();
        } else if (n == 0) {
            onTimeout();
            deadline = Clock::now() + period;
        } else if (n < 0) {
            int err = errno;
            VLOG_ERROR(1000, "pms_execute: main select loop error: %s", strerror(err));
            if (err != EINTR) return 0;
        } else {
            // Control connections go first. A request among them may have
            // read the PMS data itself, so the link is read only when data is
            // still there.
            bool link = linkReady(w);
            if (controlReady(w)) {
                VLOG_DEBUG(2, 1000, "pms_service_GWY: enter");
                svr_servePending(pms_fd_server, SvrLink::Free, acceptFrom(w));
                link = link && stillReadable(w.fds[0].fd);
            }
            if (link && pms_fd_client > 0 && vendor_traits().waits_on_link) {
                pms_service_PMS();
                // Such a vendor's scan waits for POSTDELAY seconds of PMS silence.
                if (vendor_traits().record_restarts_wait) deadline = Clock::now() + period;
            }
        }
        if (pms_signals_pending() || (n > 0 && signalReady(w))) pms_handle_pending_signals();
        pms_service_tick();
        buildWaitSet(w, false);
    }
}

void pms_service_GWY() {
    VLOG_DEBUG(2, 1000, "pms_service_GWY: enter");
    svr_servePending(pms_fd_server, SvrLink::Free);
}

void pms_service_PMS() {
    VLOG_DEBUG(2, 1000, "pms_service_PMS: enter");
    VendorDescriptor* vendor = vendor_current();
    if (!vendor) {
        VLOG_ERROR(1000, "pms_service_PMS: PMS Vendor has not been initialized");
        return;
    }
    if (vendor->read_msg) {
        // What the PMS sends of its own accord may take long (a trickled
        // record, a resynchronisation): control requests for the link do not
        // wait beyond one read time-out for it.
        SvrLinkWaitLimit limit;
        std::string record;
        int n = vendor->read_msg(record);
        VLOG_DEBUG(2, 1000, "pms_service_PMS: PMS_read() ret %d", n);
        if (n > 0) {
            if (vendor_handle_data(record) == 0)
                VLOG_INFO("pms_service_PMS: Unsuccessful return value from PMS vendor command handler.");
            g_read_timeouts = 0;
        } else if (n == 0) {
            vornMSG_Syslog(LOG_ERR, "pms_service_PMS: handling read timeout");
            if (++g_read_timeouts > kMaxReadTimeouts) {
                g_read_timeouts = 0;
                vendor_stop();
                link_close();
            }
        } else {
            VLOG_ERROR(1000, "pms_service_PMS: vendor read returned < 0");
        }
    }
    VLOG_DEBUG(2, 1000, "pms_service_PMS: exit");
}
