// Requests the transaction-id vendors share: folio and messages (multi-record
// answers), message deletion and room status.
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/txn/txn_requests.h"

static constexpr char kLogSrc[] = "vendors/txn";

namespace {

constexpr int kFirstAnswerWait = 60;  // seconds for the first record of a multi-record answer
constexpr int kNextAnswerWait = 10;   // and between its records

bool fields_fit(const std::string& room, const std::string& account, std::string& reply) {
    if (txn_value_fits(room, 6) && txn_value_fits(account, 6)) return true;
    reply = "Invalid room or account number";
    return false;
}

}  // namespace

ReqResult txn_multi_record(TxnVendor& v, const char* verb, const std::vector<std::string>& wanted,
                       const std::string& room, const std::string& account, int32_t& count,
                       std::vector<std::string>& lines, std::string& reply) {
    if (!fields_fit(room, account, reply)) return ReqResult::Invalid;
    txn_read_msg_flush(v);
    const std::string id = txn_new_id();
    if (!txn_write_msg(v, strFormat("%4s9999%s%-6s%-6s", id.c_str(), verb, room.c_str(), account.c_str()))) {
        reply = "Unable to send message request";
        return ReqResult::Failed;
    }
    ReqResult r = txn_collect(v, id, wanted, verb, kFirstAnswerWait, kNextAnswerWait, lines, reply);
    count = static_cast<int32_t>(lines.size());
    return r;
}

ReqResult txn_handle_retrieve_folio_details(TxnVendor& v, const std::string& room, const std::string& account,
                                               int32_t& count, std::vector<std::string>& lines, std::string& reply) {
    if (room.empty() || account.empty()) {
        VLOG_ERROR(0, "Cannot get folio for NULL room");
        return ReqResult::Invalid;
    }
    return txn_multi_record(v, "DISP", {"NAME", "ITEM", "BAL "}, room, account, count, lines, reply);
}

ReqResult txn_handle_retrieve_guest_message(TxnVendor& v, const std::string& room, const std::string& account,
                                               int32_t& count, std::vector<std::string>& lines, std::string& reply) {
    if (room.empty() || account.empty()) {
        VLOG_ERROR(0, "Cannot get messages for NULL room");
        return ReqResult::Invalid;
    }
    return txn_multi_record(v, "MSGR", {"MHDR", "MCLR", "MTXT"}, room, account, count, lines, reply);
}

ReqResult txn_handle_delete_message(TxnVendor& v, const std::string& room, const std::string& data,
                                       std::string& reply) {
    if (room.empty()) return ReqResult::Failed;
    std::vector<std::string> f = strSplit(data, "^");
    if (f.size() != 2) {
        VLOG_ERROR(0, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
        strAppendFmt(reply, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
        return ReqResult::Failed;
    }
    if (!fields_fit(f[0], f[1], reply)) return ReqResult::Invalid;
    const std::string id = txn_new_id();
    return txn_request_and_response(v, id,
                                    strFormat("%s9999MSGD%-6s%-6s", id.c_str(), f[0].c_str(), f[1].c_str()));
}

ReqResult txn_handle_room_equipment_status(TxnVendor& v, const std::string& room, const std::string& status,
                                              std::string& reply) {
    if (room.empty() || status.empty()) {
        VLOG_ERROR(0, "%s_handle_room_equipment_status: null parameter info.", v.p.prefix);
        reply = "Null parameter info.";
        return ReqResult::Failed;
    }
    if (!txn_value_fits(room, 6) || !txn_value_fits(status, 2)) {
        reply = "Invalid room or status";
        return ReqResult::Invalid;
    }
    const std::string id = txn_new_id();
    return txn_request_and_response(v, id, strFormat("%4s0001HSKP%-6s%2s", id.c_str(), room.c_str(), status.c_str()));
}

