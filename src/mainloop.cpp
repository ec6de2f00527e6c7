#include "mainloop.h"

#include <sys/select.h>
#include <syslog.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "io_gwy/connection.h"
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

void watch(fd_set& set, int fd, int& maxfd) {
    if (fd < 0) return;
    if (fd >= FD_SETSIZE) {
        VLOG_ERROR(1000, "pms_execute: descriptor %d too high to wait on", fd);
        return;
    }
    FD_SET(fd, &set);
    if (fd > maxfd) maxfd = fd;
}

bool ready(const fd_set& set, int fd) { return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &set); }

// The read set and the highest descriptor in it. A vendor driven by the scan
// alone keeps its link out of the set: a descriptor with data pending would
// end every wait at once.
int buildWaitSet(fd_set& set, bool first) {
    FD_ZERO(&set);
    int maxfd = -1;
    if (pms_fd_client > 0) {
        if (vendor_traits().waits_on_link) watch(set, pms_fd_client, maxfd);
    } else if (first) {
        VLOG_DEBUG(4, 1000, "pms_execute: pms_fd_client <= 0, not monitoring");
    }
    if (pms_fd_server > 0)
        watch(set, pms_fd_server, maxfd);
    else if (first)
        VLOG_DEBUG(4, 1000, "pms_execute: pms_fd_server <= 0, not monitoring");
    else
        VLOG_DEBUG(4, 1000, "pms_execute: pms_fd_server <= 0, this may have caused a segfault");
    // Signals end the wait through this pipe (also one that arrives just
    // before select is entered).
    watch(set, pms_signal_wakeup_fd(), maxfd);
    return maxfd;
}

timeval remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() < 0) left = std::chrono::microseconds(0);
    timeval tv;
    tv.tv_sec = static_cast<time_t>(left.count() / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
    return tv;
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
    pms_db_scan_and_post();
}

}  // namespace

int pms_execute(unsigned postdelay) {
    fd_set set;
    int maxfd = buildWaitSet(set, true);
    if (pms_fd_client <= 0 && pms_fd_server <= 0) {
        VLOG_ERROR(1000, "pms_execute: Both pms_fd_client and pms_fd_server invalid");
        return 0;
    }
    const auto period = std::chrono::seconds(postdelay);
    // The wait ends at this point whatever traffic comes in between; only a
    // scan (and, for a vendor whose records re-arm it, a PMS record) moves it on.
    Clock::time_point deadline = Clock::now() + period;

    for (;;) {
        // The wait also ends when the service manager's keep-alive is due.
        const Clock::time_point wake = pms_service_wake(deadline);
        // Records already received with an earlier one wait in the link's
        // buffer, where select cannot see them: do not sleep on them.
        const bool kept = vendor_traits().waits_on_link && pms_fd_client > 0 && pms_fd_client < FD_SETSIZE &&
                          ioc_pending(pms_fd_client) > 0;
        timeval tv = kept ? timeval{0, 0} : remaining(wake);
        int n = select(maxfd + 1, &set, nullptr, nullptr, &tv);
        if (kept && n >= 0) {
            FD_SET(pms_fd_client, &set);
            n += n == 0 ? 1 : 0;
        }
        if (n == 0 && wake < deadline) {
            // Woken for the keep-alive only (sent below).
        } else if (n == 0) {
            onTimeout();
            deadline = Clock::now() + period;
        } else if (n < 0) {
            int err = errno;
            VLOG_ERROR(1000, "pms_execute: main select loop error: %s", strerror(err));
            if (err != EINTR) return 0;
        } else if (ready(set, pms_fd_server) && pms_fd_server > 0) {
            // Control connections go first; PMS data waits for the next turn.
            pms_service_GWY();
        } else if (vendor_traits().waits_on_link && pms_fd_client > 0 && ready(set, pms_fd_client)) {
            pms_service_PMS();
            // Such a vendor's scan waits for POSTDELAY seconds of PMS silence.
            if (vendor_traits().record_restarts_wait) deadline = Clock::now() + period;
        }
        if (pms_signals_pending() || ready(set, pms_signal_wakeup_fd())) pms_handle_pending_signals();
        pms_service_tick();
        maxfd = buildWaitSet(set, false);
    }
}

void pms_service_GWY() {
    VLOG_DEBUG(2, 1000, "pms_service_GWY: enter");
    svr_serveClient(pms_fd_server);
}

void pms_service_PMS() {
    VLOG_DEBUG(2, 1000, "pms_service_PMS: enter");
    VendorDescriptor* vendor = vendor_current();
    if (!vendor) {
        VLOG_ERROR(1000, "pms_service_PMS: PMS Vendor has not been initialized");
        return;
    }
    if (vendor->read_msg) {
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
