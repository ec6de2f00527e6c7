// GalaVu requests of its own: posting, check-out and the database swap.
#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/galavu/galavu.h"
#include "vendors/txn/txn_requests.h"

static constexpr char kLogSrc[] = "vendors/GalaVu";

ReqResult galavu_handle_post_charge(TxnVendor& v, const PMSPostInfo& post, std::string& reply) {
    std::string amount;
    if (!txn_amount_text(v, post, amount, reply)) return ReqResult::Failed;
    const std::string id = txn_new_id();
    const std::string text =
        strFormat("%s9999POST%-6s%-2s%-12s%s", id.c_str(), post.room.c_str(), " 1", "INTERNET    ", amount.c_str());
    return txn_request_and_response(v, id, text);
}

ReqResult galavu_handle_check_out_room(TxnVendor& v, const std::string& room, const std::string& account,
                                       std::string& reply) {
    if (room.empty()) {
        reply = "Cannot send checkout for NULL room";
        return ReqResult::Invalid;
    }
    if (account.empty()) {
        reply = "Cannot send checkout for NULL account number";
        return ReqResult::Invalid;
    }
    std::vector<std::string> lines;
    int32_t count = 0;
    txn_multi_record(v, "DISP", {"NAME", "ITEM", "BAL "}, room, account, count, lines, reply);
    // Only a BAL record tells the balance; lines hold the text from position 8.
    std::string balance;
    for (const auto& line : lines)
        if (line.rfind("BAL ", 0) == 0 && line.size() > 4) balance = txn_field(line, 4, 8);
    if (balance.empty()) {
        // Without the balance the PMS cannot check the guest out as he saw it.
        VLOG_ERROR(0, "galavu_handle_check_out_room: no balance for room [%s], check-out not sent", room.c_str());
        reply = "No balance received from PMS, check-out not sent";
        return ReqResult::Failed;
    }
    reply.clear();
    const std::string id = txn_new_id();
    return txn_request_and_response(
        v, id, strFormat("%s9999XCKO%-6s%-6s%s", id.c_str(), room.c_str(), account.c_str(), balance.c_str()));
}

ReqResult galavu_handle_db_swap(TxnVendor& v) {
    txn_read_msg_flush(v);
    const std::string id = txn_new_id();
    ReqResult r = txn_request_and_response(v, id, id + kTxnLast + "INIT");
    // The swap counts as running only once the PMS has taken it: while it
    // runs every name authorises.
    v.s.swap = r == ReqResult::Ok ? 1 : 0;
    v.s.swap_time = time(nullptr);
    return r;
}
