// Guest look-ups: LOOK and its NAME answers, the check-in record that starts
// one, and the keep-alive harvest that names guests still without a name.
#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/line/line_core.h"

static constexpr char kLogSrc[] = "vendors/line/line_guest";

namespace {

constexpr size_t kMaxNames = 7;
constexpr int kHarvestRooms = 50;

bool is_record(const std::string& rec, std::string_view code) { return rec.compare(0, code.size(), code) == 0; }

// The guest name of a NAME answer, blanks removed; empty when the record is
// too short or the name holds control bytes.
std::string name_of(const std::string& rec) {
    std::string name;
    if (rec.size() > 22) name = rec.substr(22, 20);
    strStripSpaces(name);
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
    return name;
}

// Replaces the room's guests with the named ones; `when` is the arrival,
// departure and creation time of each row.
void store_names(LineVendor& v, const char* op, const std::string& room, const std::vector<std::string>& names,
                 const std::string& when) {
    db_pms_guests_mark_room_stale(room, 0);
    for (const std::string& name : names) {
        if (name.empty()) continue;
        VLOG_DEBUG(4, 0, "%s_%s: parsed message, we have room[%s], name[%s]", v.p.prefix, op, room.c_str(),
                   name.c_str());
        std::vector<std::string> f = strSplit(name, "/");
        if (f.empty()) {
            VLOG_ERROR(0, "%s_%s: splitting of '%s' failed", v.p.prefix, op, name.c_str());
            continue;
        }
        PmsGuest g;
        g.room = room;
        g.last = f[0];
        if (f.size() > 1) g.first = f[1];
        g.arrival = g.departure = g.created = when;
        g.no_post = "0";
        g.resort_fee = "0";
        g.user_count = -1;
        db_pms_guests_add(g);
    }
}

}  // namespace

LookResult line_look_request(LineVendor& v, const std::string& room, std::vector<std::string>& names,
                             std::string& reply) {
    names.clear();
    VLOG_DEBUG(4, 0, "Sending Look for room %s", room.c_str());
    if (!line_room_fits(room)) {
        VLOG_ERROR(0, "%s_look_request: room '%s' does not fit a LOOK record", v.p.prefix, room.c_str());
        strAppendFmt(reply, "Room '%s' does not fit a LOOK record", room.c_str());
        return LookResult::Failed;
    }
    const std::string look = strFormat("LOOK%6s", room.c_str());
    VLOG_DEBUG(4, 0, "Sending Look '%s'", look.c_str());
    if (!line_bid(v)) {
        VLOG_ERROR(0, "Unable to send ENQ LOOK request!");
        strAppendFmt(reply, "Unable to send ENQ LOOK request!");
        return LookResult::Failed;
    }
    if (!line_write_msg(v, look)) {
        VLOG_ERROR(0, "Unable to send LOOK request!");
        strAppendFmt(reply, "Unable to send LOOK request!");
        return LookResult::Failed;
    }
    line_eot(v);

    std::string rec;
    if (line_read_msg_timeout(v, rec, kLineReadWait) <= 0) {
        VLOG_ERROR(0, "Did not receive response from PMS");
        strAppendFmt(reply, "Did not receive response from PMS");
        return LookResult::Failed;
    }
    LookResult result = LookResult::Failed;
    int wait = v.set.look_wait;
    do {
        if (is_record(rec, "NAME")) {
            if (names.size() >= kMaxNames) {
                VLOG_DEBUG(4, 0, "%s_look_request: received too many NAME responses", v.p.prefix);
                return result;
            }
            VLOG_DEBUG(4, 0, "%s_look_request: %s info for room [%s]: [%s]", v.p.prefix, v.p.look_info_verb,
                       room.c_str(), rec.c_str());
            names.push_back(name_of(rec));
            result = LookResult::Named;
            VLOG_DEBUG(4, 0, "%s_look_request: name [%s]", v.p.prefix, names.back().c_str());
            wait = v.set.name_wait;
        } else if (is_record(rec, "ERR")) {
            VLOG_ERROR(0, "%s_look_request: LOOK was unsuccessful: [%s]", v.p.prefix, rec.c_str());
            strAppendFmt(reply, "PMS returned unsuccessful LOOK response: [%s]: ", rec.c_str());
            const int code = line_parse_error(rec, reply);
            // A vacant room (4) is as unoccupied as an unknown one (3).
            if (code == 3 || code == 4) result = LookResult::Vacant;
            VLOG_ERROR(0, "%s", reply.c_str());
            return result;
        } else {
            VLOG_DEBUG(4, 0, "%s_look_request: after LOOK unexpected resp [%s]", v.p.prefix, rec.c_str());
            vendor_handle_data(rec);
            if (!names.empty())
                VLOG_DEBUG(4, 0,
                           "%s_look_request: unexpected was after at least one NAME resp, should we consider this "
                           "done?",
                           v.p.prefix);
        }
    } while (line_read_msg_timeout(v, rec, wait) > 0);
    return result;
}

int line_cmd_checkin(LineVendor& v, const std::string& record) {
    const std::optional<std::string> room = line_record_room(record);
    if (!room) return 0;
    const std::string now = db_local_time_text(time(nullptr));
    VLOG_DEBUG(2, 0, "Recieved CHKI for room '%s', calling LOOK", room->c_str());
    std::vector<std::string> names;
    std::string reply;
    if (line_look_request(v, *room, names, reply) != LookResult::Named) {
        VLOG_ERROR(0, "%s_vendor_cmd_checkin: %s_look_request failure", v.p.prefix, v.p.prefix);
        // A nameless row keeps the room occupied until the harvest names it.
        db_pms_guests_mark_room_stale(*room, 0);
        PmsGuest g;
        g.room = *room;
        g.arrival = g.departure = g.created = now;
        g.no_post = "0";
        g.resort_fee = "0";
        g.user_count = -1;
        return db_pms_guests_add(g);
    }
    store_names(v, "vendor_cmd_checkin", *room, names, now);
    return 0;
}

int line_harvest(LineVendor& v) {
    VLOG_DEBUG(4, 0, "Entering %s_harvest_guest_data", v.p.prefix);
    // A start still pending is tried again here, so a silent PMS does not
    // keep the interface busy for ever.
    if (v.link.state == LineState::StartPending) {
        line_start(v);
        return 0;
    }
    const std::optional<std::vector<NamelessGuest>> rows = db_nameless_guests(v.set.psi_no, kHarvestRooms);
    const int total = rows ? static_cast<int>(rows->size()) : 0;
    if (total == 0) VLOG_DEBUG(4, 0, "%s_harvest_guest_data: no rooms to harvest. nrows [%d]", v.p.prefix, total);
    for (int i = 0; i < total; ++i) {
        const NamelessGuest& row = (*rows)[i];
        VLOG_DEBUG(4, 0, "%s_harvest_guest_data: room[%s], num[%d], total[%d]", v.p.prefix,
                   row.room.value_or("").c_str(), i, total);
        if (!row.room || !row.arrival) {
            VLOG_ERROR(0, "Error retrieving DB result");
            continue;
        }
        std::vector<std::string> names;
        std::string reply;
        switch (line_look_request(v, *row.room, names, reply)) {
            case LookResult::Named: store_names(v, "harvest_guest_data", *row.room, names, *row.arrival); break;
            case LookResult::Vacant:
                VLOG_ERROR(0, "%s_harvest_guest_data: look request returned VACANT for room [%s]", v.p.prefix,
                           row.room->c_str());
                db_pms_guests_mark_room_stale(*row.room, 0);
                break;
            case LookResult::Failed:
                VLOG_ERROR(0, "%s_harvest_guest_data: look request failed for room [%s]", v.p.prefix,
                           row.room->c_str());
                break;
        }
    }
    VLOG_DEBUG(4, 0, "%s_harvest_guest_data returned [%d]", v.p.prefix, total);
    return 0;
}
