// GalaVu 2-way: the transaction-id protocol whose check-ins carry only the
// room; the guests' names come from LOOK requests and NAME records.
#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/galavu/galavu.h"
#include "vendors/txn/txn_core.h"

static constexpr char kLogSrc[] = "vendors/GalaVu";

namespace {

const TxnProfile kGalaVu{
    .name = "GalaVu 2-way",
    .prefix = "galavu",
    .brand = "GalaVu",
    .ack_wait = 5,
    .nak_pause = 2,
    .lf_as_lrc = true,
    .skip_noise = false,
    .flush_waiting_only = false,
    .answer_wait = 0,
    .errors = {{0, "Undefined error"},
               {1, "Unknown command verb"},
               {2, "Unknown room number"},
               {3, "Vacant room"},
               {4, "Unknown account number"},
               {5, "Account number not checked into room"},
               {6, "Invalid method of payment"},
               {7, "Account balance changed"},
               {8, "Unknown maid code"},
               {9, "Night audit in progress"},
               {10, "Locked folio"},
               {11, "Guest message not found"},
               {12, "Guest message cannot be delivered"}},
    .error_text_to_reply = true,
    .guest_requests = true,
    .not_supported = 0,
};

// A record of the wrong length is answered ERR and changes nothing.
bool length_is(TxnVendor& v, const std::string& rec, size_t want, const char* handler) {
    if (rec.size() == want) return true;
    VLOG_ERROR(0, "%s: message length [%d] wrong for [%s]", handler, static_cast<int>(rec.size()), rec.c_str());
    txn_send_err(v, txn_id(rec));
    return false;
}

int galavu_vendor_cmd_db_init(TxnVendor& v, const std::string& rec) {
    if (!length_is(v, rec, 18, "galavu_vendor_cmd_db_init")) return 4;
    VLOG_INFO("received INIT but we are ignoring it");
    return txn_answer(v, rec, true);
}

// A room without names yet: the harvest will ask for them.
bool add_placeholder(const std::string& room, const std::string& no_post) {
    PmsGuest g;
    g.room = room;
    g.arrival = g.departure = g.created = txn_now_text();
    g.no_post = no_post;
    return db_pms_guests_add(g) != 0;
}

int galavu_vendor_cmd_checkin(TxnVendor& v, const std::string& rec) {
    if (!length_is(v, rec, 18, "galavu_vendor_cmd_checkin")) return 4;
    const std::string room = txn_field(rec, 12, 6);
    const std::string no_post = txn_verb(rec) == "CHKC" ? "Y" : "N";
    if (v.s.swap == 1) {
        db_pms_guests_mark_room_stale(room, 0);
        return txn_answer(v, rec, add_placeholder(room, no_post));
    }
    int sent = txn_answer(v, rec, true);
    std::vector<GalavuGuest> guests;
    std::string reply;
    if (galavu_look_request(v, room, guests, reply) == ReqResult::Ok) {
        galavu_store_guests(room, guests, txn_now_text(), no_post);
    } else {
        VLOG_ERROR(0, "galavu_vendor_cmd_checkin: galavu_look_request failure");
        db_pms_guests_mark_room_stale(room, 0);
        add_placeholder(room, no_post);
    }
    return sent;
}

int galavu_vendor_cmd_checkout(TxnVendor& v, const std::string& rec) {
    if (!length_is(v, rec, 18, "galavu_vendor_cmd_checkout")) return 4;
    const std::string room = txn_field(rec, 12, 6);
    bool ok = db_pms_guests_mark_room_stale(room, 0) != 0;
    ok = db_expire_on_checkout(room, "", 0) != 0 && ok;
    return txn_answer(v, rec, ok);
}

int galavu_vendor_cmd_inhibit(TxnVendor& v, const std::string& rec) {
    if (!length_is(v, rec, 19, "galavu_vendor_cmd_inhibit")) return 4;
    const std::string room = txn_field(rec, 12, 6);
    return txn_answer(v, rec, db_pms_guests_set_no_post(room, rec.substr(18, 1)) != 0);
}

int galavu_vendor_cmd_message_waiting(TxnVendor& v, const std::string& rec) {
    if (!length_is(v, rec, 19, "galavu_vendor_cmd_message_waiting")) return 4;
    VLOG_INFO("galavu_vendor_cmd_message_waiting: room [%s], flag [%c]", txn_field(rec, 12, 6).c_str(), rec[18]);
    return txn_answer(v, rec, true);
}

int galavu_vendor_cmd_name(TxnVendor& v, const std::string& rec) {
    const std::string room = txn_field(rec, 12, 6);
    if (room.empty()) {
        VLOG_ERROR(0, "galavu_vendor_cmd_name: no room in [%s]", rec.c_str());
        return txn_answer(v, rec, false);
    }
    // Whole name parts are kept, as the LOOK answer keeps them.
    TxnName name = txn_split_name_galavu(txn_field(rec, 24, 20), v.s.last_name_first, "galavu_vendor_cmd_name");
    PmsGuest g;
    g.room = room;
    g.guest_no = txn_field(rec, 18, 6);
    g.first = std::move(name.first);
    g.last = std::move(name.last);
    g.arrival = g.departure = g.created = txn_now_text();
    g.no_post.assign(1, 'N');
    return txn_answer(v, rec, db_pms_guests_add(g) != 0);
}

}  // namespace

TxnVendor& galavu() {
    static TxnVendor v{kGalaVu, {}};
    return v;
}

VendorDescriptor galavu_vendor_descriptor() {
    return txn_descriptor(galavu(), {
                                        .records = {{"INIT", galavu_vendor_cmd_db_init},
                                                    {"STRT", txn_cmd_start},
                                                    {"XXXX", txn_cmd_stop},
                                                    {"CHKI", galavu_vendor_cmd_checkin},
                                                    {"CHKC", galavu_vendor_cmd_checkin},
                                                    {"CHKO", galavu_vendor_cmd_checkout},
                                                    {"INHB", galavu_vendor_cmd_inhibit},
                                                    {"INFO", txn_cmd_info},
                                                    {"MSGW", galavu_vendor_cmd_message_waiting},
                                                    {"NAME", galavu_vendor_cmd_name}},
                                        .keep_alive = galavu_harvest_guest_data,
                                        .db_swap = galavu_handle_db_swap,
                                        .post_charge = galavu_handle_post_charge,
                                        .authorize = galavu_handle_authorize,
                                        .check_out_room = galavu_handle_check_out_room,
                                    });
}
