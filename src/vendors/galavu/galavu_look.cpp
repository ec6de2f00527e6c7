// GalaVu look-ups: LOOK of a room's guests, authorisation against them and
// the harvest that names guests the PMS checked in without a name.
#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/guest_match.h"
#include "vendors/galavu/galavu.h"
#include "vendors/txn/txn_core.h"

static constexpr char kLogSrc[] = "vendors/GalaVu";

namespace {

constexpr int kNextNameWait = 10;  // seconds between the NAME records of one answer
constexpr int kVacant = 5;

}  // namespace

ReqResult galavu_look_request(TxnVendor& v, const std::string& room, std::vector<GalavuGuest>& guests,
                              std::string& reply) {
    guests.clear();
    if (!txn_value_fits(room, 6)) {
        strAppendFmt(reply, "Invalid room number");
        return ReqResult::Invalid;
    }
    txn_read_msg_flush(v);
    const std::string id = txn_new_id();
    if (!txn_write_msg(v, strFormat("%4s9999LOOK%-6s", id.c_str(), room.c_str()))) {
        VLOG_ERROR(0, "Unable to send LOOK request!");
        strAppendFmt(reply, "Unable to send authorization request!");
        return ReqResult::Failed;
    }
    std::string rec;
    if (txn_read_msg_timeout(v, v.s.wait, rec) <= 0) {
        VLOG_ERROR(0, "galavu_look_request: no response");
        strAppendFmt(reply, "No reponse from PMS");
        return ReqResult::Failed;
    }
    ReqResult result = ReqResult::Failed;
    for (;;) {
        std::string_view verb = txn_verb(rec);
        if (verb == "NAME") {
            if (txn_id(rec) != id) break;
            if (guests.size() >= kGalavuMaxLook) {
                VLOG_ERROR(0, "galavu_look_request: received too many NAME responses");
                break;
            }
            GalavuGuest g;
            g.account = txn_field(rec, 18, 6);
            g.name = txn_split_name_galavu(txn_field(rec, 24, 20), v.s.last_name_first, "galavu_look_request");
            guests.push_back(std::move(g));
            result = ReqResult::Ok;
            if (txn_is_last(rec)) break;
        } else if (verb == "ERR ") {
            if (txn_id(rec) == id) {
                VLOG_ERROR(0, "galavu_look_request: LOOK was unsuccessful: [%s]", rec.c_str());
                strAppendFmt(reply, "PMS returned unsuccessful LOOK response: [%s]: ", rec.c_str());
                if (txn_parse_error(v, rec, reply) == 3) result = static_cast<ReqResult>(kVacant);
            } else {
                VLOG_ERROR(0, "galavu_look_request: ERR resp, but wrong trans id");
            }
            break;
        } else {
            v.s.queue.push_back(rec);
            VLOG_INFO("galavu_look_request: after LOOK unexpected resp [%s], pushing onto queue, qlen [%d]",
                      rec.c_str(), static_cast<int>(v.s.queue.size()));
        }
        if (txn_read_msg_timeout(v, result == ReqResult::Ok ? kNextNameWait : v.s.wait, rec) <= 0) break;
    }
    // What came out of turn is handled now that the answer is complete.
    txn_handle_msgs_on_queue(v);
    return result;
}

bool galavu_store_guests(const std::string& room, const std::vector<GalavuGuest>& guests, const std::string& when,
                         const std::string& no_post) {
    bool ok = db_pms_guests_mark_room_stale(room, 0) != 0;
    for (const auto& e : guests) {
        if (e.name.last.empty()) continue;
        PmsGuest g;
        g.room = room;
        g.guest_no = e.account;
        g.first = e.name.first;
        g.last = e.name.last;
        g.arrival = g.departure = g.created = when;
        g.no_post = no_post;
        ok = db_pms_guests_add(g) != 0 && ok;
    }
    return ok;
}

ReqResult galavu_handle_authorize(TxnVendor& v, const std::string& room, const std::string& data,
                                  std::string& reply) {
    if (room.empty() || data.empty()) {
        VLOG_ERROR(0, "galavu_handle_authorize: null parameter info.");
        reply = "Null parameter info.";
        return ReqResult::Failed;
    }
    if (v.s.swap == 1) return ReqResult::Ok;
    std::vector<std::string> f = strSplit(data, "^");
    if (f.size() != 2) {
        strAppendFmt(reply, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
        return ReqResult::Failed;
    }
    std::vector<GalavuGuest> guests;
    if (galavu_look_request(v, room, guests, reply) != ReqResult::Ok) {
        VLOG_ERROR(0, "galavu_handle_authorize: galavu_look_request failure");
        return ReqResult::Failed;
    }
    // Every guest of the answer is stored before any is compared, so that
    // the room keeps all its guests whoever logs in.
    galavu_store_guests(room, guests, txn_now_text(), "N");
    static const GuestNameRules kRules{.hash_any_first = false,
                                       .xxxx_any_name = true,
                                       .xxxx_any_case = true,
                                       .last_xxxx_needs_first = true,
                                       .compare_len = 100};
    for (const auto& e : guests) {
        if (e.name.last.empty()) break;
        const std::string pms_first = e.name.first.empty() ? "XXXX" : e.name.first;
        if (guest_name_matches(kRules, f[0], f[1], pms_first, e.name.last)) return ReqResult::Ok;
    }
    VLOG_ERROR(0, "galavu_handle_authorize: ran out of names before we found a match for room [%s]", room.c_str());
    return ReqResult::Failed;
}

int galavu_harvest_guest_data(TxnVendor& v) {
    return txn_harvest(v, [&v](const std::string& room, const std::string& arrival, const std::string& no_post) {
        std::vector<GalavuGuest> guests;
        std::string reply;
        ReqResult r = galavu_look_request(v, room, guests, reply);
        if (r == ReqResult::Ok) {
            galavu_store_guests(room, guests, arrival, no_post);
        } else if (r == kVacant) {
            VLOG_INFO("galavu_harvest_guest_data: look request returned VACANT for room [%s]", room.c_str());
            db_pms_guests_mark_room_stale(room, 0);
        } else {
            VLOG_ERROR(0, "galavu_harvest_guest_data: look request failed for room [%s]", room.c_str());
        }
    });
}
