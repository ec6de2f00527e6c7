// Sessions at check-out and room moves: ending the room-billed sessions of a
// guest who leaves, and moving running sessions with a guest who changes room.
#include <ctime>
#include "db_settings.h"

#include "config.h"
#include "db.h"
#include "platform/log.h"
#include "platform/rdi.h"

static constexpr char kLogSrc[] = "db_expire";

namespace {

enum ExpireMode { kNever = 0, kNow = 1, kMidnight = 2, kDatabaseOnly = 3, kFollowGlobal = -1 };
constexpr int kDriverDone = 210;

time_t coming_midnight(time_t now) {
    time_t t = now + 86400;
    struct tm tm {};
    localtime_r(&t, &tm);
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

}  // namespace

int db_expire_on_checkout(const std::string& room, const std::string& guest_no, int keep_unstarted) {
    int global = static_cast<int>(setting_number(kSetExpireOnCheckout));
    VLOG_DEBUG(4, 0, "db_expire_on_checkout: Starting, global setting [%d]", global);
    std::string e_room = db_escape_or_empty(room);
    std::string sql =
        guest_no.empty()
            ? strFormat("SELECT ses_seq_no, ses_assigned_ip, ses_mac, extract (epoch from ses_reg_time_dt) as reg_time, "
                        "extract (epoch from ses_reg_expire_dt) as expire_time, srs_expire_on_checkout from "
                        "session_info, service_sets where ses_srs_no = srs_seq_no and ses_room_no = '%s' and "
                        "(ses_pay_no = 4 or ses_pay_no = 32) and (ses_reg_expire_dt > 'now()' or ses_orig_expire_dt > "
                        "'now()') order by ses_seq_no",
                        e_room.c_str())
            : strFormat("SELECT ses_seq_no, ses_assigned_ip, ses_mac, extract (epoch from ses_reg_time_dt) as reg_time, "
                        "extract (epoch from ses_reg_expire_dt) as expire_time, srs_expire_on_checkout from "
                        "session_info, service_sets where ses_srs_no = srs_seq_no and ses_room_no = '%s' and "
                        "ses_guest_no = '%s' and (ses_pay_no = 4 or ses_pay_no = 32) and (ses_reg_expire_dt > 'now()' "
                        "or ses_orig_expire_dt > 'now()') order by ses_seq_no",
                        e_room.c_str(), db_escape_or_empty(guest_no).c_str());
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) {
        VLOG_ERROR(486, "db_expire_on_checkout: Error selecting!");
        return 0;
    }
    VLOG_DEBUG(4, 0, "db_expire_on_checkout: Found %d records", static_cast<int>(rows));

    const time_t now = time(nullptr);
    for (long r = 0; r < rows; ++r) {
        int seq = static_cast<int>(vornDB_getIntData(res, r, 0));
        std::string ip = vornDB_getStringData(res, r, 1).value_or(std::string());
        std::string mac = vornDB_getStringData(res, r, 2).value_or(std::string());
        long start = vornDB_getIntData(res, r, 3);
        long expire = vornDB_getIntData(res, r, 4);
        int mode = static_cast<int>(vornDB_getIntData(res, r, 5));
        if (mode == kFollowGlobal) mode = global;
        if (mode == kNever) continue;

        bool running = expire > now;
        time_t until = now;
        if (mode == kMidnight) {
            until = coming_midnight(now);
            // Ending at midnight must not lengthen a session that ends sooner.
            if (running && expire < until) until = expire;
        }
        std::string until_text = db_local_time_text(until);

        if (start < now) {
            VLOG_DEBUG(4, 0, "db_expire_on_checkout: expiring [%s/%s] at %s (%ld) (%ld)", ip.c_str(), mac.c_str(),
                       until_text.c_str(), static_cast<long>(until), expire);
            if (running) {
                if (mode != kDatabaseOnly) {
                    VLOG_DEBUG(4, 0, "db_expire_on_checkout: vrdi_set_reg_expiry_time [%s] [%d]", mac.c_str(),
                               static_cast<int>(until));
                    if (vrdi_set_reg_expiry_time(mac.c_str(), static_cast<long>(until)) != kDriverDone)
                        VLOG_ERROR(995, "db_expire_on_checkout: failed to set expire time [%s/%s] to %ld", ip.c_str(),
                                   mac.c_str(), static_cast<long>(until));
                }
                db_command(strFormat("UPDATE session_info set ses_reg_expire_dt = '%s', ses_orig_expire_dt = '%s' "
                                     "where ses_seq_no = %d",
                                     until_text.c_str(), until_text.c_str(), seq)
                               .c_str());
            } else {
                db_command(strFormat("UPDATE session_info set ses_orig_expire_dt = '%s' where ses_seq_no = %d",
                                     until_text.c_str(), seq)
                               .c_str());
            }
        } else if (keep_unstarted == 0) {
            std::string flag_sql = strFormat(
                "UPDATE session_info set ses_posted_flag = 3 WHERE ses_seq_no = '%d' and ses_posted_flag < 2", seq);
            if (db_command(flag_sql.c_str()) < 0) return 0;
            db_command(strFormat("UPDATE pms_discount_log set pdl_updated_dt = 'now()', pdl_ignore = TRUE where "
                                 "pdl_ses_no = %d",
                                 seq)
                           .c_str());
        }
    }
    return 1;
}

int db_move_session_info(const std::string& guest_no, const std::string& new_room) {
    if (setting_number(kSetMoveSessions) == 0) return 0;
    if (guest_no.empty()) {
        VLOG_ERROR(0, "db_move_session_info: guest_no null");
        return -1;
    }
    if (new_room.empty()) {
        VLOG_ERROR(0, "db_move_session_info: new room null");
        return -1;
    }
    VLOG_DEBUG(4, 0, "db_move_session_info: moving guest[%s] to room[%s]", guest_no.c_str(), new_room.c_str());
    std::string sql = strFormat(
        "UPDATE session_info set ses_room_no = '%s' where ses_guest_no = '%s' and ses_reg_time_dt <= 'now()' and "
        "ses_orig_expire_dt > 'now()'",
        db_escape_or_empty(new_room).c_str(), db_escape_or_empty(guest_no).c_str());
    long n = db_command(sql.c_str());
    if (n < 0)
        VLOG_ERROR(0, "db_move_session_info: [%s] failed", sql.c_str());
    else
        VLOG_DEBUG(4, 0, "db_move_session_info: [%d] records updated", static_cast<int>(n));
    return 1;
}
