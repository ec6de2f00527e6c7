// Micros4700 1.5-way: the PMS only answers. We ask it who is in a room (the
// names request) and post charges; the guest table is filled from the names
// answers, at every authorisation by name and, a few stale rooms at a time,
// whenever the charge scan has nothing to post.
#include <ctime>

#include "config.h"
#include "db.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/common/field_check.h"
#include "vendors/common/guest_match.h"
#include "vendors/common/unserved.h"
#include "vendors/micros4700/m4700_codec.h"
#include "vendors/micros4700/m4700_link.h"
#include "vendors/micros4700/m4700_settings.h"

static constexpr char kLogSrc[] = "vendors/Micros4700";

namespace {

constexpr char kCanPost[] = "CAN POST";

void remember(M4700State& st, const char* code) {
    st.last_code = code;
    st.last_code_time = time(nullptr);
}

// The names the PMS has for `room`, or nullopt with `reply` saying why.
std::optional<m4700::NamesAnswer> micros4700_names_request(M4700State& st, const std::string& room,
                                                           std::string& reply) {
    VLOG_DEBUG(4, 0, "micros4700_names_request: Micros4700 Requesting names for room [%s]", room.c_str());
    const std::optional<std::string> req = m4700::names_request(room);
    if (!req) {
        VLOG_ERROR(0, "micros4700_names_request: room [%s] does not fit the names request", room.c_str());
        strAppendFmt(reply, "Invalid room [%s]", room.c_str());
        return std::nullopt;
    }
    VLOG_DEBUG(4, 0, "micros4700_names_request: Micros4700 Sending [%s]", req->c_str());
    if (!micros4700_write_msg(st, *req)) {
        VLOG_ERROR(0, "micros4700_names_request: Unable to send name request!");
        strAppendFmt(reply, "Unable to send authorization request!");
        return std::nullopt;
    }
    std::string msg;
    if (micros4700_read_msg_timeout(st, msg) <= 0) {
        VLOG_ERROR(0, "micros4700_names_request: Did not receive response from PMS");
        strAppendFmt(reply, "Did not receive response from PMS");
        return std::nullopt;
    }
    VLOG_DEBUG(4, 0, "micros4700_names_request: Micros4700 After name query received [%s]", msg.c_str());
    const std::string code = msg.size() >= 21 ? msg.substr(19, 2) : std::string();
    VLOG_DEBUG(4, 0, "micros4700_names_request: Micros4700 response code is [%s]", code.c_str());
    std::optional<m4700::NamesAnswer> names = m4700::decode_names(msg);
    if (!names) {
        VLOG_ERROR(0, "micros4700_names_request: Did not receive valid response code from PMS");
        strAppendFmt(reply, "Did not receive valid response code from PMS");
        return std::nullopt;
    }
    remember(st, "GI");
    return names;
}

// Stores one name field of `room` as a guest checked in now.
void cache_name(const std::string& room, const std::string& field) {
    const m4700::SplitName n = m4700::split_name(field);
    if (n.last.empty() && n.first.empty()) {
        VLOG_ERROR(0, "Splitting of '%s' failed", field.c_str());
        return;
    }
    PmsGuest g;
    g.room = room;
    g.first = pms_text_to_utf8(n.first);
    g.last = pms_text_to_utf8(n.last);
    if (!db_text_storable(g.first, "first name", "names answer") || !db_text_storable(g.last, "last name", "names answer"))
        return;
    const time_t now = time(nullptr);
    g.guest_no = strFormat("%ld", static_cast<long>(now));
    g.created = db_local_time_text(now);
    g.arrival = g.created;
    g.departure = g.created;
    g.no_post = "N";
    g.resort_fee = "0";
    g.user_count = -1;
    db_pms_guests_add(g);
}

// The compare length of an authorisation, or nullopt when it is no number.
std::optional<size_t> compare_length(const std::string& text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    size_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<size_t>(c - '0');
    }
    return (n == 2 || n >= 17) ? 16 : n;
}

// One PMS name against the given one; logs the outcome.
bool name_matches(const std::string& room, const std::string& first, const std::string& last,
                  const m4700::SplitName& pms, size_t len) {
    // "XXXX" first and last (in any case) take any guest; "XXXX" first alone
    // compares the last names only.
    const GuestNameRules rules{.hash_any_first = false, .xxxx_any_name = true, .xxxx_any_case = true,
                               .last_xxxx_needs_first = true, .compare_len = len};
    const bool ok = guest_name_matches(rules, first, last, pms.first, pms.last);
    if (!guest_name_is_wildcard(first, true)) {
        if (ok)
            VLOG_DEBUG(4, 0,
                       "micros4700_handle_authorize: Success for cgi first '%s', pms first '%s', and cgi last '%s', "
                       "pms last '%s'",
                       first.c_str(), pms.first.c_str(), last.c_str(), pms.last.c_str());
        else
            VLOG_DEBUG(4, 0,
                       "micros4700_handle_authorize: Failure for cgi room '%s' first '%s', pms first '%s',  and cgi "
                       "last '%s', pms last '%s'",
                       room.c_str(), first.c_str(), pms.first.c_str(), last.c_str(), pms.last.c_str());
    } else if (!guest_name_is_wildcard(last, true)) {
        if (ok)
            VLOG_DEBUG(4, 0, "micros4700_handle_authorize: Success for room '%s', cgi '%s', pms '%s'", room.c_str(),
                       last.c_str(), pms.last.c_str());
        else
            VLOG_DEBUG(4, 0, "micros4700_handle_authorize: Failure for cgi '%s', pms '%s'", last.c_str(),
                       pms.last.c_str());
    }
    return ok;
}

// The names of the room against the given name. `asked` tells whether the
// PMS answered at all.
ReqResult authorize_walk(M4700State& st, const std::string& room, const std::vector<std::string>& f,
                         size_t len, bool& asked, std::string& reply) {
    const std::string& first = f[0];
    const std::string& last = f[1];
    std::optional<m4700::NamesAnswer> names = micros4700_names_request(st, room, reply);
    if (!names) {
        VLOG_ERROR(0, "micros4700_handle_authorize: Can't get a name for room [%s].", room.c_str());
        strAppendFmt(reply, " Can't get a name for room [%s].", room.c_str());
        return ReqResult::Failed;
    }
    asked = true;
    db_update_room_list(room, 0);
    VLOG_DEBUG(4, 0, "micros4700_handle_authorize: Comparing names up to %d characters for room '%s'",
               static_cast<int>(len), room.c_str());
    if (!names->names.empty() && m4700::cannot_charge(*names)) {
        if (first == kCanPost)
            VLOG_DEBUG(4, 0, "micros4700_handle_authorize: Can post check, and no names = no luck");
        else
            VLOG_DEBUG(4, 0, "micros4700_handle_authorize: No names received");
        strAppendFmt(reply, "No charge permissions on room: [%s]", room.c_str());
        return ReqResult::Failed;
    }
    if (!names->names.empty() && first == kCanPost) {
        VLOG_DEBUG(4, 0, "micros4700_handle_authorize: Can post check, and we have names, success");
        return ReqResult::Ok;
    }
    db_pms_guests_mark_room_stale(room, 0);
    for (const std::string& field : names->names) {
        VLOG_DEBUG(4, 0, "micros4700_handle_authorize: pms name is [%s] for room [%s]", field.c_str(), room.c_str());
        cache_name(room, field);
        if (name_matches(room, first, last, m4700::split_name(field), len)) return ReqResult::Ok;
    }
    return ReqResult::Failed;
}

ReqResult micros4700_handle_authorize(M4700State& st, const std::string& room, const std::string& text,
                                      std::string& reply) {
    VLOG_DEBUG(4, 0, "entering micros4700_handle_authorize()");
    if (room.empty() || text.empty()) {
        VLOG_ERROR(0, "micros4700_handle_authorize: Null parameter info.");
        strAppendFmt(reply, "Null parameter info.");
        return ReqResult::Failed;
    }
    const std::vector<std::string> f = strSplit(text, "^");
    // A compare length that is no number would compare nothing and let any
    // name through: it is refused like a missing field.
    const std::optional<size_t> len = f.size() == 3 ? compare_length(f[2]) : std::nullopt;
    if (!len) {
        VLOG_ERROR(0, "micros4700_handle_authorize: Incorrect arguments passed. '%s', '%i'", text.c_str(),
                   static_cast<int>(f.size()));
        strAppendFmt(reply, "Incorrect arguments passed. '%s', '%i'", text.c_str(), static_cast<int>(f.size()));
        return ReqResult::Failed;
    }
    bool asked = false;
    const ReqResult r = authorize_walk(st, room, f, *len, asked, reply);
    if (r == ReqResult::Ok) {
        VLOG_DEBUG(4, 0, "micros4700_handle_authorize: return PMS_C_OK [%d]", req_code(r));
    } else if (asked) {
        VLOG_DEBUG(4, 0, "micros4700_handle_authorize: return PMS_C_ERROR [%d]", req_code(r));
        strAppendFmt(reply, " No match found");
    }
    return r;
}

ReqResult micros4700_handle_post_charge(M4700State& st, const PMSPostInfo& post, std::string& reply) {
    VLOG_DEBUG(4, 0, "entering micros4700_handle_post_charge()");
    VLOG_DEBUG(4, 0, "micros4700_handle_post_charge: charging amount %f to room %s", static_cast<double>(post.charge),
               post.room.c_str());
    std::optional<m4700::NamesAnswer> names = micros4700_names_request(st, post.room, reply);
    if (!names) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: Can't get a name for room [%s].  Post failed.",
                   post.room.c_str());
        strAppendFmt(reply, " Can't get a name for room [%s].  Post failed.", post.room.c_str());
        return ReqResult::Failed;
    }
    // An answer without a name field names nobody to charge.
    if (names->names.empty()) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: No guest name for room [%s].  Post failed.", post.room.c_str());
        strAppendFmt(reply, "No guest name for room [%s].  Post failed.", post.room.c_str());
        return ReqResult::Failed;
    }
    const std::optional<std::string> text =
        m4700::post_text(post.room, names->names.front(), post.db_seqno, static_cast<double>(post.charge));
    if (!text) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: room [%s], name or amount %f does not fit the posting",
                   post.room.c_str(), static_cast<double>(post.charge));
        strAppendFmt(reply, "Room, name or amount does not fit the posting.");
        return ReqResult::Failed;
    }
    VLOG_DEBUG(4, 0, "micros4700_handle_post_charge: Micros4700 Post String [%s]", text->c_str());
    if (!micros4700_write_msg(st, *text)) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: Unable to send post message!");
        strAppendFmt(reply, "Unable to send post message!");
        return ReqResult::Failed;
    }
    std::string msg;
    if (micros4700_read_msg_timeout(st, msg) <= 0) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: No response from PMS");
        strAppendFmt(reply, "Did not receive response from PMS");
        return ReqResult::Failed;
    }
    VLOG_DEBUG(4, 0, "micros4700_handle_post_charge: Micros4700 After post received [%s]", msg.c_str());
    const std::optional<m4700::PostAnswer> ans = m4700::decode_post_answer(msg);
    // Too short to hold a status: nothing says the charge was taken.
    if (!ans) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: Did not receive valid response from PMS [%s]", msg.c_str());
        strAppendFmt(reply, "Did not receive valid response from PMS");
        return ReqResult::Failed;
    }
    VLOG_DEBUG(4, 0, "micros4700_handle_post_charge: Micros4700 post response type [%s], status [%s]",
               ans->type.c_str(), ans->status.c_str());
    if (ans->denied()) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: Posting was denied by the PMS.");
        strAppendFmt(reply, "Posting was denied by the PMS.");
        return ReqResult::Failed;
    }
    if (ans->wants_account()) {
        VLOG_ERROR(0, "micros4700_handle_post_charge: PMS has requested positive posting account identification.");
        strAppendFmt(reply, "PMS has requested positive posting account identification.");
        return ReqResult::Failed;
    }
    remember(st, "PA");
    VLOG_DEBUG(4, 0, "micros4700_handle_post_charge: Micros4700 Post was success");
    return ReqResult::Ok;
}

int micros4700_build_guest_cache(M4700State& st) {
    VLOG_DEBUG(4, 0, "entering micros4700_build_guest_cache()");
    std::string sql;
    auto rooms = db_rooms_due_for_refresh(st.cache_age_hours, st.rooms_per_run, &sql);
    VLOG_DEBUG(4, 0, "micros4700_build_guest_cache: sql[%s]", sql.c_str());
    if (!rooms) {
        VLOG_ERROR(0, "micros4700_build_guest_cache: Error during DB query");
    } else if (rooms->empty()) {
        VLOG_DEBUG(4, 0, "micros4700_build_guest_cache: no rooms to cache");
    } else {
        for (const std::optional<std::string>& value : *rooms) {
            if (!value || value->empty()) {
                VLOG_ERROR(0, "Error retrieving DB result");
                continue;
            }
            const std::string& room = *value;
            VLOG_DEBUG(4, 0, "micros4700_build_guest_cache: process room [%s]", room.c_str());
            std::string reply;
            std::optional<m4700::NamesAnswer> names = micros4700_names_request(st, room, reply);
            if (!names) {
                VLOG_ERROR(0, "micros4700_build_guest_cache: Can't get a response for room [%s].", room.c_str());
                continue;
            }
            db_update_room_list(room, 0);
            if (m4700::cannot_charge(*names)) {
                VLOG_DEBUG(4, 0, "micros4700_build_guest_cache: No guest info");
                db_pms_guests_mark_room_stale(room, 0);
                continue;
            }
            // Each name replaces the one before: the answer's last name is
            // the room's current guest.
            for (const std::string& field : names->names) {
                VLOG_DEBUG(4, 0, "micros4700_build_guest_cache: pms name is [%s] for room [%s]", field.c_str(),
                           room.c_str());
                db_pms_guests_mark_room_stale(room, 0);
                cache_name(room, field);
            }
        }
    }
    VLOG_DEBUG(4, 0, "micros4700_build_guest_cache: finished");
    return 0;
}

int micros4700_vendor_init(M4700State& st) {
    VLOG_DEBUG(4, 0, "Entering micros4700_vendor_init");
    const long timeout = setting_number(kSetM4700Read);
    // A read that never waits would fail every exchange.
    st.timeout = timeout >= 1 && timeout <= 3600 ? static_cast<int>(timeout) : 10;
    st.rooms_per_run = static_cast<int>(setting_number(kSetRoomsCachedPerRun));
    st.cache_age_hours = static_cast<int>(setting_number(kSetRoomCacheAge));
    svr_setReady();
    return 1;
}

}  // namespace

VendorDescriptor micros4700_vendor_descriptor() {
    M4700State& st = m4700_state();
    VendorDescriptor d;
    // No record table: the PMS speaks only when asked, so anything read
    // outside a request is reported as unhandled.
    VendorRequests& r = d.requests;
    r.post_charge = [&st](const PMSPostInfo& p, std::string& reply) {
        return micros4700_handle_post_charge(st, p, reply);
    };
    r.authorize = [&st](const std::string& room, const std::string& text, std::string& reply) {
        return micros4700_handle_authorize(st, room, text, reply);
    };
    vendor_fill_unserved(r,
                         {
                             {ReqSlot::CheckRoomStatus, "micros4700_handle_check_room_status"},
                             {ReqSlot::CheckOutRoom, "micros4700_handle_check_out_room"},
                             {ReqSlot::CheckInRoom, "micros4700_handle_check_in_room"},
                             {ReqSlot::RetrieveGuestFolio, "micros4700_handle_retrieve_guest_folio"},
                             {ReqSlot::RetrieveGuestInfo, "micros4700_handle_retrieve_guest_info"},
                             {ReqSlot::RoomEquipmentStatus, "micros4700_handle_room_equipment_status"},
                             {ReqSlot::DbSwap, "micros4700_handle_database_swap"},
                             {ReqSlot::RetrieveGuestMessage, "micros4700_handle_retrieve_guest_message"},
                             {ReqSlot::DeleteGuestMessage, "micros4700_handle_delete_message"},
                         },
                         4);
    r.check_status = [&st](std::optional<std::string>& status) {
        std::string text;
        if (strAppendFmt(text, "%s^%ld", st.last_code.c_str(), static_cast<long>(st.last_code_time)) == 0) {
            status.reset();
            return;
        }
        status = std::move(text);
    };
    // Left empty: the dispatcher answers 3 for it.
    r.check_db_swap_status = nullptr;

    d.read_msg = [&st](std::string& msg) { return micros4700_read_msg_timeout(st, msg); };
    d.post_charge = r.post_charge;
    d.parse_cmd = [](const std::string&) { return std::optional<std::string>(std::string()); };
    d.init = [&st] { return micros4700_vendor_init(st); };
    d.close = [] { return 1; };
    d.keep_alive = [&st] { return micros4700_build_guest_cache(st); };
    return d;
}
