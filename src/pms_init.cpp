#include "pms_init.h"
#include "settings_core.h"

#include <signal.h>

#include "config.h"
#include "db.h"
#include "io_gwy/control_pool.h"
#include "io_gwy/requests.h"
#include "io_gwy/server.h"
#include "io_pms/io_wait.h"
#include "link.h"
#include "linklog.h"
#include "platform/daemon.h"
#include "platform/log.h"
#include "platform/mcast.h"
#include "post_journal.h"
#include "scan.h"
#include "service.h"
#include "signals.h"
#include "state.h"
#include "vendor.h"

static constexpr char kLogSrc[] = "pms_init";

namespace {

// Detaches once; a foreground run holds the lock file instead, so that no
// second daemon with the same lock file starts beside it.
bool detachOrLock() {
    static bool locked = false;
    if (g_daemonize) {
        vornDAEMON_DaemonSetup();
        if (vornDAEMON_DaemonStart(g_lockfile.c_str(), 1) == -1) return false;
        VLOG_DEBUG(2, 1000, "pms_init: PMS successfully daemonized");
        g_daemonize = 0;
        locked = true;
    } else if (!locked) {
        if (vornDAEMON_TakeLock(g_lockfile.c_str()) != 0) return false;
        locked = true;
    }
    return true;
}

// What a SIGPIPE does, outside the handler: the link layer's own as soon as
// its raise or write returns, one sent from outside when the main loop wakes.
void closeLinkOnSigpipe() {
    VLOG_DEBUG(4, 1000, "Enter handle_sigpipe, sig number [%d], should be [%d]", SIGPIPE, SIGPIPE);
    VLOG_INFO("Received SIGPIPE, closing PMS connection.  Will reopen before the next database scan.");
    svr_setBusy();
    link_close();
    VLOG_DEBUG(4, 1000, "handle_sigpipe: finished");
}

// What SIGTERM closes before the configuration and lock file go.
void releaseResources() {
    pms_service_stopping();
    svr_close();
    vendor_stop();
    if (pms_fd_client > 0) link_close();
    db_disconnect();
}

// Signal handlers and the hooks through which signals and the control port
// reach the rest of the daemon; installed on the first call only.
void installHandlersOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    g_on_sigterm = releaseResources;
    g_on_sighup = linklog_reopen;
    g_on_sigpipe = closeLinkOnSigpipe;
    svr_setBillingHook(pms_db_scan_and_post);
    // Every wait for the PMS serves the control port: an exchange may be
    // under way then, so only what needs no link is answered at once.
    io_set_wait_companion({
        [](std::vector<pollfd>& fds) { svr_pendingFds(pms_fd_server, fds); },
        [] { svr_servePending(pms_fd_server, SvrLink::Busy); },
        [] { return svr_pendingDeadline(); },
    });
    if (pms_install_signal_handlers() != 0) VLOG_ERROR(1000, "pms_init: Unable to install signal handlers");
    VLOG_DEBUG(4, 1000, "pms_init: Setting SIGPIPE handle");
    if (vornDAEMON_InstallHandler(SIGPIPE, handle_sigpipe) != 0)
        VLOG_ERRNO(1000, "pms_init: Unable to install the SIGPIPE handler");
}

// (Re)starts the multicast client on PMSMCAST_IP, else LAN_IP; the previous
// socket is replaced, not leaked. A failure ends the process.
void startMulticast() {
    std::optional<std::string> ip = setting_text(kSetMcastIp);
    if (!ip) ip = setting_text(kSetLanIp);
    if (!ip) return;
    VLOG_DEBUG(4, 414, "pms_init: Starting mcast with ip address [%s]", ip->c_str());
    if (vornpmsmcast_init_client(kMcastGroup, ip->c_str()) != 0) {
        VLOG_ERROR(1000, "pms_init: Unable to initialize multicast subsystem using interface ip: %s. Aborting.",
                   ip->c_str());
        vornDAEMON_DaemonCleanup(1);
        exit(-1);
    }
    VLOG_DEBUG(4, 414, "pms_init: Started mcast with ip address [%s]", ip->c_str());
}

// Opens the PMS link and starts the vendor on it; 0 when VENDOR is missing.
int openLinkAndVendor() {
    pms_fd_client = link_open();
    if (pms_fd_client <= 0) return 1;
    std::optional<std::string> name = setting_text(kSetVendor);
    if (!name) {
        VLOG_ERROR(1000, "pms_init: Missing VENDOR specifier from configuration file");
        config_report_invalid("VENDOR");
        // A link without a vendor would never be read nor retried.
        link_close();
        return 0;
    }
    g_vendor_id = vendor_init(*name);
    VLOG_DEBUG(3, 1000, "pms_init: g_vendor_id = %d", g_vendor_id);
    if (g_vendor_id < 0) link_close();
    return 1;
}

// Once the lock is ours no other daemon writes the journal; opened again
// only when POSTJOURNAL names another file.
void openPostJournal() {
    static std::string opened;
    const std::string path = setting_text(kSetPostJournal).value_or(post_journal_default_path(g_lockfile));
    if (path == opened) return;
    if (post_journal_open(path)) opened = path;
}

}  // namespace

int pms_init() {
    VLOG_DEBUG(1, 1000, "pms_init: Initializing vornPMS");
    if (!config_init()) return 0;
    if (!detachOrLock()) {
        VLOG_ERROR(1000, "pms_init: Error daemonizing PMS");
        return 0;
    }
    openPostJournal();
    if (!db_connect()) return 0;
    // Charges a previous run posted but could not mark are marked now,
    // before anything can post them again.
    post_journal_mark_pending([](const PMSPostInfo& rec) { return db_mark_posted(rec, 1) != 0; });
    installHandlersOnce();
    startMulticast();

    VLOG_DEBUG(3, 1000, "pms_init: Initializing client link layer / PMS connection");
    if (pms_fd_server < 0) {
        pms_fd_server = svr_open();
        if (pms_fd_server < 0) return 0;
    }
    if (pms_fd_client < 0 && !openLinkAndVendor()) return 0;
    VLOG_DEBUG(4, 1000, "pms_init: return 1");
    return 1;
}

std::optional<unsigned> pms_read_postdelay() {
    if (!setting_text(kSetPostDelay)) {
        VLOG_ERROR(1000, "pms_execute: Missing POSTDELAY specifier from config file");
        config_report_invalid("POSTDELAY");
        return std::nullopt;
    }
    // 0 would make the loop scan the database without pause.
    std::optional<unsigned> delay = config_get_strict_unsigned(kSetPostDelay.key);
    if (!delay || *delay == 0) {
        VLOG_ERROR(1000, "pms_execute: Invalid POSTDELAY!  Must be an unsigned integer");
        config_report_invalid("POSTDELAY");
        return std::nullopt;
    }
    return delay;
}
