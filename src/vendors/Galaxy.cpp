// Galaxy 2-way: the transaction-id protocol whose check-ins carry the guest,
// with postings, folio, messages and room status served as GalaVu serves them.
#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/guest_match.h"
#include "vendors/txn/txn_guest.h"
#include "vendors/txn/txn_names.h"

static constexpr char kLogSrc[] = "vendors/Galaxy";

namespace {

const TxnProfile kGalaxy{
    .name = "Galaxy 2-way",
    .prefix = "galaxy",
    .brand = "Galaxy",
    .ack_wait = 2,
    .nak_pause = 0,
    .lf_as_lrc = false,
    .skip_noise = true,
    .flush_waiting_only = false,
    .answer_wait = 60,
    .errors = kTxnGalaxyErrors,
    .error_text_to_reply = false,
    .guest_requests = true,
    .not_supported = 0,
};

TxnVendor& galaxy() {
    static TxnVendor v{kGalaxy, {}};
    return v;
}

// CHKI/CHKR (90 characters) and CHKM (88): room 12-17, guest no 18-27, name
// 28-47 ("Last, First"), internet flag 48, then the user fields.
constexpr TxnGuestLayout kCheckin{.room = {12, 6}, .guest_no = {18, 10}, .name = {28, 20},
                                  .arrival = {52, 10}, .arrival_time = {62, 5},
                                  .departure = {67, 10}, .departure_time = {77, 5}};

PmsGuest guest_of(const std::string& rec, bool change) {
    PmsGuest g = txn_guest_fields(rec, kCheckin, ", ");
    // The internet flag says whether the guest may be charged.
    g.no_post = rec[48] == 'N' ? "Y" : "N";
    g.user_count = 5;
    g.user[1] = rec.substr(49, 1);
    g.user[4] = rec.substr(50, 2);
    if (change) {
        g.user[2] = txn_field(rec, 82, 2);
        g.user[3] = txn_field(rec, 84, 4);
    } else {
        g.user[0] = txn_field(rec, 82, 2);
        g.user[2] = txn_field(rec, 84, 2);
        g.user[3] = txn_field(rec, 86, 4);
    }
    return g;
}

int galaxy_checkin(TxnVendor& v, const std::string& rec, bool change) {
    const size_t want = change ? 88 : 90;
    const char* handler = change ? "galaxy_vendor_cmd_change" : "galaxy_vendor_cmd_checkin";
    if (!txn_length_is(v, rec, want, handler)) return 4;
    PmsGuest g = guest_of(rec, change);
    if (!txn_guest_dates(v, rec, kCheckin, g, handler)) return 4;
    db_pms_guests_mark_room_stale(g.room, 0);
    return txn_answer(v, rec, db_pms_guests_add(g) != 0);
}

int galaxy_vendor_cmd_checkin(TxnVendor& v, const std::string& rec) { return galaxy_checkin(v, rec, false); }
int galaxy_vendor_cmd_change(TxnVendor& v, const std::string& rec) { return galaxy_checkin(v, rec, true); }

int galaxy_vendor_cmd_move(TxnVendor& v, const std::string& rec) {
    if (!txn_length_is(v, rec, 34, "galaxy_vendor_cmd_move")) return 4;
    return txn_move(v, txn_field(rec, 12, 6), txn_field(rec, 18, 6), txn_field(rec, 24, 10), rec);
}

int galaxy_vendor_cmd_checkout(TxnVendor& v, const std::string& rec) {
    if (!txn_length_is(v, rec, 28, "galaxy_vendor_cmd_checkout")) return 4;
    return txn_checkout(v, txn_field(rec, 12, 6), txn_field(rec, 18, 10), rec);
}

ReqResult galaxy_handle_post_charge(TxnVendor& v, const PMSPostInfo& post, std::string& reply) {
    std::string guest_no = post.guest_no;
    if (guest_no.empty()) guest_no = db_get_last_occupant(post.room).value_or("");
    if (guest_no.empty()) {
        VLOG_ERROR(0, "galaxy_handle_post_charge: no guest number can not post");
        return ReqResult::Failed;
    }
    std::string amount;
    if (!txn_amount_text(v, post, amount, reply)) return ReqResult::Failed;
    if (!txn_value_fits(guest_no, 10)) {
        VLOG_ERROR(0, "galaxy_handle_post_charge: guest number [%s] does not fit, not posted", guest_no.c_str());
        return ReqResult::Failed;
    }
    const std::string id = txn_new_id();
    return txn_request_and_response(v, id,
                                    strFormat("%s9999POST%-6s%-10s%-2s%-12s%s", id.c_str(), post.room.c_str(),
                                              guest_no.c_str(), " 1", "INTERNET    ", amount.c_str()));
}

// LOOK of the room, compared with the given name; nothing is stored, the
// check-in records keep the guests.
ReqResult galaxy_handle_authorize(TxnVendor& v, const std::string& room, const std::string& data,
                                  std::string& reply) {
    if (room.empty() || data.empty()) {
        VLOG_ERROR(0, "galaxy_handle_authorize: null parameter info.");
        reply = "Null parameter info.";
        return ReqResult::Failed;
    }
    std::vector<std::string> f = strSplit(data, "^");
    if (f.size() != 2) {
        strAppendFmt(reply, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
        return ReqResult::Failed;
    }
    if (!txn_value_fits(room, 6)) return ReqResult::Invalid;
    txn_read_msg_flush(v);
    const std::string id = txn_new_id();
    if (!txn_write_msg(v, strFormat("%4s9999LOOK%-6s", id.c_str(), room.c_str()))) {
        reply = "Unable to send authorization request!";
        return ReqResult::Failed;
    }
    static const GuestNameRules kRules{.hash_any_first = false,
                                       .xxxx_any_name = true,
                                       .xxxx_any_case = true,
                                       .last_xxxx_needs_first = true,
                                       .compare_len = 100};
    std::string rec;
    int wait = v.s.wait;
    size_t names = 0;
    ReqResult result = ReqResult::Failed;
    {
        TxnCollecting collecting(v);
        while (names < 8 && txn_next_record(v, wait, rec) > 0) {
            std::string_view verb = txn_verb(rec);
            if (verb == "ERR ") {
                if (txn_id(rec) == id) txn_parse_error(v, rec, reply);
                break;
            }
            if (verb != "NAME") {
                vendor_handle_data(rec);
                continue;
            }
            if (txn_id(rec) != id) break;
            ++names;
            TxnName n = txn_split_name_last_first(txn_field(rec, 28, 20), ", ");
            if (n.first.empty()) n.first = "XXXX";
            VLOG_DEBUG(2, 0, "galaxy_look_request: name [%s], acct [%s]", txn_field(rec, 28, 20).c_str(),
                       txn_field(rec, 18, 10).c_str());
            if (!n.last.empty() && guest_name_matches(kRules, f[0], f[1], n.first, n.last)) {
                result = ReqResult::Ok;
                break;
            }
            if (txn_is_last(rec)) break;
            wait = 10;
        }
    }
    if (result != ReqResult::Ok)
        VLOG_ERROR(0, "galaxy_handle_authorize: ran out of names before we found a match for room [%s]", room.c_str());
    return result;
}

}  // namespace

VendorDescriptor galaxy_vendor_descriptor() {
    return txn_descriptor(galaxy(), {
                                        .records = {{"STRT", txn_cmd_start},
                                                    {"XXXX", txn_cmd_stop},
                                                    {"CHKI", galaxy_vendor_cmd_checkin},
                                                    {"CHKR", galaxy_vendor_cmd_checkin},
                                                    {"CHKM", galaxy_vendor_cmd_change},
                                                    {"CMOV", galaxy_vendor_cmd_move},
                                                    {"CHKO", galaxy_vendor_cmd_checkout},
                                                    {"DBST", txn_cmd_resync_start},
                                                    {"DBED", txn_cmd_resync_done},
                                                    {"INFO", txn_cmd_info_silent}},
                                        .post_charge = galaxy_handle_post_charge,
                                        .authorize = galaxy_handle_authorize,
                                    });
}
