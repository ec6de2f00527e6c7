#include "vendors/txn/txn_guest.h"

#include "db_txn.h"
#include "platform/log.h"
#include "vendors/txn/txn_names.h"

static constexpr char kLogSrc[] = "vendors/txn";

bool txn_length_is(TxnVendor& v, const std::string& rec, size_t want, const char* handler) {
    if (rec.size() == want) return true;
    VLOG_ERROR(0, "%s: message length [%d] wrong for [%s], expected [%d]", handler, static_cast<int>(rec.size()),
               rec.c_str(), static_cast<int>(want));
    txn_send_err(v, txn_id(rec));
    return false;
}

PmsGuest txn_guest_fields(const std::string& rec, const TxnGuestLayout& l, const std::string& sep) {
    PmsGuest g;
    g.room = txn_field(rec, l.room.pos, l.room.len);
    g.guest_no = txn_field(rec, l.guest_no.pos, l.guest_no.len);
    TxnName n = txn_split_name_last_first(txn_field(rec, l.name.pos, l.name.len), sep);
    g.first = n.first;
    g.last = n.last;
    g.created = txn_now_text();
    return g;
}

bool txn_guest_dates(TxnVendor& v, const std::string& rec, const TxnGuestLayout& l, PmsGuest& g,
                     const char* handler) {
    auto cut = [&rec](TxnSpan s) { return txn_field(rec, s.pos, s.len); };
    // A layout without a time field (HTNG) holds date and time in one.
    auto time_of = [&](TxnSpan s) { return s.len ? cut(s) : std::string(); };
    g.arrival = txn_date(cut(l.arrival), time_of(l.arrival_time));
    g.departure = txn_date(cut(l.departure), time_of(l.departure_time));
    for (std::string* d : {&g.arrival, &g.departure}) {
        if (d->empty()) continue;
        // Refused here, the insert cannot fail on it after the room's guests
        // were already marked stale; read once, the announcement gets it in
        // the one form it converts.
        auto read = db_timestamp_text(*d);
        if (!read) {
            VLOG_ERROR(0, "%s: invalid arrival or departure date in [%s]", handler, rec.c_str());
            txn_send_err(v, txn_id(rec));
            return false;
        }
        *d = *read;
    }
    return true;
}

int txn_move(TxnVendor& v, const std::string& to, const std::string& from, const std::string& guest_no,
             const std::string& rec) {
    long n = db_pms_guests_move_room(guest_no, from, to, v.s.psi_no);
    if (n < 0) {
        VLOG_ERROR(0, "%s_vendor_cmd_move: update failed [%s]", v.p.prefix, rec.c_str());
        return txn_answer(v, rec, false);
    }
    db_move_session_info(guest_no, to);
    return txn_answer(v, rec, true);
}

int txn_checkout(TxnVendor& v, const std::string& room, const std::string& guest_no, const std::string& rec) {
    bool ok;
    if (!guest_no.empty() && guest_no != "0") {
        ok = db_pms_guests_mark_guest_stale(room, guest_no) != 0;
        ok = db_expire_on_checkout(room, guest_no, 0) != 0 && ok;
    } else {
        ok = db_pms_guests_mark_room_stale(room, 0) != 0;
        ok = db_expire_on_checkout(room, "", 0) != 0 && ok;
    }
    return txn_answer(v, rec, ok);
}
