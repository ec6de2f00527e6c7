// What the transaction-id vendors share above the framing: settings and
// start, the records every one of them knows (STRT, XXXX, INFO, DBST, DBED),
// the status requests, the database swap by INIT, the harvest skeleton and
// the checks on values going into or coming out of records.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "vendor.h"
#include "vendors/txn/txn_link.h"

// Reads the settings again and forgets the link's queue.
void txn_load_settings(TxnVendor& v);
// Resets the ids and sends STRT; 1 when the PMS accepted it (server READY).
int txn_start(TxnVendor& v);

// The field at `pos`, `len` characters, with blanks stripped ("" when the
// record is too short).
std::string txn_field(std::string_view record, size_t pos, size_t len);
// True when `value` fits a `width`-character field and holds no control byte.
bool txn_value_fits(std::string_view value, size_t width);
// A PMS date and its time as the database is given them: the date text, one
// blank, the time text (each stripped), a month-first "MM/DD/YYYY" turned
// into "YYYY-MM-DD"; "" when the date is blank, which is stored as NULL. The
// database judges the text.
std::string txn_date(std::string_view date, std::string_view time);
// The charge of `post` in whole cents, "%7.0f"; false (logged, `reply`
// says why) when it does not fit the seven characters.
bool txn_amount_text(const TxnVendor& v, const PMSPostInfo& post, std::string& amount, std::string& reply);
// "%Y-%m-%d %H:%M:%S" of now.
std::string txn_now_text();

// Record handlers every vendor has.
int txn_cmd_start(TxnVendor& v, const std::string& rec);     // STRT: READY, VER
int txn_cmd_stop(TxnVendor& v, const std::string& rec);      // XXXX: BUSY, VER
int txn_cmd_info(TxnVendor& v, const std::string& rec);      // INFO: VER
int txn_cmd_info_silent(TxnVendor&, const std::string&);     // INFO without a reply
int txn_cmd_resync_start(TxnVendor& v, const std::string&);  // DBST
int txn_cmd_resync_done(TxnVendor& v, const std::string&);   // DBED
// A handler's closing answer: VER when `stored`, else ERR (the PMS can then
// resend); 1 when VER was sent.
int txn_answer(TxnVendor& v, const std::string& rec, bool stored);

// Galaxy and HTNG db_swap: INIT answered by DBST.
ReqResult txn_init_request_and_dbst_response(TxnVendor& v);
// The keep-alive TEST.
ReqResult txn_keep_alive(TxnVendor& v);

// Harvest skeleton: ends a swap, then runs `visit` for each room whose guest
// has no name yet; without such rooms it sends the keep-alive instead.
int txn_harvest(TxnVendor& v, const std::function<void(const std::string& room, const std::string& arrival,
                                                       const std::string& no_post)>& visit);

// What a vendor adds to the shared descriptor: its records and the handlers
// that are its own. An empty hook takes the shared behaviour.
using TxnHandler = std::function<int(TxnVendor&, const std::string&)>;
using TxnRoomRequest = std::function<ReqResult(TxnVendor&, const std::string& room, const std::string& data,
                                               std::string& reply)>;
struct TxnHooks {
    std::vector<std::pair<std::string, TxnHandler>> records = {};  // in table order
    std::function<int(TxnVendor&)> init = {};                       // default: settings, then STRT
    std::function<int(TxnVendor&)> keep_alive = {};                 // default: TEST
    std::function<ReqResult(TxnVendor&)> db_swap = {};              // default: INIT answered by DBST
    // None: a charge is refused (4) without a word to the PMS.
    std::function<ReqResult(TxnVendor&, const PMSPostInfo&, std::string&)> post_charge = {};
    TxnRoomRequest authorize = {};       // none: unserved
    TxnRoomRequest check_out_room = {};  // none: unserved
};
VendorDescriptor txn_descriptor(TxnVendor& v, const TxnHooks& hooks);
