// HTNG 2-way: the transaction-id guest-data interface over TCP. It keeps
// occupancy, no-post restrictions and room moves up to date; it takes no
// charges and answers most requests "Not supported by vendor".
#include "db.h"
#include "db_txn.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/txn/txn_guest.h"

static constexpr char kLogSrc[] = "vendors/HTNG";

namespace {

const TxnProfile kHtng{
    .name = "HTNG 2-way",
    .prefix = "htng",
    .brand = "HTNG",
    .ack_wait = 2,
    .nak_pause = 0,
    .lf_as_lrc = false,
    .skip_noise = true,
    .flush_waiting_only = true,
    .answer_wait = 60,
    .errors = kTxnGalaxyErrors,
    .error_text_to_reply = false,
    .guest_requests = false,
    .not_supported = req_slot(ReqSlot::CheckOutRoom) | req_slot(ReqSlot::CheckInRoom) |
                     req_slot(ReqSlot::RetrieveGuestFolio) | req_slot(ReqSlot::Authorize) |
                     req_slot(ReqSlot::RoomEquipmentStatus) | req_slot(ReqSlot::RetrieveGuestMessage) |
                     req_slot(ReqSlot::DeleteGuestMessage),
};

TxnVendor& htng() {
    static TxnVendor v{kHtng, {}};
    return v;
}

// CHKI, CHKM, CHUP: at least 317 characters; the user field and everything
// after position 317 are kept as user strings.
constexpr size_t kGuestMin = 317;
constexpr TxnGuestLayout kGuest{.room = {12, 16}, .guest_no = {28, 64}, .name = {92, 128},
                                .arrival = {285, 16}, .arrival_time = {0, 0},
                                .departure = {301, 16}, .departure_time = {0, 0}};

bool long_enough(TxnVendor& v, const std::string& rec, size_t min, const char* handler) {
    if (rec.size() >= min) return true;
    VLOG_ERROR(0, "%s: message length [%d] wrong for [%s], expecting at least %d", handler,
               static_cast<int>(rec.size()), rec.c_str(), static_cast<int>(min));
    txn_send_err(v, txn_id(rec));
    return false;
}

std::optional<PmsGuest> guest_of(TxnVendor& v, const std::string& rec, const char* handler) {
    if (!long_enough(v, rec, kGuestMin, handler)) return std::nullopt;
    PmsGuest g = txn_guest_fields(rec, kGuest, "|");
    if (!txn_guest_dates(v, rec, kGuest, g, handler)) return std::nullopt;
    g.no_post.assign(1, rec[284] == 'Y' ? 'Y' : 'N');
    g.user_count = 2;
    g.user[0] = txn_field(rec, 220, 64);
    g.user[1] = rec.substr(kGuestMin);
    return g;
}

int htng_vendor_cmd_checkin(TxnVendor& v, const std::string& rec) {
    auto g = guest_of(v, rec, "htng_vendor_cmd_checkin");
    if (!g) return 4;
    db_pms_guests_mark_guest_stale(g->room, g->guest_no);
    return txn_answer(v, rec, db_pms_guests_add(*g) != 0);
}

// CHKM and CHUP: the guest's row is rewritten (CHUP: only what the record
// holds), or added when the PMS never checked the guest in here.
int update_or_insert(TxnVendor& v, const std::string& rec, bool partial) {
    const char* handler = partial ? "htng_vendor_cmd_update" : "htng_vendor_cmd_change";
    auto g = guest_of(v, rec, handler);
    if (!g) return 4;
    bool ok;
    if (db_find_guest_in_room(g->room, g->guest_no) > 0) {
        VLOG_DEBUG(2, 0, "%s: found a record for room[%s], guest[%s].  Update it.", handler, g->room.c_str(),
                   g->guest_no.c_str());
        ok = (partial ? db_pms_guests_partial_update(*g) : db_pms_guests_update(*g)) != 0;
    } else {
        VLOG_DEBUG(2, 0, "%s: Did NOT find a record for room[%s], guest[%s].  Insert one.", handler, g->room.c_str(),
                   g->guest_no.c_str());
        ok = db_pms_guests_add(*g) != 0;
    }
    return txn_answer(v, rec, ok);
}

int htng_vendor_cmd_change(TxnVendor& v, const std::string& rec) { return update_or_insert(v, rec, false); }
int htng_vendor_cmd_update(TxnVendor& v, const std::string& rec) { return update_or_insert(v, rec, true); }

int htng_vendor_cmd_restrictions(TxnVendor& v, const std::string& rec) {
    if (!long_enough(v, rec, 157, "htng_vendor_cmd_restrictions")) return 4;
    const std::string room = txn_field(rec, 12, 16);
    if (room.empty()) {
        VLOG_ERROR(0, "htng_vendor_cmd_restrictions: Cannot update NULL room");
        return txn_answer(v, rec, true);
    }
    std::string stmt;
    long n = db_pms_guests_set_no_post_of(room, txn_field(rec, 28, 64), rec[156] == 'Y' ? "Y" : "N", v.s.psi_no,
                                          &stmt);
    if (n < 0) VLOG_ERROR(0, "Error '%s', failed", stmt.c_str());
    return txn_answer(v, rec, n >= 0);
}

int htng_vendor_cmd_move(TxnVendor& v, const std::string& rec) {
    if (!txn_length_is(v, rec, 108, "htng_vendor_cmd_move")) return 4;
    return txn_move(v, txn_field(rec, 12, 16), txn_field(rec, 28, 16), txn_field(rec, 44, 64), rec);
}

int htng_vendor_cmd_checkout(TxnVendor& v, const std::string& rec) {
    if (!txn_length_is(v, rec, 92, "htng_vendor_cmd_checkout")) return 4;
    return txn_checkout(v, txn_field(rec, 12, 16), txn_field(rec, 28, 64), rec);
}

int htng_vendor_init(TxnVendor& v) {
    if (link_type() != LINK_TYPE_TCP) {
        VLOG_ERROR(0, "htng_vendor_init: not TCP?? This cannot happen");
        return 0;
    }
    txn_load_settings(v);
    return txn_start(v);
}

}  // namespace

VendorDescriptor htng_vendor_descriptor() {
    return txn_descriptor(htng(), {
                                      .records = {{"STRT", txn_cmd_start},
                                                  {"XXXX", txn_cmd_stop},
                                                  {"CHKI", htng_vendor_cmd_checkin},
                                                  {"CHKM", htng_vendor_cmd_change},
                                                  {"RSTC", htng_vendor_cmd_restrictions},
                                                  {"CHUP", htng_vendor_cmd_update},
                                                  {"CMOV", htng_vendor_cmd_move},
                                                  {"CHKO", htng_vendor_cmd_checkout},
                                                  {"DBST", txn_cmd_resync_start},
                                                  {"DBED", txn_cmd_resync_done},
                                                  {"INFO", txn_cmd_info_silent}},
                                      .init = htng_vendor_init,
                                  });
}
