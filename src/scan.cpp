#include "scan.h"
#include "settings_core.h"

#include <syslog.h>

#include <cmath>
#include <ctime>

#include "config.h"
#include "db.h"
#include "io_gwy/control_pool.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "platform/mcast.h"
#include "post_journal.h"
#include "state.h"
#include "vendor.h"

static constexpr char kLogSrc[] = "scan";

namespace {

// Charges the PMS took whose posted mark could not be written still read
// as unposted: the journal holds them, they are marked again at every run
// and never offered to the PMS a second time.
void remarkPosted() {
    post_journal_mark_pending([](const PMSPostInfo& u) { return db_mark_posted(u, 1) != 0; });
}

// "%F,%T" of local `t`, as the BILLING line carries it.
std::string billingStamp(time_t t) {
    struct tm tmv {};
    localtime_r(&t, &tmv);
    char buf[21] = "";
    strftime(buf, sizeof buf, "%F,%T", &tmv);
    return buf;
}

// Posts one record; true when the vendor took it.
bool postOne(VendorDescriptor& vendor, const PMSPostInfo& rec) {
    std::string reply;
    ReqResult rc = vendor.post_charge ? vendor.post_charge(rec, reply) : ReqResult::NotImplemented;
    if (rc != ReqResult::Ok) {
        if (!reply.empty())
            VLOG_INFO("pms_db_scan_and_post: Unsuccessful post - [%s]", reply.c_str());
        else
            VLOG_INFO("pms_db_scan_and_post: Unsuccessful post");
        return false;
    }
    VLOG_DEBUG(1, 1000, "pms_db_scan_and_post: Successful post amt[%0.2f], loc[%s], seq[%ld]",
               static_cast<double>(rec.charge), rec.room.c_str(), static_cast<long>(rec.db_seqno));
    pms_charge_taken(rec);
    return true;
}

int keepAlive(VendorDescriptor& vendor) {
    return vendor.keep_alive ? vendor.keep_alive() : 0;
}

}  // namespace

void pms_charge_taken(const PMSPostInfo& rec) {
    time_t now = time(nullptr);
    // Durable before the mark is tried: a daemon that dies between the two
    // marks the charge at its next start instead of posting it again.
    post_journal_add(rec);
    if (db_mark_posted(rec, 1)) {
        post_journal_done(rec);
    } else {
        VLOG_ERROR(1000, "pms_db_scan_and_post: posted charge seq[%ld] could not be marked; it will not be posted again",
                   static_cast<long>(rec.db_seqno));
    }
    vornMSG_Syslog(LOG_INFO, "BILLING posted %ld %s %s %0.2f %s", static_cast<long>(rec.db_seqno),
                   billingStamp(now).c_str(), rec.room.c_str(), static_cast<double>(rec.charge),
                   rec.mac.c_str());
    g_last_post = now;
}

void pms_db_scan_and_post() {
    // A real-time billing request answered between two postings must not
    // start a second run inside this one; this run posts what it would.
    static bool running = false;
    if (running) {
        VLOG_DEBUG(2, 1000, "pms_db_scan_and_post: a run is already under way");
        return;
    }
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } guard(running);
    VendorDescriptor* vendor = vendor_current();
    if (!vendor) {
        VLOG_INFO("pms_db_scan_and_post: Skipping DB scan because the PMS is NOT connected");
        return;
    }
    if (!vendor_traits().scans_charges) {
        // HTNG is the one vendor whose PMS takes no charges; the text names it.
        VLOG_DEBUG(2, 1000, "pms_db_scan_and_post: Skipping DB scan because the vendor is HTNG");
        if (keepAlive(*vendor) != 0) VLOG_INFO("pms_db_scan_and_post: Keep Alive message failed");
        return;
    }
    if (!svr_isReady()) {
        VLOG_DEBUG(2, 1000,
                   "pms_db_scan_and_post: Skipping DB scan because the vendor PMS is not yet ready to "
                   "accept charge postings");
        return;
    }

    const bool post_zero = setting_flag(kSetPostZero);
    VLOG_DEBUG(1, 1000, "pms_db_scan_and_post: Starting DB scan for unposted charge records, post zero = %d",
               post_zero ? 1 : 0);
    remarkPosted();
    int64_t count = 0;
    ChargeScan scan;
    const bool listed = scan.open(&count);
    int posted = 0;
    if (listed && count > 0) {
        PMSPostInfo rec;
        while (scan.next(rec)) {
            // A charge that is not a number is not zero: it goes to the vendor.
            if (rec.charge == 0.0f && !post_zero) {
                VLOG_DEBUG(1, 1000, "pms_db_scan_and_post: not posting zero charge");
                db_mark_posted(rec, 1);
                continue;
            }
            if (post_journal_holds(rec)) continue;
            // Between two postings the link is free: control clients that
            // are waiting get their answers before the next charge goes out.
            svr_servePending(pms_fd_server, SvrLink::Free);
            // The vendor (or a signal during its exchange) may have stopped it.
            VendorDescriptor* current = vendor_current();
            if (!current) break;
            if (postOne(*current, rec)) ++posted;
        }
        scan.close();
        if (posted > 0) return;
    }

    vendor = vendor_current();
    VLOG_DEBUG(4, 1000, "pms_db_scan_and_post: About to send keep alive message");
    if (vendor && keepAlive(*vendor) != 0) VLOG_INFO("pms_db_scan_and_post: Keep Alive message failed");
    VLOG_DEBUG(4, 1000, "pms_db_scan_and_post: keep alive message has been sent");
    VLOG_DEBUG(4, 1000, "pms_db_scan_and_post: sending keep alive mcast");
    McastEvent ev;
    ev.code = MCAST_KEEPALIVE;
    ev.room = "        ";
    vornpmsmcast_make_and_send_msg(ev);
}
