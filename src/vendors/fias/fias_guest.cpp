#include "vendors/fias/fias_guest.h"

#include "db.h"
#include "platform/log.h"
#include "platform/mcast.h"
#include "utils/strutils.h"
#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_record.h"

static constexpr char kLogSrc[] = "vendors/fias/fias_guest";

namespace {

constexpr size_t kMessagePiece = 79;
constexpr int kMessagePieces = 5;

struct GuestRecord {
    FiasGuestFields g;
    std::string old_room;
    std::string share;
    bool swap = false;
};

// The record's fields, or nullopt after logging that it has none.
std::optional<FiasRecord> parse_incoming(const std::string& body, const char* what, const char* sep) {
    auto rec = fias_parse(body);
    if (!rec)
        VLOG_ERROR(0, "Unable to parse the incoming %s message into the individual tokens! Message = '%s'%sdelimiter = '%c'",
                   what, body.c_str(), sep, '|');
    return rec;
}

GuestRecord collect(const FiasVendor& v, const FiasRecord& rec) {
    GuestRecord r;
    for (const auto& f : rec.fields) {
        if (f.tag == "RO") r.old_room = f.value;
        else if (f.tag == "GS") r.share = f.value;
        else if (f.tag == "SF") r.swap = true;
        else if (f.tag == "RF" && !v.p.reads_resort_fee) continue;
        else if (f.tag != "GT") fias_take_guest_field(r.g, f);
    }
    return r;
}

// Seconds of a PMS date for an announcement; 0 when absent or unreadable.
long announce_time(const std::string& date, const std::string& time) {
    std::string text;
    if (date.empty() || !fias_pms_to_db_datetime(text, date, time)) return 0;
    return vornpmsmcast_convert_timestamp_to_int(text.c_str());
}

bool is_decimal(const std::string& s) {
    size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i >= s.size() || s.size() > 10) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

}  // namespace

int fias_cmd_guest_checkin(FiasVendor& v, const std::string& body) {
    auto rec = parse_incoming(body, "Checkin", ", ");
    if (!rec) return 0;
    GuestRecord r = collect(v, *rec);
    auto row = fias_guest_row(r.g);
    if (!row) return 0;
    if (r.swap || v.p.checkin_marks_guest_stale) {
        db_pms_guests_mark_guest_stale(r.g.room, r.g.guest_no, 1);
    } else if (!r.g.guest_no.empty() && db_find_guest_in_room(r.g.room, r.g.guest_no) == 1) {
        // The PMS sends a check-in again when our ACK was lost to a link
        // fault; a second current row of the same guest would double him.
        VLOG_INFO("Guest '%s' already in room '%s', treating GI as GC", r.g.guest_no.c_str(), r.g.room.c_str());
        return db_pms_guests_update(*row);
    }
    return db_pms_guests_add(*row);
}

int fias_cmd_guest_checkout(FiasVendor& v, const std::string& body) {
    auto rec = parse_incoming(body, "Checkout", "; ");
    if (!rec) return 0;
    GuestRecord r = collect(v, *rec);
    const std::string& room = r.g.room;
    if (!fias_storable({{"RN", &room}, {"G#", &r.g.guest_no}}, "check-out record")) return 0;
    bool share = !r.share.empty() && (r.share[0] == 'Y' || r.share[0] == 'y');
    if (share && !r.g.guest_no.empty()) {
        db_pms_guests_mark_guest_stale(room, r.g.guest_no, 0);
        db_expire_on_checkout(room, r.g.guest_no, r.swap ? 1 : 0);
    } else {
        db_pms_guests_mark_room_stale(room, 0);
        db_expire_on_checkout(room, "", r.swap ? 1 : 0);
    }
    return 1;
}

int fias_cmd_guest_data_change(FiasVendor& v, const std::string& body) {
    auto rec = parse_incoming(body, "Guest Change", "; ");
    if (!rec) return 0;
    GuestRecord r = collect(v, *rec);
    const FiasGuestFields& g = r.g;
    if (!r.old_room.empty()) {
        // A move without its target or guest would rewrite rows it cannot name.
        if (g.room.empty() || g.guest_no.empty()) {
            VLOG_ERROR(0, "Room move from [%s] without new room or guest number, ignored", r.old_room.c_str());
            return 2;
        }
        if (!fias_storable({{"RN", &g.room}, {"RO", &r.old_room}, {"G#", &g.guest_no}}, "room move")) return 0;
        if (db_pms_guests_move_room(g.guest_no, r.old_room, g.room, v.s.psi_no) < 0) return 0;
        db_move_session_info(g.guest_no, g.room);
        VLOG_DEBUG_TEXT(3, v.p.room_move_text, g.first.c_str(), g.last.c_str(), r.old_room.c_str(), g.room.c_str());
        McastEvent ev;
        ev.code = MCAST_GUEST_CHANGE;
        ev.first = g.first;
        ev.last = g.last;
        ev.guest_no = g.guest_no;
        ev.room = g.room;
        ev.group = g.group;
        ev.vip = g.vip;
        ev.language = g.language;
        ev.prev_room = r.old_room;
        ev.arrival = announce_time(g.arrival, "000000");
        ev.departure = announce_time(g.departure, fias_departure_offset());
        vornpmsmcast_make_and_send_msg(ev);
        return 1;
    }
    auto row = fias_guest_row(g);
    if (!row) return 0;
    if (!db_find_guest_in_room(g.room, g.guest_no)) {
        VLOG_INFO("Unable to find occupancy information for room '%s', guest '%s', treating GC as GI", g.room.c_str(),
                  g.guest_no.c_str());
        return db_pms_guests_add(*row);
    }
    return db_pms_guests_update(*row);
}

int fias_cmd_room_equipment_status(FiasVendor& v, const std::string& body) {
    auto rec = parse_incoming(body, "room status", "; ");
    if (!rec) return 0;
    std::string room = rec->text("RN"), cs = rec->text("CS");
    if (room.empty()) {
        VLOG_ERROR(0, "Cannot update class of service for NULL room");
        return 2;
    }
    if (cs.empty()) {
        VLOG_ERROR(0, "Cannot update class of service for room [%s], CS field null", room.c_str());
        return 2;
    }
    if (!fias_storable({{"RN", &room}}, "room status record")) return 2;
    // The class of service goes into the statement unquoted: only a number may.
    if (!is_decimal(cs)) {
        VLOG_ERROR(0, "Refusing class of service [%s] for room [%s]: not a number", cs.c_str(), room.c_str());
        return 2;
    }
    std::string sql;
    long n = v.p.set_class_of_service(room, cs, v.s.psi_no, &sql);
    if (n < 0) {
        VLOG_ERROR(0, "Error '%s', failed", sql.c_str());
        return 4;
    }
    if (n == 0) VLOG_ERROR(0, "no rows updated by '%s'", sql.c_str());
    return 1;
}

int fias_cmd_guest_message(FiasVendor& v, const std::string& body) {
    auto rec = parse_incoming(body, "room status", "; ");
    if (!rec) return 0;
    std::string room = rec->text("RN"), guest = rec->text("G#"), text = rec->text("MT"), id = rec->text("MI");
    if (room.empty() && guest.empty()) {
        VLOG_ERROR(0, "Cannot use msg without a room or guest number");
        return 2;
    }
    const char* pre = v.p.prefix;
    VLOG_DEBUG(3, 0, "%s_vendor_cmd_guest_message: received msg [%s:%s] for guest [%s] in room [%s]", pre, id.c_str(),
               text.c_str(), guest.c_str(), room.c_str());
    if (!v.p.announces_messages) return 1;
    VLOG_DEBUG(3, 0, "%s_vendor_cmd_guest_message:: Sending XL message mcast", pre);
    std::array<std::string, kMessagePieces> piece;
    size_t pos = 0;
    for (int i = 0; i < kMessagePieces && pos < text.size(); ++i) {
        piece[i] = text.substr(pos, kMessagePiece);
        if (text.size() - pos < kMessagePiece + 1) break;
        pos += kMessagePiece;
    }
    McastEvent ev;
    ev.code = MCAST_MESSAGE;
    ev.first = piece[0];
    ev.last = piece[1];
    ev.guest_no = guest;
    ev.room = room;
    ev.group = piece[2];
    ev.vip = piece[3];
    ev.language = piece[4];
    ev.prev_room = id;
    vornpmsmcast_make_and_send_msg(ev);
    return 1;
}

int fias_cmd_guest_folio_update(FiasVendor& v, const std::string& body) {
    auto rec = parse_incoming(body, "room status", "; ");
    if (!rec) return 0;
    std::string room = rec->text("RN"), guest = rec->text("G#");
    if (room.empty() && guest.empty()) {
        VLOG_ERROR(0, "Cannot use msg without a room or guest number");
        return 2;
    }
    const char* pre = v.p.prefix;
    std::string bd = rec->text("BD"), bi = rec->text("BI");
    VLOG_DEBUG(3, 0, "%s_vendor_cmd_guest_folio_update: received folio [%s:%s] for guest [%s] in room [%s]", pre,
               bd.c_str(), bi.c_str(), guest.c_str(), room.c_str());
    if (!v.p.announces_folio) return 1;
    VLOG_DEBUG(3, 0, "%s_vendor_cmd_guest_folio_update: Sending XO message mcast", pre);
    McastEvent ev;
    ev.code = MCAST_FOLIO;
    ev.first = bd;
    ev.last = bi;
    ev.guest_no = guest;
    ev.room = room;
    ev.group = rec->text("BA");
    vornpmsmcast_make_and_send_msg(ev);
    return 1;
}
