#include "vendors/fias/fias_requests.h"

#include <cstdlib>
#include <optional>

#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/common/guest_match.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_record.h"

static constexpr char kLogSrc[] = "vendors/fias/fias_requests";

namespace {

constexpr int kFolioReadSeconds = 10;
constexpr int kMessageReadSeconds = 5;
constexpr const char* kNoWorkstation = "000000000000";
// "###" or "XXXX" as first name and "XXXX" as last name stand for any name;
// the wildcards are upper case.
constexpr GuestNameRules kFiasNameRules{
    .hash_any_first = true, .xxxx_any_name = true, .xxxx_any_case = false, .last_xxxx_needs_first = false};

// What a folio request brought back.
struct Folio {
    std::vector<std::string> items;
    std::optional<std::string> balance;  // XB's BA as sent (hundredths)
};

std::string folio_item(const std::string& guest, const std::string& text, time_t when, const std::string& amount) {
    return strFormat("%s%s%s%s%d%s%.02f", guest.c_str(), "|", text.c_str(), "|", static_cast<int>(when), "|",
                     strtod(amount.c_str(), nullptr) / 100.0);
}

// A value from a control client goes into a PMS record: it must not carry
// the field separator or control bytes that would reframe the record.
bool record_safe(const std::string& s) {
    for (unsigned char c : s) {
        if (c == '|' || c < 0x20 || c == 0x7f) {
            VLOG_ERROR(0, "Refusing request value [%s]: it cannot be sent in a PMS record", s.c_str());
            return false;
        }
    }
    return true;
}

// Current guest numbers of a room; nullopt with `reply` set on failure.
std::optional<std::vector<std::string>> room_guests(std::optional<std::vector<std::string>> guests,
                                                    std::string& reply) {
    if (!guests) {
        reply = "Error during DB query";
        return std::nullopt;
    }
    if (guests->empty()) {
        VLOG_ERROR(0, "Room not found");
        reply = "Room not found";
        return std::nullopt;
    }
    return guests;
}

Folio get_folio_items(FiasVendor& v, const std::string& room, const std::string& guest, long start, long end) {
    Folio folio;
    std::string da, ti;
    if (!fias_date_time(time(nullptr), da, ti)) {
        VLOG_ERROR(0, "Unable to retrieve current time values for bill request message");
        return folio;
    }
    std::string xr = strFormat("XR|G#%s|RN%s|DA%s|TI%s|", guest.c_str(), room.c_str(), da.c_str(), ti.c_str());
    if (!fias_write_msg(v, xr)) {
        VLOG_ERROR(0, "Unable to send guest bill request!");
        return folio;
    }
    std::string body;
    while (fias_read_msg(v, kFolioReadSeconds, body) > 0) {
        auto rec = fias_parse(body);
        if (rec && rec->type == "XI") {
            if (!rec->has("BD") || !rec->has("BI") || !rec->has("DC") || !rec->has("DA") || !rec->has("F#") ||
                !rec->has("FD") || !rec->has("TI")) {
                VLOG_ERROR(0, "Received incomplete data, skipping");
                continue;
            }
            std::string fd = rec->text("FD");
            if (fd.empty() || (fd[0] != 'Y' && fd[0] != 'y')) {
                VLOG_DEBUG(4, 0, "Skipping undisplayable folio item");
                continue;
            }
            time_t when = fias_pms_to_time(rec->text("DA"), rec->get("TI"));
            if (when < start || when > end) {
                VLOG_DEBUG(4, 0, "Skipping record not within the specified start and end times");
                continue;
            }
            std::string item = folio_item(rec->text("G#"), rec->text("BD"), when, rec->text("BI"));
            VLOG_DEBUG(3, 0, "Client folio item: %s", item.c_str());
            folio.items.push_back(item);
        } else if (rec && rec->type == "XB") {
            if (!rec->has("BA") || !rec->has("DA") || !rec->has("RN") || !rec->has("TI")) {
                VLOG_ERROR(0, "Received incomplete data, skipping");
                continue;
            }
            time_t when = fias_pms_to_time(rec->text("DA"), rec->get("TI"));
            folio.items.push_back(folio_item(rec->text("G#"), "Balance", when, rec->text("BA")));
            folio.balance = rec->text("BA");
            return folio;
        } else {
            VLOG_WARN(0, "%s", fmt_string(v.p.folio_out_of_order, body.c_str()).c_str());
            vendor_handle_data(body);
        }
    }
    return folio;
}

}  // namespace

ReqResult fias_handle_check_room_status(FiasVendor&, const std::string& room, int32_t& status, std::string&) {
    status = db_room_is_occupied(room);
    VLOG_DEBUG(3, 0, "Room status request (pms_guests): room '%s' returned '%s'", room.c_str(),
               status == 1 ? "CHECKED-IN" : status == 0 ? "CHECKED-OUT" : "ERROR");
    return ReqResult::Ok;
}

ReqResult fias_handle_retrieve_guest_info(FiasVendor&, const std::string& room, int32_t& count,
                                    std::vector<std::string>& lines, std::string& reply) {
    count = 0;
    if (room.empty()) return ReqResult::Invalid;
    std::vector<std::string> items;
    int n = db_get_room_info(room, "|", items);
    if (n < 0) {
        VLOG_ERROR(0, "Error during guest info query on room '%s'", room.c_str());
        reply = "Database error";
        return ReqResult::Failed;
    }
    if (n == 0) {
        VLOG_DEBUG(3, 0, "Guest Info request for room '%s' returned no information", room.c_str());
        return ReqResult::Ok;
    }
    count = n;
    lines = std::move(items);
    return ReqResult::Ok;
}

ReqResult fias_handle_retrieve_guest_folio(FiasVendor& v, const std::string& room, const std::string& guest_no,
                                     int32_t start, int32_t end, int32_t& count, std::vector<std::string>& lines,
                                     std::string& reply) {
    count = 0;
    if (room.empty()) {
        VLOG_ERROR(0, "Cannot check out NULL room");
        return ReqResult::Invalid;
    }
    if (!record_safe(room) || !record_safe(guest_no)) return ReqResult::Invalid;
    // A guest number starting "empty" stands for none.
    const std::string wanted = guest_no.rfind("empty", 0) == 0 ? std::string() : guest_no;
    std::string sql;
    auto found = db_room_guest_numbers(room, wanted, v.s.psi_no, &sql);
    VLOG_DEBUG(3, 0, "%s_handle_retrieve_guest_folio: %s", v.p.prefix, sql.c_str());
    auto guests = room_guests(std::move(found), reply);
    if (!guests) return ReqResult::Failed;
    int i = 0;
    for (const auto& g : *guests) {
        ++i;
        VLOG_DEBUG(3, 0, "Folio lookup for guest no [%d], no [%d/%d] in room [%s]", atoi(g.c_str()), i,
                   static_cast<int>(guests->size()), room.c_str());
        if (g.empty()) {
            VLOG_ERROR(0, "Error retrieving DB result");
            continue;
        }
        Folio folio = get_folio_items(v, room, g, start, end);
        if (folio.items.empty()) {
            VLOG_ERROR(0, "Error retrieving billing items for guest no [%s]", g.c_str());
            continue;
        }
        for (auto& item : folio.items) {
            VLOG_DEBUG(3, 0, "Found [%s] for guest no [%s]", item.c_str(), g.c_str());
            lines.push_back(std::move(item));
        }
    }
    if (lines.empty()) {
        reply = "Error retrieving billing items";
        return ReqResult::Failed;
    }
    count = static_cast<int32_t>(lines.size());
    return ReqResult::Ok;
}

ReqResult fias_handle_check_out_room(FiasVendor& v, const std::string& room, const std::string&, std::string& reply) {
    if (room.empty()) {
        VLOG_ERROR(0, "Cannot check out NULL room");
        return ReqResult::Invalid;
    }
    if (!record_safe(room)) return ReqResult::Invalid;
    auto guests = room_guests(db_room_guest_numbers(room, "", v.s.psi_no), reply);
    if (!guests) return ReqResult::Failed;
    int done = 0;
    for (const auto& g : *guests) {
        time_t now = time(nullptr);
        std::string da, ti;
        if (!fias_date_time(now, da, ti)) {
            VLOG_ERROR(0, "Error composing time/date strings");
            continue;
        }
        // The PMS expects the balance as it gave it in XB (hundredths).
        Folio folio = get_folio_items(v, room, g, 0, now);
        std::string xc = strFormat("XC|BA%s|G#%s|RN%s|DA%s|TI%s|", folio.balance.value_or("").c_str(), g.c_str(),
                                   room.c_str(), da.c_str(), ti.c_str());
        if (!fias_write_msg(v, xc)) {
            VLOG_ERROR(0, "Unable to send checkout request for %s:%s!", room.c_str(), g.c_str());
            continue;
        }
        std::string answer;
        if (fias_read_response(v, answer) <= 0) continue;
        auto rec = fias_parse(answer);
        if (!rec || rec->type != "XC") {
            reply = "Did not recieve Remote Checkout response from PMS";
            return ReqResult::Failed;
        }
        std::string rn = rec->text("RN"), gn = rec->text("G#"), rda = rec->text("DA"), rti = rec->text("TI");
        auto as = rec->get("AS");
        if (as && *as == "OK") {
            VLOG_DEBUG(3, 0, "Guest Check Out: Room Number '%s', Guest Number '%s' [%s/%s]", rn.c_str(), gn.c_str(),
                       rda.c_str(), rti.c_str());
            ++done;
        } else {
            // No AS: the PMS did not confirm the check-out.
            VLOG_INFO("Guest Checkout Error: Room Number '%s', Guest Number '%s' [%s/%s] - %s", rn.c_str(),
                      gn.c_str(), rda.c_str(), rti.c_str(), as.value_or("").c_str());
        }
    }
    if (done < static_cast<int>(guests->size())) {
        reply = strFormat("Unable to check out room '%s' - %d/%d guests have been checked out", room.c_str(), done,
                          static_cast<int>(guests->size()));
        return ReqResult::Failed;
    }
    return ReqResult::Ok;
}

ReqResult fias_handle_authorize(FiasVendor& v, const std::string& room, const std::string& data, std::string& reply) {
    const char* pre = v.p.prefix;
    if (v.p.auth_test_line) VLOG_INFO("AUTH-TEST: entering handle_authorize");
    if (room.empty() || data.empty() || !record_safe(room)) {
        VLOG_ERROR(0, "Null parameter info.");
        reply = "Null parameter info.";
        return ReqResult::Failed;
    }
    auto parts = strSplit(data, "^");
    std::string first, last, gnum;
    if (parts.size() == 2) {
        first = parts[0];
        last = parts[1];
    } else if (parts.size() == 1 && !v.p.authorize_names_only) {
        gnum = parts[0];
    } else {
        VLOG_ERROR(0, "Incorrect arguments passed.");
        reply = "Incorrect arguments passed.";
        return ReqResult::Failed;
    }
    if (v.p.authorize_names_only)
        VLOG_DEBUG(3, 0, "%s_handle_authorize: room[%s], first[%s], last[%s]", pre, room.c_str(), first.c_str(),
                   last.c_str());
    else
        VLOG_DEBUG(3, 0, "%s_handle_authorize: room[%s], first[%s], last[%s], gnum[%s]", pre, room.c_str(),
                   first.c_str(), last.c_str(), gnum.c_str());
    FiasInquiryResult inq;
    if (fias_send_post_inquiry(v, room, kNoWorkstation, inq, reply, true) != ReqResult::Ok) return ReqResult::Failed;

    auto rows = db_room_guests(room, v.s.psi_no);
    if (!rows) {
        reply = "Unable to retrieve query result.";
        return ReqResult::Failed;
    }
    bool found = false;
    for (size_t r = 0; r < rows->size() && !found; ++r) {
        const std::string& dbg = (*rows)[r].guest_no;
        const std::string& dbf = (*rows)[r].first;
        const std::string& dbl = (*rows)[r].last;
        if (!gnum.empty()) {
            VLOG_DEBUG(3, 0, "AUTH: db gn[%s], in gn[%s]", dbg.c_str(), gnum.c_str());
            found = guest_number_matches(gnum, dbg);
        } else {
            VLOG_DEBUG(3, 0, "AUTH: dbf[%s], dbl[%s], inf[%s], inl[%s]", dbf.c_str(), dbl.c_str(), first.c_str(),
                       last.c_str());
            found = guest_name_matches(kFiasNameRules, first, last, dbf, dbl);
        }
        if (found) VLOG_DEBUG(3, 0, "AUTH: SUCCESS");
    }
    VLOG_DEBUG(3, 0, "Leaving authentication foundem[%d]", found ? 1 : 0);
    return found ? ReqResult::Ok : ReqResult::Failed;
}

ReqResult fias_get_guest_messages(FiasVendor& v, const std::string& room, const std::string& guest_no, int32_t& count,
                            std::vector<std::string>& lines, std::string& reply) {
    const char* pre = v.p.prefix;
    count = 0;
    if (room.empty() || guest_no.empty()) {
        VLOG_ERROR(0, "Cannot get messages for NULL room");
        return ReqResult::Invalid;
    }
    if (!record_safe(room) || !record_safe(guest_no)) return ReqResult::Invalid;
    VLOG_DEBUG(3, 0, "%s_handle_retrieve_guest_message room: %s/%s", pre, room.c_str(), guest_no.c_str());
    std::vector<std::string> items;
    std::string xm = strFormat("XM|G#%s|RN%s|", guest_no.c_str(), room.c_str());
    fias_drain(v, strFormat("%s_get_guest_messages", pre), "send guest message request");
    std::string body;
    bool have = false;
    if (!fias_write_msg(v, xm)) {
        VLOG_ERROR(0, "Unable to send guest message request!");
    } else {
        while (fias_read_response(v, body) > 0) {
            if (fias_is_type(body, "XT")) {
                have = true;
                break;
            }
            VLOG_DEBUG_TEXT(3, v.p.messages_not_xt, pre, body.c_str());
            vendor_handle_data(body);
        }
        if (!have) VLOG_ERROR(0, "Did not recieve response from PMS");
    }
    while (have) {
        auto rec = fias_parse(body);
        bool last = false;
        if (!rec || !rec->has("G#") || !rec->has("DA") || !rec->has("RN") || !rec->has("TI")) {
            VLOG_ERROR(0, "Received incomplete data, skipping");
        } else {
            std::string g = rec->text("G#");
            auto mi = rec->get("MI"), mt = rec->get("MT");
            VLOG_DEBUG(3, 0,
                       "%s_get_guest_messages: parsed XT to form guest[%s], date[%s], room[%s], time[%s], msgid[%s], "
                       "msgtxt[%s]",
                       pre, g.c_str(), rec->text("DA").c_str(), rec->text("RN").c_str(), rec->text("TI").c_str(),
                       mi ? mi->c_str() : "(null)", mt ? mt->c_str() : "(null)");
            std::string item;
            if (mi && mt) {
                item = strFormat("%s%s%s%s%s", g.c_str(), "|", mi->c_str(), "|", mt->c_str());
            } else {
                item = strFormat("%s%s%s%s%s", g.c_str(), "|", "0", "|", "");
                last = true;
            }
            VLOG_DEBUG(3, 0, "%s_get_guest_messages: formated [%s]", pre, item.c_str());
            items.push_back(item);
        }
        if (last) break;
        if (fias_read_msg(v, kMessageReadSeconds, body) <= 0) break;
        if (!fias_is_type(body, "XT")) {
            VLOG_DEBUG(3, 0, "%s_get_guest_messages: improper record from PMS during Guest Message Request - %s", pre,
                       body.c_str());
            vendor_handle_data(body);
            break;
        }
    }
    if (items.empty()) {
        VLOG_ERROR(0, "Error retrieving message items");
        reply = "Error retrieving message items";
        return ReqResult::Failed;
    }
    count = static_cast<int32_t>(items.size());
    lines = std::move(items);
    return ReqResult::Ok;
}

ReqResult fias_handle_delete_guest_message(FiasVendor& v, const std::string& room, const std::string& data,
                                     std::string& reply) {
    const char* pre = v.p.prefix;
    if (room.empty() || data.empty()) {
        VLOG_ERROR(0, "Null parameter info.");
        reply = "Null parameter info.";
        return ReqResult::Failed;
    }
    auto parts = strSplit(data, "^");
    if (parts.size() != 2 || !record_safe(room) || !record_safe(parts[0]) || !record_safe(parts[1])) {
        VLOG_ERROR(0, "Incorrect arguments passed.");
        reply = "Incorrect arguments passed.";
        return ReqResult::Failed;
    }
    std::string xd = strFormat("XD|MI%s|RN%s|G#%s|", parts[0].c_str(), room.c_str(), parts[1].c_str());
    fias_drain(v, strFormat("%s_handle_delete_guest_message", pre), "send XD");
    if (!fias_write_msg(v, xd)) {
        VLOG_ERROR(0, "Unable to send room status message!");
        reply = "Unable to send room status message!";
        return ReqResult::Failed;
    }
    std::string answer;
    if (!fias_await(v, {"XD"}, answer)) {
        VLOG_ERROR(0, "Did not recieve response from PMS");
        reply = "Did not recieve response from PMS";
        return ReqResult::Failed;
    }
    VLOG_DEBUG(3, 0, "%s_handle_delete_guest_message succesfully deleted message", pre);
    return ReqResult::Ok;
}

ReqResult fias_handle_room_equipment_status(FiasVendor& v, const std::string& room, const std::string& status,
                                      std::string& reply) {
    if (room.empty() || status.empty() || !record_safe(room) || !record_safe(status)) {
        VLOG_ERROR(0, "Null parameter info.");
        reply = "Null parameter info.";
        return ReqResult::Failed;
    }
    std::string re = strFormat("RE|RN%s|RS%s|", room.c_str(), status.c_str());
    fias_drain(v, strFormat("%s_handle_room_equipment_status", v.p.prefix), "send RE");
    if (!fias_write_msg(v, re)) {
        VLOG_ERROR(0, "Unable to send room status message!");
        reply = "Unable to send room status message!";
        return ReqResult::Failed;
    }
    return ReqResult::Ok;
}
