#include "vendors/txn/txn_link.h"

#include <unistd.h>

#include <algorithm>

#include "db.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/stx_frame.h"

static constexpr char kLogSrc[] = "vendors/txn";

namespace {

FrameRules rules_of(const TxnProfile& p) {
    return FrameRules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = p.lf_as_lrc, .cr_as_lrc = false};
}

void write_byte(char byte) { link_write(std::string_view(&byte, 1)); }

// One byte within `timeout` seconds: 1 read, 0 time-out, -1 error.
int read_byte(int timeout, char& byte) {
    std::string buf;
    int n = link_read_nbytes_timeout(buf, 1, timeout);
    if (n > 0 && !buf.empty()) {
        byte = buf[0];
        return 1;
    }
    return n < 0 ? -1 : 0;
}

// The rest of a frame whose STX was read already: text, ETX, LRC; the text
// (without ETX) or nullopt when the frame did not complete.
std::optional<std::string> read_rest_of_frame(const TxnProfile& p, int timeout) {
    StxReader reader(rules_of(p));
    reader.take(ctl::STX);
    StxReader::Result r = reader.next(timeout);
    if (r != StxReader::Result::Frame && r != StxReader::Result::BadLrc) return std::nullopt;
    return std::string(reader.body());
}

}  // namespace

std::string_view txn_id(std::string_view record) { return record.size() >= 4 ? record.substr(0, 4) : ""; }
std::string_view txn_verb(std::string_view record) { return record.size() >= 12 ? record.substr(8, 4) : ""; }
bool txn_is_last(std::string_view record) { return record.size() >= 8 && record.substr(4, 4) == kTxnLast; }

std::string txn_new_id() {
    int seq = db_get_message_seq_no();
    if (seq < 0) seq = -seq;
    std::string id;
    strAppendFmt(id, "S%03d", seq % 1000);
    return id;
}

int txn_write_msg(TxnVendor& v, const std::string& text) {
    const char* px = v.p.prefix;
    if (text.empty()) return 0;
    const std::string frame = stx_encode(text, rules_of(v.p));
    if (v.s.retries < 1) {
        VLOG_ERROR(0, "%s_write_msg: To many failed attempts during sending!", px);
        return 0;
    }
    std::optional<std::string> kept;
    bool acked = false;
    for (int attempt = 0; attempt < v.s.retries && !acked; ++attempt) {
        kept.reset();
        if (!link_write(frame)) {
            VLOG_ERROR(0, "%s_write_message: Error in writing message to link", px);
            return 0;
        }
        char b = 0;
        int n = read_byte(v.p.ack_wait, b);
        if (n < 0) {
            VLOG_ERROR(0, "%s_write_message: error reading ack/nack", px);
            return 0;
        }
        if (n == 0) {
            VLOG_ERROR(0, "%s_write_message: timeout on ack/nack, resend", px);
            continue;
        }
        if (b == ctl::ACK) {
            acked = true;
        } else if (b == ctl::NAK) {
            if (v.p.nak_pause > 0) sleep(static_cast<unsigned>(v.p.nak_pause));
        } else if (b == ctl::STX) {
            // The PMS sent a record of its own instead of the ACK: keep it,
            // and take the ACK that should follow.
            kept = read_rest_of_frame(v.p, 10);
            char after = 0;
            int m = kept ? read_byte(10, after) : 0;
            if (m > 0 && after == ctl::ACK) {
                acked = true;
            } else if (m > 0) {
                VLOG_INFO("%s_write_msg: got something, %s", px,
                          v.p.nak_pause > 0 ? "sending a NAK" : "but not an ACK, sending a NAK");
                write_byte(ctl::NAK);
            }
        } else {
            VLOG_ERROR(0, "%s_write_msg: unknown response, try again", px);
        }
    }
    if (!acked) {
        VLOG_ERROR(0, "%s_write_msg: To many %s during sending!", px,
                   v.p.nak_pause > 0 ? "failed attempts" : "failures");
        return 0;
    }
    if (kept) {
        // Its own ACK was never sent by us: the PMS needs it before it goes on.
        write_byte(ctl::ACK);
        vendor_handle_data(*kept);
    }
    return 1;
}

int txn_read_msg_timeout(TxnVendor& v, int timeout, std::string& record) {
    const char* px = v.p.prefix;
    record.clear();
    for (;;) {
        char b = 0;
        int n = read_byte(timeout, b);
        if (n < 0) {
            VLOG_ERROR(0, "%s_read_msg_timeout_bytes_read: Invalid data received", px);
            return -1;
        }
        if (n == 0) return -1;
        if (b == ctl::ENQ) {
            write_byte(ctl::ACK);
            continue;
        }
        if (b == ctl::STX) break;
        if (v.p.skip_noise) {
            VLOG_INFO("%s_read_msg_timeout: PMS received unexpected link byte, skipping - [%c/%d]", px, b, b);
            continue;
        }
        VLOG_ERROR(0, "%s_read_msg_timeout_bytes_read: PMS received unexpected link byte - [%c/%d]", px, b, b);
        return 0;
    }
    StxReader reader(rules_of(v.p));
    reader.take(ctl::STX);
    switch (reader.next(timeout)) {
        case StxReader::Result::Frame:
            break;
        case StxReader::Result::BadLrc:
            VLOG_ERROR(0,
                       "%s_read_msg_timeout_bytes_read: LRC not matched, data might be corrupted, sending NAK to PMS",
                       px);
            write_byte(ctl::NAK);
            return -1;
        case StxReader::Result::Failed:
        case StxReader::Result::Overflow:
            return -1;
        default:
            return 0;
    }
    write_byte(ctl::ACK);
    record = std::string(reader.body());
    return static_cast<int>(record.size());
}

namespace {

int flush_wait(const TxnVendor& v) { return v.p.flush_waiting_only ? 0 : v.s.flush; }

}  // namespace

void txn_read_msg_flush(TxnVendor& v) {
    std::string rec;
    while (txn_read_msg_timeout(v, flush_wait(v), rec) > 0) vendor_handle_data(rec);
}

void txn_read_msgs_onto_queue(TxnVendor& v) {
    std::string rec;
    while (txn_read_msg_timeout(v, flush_wait(v), rec) > 0) v.s.queue.push_back(rec);
}

void txn_handle_msgs_on_queue(TxnVendor& v) {
    // A handler may queue records again (its own VER reads onto the queue):
    // the loop takes them too.
    while (!v.s.queue.empty()) {
        std::string rec = std::move(v.s.queue.front());
        v.s.queue.pop_front();
        vendor_handle_data(rec);
    }
}

namespace {

ReqResult send_reply(TxnVendor& v, std::string_view id, const char* verb) {
    txn_read_msgs_onto_queue(v);
    std::string text;
    strAppendFmt(text, "%4.4s%4s%4s", std::string(id).c_str(), kTxnLast, verb);
    int sent = txn_write_msg(v, text);
    if (!v.s.collecting) txn_handle_msgs_on_queue(v);
    return sent ? ReqResult::Ok : ReqResult::Failed;
}

}  // namespace

ReqResult txn_send_ver(TxnVendor& v, std::string_view id) { return send_reply(v, id, "VER "); }
ReqResult txn_send_err(TxnVendor& v, std::string_view id) { return send_reply(v, id, "ERR "); }

ReqResult txn_request_and_response(TxnVendor& v, const std::string& id, const std::string& text) {
    const char* px = v.p.prefix;
    txn_read_msg_flush(v);
    if (!txn_write_msg(v, text)) {
        VLOG_ERROR(0, "Unable to send [%s]", text.c_str());
        return ReqResult::Failed;
    }
    std::vector<std::string> others;
    ReqResult result = ReqResult::Failed;
    std::string rec;
    for (;;) {
        if (txn_read_msg_timeout(v, v.s.wait, rec) <= 0) {
            VLOG_ERROR(0, "%s_request_and_response: Did not receive response from PMS", px);
            break;
        }
        std::string_view verb = txn_verb(rec);
        if (verb != "VER " && verb != "ERR ") {
            others.push_back(rec);
            continue;
        }
        if (txn_id(rec) != id) {
            VLOG_ERROR(0, "%s_request_and_response: response with different trans id not sure how to handle this [%s]",
                       px, rec.c_str());
        } else if (verb == "ERR ") {
            std::string why;
            txn_parse_error(v, rec, why);
            VLOG_ERROR(0, "%s_request_and_response: got error response [%s]", px, why.c_str());
        } else {
            result = ReqResult::Ok;
        }
        break;
    }
    for (const auto& r : others) vendor_handle_data(r);
    return result;
}

std::string txn_error_text(const TxnProfile& p, int code) {
    auto it = p.errors.find(code);
    if (it != p.errors.end()) return it->second;
    std::string t;
    strAppendFmt(t, "Unknown error id [%d]", code);
    return t;
}

int txn_parse_error(TxnVendor& v, const std::string& record, std::string& reply) {
    if (txn_verb(record) != "ERR ") {
        VLOG_ERROR(0, "Cannot parse error message; wrong format [%s]", record.c_str());
        return 0;
    }
    if (record.size() <= 13) {
        VLOG_ERROR(0, "Cannot parse error message; message to short [%s]", record.c_str());
        return 0;
    }
    const std::string digits = record.substr(12, 2);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        VLOG_ERROR(0, "Cannot parse error message numeric code [%s]", record.c_str());
        return 0;
    }
    int code = std::stoi(digits);
    reply += txn_error_text(v.p, code);
    return code;
}

int txn_next_record(TxnVendor& v, int timeout, std::string& record) {
    if (!v.s.queue.empty()) {
        record = std::move(v.s.queue.front());
        v.s.queue.pop_front();
        return static_cast<int>(record.size());
    }
    return txn_read_msg_timeout(v, timeout, record);
}

TxnCollecting::TxnCollecting(TxnVendor& v) : v_(v), was_(v.s.collecting) { v.s.collecting = true; }

TxnCollecting::~TxnCollecting() {
    v_.s.collecting = was_;
    // What is still queued came out of turn: it is handled now, unless an
    // outer collector still waits for its own answer among it.
    if (!was_) txn_handle_msgs_on_queue(v_);
}

ReqResult txn_collect(TxnVendor& v, const std::string& id, const std::vector<std::string>& wanted, const char* what,
                      int first_wait, int next_wait, std::vector<std::string>& lines, std::string& reply) {
    const char* px = v.p.prefix;
    ReqResult result = ReqResult::Failed;
    int wait = first_wait;
    bool cut = false;  // ended by an ERR or a stray id: the log and reply say so
    std::string rec;
    {
        // A record of the PMS's own is handled on the spot; the answer records
        // read while its reply went out are taken from the queue.
        TxnCollecting collecting(v);
        while (txn_next_record(v, wait, rec) > 0) {
            std::string verb(txn_verb(rec));
            bool want = std::find(wanted.begin(), wanted.end(), verb) != wanted.end();
            if (verb == "ERR ") {
                if (txn_id(rec) == id) {
                    VLOG_ERROR(0, "%s: %s was unsuccessful: [%s]", px, what, rec.c_str());
                    txn_parse_error(v, rec, reply);
                    strAppendFmt(reply, "%sPMS returned unsuccessful %s response: %s",
                                 v.p.error_text_to_reply ? "" : " ", what, rec.c_str());
                } else {
                    VLOG_ERROR(0, "%s: ERR resp to %s, but wrong trans id [%s]", px, what, rec.c_str());
                }
                cut = true;
                break;
            }
            if (!want) {
                vendor_handle_data(rec);
                continue;
            }
            if (txn_id(rec) != id) {
                VLOG_ERROR(0, "%s: %s resp, but wrong trans id [%s]", px, what, rec.c_str());
                cut = true;
                break;
            }
            lines.push_back(rec.substr(std::min<size_t>(8, rec.size())));
            result = ReqResult::Ok;
            if (txn_is_last(rec)) break;
            wait = next_wait;
        }
    }
    if (!cut && result != ReqResult::Ok && lines.empty() && reply.empty()) reply = "No reponse from PMS";
    return result;
}
