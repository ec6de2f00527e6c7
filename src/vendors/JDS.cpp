// JDS 2-way: fixed-width records with two-digit codes, each acknowledged with
// its sequence number. The PMS reports guests by events ("53"), class of
// service ("59") and interface, database-swap and night-audit markers; we
// post charges ("03") and ask for guest information, folios, room equipment
// and database swaps.
#include <ctime>

#include "config.h"
#include "db.h"
#include "db_settings.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/common/guest_match.h"
#include "vendors/common/unserved.h"
#include "vendors/jds/jds_codec.h"
#include "vendors/jds/jds_link.h"
#include "vendors/jds/jds_settings.h"
#include "vendors/common/room_status.h"

static constexpr char kLogSrc[] = "vendors/JDS";

namespace {

// A text that may go into a guest row and the announcements built from it.
bool storable(const std::string& s) {
    for (char c : s)
        if (c == '|' || static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return false;
    return true;
}

std::string next_seq() { return jds::seq_text(db_get_message_seq_no()); }

int jds_vendor_cmd_guest_info(const std::string& rec) {
    auto g = jds::decode_guest_info(rec);
    if (!g) {
        VLOG_ERROR(0, "jds_vendor_cmd_guest_info: data length invalid [%d] [%s]", static_cast<int>(rec.size()),
                   rec.c_str());
        return 0;
    }
    VLOG_DEBUG(4, 0,
               "jds_vendor_cmd_guest_info: parsed message, we have room[%s], folio[%s], status[%c], occupancy[%c], "
               "name[%s], lang[%s], vip[%s], new room[%s], new occupancy[%c], swap flag[%c], date[%s], time[%s], "
               "group[%s], title[%s], citizenship[%s], country[%s], seqno[%s]",
               g->room.c_str(), g->folio.c_str(), g->status, g->occupancy, g->name.c_str(), g->language.c_str(),
               g->vip.c_str(), g->new_room.c_str(), g->new_occupancy, g->swap, g->date.c_str(), g->time.c_str(),
               g->group.c_str(), g->title.c_str(), g->citizenship.c_str(), g->country.c_str(), g->seq.c_str());

    // Everything is checked before the first change: a record refused half-way
    // would leave a room checked out with nobody checked in.
    const bool checks_in = g->status == '1' || g->status == '3' || g->status == '4';
    const std::string& target = g->status == '3' ? g->new_room : g->room;
    if (g->status >= '1' && g->status <= '5') {
        if (target.empty() || g->room.empty() || !storable(g->room) || !storable(g->new_room) ||
            !storable(g->name) || !storable(g->language) || !storable(g->vip)) {
            VLOG_ERROR(0, "jds_vendor_cmd_guest_info: invalid room or guest data [%s]", rec.c_str());
            return 0;
        }
    }
    PmsGuest pg;
    if (checks_in) {
        std::optional<std::string> when = g->stay_time();
        if (!when) {
            VLOG_ERROR(0, "jds_vendor_cmd_guest_info: invalid date [%s] or time [%s]", g->date.c_str(),
                       g->time.c_str());
            return 0;
        }
        pg.arrival.assign(when->data(), when->size());
        pg.departure.assign(when->data(), when->size());
    }
    pg.last = g->name;
    pg.vip = g->vip;
    pg.language = g->language;
    pg.created = db_local_time_text(time(nullptr));
    pg.resort_fee = "0";
    pg.user_count = -1;
    auto check_in = [&pg](const std::string& room) {
        pg.room = room;
        return db_pms_guests_add(pg);
    };

    switch (g->status) {
        case '1':
            if (g->swap == '1') db_pms_guests_mark_room_stale(g->room, 0);
            return check_in(g->room);
        case '2':
        case '5':
            db_pms_guests_mark_room_stale(g->room, 0);
            db_expire_on_checkout(g->room, "", 0);
            return 1;
        case '3':
            if (g->swap == '1') db_pms_guests_mark_room_stale(g->room, 0);
            return check_in(g->new_room);
        case '4':
            if (db_find_guest_in_room(g->room, "")) {
                pg.room = g->room;
                return db_pms_guests_update(pg);
            }
            VLOG_INFO("jds Unable to find information for room '%s', treating update as in", g->room.c_str());
            return check_in(g->room);
        default:
            return 0;
    }
}

int jds_vendor_cmd_class_of_service(const JdsState& st, const std::string& rec) {
    auto c = jds::decode_class_of_service(rec);
    if (!c) {
        VLOG_ERROR(0, "jds_vendor_cmd_class_of_service: data length invalid");
        return 0;
    }
    VLOG_DEBUG(4, 0, "jds_vendor_cmd_class_of_service: parsed message, we have room[%s], cos[%s], seqno[%s]",
               c->room.c_str(), c->cos.c_str(), c->seq.c_str());
    if (c->room.empty()) {
        VLOG_ERROR(0, "Cannot update class of service for NULL room");
        return 2;
    }
    std::string stmt;
    const long n = db_pms_guests_set_class_of_service(c->room, c->cos, st.psi_no, &stmt);
    if (n == -2) {
        // It goes into the statement unquoted: only a number is taken.
        VLOG_ERROR(0, "jds_vendor_cmd_class_of_service: invalid class of service [%s]", c->cos.c_str());
        return 0;
    }
    if (n < 0) {
        VLOG_ERROR(0, "Error '%s', failed", stmt.c_str());
        return 4;
    }
    if (n == 0) {
        VLOG_ERROR(0, "no rows updated by '%s'", stmt.c_str());
        return 0;
    }
    return 0;
}

// A marker record: log its entry, make the control server ready or busy.
VendorCmdHandler marker(const char* entry, bool ready, int swap = -1, const char* info = nullptr) {
    return [entry, ready, swap, info](const std::string&) {
        VLOG_DEBUG(4, 0, "%s", entry);
        if (info) VLOG_INFO("%s", info);
        ready ? svr_setReady() : svr_setBusy();
        if (swap >= 0) {
            JdsState& st = jds_state();
            st.swap_flag = swap;
            st.swap_time = time(nullptr);
        }
        return 0;
    };
}

ReqResult send_or_fail(JdsState& st, const std::string& body) { return jds_send(st, body); }

ReqResult jds_handle_post_charge(JdsState& st, const PMSPostInfo& post, std::string& reply) {
    VLOG_DEBUG(4, 0, "entering jds_handle_post_charge charge = %f", static_cast<double>(post.charge));
    auto rec = jds::post_record(post.room, static_cast<time_t>(post.start_time), post.charge, next_seq());
    if (!rec) {
        VLOG_ERROR(0, "jds_handle_post_charge: room '%s' or amount %f does not fit the posting record",
                   post.room.c_str(), static_cast<double>(post.charge));
        strAppendFmt(reply, "Room or amount does not fit the posting record");
        return ReqResult::Failed;
    }
    VLOG_DEBUG(4, 0, "Post String '%s'", rec->c_str());
    if (jds_send(st, *rec) != ReqResult::Ok) {
        VLOG_ERROR(0, "Unable to send post!");
        strAppendFmt(reply, "Unable to send post!");
        return ReqResult::Failed;
    }
    return ReqResult::Ok;
}

ReqResult jds_handle_check_room_status(const std::string& room, int32_t& status, std::string& reply) {
    VLOG_DEBUG(4, 0, "entering jds_handle_check_room_status");
    return vendor_db_room_status(room, status, reply);
}

ReqResult jds_handle_authorize(const JdsState& st, const std::string& room, const std::string& text,
                               std::string& reply) {
    VLOG_DEBUG(4, 0, "entering jds_handle_authorize()");
    if (room.empty() || text.empty()) {
        VLOG_ERROR(0, "Null parameter info.");
        strAppendFmt(reply, "Null parameter info.");
        return ReqResult::Failed;
    }
    std::vector<std::string> f = strSplit(text, "^");
    if (f.size() != 2) {
        VLOG_ERROR(0, "Incorrect arguments passed.");
        strAppendFmt(reply, "Incorrect arguments passed.");
        return ReqResult::Failed;
    }
    auto rows = db_room_guests(room, st.psi_no);
    if (!rows) {
        strAppendFmt(reply, "Unable to retrieve query result.");
        return ReqResult::Failed;
    }
    // "###" stands for any first name; "XXXX" has no meaning here.
    const GuestNameRules rules{.hash_any_first = true, .xxxx_any_name = false};
    for (const RoomGuest& g : *rows)
        if (guest_name_matches(rules, f[0], f[1], g.first, g.last)) return ReqResult::Ok;
    return ReqResult::Failed;
}

// Sends a request and waits for its answer record; nullopt with the reply set.
std::optional<std::string> ask(JdsState& st, const std::string& body, std::string_view answer) {
    if (jds_send(st, body) != ReqResult::Ok) return std::nullopt;
    return jds_await(st, answer);
}

ReqResult jds_handle_retrieve_guest_info(JdsState& st, const std::string& room, std::string& reply) {
    const std::string seq = next_seq();
    auto req = jds::guest_info_request(room, seq);
    if (!req) {
        strAppendFmt(reply, "Invalid room");
        return ReqResult::Invalid;
    }
    auto ans = ask(st, *req, "66");
    if (!ans) {
        strAppendFmt(reply, "Did not receive response from PMS");
        return ReqResult::Failed;
    }
    if (ans->size() != jds::kGuestAnswerSize) {
        VLOG_ERROR(0, "Received invalid string from PMS");
        return ReqResult::Failed;
    }
    if (ans->substr(24, 5) != seq) {
        VLOG_ERROR(0, "Seq no in resp doesn't match what we sent [%s]", ans->c_str());
        return ReqResult::Failed;
    }
    return ReqResult::Ok;
}

ReqResult jds_handle_retrieve_guest_folio(JdsState& st, const std::string& room, int32_t& count,
                                          std::vector<std::string>& lines, std::string& reply) {
    count = 0;
    lines.clear();
    auto req = jds::folio_request(room, next_seq());
    if (!req) {
        strAppendFmt(reply, "Invalid room");
        return ReqResult::Invalid;
    }
    auto ans = ask(st, *req, "65");
    if (!ans) {
        strAppendFmt(reply, "Did not receive response from PMS");
        return ReqResult::Failed;
    }
    if (ans->size() != jds::kFolioLineSize) {
        VLOG_ERROR(0, "Received invalid string from PMS");
        return ReqResult::Failed;
    }
    lines.push_back(*ans);
    count = 1;
    return ReqResult::Ok;
}

ReqResult jds_handle_room_equipment_status(JdsState& st, const std::string& room, const std::string& status,
                                           std::string& reply) {
    if (room.empty() || status.empty()) {
        VLOG_ERROR(0, "Null parameter info.");
        strAppendFmt(reply, "Null parameter info.");
        return ReqResult::Failed;
    }
    auto req = jds::equipment_request(room, status, next_seq());
    if (!req) {
        strAppendFmt(reply, "Invalid room or status");
        return ReqResult::Invalid;
    }
    return send_or_fail(st, *req);
}

ReqResult jds_handle_database_swap(JdsState& st) {
    VLOG_DEBUG(4, 0, "Entering jds_handle_database_swap");
    return send_or_fail(st, jds::db_swap_request(next_seq()));
}

int jds_vendor_init(JdsState& st) {
    VLOG_DEBUG(4, 0, "Entering jds_vendor_init");
    st.retries = static_cast<int>(setting_number(kSetJdsRetries));
    st.psi_no = static_cast<int>(setting_number(kSetPsiNo));
    db_reset_message_seq_no();
    svr_setReady();
    return 1;
}

int jds_vendor_close(JdsState& st) {
    VLOG_DEBUG(4, 0, "Entering jds_vendor_close");
    return jds_send(st, jds::close_record(next_seq())) == ReqResult::Ok ? 0 : 4;
}

std::optional<std::string> jds_vendor_parse_cmd(JdsState& st, const std::string& rec) {
    VLOG_DEBUG(4, 0, "entering jds_vendor_parse_cmd()");
    if (rec.size() > 2) {
        st.last_code = rec.substr(0, 2);
        st.last_code_time = time(nullptr);
        return st.last_code;
    }
    VLOG_DEBUG(4, 0, "jds_vendor_parse_cmd unknown message");
    return std::nullopt;
}

}  // namespace

VendorDescriptor jds_vendor_descriptor() {
    JdsState& st = jds_state();
    VendorDescriptor d;
    d.commands = {
        {"51", marker("Entering jds_vendor_cmd_interface_start", true)},
        {"52", marker("Entering jds_vendor_cmd_interface_stop", false)},
        {"53", jds_vendor_cmd_guest_info},
        {"54", {}},
        {"55", {}},
        {"56", {}},
        {"57", {}},
        {"58", {}},
        {"59", [&st](const std::string& r) { return jds_vendor_cmd_class_of_service(st, r); }},
        {"60", marker("Entering jds_vendor_cmd_db_swap_start", false, 1)},
        {"61", marker("Entering jds_vendor_cmd_db_swap_end", true, 0)},
        {"62", marker("entering jds_vendor_cmd_night_audit_start", false, -1,
                      "PMS has gone into Night Audit mode..  All incoming messages (from GWY) will be ignored until a "
                      "NE (Night audit End) record is received from the PMS.")},
        {"63", marker("entering jds_vendor_cmd_night_audit_end", true, -1,
                      "PMS has awoke from Night Audit mode.. Normal processing resumes")},
    };

    VendorRequests& r = d.requests;
    r.check_room_status = jds_handle_check_room_status;
    r.link_free |= vendor_request_bit(1);  // from the occupancy table
    r.retrieve_guest_folio = [&st](const std::string& room, const std::string&, int32_t, int32_t, int32_t& count,
                                   std::vector<std::string>& lines, std::string& reply) {
        return jds_handle_retrieve_guest_folio(st, room, count, lines, reply);
    };
    r.retrieve_guest_info = [&st](const std::string& room, int32_t& count, std::vector<std::string>& lines,
                                  std::string& reply) {
        count = 0;
        lines.clear();
        return jds_handle_retrieve_guest_info(st, room, reply);
    };
    r.post_charge = [&st](const PMSPostInfo& p, std::string& reply) { return jds_handle_post_charge(st, p, reply); };
    r.authorize = [&st](const std::string& room, const std::string& text, std::string& reply) {
        return jds_handle_authorize(st, room, text, reply);
    };
    r.room_equipment_status = [&st](const std::string& room, const std::string& status, std::string& reply) {
        return jds_handle_room_equipment_status(st, room, status, reply);
    };
    r.db_swap = [&st] { return jds_handle_database_swap(st); };
    vendor_fill_unserved(r,
                         {
                             {ReqSlot::CheckOutRoom, "jds_handle_check_out_room"},
                             {ReqSlot::CheckInRoom, "jds_handle_check_in_room"},
                             {ReqSlot::RetrieveGuestMessage, "jds_handle_retrieve_guest_message"},
                             {ReqSlot::DeleteGuestMessage, "jds_handle_delete_message"},
                         },
                         4);
    r.check_status = [&st](std::optional<std::string>& status) {
        std::string text;
        strAppendFmt(text, "%s^%ld", st.last_code.c_str(), static_cast<long>(st.last_code_time));
        status = std::move(text);
    };
    r.check_db_swap_status = [&st](std::optional<std::string>& status) {
        VLOG_DEBUG(4, 0, "jds_handle_check_db_swap_status: time is %d, swap flag is %d",
                   static_cast<int>(time(nullptr)), st.swap_flag);
        std::string text;
        strAppendFmt(text, "%d|%ld", st.swap_flag, static_cast<long>(st.swap_time));
        status = std::move(text);
    };

    d.read_msg = [&st](std::string& rec) { return jds_read_msg(st, rec); };
    d.post_charge = r.post_charge;
    d.parse_cmd = [&st](const std::string& rec) { return jds_vendor_parse_cmd(st, rec); };
    d.init = [&st] { return jds_vendor_init(st); };
    d.close = [&st] { return jds_vendor_close(st); };
    d.keep_alive = [] { return 0; };
    return d;
}
