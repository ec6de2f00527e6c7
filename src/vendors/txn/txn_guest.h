// Guest records of the transaction-id vendors that carry the guest in their
// check-in (Galaxy, HTNG): the fields, the dates, room moves and check-outs.
#pragma once

#include <string>

#include "db.h"
#include "vendors/txn/txn_core.h"

struct TxnSpan {
    size_t pos = 0, len = 0;
};
struct TxnGuestLayout {
    TxnSpan room, guest_no, name, arrival, arrival_time, departure, departure_time;
};

// A record of another length is answered ERR (logged as `handler`).
bool txn_length_is(TxnVendor& v, const std::string& rec, size_t want, const char* handler);
// Room, guest no and the name split at `sep` (last name first); created now.
PmsGuest txn_guest_fields(const std::string& rec, const TxnGuestLayout& layout, const std::string& sep);
// Arrival and departure of the record into `g`; a blank date stays empty
// (stored as NULL). A date the database does not take is answered ERR before
// anything is changed: false.
bool txn_guest_dates(TxnVendor& v, const std::string& rec, const TxnGuestLayout& layout, PmsGuest& g,
                     const char* handler);
// CMOV: the guest's row and running sessions follow it to the new room.
int txn_move(TxnVendor& v, const std::string& to, const std::string& from, const std::string& guest_no,
             const std::string& rec);
// CHKO: of the guest, or of the whole room when the guest no is blank or "0".
int txn_checkout(TxnVendor& v, const std::string& room, const std::string& guest_no, const std::string& rec);
