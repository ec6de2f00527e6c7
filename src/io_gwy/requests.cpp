#include "io_gwy/requests.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "io_gwy/requests";

namespace {

SvrBillingHook g_billing_hook;

using Fields = std::vector<std::string>;

// Exactly `n` fields, none empty; nullopt otherwise.
std::optional<Fields> split_nonempty(const std::string& data, size_t n) {
    Fields fields = strSplit(data, "|");
    if (fields.size() != n) return std::nullopt;
    for (const std::string& f : fields)
        if (f.empty()) return std::nullopt;
    return fields;
}

// A single room number: present and not a list.
bool single_field(const std::string& data) {
    return !data.empty() && data.find('|') == std::string::npos;
}

int32_t to_int32(const std::string& text) {
    return static_cast<int32_t>(strtol(text.c_str(), nullptr, 10));
}

// Single answer of a request that succeeded.
int answer_single(int fd, int subtype, std::string_view text, std::string& reply) {
    if (!svr_sendAnswer(fd, subtype, text)) {
        strAppendFmt(reply, "Invalid message");
        return 4;
    }
    return 0;
}

// One message per line; "0" when there are none; nothing for a negative count.
int answer_lines(int fd, int subtype, int32_t count, const std::vector<std::string>& lines,
                 size_t max_line, std::string& reply) {
    bool sent = true;
    if (count == 0) {
        sent = svr_sendAnswer(fd, subtype, "0");
    } else if (count > 0) {
        const size_t n = std::min(static_cast<size_t>(count), lines.size());
        for (size_t i = 0; i < n && sent; ++i)
            sent = svr_sendAnswer(fd, subtype, std::string_view(lines[i]).substr(0, max_line));
    }
    if (!sent) {
        strAppendFmt(reply, "Memory allocation error");
        return 4;
    }
    return 0;
}

// Subtypes 13 and 14: the status text of the vendor, only while READY.
int answer_status(int fd, int subtype, const std::string& data,
                  const std::function<void(std::optional<std::string>&)>& slot, const char* name,
                  std::string& reply) {
    if (!data.empty()) {
        VLOG_ERROR(0, "%s data must be null", name);
        return 2;
    }
    if (!svr_isReady()) return 4;
    if (!slot) return 3;
    VLOG_DEBUG(4, 0, "%s request running", name);
    std::optional<std::string> status;
    slot(status);
    VLOG_DEBUG(4, 0, "%s: received value %s", name, status ? status->c_str() : "(null)");
    if (!status) {
        strAppendFmt(reply, "Null value returned");
        return 4;
    }
    return answer_single(fd, subtype, *status, reply);
}

// Debug trace of each request kind; the bracket shows the data where it matters.
void trace(int subtype, const std::string& data) {
    struct Trace {
        const char* text;
        bool with_data;
    };
    static constexpr Trace kTraces[] = {
        {"svr_sendMessage, check room # 1", true},
        {"svr_sendMessage, check out # 2", true},
        {"svr_sendMessage, check in # 3", true},
        {"svr_sendMessage, guest folio # 4", true},
        {"svr_sendMessage, guest info # 5", true},
        {"svr_sendMessage, post # 6", true},
        {"svr_sendMessage, auth # 7", true},
        {"svr_sendMessage, rt billing # 8", false},
        {"svr_sendMessage, room equip status # 9", true},
        {"svr_sendMessage, db swap # 10", false},
        {"svr_sendMessage, guest messages # 11", true},
        {"svr_sendMessage, guest message delete  # 12", true},
        {"svr_sendMessage, check status # 13", false},
        {"svr_sendMessage, check status # 14", false},
    };
    const Trace& t = kTraces[subtype - 1];
    if (t.with_data) {
        VLOG_DEBUG(4, 0, "%s [%s]", t.text, data.c_str());
    } else {
        VLOG_DEBUG(4, 0, "%s", t.text);
    }
}

}  // namespace

void svr_setBillingHook(SvrBillingHook hook) { g_billing_hook = std::move(hook); }

int svr_sendAnswer(int fd, int subtype, std::string_view text) {
    return svr_sendMessage(fd, svr_newMessage(SVR_MSG_ANSWER, subtype, text));
}

int svr_handleRequest(int fd, const VendorRequests& requests, const ServerMessage& msg,
                      std::string& reply) {
    int type = 0;
    int subtype = 0;
    std::string data;
    if (!svr_parseMessage(msg, type, subtype, data)) {
        VLOG_ERROR(0, "Error parsing incoming request");
        return 2;
    }
    if (type != SVR_MSG_REQUEST) {
        VLOG_ERROR(0, "Unhandled message type: %d", type);
        return 2;
    }
    VLOG_DEBUG(2, 0, "Received request: type=%d, subtype=%d, data='%s'", type, subtype,
               data.c_str());
    return svr_dispatchRequest(fd, requests, subtype, data, reply);
}

int svr_dispatchRequest(int fd, const VendorRequests& rq, int subtype, const std::string& data,
                        std::string& reply) {
    if (subtype <= 0 || subtype > 14) {
        VLOG_ERROR(0, "Unhandled message subtype : %d", subtype);
        strAppendFmt(reply, "Invalid message");
        return 4;
    }
    trace(subtype, data);

    switch (subtype) {
        case PMS_REQ_CHECK_ROOM: {
            if (!single_field(data)) return 2;
            if (!rq.check_room_status) return 3;
            int32_t status = 0;
            if (ReqResult rc = rq.check_room_status(data, status, reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, std::to_string(status), reply);
        }
        case PMS_REQ_CHECK_OUT: {
            auto f = split_nonempty(data, 2);
            if (!f) return 2;
            if (!rq.check_out_room) return 3;
            if (ReqResult rc = rq.check_out_room((*f)[0], (*f)[1], reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_CHECK_IN: {
            auto f = split_nonempty(data, 3);
            if (!f) return 2;
            if (!rq.check_in_room) return 3;
            if (ReqResult rc = rq.check_in_room((*f)[0], (*f)[1], (*f)[2], reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_GUEST_FOLIO: {
            auto f = split_nonempty(data, 4);
            if (!f) {
                VLOG_DEBUG(4, 0, "svr_sendMessage: guest folio request requires 4 arguments");
                return 2;
            }
            if (!rq.retrieve_guest_folio) return 3;
            int32_t count = 0;
            std::vector<std::string> lines;
            if (ReqResult rc = rq.retrieve_guest_folio((*f)[0], (*f)[1], to_int32((*f)[2]),
                                                 to_int32((*f)[3]), count, lines, reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_lines(fd, subtype, count, lines, std::string::npos, reply);
        }
        case PMS_REQ_GUEST_INFO: {
            if (!single_field(data)) return 2;
            if (!rq.retrieve_guest_info) return 3;
            int32_t count = 0;
            std::vector<std::string> lines;
            if (ReqResult rc = rq.retrieve_guest_info(data, count, lines, reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_lines(fd, subtype, count, lines, SVR_GUEST_INFO_LINE_MAX, reply);
        }
        case PMS_REQ_POST:
            return svr_requestPost(fd, rq, data, reply);
        case PMS_REQ_AUTH: {
            auto f = split_nonempty(data, 2);
            if (!f) return 2;
            if (!rq.authorize) return 3;
            if (ReqResult rc = rq.authorize((*f)[0], (*f)[1], reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_RT_BILLING: {
            if (!data.empty()) {
                VLOG_ERROR(0, "RT_BILLING data must be null");
                return 2;
            }
            if (svr_isReady()) {
                VLOG_DEBUG(2, 0, "RT_BILLING request running");
                if (g_billing_hook) g_billing_hook();
            }
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_ROOM_EQUIP_STATUS: {
            auto f = split_nonempty(data, 2);
            if (!f) return 2;
            if (!rq.room_equipment_status) return 3;
            if (ReqResult rc = rq.room_equipment_status((*f)[0], (*f)[1], reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_DB_SWAP: {
            if (!rq.db_swap) return 3;
            if (ReqResult rc = rq.db_swap(); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_GUEST_MESSAGES: {
            auto f = split_nonempty(data, 2);
            if (!f) return 2;
            if (!rq.retrieve_guest_message) return 3;
            int32_t count = 0;
            std::vector<std::string> lines;
            if (ReqResult rc = rq.retrieve_guest_message((*f)[0], (*f)[1], count, lines, reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_lines(fd, subtype, count, lines, std::string::npos, reply);
        }
        case PMS_REQ_GUEST_MESSAGE_DELETE: {
            auto f = split_nonempty(data, 2);
            if (!f) return 2;
            if (!rq.delete_guest_message) return 3;
            if (ReqResult rc = rq.delete_guest_message((*f)[0], (*f)[1], reply); rc != ReqResult::Ok) return req_code(rc);
            return answer_single(fd, subtype, "1", reply);
        }
        case PMS_REQ_CHECK_STATUS:
            return answer_status(fd, subtype, data, rq.check_status, "CHECK_STATUS", reply);
        case PMS_REQ_CHECK_DB_SWAP_STATUS:
            return answer_status(fd, subtype, data, rq.check_db_swap_status, "CHECK_DB_SWAP_STATUS",
                                 reply);
    }
    return 4;  // not reached: every subtype 1-14 is handled above
}
