#include "vendors/txn/txn_core.h"

#include <cmath>

#include "config.h"
#include "db.h"
#include "db_txn.h"
#include "db_settings.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/txn/txn_settings.h"

static constexpr char kLogSrc[] = "vendors/txn";

void txn_load_settings(TxnVendor& v) {
    TxnState& s = v.s;
    s.retries = static_cast<int>(setting_number(kSetTxnRetries));
    if (s.retries > 3) {
        VLOG_INFO("Reseting message retries to '3', the max %s permits", v.p.brand);
        s.retries = 3;
    }
    s.psi_no = static_cast<int>(setting_number(kSetPsiNo));
    s.last_name_first = setting_number(kSetLastNameFirst) != 0;
    s.wait = v.p.answer_wait > 0 ? v.p.answer_wait : static_cast<int>(setting_number(kSetGalavuWait));
    if (s.wait < 1) s.wait = 60;
    s.flush = static_cast<int>(setting_number(kSetTxnFlush));
    if (s.flush < 0) s.flush = 3;
    s.read = static_cast<int>(setting_number(kSetTxnRead));
    if (s.read < 1) s.read = 3;
    s.queue.clear();
}

int txn_start(TxnVendor& v) {
    db_reset_message_seq_no();
    const std::string id = txn_new_id();
    if (txn_request_and_response(v, id, id + kTxnLast + "STRT") != ReqResult::Ok) return 0;
    svr_setReady();
    return 1;
}

std::string txn_field(std::string_view record, size_t pos, size_t len) {
    if (pos >= record.size()) return "";
    std::string f(record.substr(pos, len));
    strStripSpaces(f);
    return f;
}

bool txn_value_fits(std::string_view value, size_t width) {
    if (value.size() > width) return false;
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

std::string txn_date(std::string_view date, std::string_view time) {
    date = trim(date);
    time = trim(time);
    if (date.empty()) return "";
    std::string text(date);
    // Month first, as the PMS may write it: our database connection reads
    // slashed dates year first, so the order is made explicit here.
    auto digit = [&text](size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    if (text.size() == 10 && text[2] == '/' && text[5] == '/' && digit(0) && digit(1) && digit(3) && digit(4) &&
        digit(6) && digit(7) && digit(8) && digit(9))
        text = text.substr(6, 4) + "-" + text.substr(0, 2) + "-" + text.substr(3, 2);
    if (!time.empty()) text.append(" ").append(time);
    return text;
}

bool txn_amount_text(const TxnVendor& v, const PMSPostInfo& post, std::string& amount, std::string& reply) {
    const float cents = post.charge * 100.0f;
    // Seven characters hold -999999 to 9999999 cents; a wider amount would
    // shift every field after it.
    if (!std::isfinite(cents) || std::lround(cents) > 9999999 || std::lround(cents) < -999999) {
        VLOG_ERROR(0, "%s_handle_post_charge: amount %.2f does not fit the posting record, not posted", v.p.prefix,
                   static_cast<double>(post.charge));
        reply = "Amount too large for the PMS";
        return false;
    }
    if (!txn_value_fits(post.room, 6)) {
        VLOG_ERROR(0, "%s_handle_post_charge: room [%s] does not fit the posting record, not posted", v.p.prefix,
                   post.room.c_str());
        reply = "Invalid room number";
        return false;
    }
    amount = strFormat("%7.0f", static_cast<double>(cents));
    return true;
}

std::string txn_now_text() { return db_local_time_text(time(nullptr)); }

int txn_answer(TxnVendor& v, const std::string& rec, bool stored) {
    if (!stored) {
        txn_send_err(v, txn_id(rec));
        return 0;
    }
    return txn_send_ver(v, txn_id(rec)) == ReqResult::Ok ? 1 : 0;
}

int txn_cmd_start(TxnVendor& v, const std::string& rec) {
    svr_setReady();
    return txn_answer(v, rec, true);
}

int txn_cmd_stop(TxnVendor& v, const std::string& rec) {
    svr_setBusy();
    return txn_answer(v, rec, true);
}

int txn_cmd_info(TxnVendor& v, const std::string& rec) { return txn_answer(v, rec, true); }
int txn_cmd_info_silent(TxnVendor&, const std::string&) { return 1; }

int txn_cmd_resync_start(TxnVendor& v, const std::string&) {
    v.s.swap = 1;
    v.s.swap_time = time(nullptr);
    return 1;
}

int txn_cmd_resync_done(TxnVendor& v, const std::string&) {
    VLOG_INFO("%s DB Resync has completed", v.p.brand);
    v.s.swap = 0;
    v.s.swap_time = time(nullptr);
    return 1;
}

ReqResult txn_init_request_and_dbst_response(TxnVendor& v) {
    const char* px = v.p.prefix;
    txn_read_msg_flush(v);
    const std::string id = txn_new_id();
    if (!txn_write_msg(v, id + kTxnLast + "INIT")) {
        VLOG_ERROR(0, "Unable to send [%sINIT]", id.c_str());
        return ReqResult::Failed;
    }
    std::string rec;
    for (;;) {
        if (txn_read_msg_timeout(v, v.s.wait, rec) <= 0) {
            VLOG_ERROR(0, "%s_init_request_and_dbst_response: Did not receive response from PMS", px);
            return ReqResult::Failed;
        }
        if (txn_verb(rec) == "DBST") break;
        vendor_handle_data(rec);
    }
    if (txn_id(rec) != id) {
        VLOG_ERROR(0, "%s_init_request_and_dbst_response: DBST with another trans id [%s]", px, rec.c_str());
        return ReqResult::Failed;
    }
    // The DBST itself sets the flag, as it does when the PMS starts a resync.
    txn_cmd_resync_start(v, rec);
    if (txn_send_ver(v, id) != ReqResult::Ok) return ReqResult::Failed;
    VLOG_INFO("%s_handle_db_swap: INIT sent, DBST received, swap should start", px);
    return ReqResult::Ok;
}

ReqResult txn_keep_alive(TxnVendor& v) {
    const std::string id = txn_new_id();
    return txn_request_and_response(v, id, id + kTxnLast + "TEST");
}

int txn_harvest(TxnVendor& v, const std::function<void(const std::string&, const std::string&,
                                                       const std::string&)>& visit) {
    const char* px = v.p.prefix;
    if (v.s.swap == 1) {
        v.s.swap = 0;
        v.s.swap_time = time(nullptr);
    }
    auto rooms = db_rooms_without_names(v.s.psi_no, 50);
    if (!rooms || rooms->empty()) {
        VLOG_DEBUG(2, 0, "%s_harvest_guest_data: no rooms to harvest. nrows [%d]", px,
                   rooms ? static_cast<int>(rooms->size()) : -1);
        return req_code(txn_keep_alive(v));
    }
    for (const auto& r : *rooms) visit(r.room, r.arrival, r.no_post);
    VLOG_INFO("%s_link_keep_alive: harvest success", px);
    return 0;
}
