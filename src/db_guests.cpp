// Guest occupancy changes: every write to pms_guests, the room-list call that
// mirrors it and the multicast announcement after each successful change.
#include <strings.h>
#include "db_settings.h"

#include "config.h"
#include "db.h"
#include "platform/log.h"
#include "platform/mcast.h"

static constexpr char kLogSrc[] = "db_guests";

namespace {

constexpr size_t kPartialUserMax = 520;

std::string esc(const std::string& v) { return db_escape_or_empty(v); }

// A date-time value for a timestamp column: quoted, or NULL when the vendor
// gave none ('' is not a date-time and would make the whole statement fail).
std::string ts(const std::string& v) {
    auto e = db_escape_string(v);
    return e ? "'" + *e + "'" : std::string("NULL");
}

bool user_strings_in_use(int count) {
    if (count == -1) return false;
    return setting_flag(kSetDbUserStrings);
}

void announce(int code, const PmsGuest& g) {
    McastEvent ev;
    ev.code = code;
    ev.first = g.first;
    ev.last = g.last;
    ev.guest_no = g.guest_no;
    ev.room = g.room;
    ev.group = g.group;
    ev.vip = g.vip;
    ev.language = g.language;
    ev.arrival = vornpmsmcast_convert_timestamp_to_int(g.arrival.c_str());
    ev.departure = vornpmsmcast_convert_timestamp_to_int(g.departure.c_str());
    vornpmsmcast_make_and_send_msg(ev);
}

void announce_checkout(const std::string& room, const std::string& guest_no) {
    McastEvent ev;
    ev.code = MCAST_CHECKOUT;
    ev.guest_no = guest_no;
    ev.room = room;
    vornpmsmcast_make_and_send_msg(ev);
}

// ", 'u0', 'u1', ... 'u9'": the ten user strings as insert values.
std::string user_values(const PmsGuest& g) {
    std::string out;
    for (const auto& u : g.user) out += ", '" + esc(u) + "'";
    return out;
}

}  // namespace

int db_pms_guests_add(const PmsGuest& g) {
    bool users = user_strings_in_use(g.user_count);
    std::string sql = strFormat(
        "INSERT into pms_guests ( pms_seq_no, pms_room, pms_name_first, pms_name_last, pms_vip_status, pms_language, "
        "pms_guest_group_no, pms_arrival_dt, pms_depart_dt, pms_is_stale, pms_created_dt, pms_guest_no, pms_no_post, "
        "pms_resort_fee, pms_psi_no%s (nextval('pms_guests_seq'), '%s', '%s', '%s', '%s', '%s', '%s', %s, %s, "
        "%d, %s, '%s', '%s', '%s', %d",
        users ? ", pms_user_0, pms_user_1, pms_user_2, pms_user_3, pms_user_4, pms_user_5, pms_user_6, pms_user_7, "
                "pms_user_8, pms_user_9)values"
              : " ) values",
        esc(g.room).c_str(), esc(g.first).c_str(), esc(g.last).c_str(), esc(g.vip).c_str(), esc(g.language).c_str(),
        esc(g.group).c_str(), ts(g.arrival).c_str(), ts(g.departure).c_str(), 0, ts(g.created).c_str(),
        esc(g.guest_no).c_str(), esc(g.no_post).c_str(), esc(g.resort_fee).c_str(), g_psi_no);
    sql += users ? user_values(g) + " )" : ") ";

    db_update_room_list(g.room, 1);
    if (db_command(sql.c_str()) < 0) return 0;
    VLOG_DEBUG(4, 0, "db_pms_guests_add: sending check in room [%s,%s : %s] mcast", g.first.c_str(), g.last.c_str(),
               g.room.c_str());
    announce(MCAST_CHECKIN, g);
    return 1;
}

int db_pms_guests_update(const PmsGuest& g) {
    bool users = user_strings_in_use(g.user_count);
    std::string sql = strFormat(
        "UPDATE pms_guests set pms_name_first = '%s', pms_name_last = '%s', pms_vip_status = '%s', pms_language = '%s', "
        "pms_guest_group_no = '%s', pms_arrival_dt = %s, pms_depart_dt = %s, pms_no_post = '%s', pms_resort_fee = '%s', "
        "pms_psi_no = %d",
        esc(g.first).c_str(), esc(g.last).c_str(), esc(g.vip).c_str(), esc(g.language).c_str(), esc(g.group).c_str(),
        ts(g.arrival).c_str(), ts(g.departure).c_str(), esc(g.no_post).c_str(), esc(g.resort_fee).c_str(), g_psi_no);
    if (users)
        for (size_t i = 0; i < g.user.size(); ++i) strAppendFmt(sql, ", pms_user_%zu = '%s'", i, esc(g.user[i]).c_str());
    sql += strFormat(" WHERE pms_room = '%s'  and pms_guest_no = '%s' and pms_is_stale = 0", esc(g.room).c_str(),
                     esc(g.guest_no).c_str());

    db_update_room_list(g.room, 1);
    if (db_command(sql.c_str()) < 0) return 0;
    VLOG_DEBUG(4, 0, "db_pms_guests_update: sending guest change [%s,%s : %s] mcast", g.first.c_str(),
               g.last.c_str(), g.room.c_str());
    announce(MCAST_GUEST_CHANGE, g);
    return 1;
}

int db_pms_guests_partial_update(const PmsGuest& g) {
    if (g.room.empty()) {
        VLOG_DEBUG(4, 0, "db_pms_guests_partial_update: room number not passed, return");
        return 0;
    }
    std::string sql = "UPDATE pms_guests set ";
    auto add = [&](const char* column, const std::string& value) {
        if (!value.empty()) sql += strFormat("%s = '%s', ", column, esc(value).c_str());
    };
    add("pms_name_first", g.first);
    add("pms_name_last", g.last);
    add("pms_vip_status", g.vip);
    add("pms_language", g.language);
    add("pms_guest_group_no", g.group);
    add("pms_arrival_dt", g.arrival);
    add("pms_depart_dt", g.departure);
    for (size_t i = 0; i < g.user.size(); ++i)
        if (!g.user[i].empty())
            strAppendFmt(sql, "pms_user_%zu = '%s', ", i, esc(g.user[i].substr(0, kPartialUserMax)).c_str());
    if (sql.size() >= 2 && sql[sql.size() - 2] == ',') sql[sql.size() - 2] = ' ';
    // Only this instance's rows: another gateway instance may share the table.
    sql += strFormat("WHERE pms_room = '%s' and pms_is_stale = 0 and pms_psi_no = %d", esc(g.room).c_str(), g_psi_no);
    if (!g.guest_no.empty()) sql += strFormat(" and pms_guest_no = '%s'", esc(g.guest_no).c_str());

    VLOG_DEBUG(4, 0, "db_pms_guests_partial_update: sql [%s]", sql.c_str());
    db_update_room_list(g.room, 1);
    if (db_command(sql.c_str()) < 0) return 0;
    announce(MCAST_GUEST_CHANGE, g);
    return 1;
}

int db_pms_guests_mark_guest_stale(const std::string& room, const std::string& guest_no, int) {
    std::string sql = strFormat(
        "UPDATE pms_guests set pms_is_stale = 1 WHERE pms_room = '%s' AND pms_guest_no = '%s'  and pms_is_stale = 0 "
        "and pms_psi_no = %d",
        esc(room).c_str(), esc(guest_no).c_str(), g_psi_no);
    if (db_command(sql.c_str()) < 0) return 0;
    db_update_room_list(room, 0);
    VLOG_DEBUG(4, 0, "db_pms_guests_mark_guest_stale: Sending check out room %s guest %s mcast", room.c_str(),
               guest_no.c_str());
    announce_checkout(room, guest_no);
    return 1;
}

int db_pms_guests_mark_room_stale(const std::string& room, int only_departed) {
    std::string sql =
        only_departed
            ? strFormat("UPDATE pms_guests set pms_is_stale = 1 where pms_is_stale = 0 and pms_depart_dt < 'now()' and "
                        "pms_room = '%s' and pms_psi_no = %d",
                        esc(room).c_str(), g_psi_no)
            : strFormat("UPDATE pms_guests set pms_is_stale = 1 WHERE pms_is_stale = 0 and pms_room = '%s' and "
                        "pms_psi_no = %d",
                        esc(room).c_str(), g_psi_no);
    if (db_command(sql.c_str()) < 0) return 0;
    db_update_room_list(room, 0);
    VLOG_DEBUG(4, 0, "db_pms_guests_mark_room_stale: Sending check out room %s mcast", room.c_str());
    announce_checkout(room, std::string());
    return 1;
}

int db_pms_guests_mark_named_stale(const std::string& room, const std::string& first, const std::string& last) {
    // A missing name may be stored as NULL or as an empty text.
    auto same = [](const char* column, const std::string& v) {
        return v.empty() ? strFormat("coalesce(%s, '') = ''", column) : strFormat("%s = '%s'", column, esc(v).c_str());
    };
    std::string sql = strFormat(
        "UPDATE pms_guests set pms_is_stale = 1 WHERE pms_is_stale = 0 and pms_room = '%s' and %s and %s and "
        "pms_psi_no = %d",
        esc(room).c_str(), same("pms_name_first", first).c_str(), same("pms_name_last", last).c_str(), g_psi_no);
    if (db_command(sql.c_str()) < 0) return 0;
    if (db_find_guest_in_room(room, "") == 0) db_update_room_list(room, 0);
    VLOG_DEBUG(4, 0, "db_pms_guests_mark_named_stale: Sending check out room %s mcast", room.c_str());
    announce_checkout(room, std::string());
    return 1;
}

int db_pms_guests_mark_all_stale() {
    std::string sql = strFormat("UPDATE pms_guests set pms_is_stale = 1 where pms_psi_no = %d", g_psi_no);
    return db_command(sql.c_str()) < 0 ? 0 : 1;
}

int db_pms_guests_set_no_post(const std::string& room, const std::string& no_post) {
    std::string sql = strFormat(
        "UPDATE pms_guests set pms_no_post = '%s' WHERE pms_room = '%s' and pms_is_stale = 0 and pms_psi_no = %d",
        esc(no_post).c_str(), esc(room).c_str(), g_psi_no);
    return db_command(sql.c_str()) < 0 ? 0 : 1;
}

int db_update_room_list(const std::string& room, int occupied) {
    VLOG_DEBUG(4, 0, "db_update_room_list: calling fn_pms_room_list_update with [%s]", room.c_str());
    std::string sql = strFormat("select fn_pms_room_list_update('%s', %d)", esc(room).c_str(), occupied);
    return db_command(sql.c_str()) < 0 ? 0 : 1;
}
