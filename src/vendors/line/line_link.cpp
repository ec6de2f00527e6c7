// The line discipline: writing bytes and records, bidding for the line,
// releasing it, and reading the PMS's records.
#include <cerrno>

#include "io_gwy/server.h"
#include "link.h"
#include "platform/log.h"
#include "vendors/common/stx_frame.h"
#include "vendors/line/line_core.h"

static constexpr char kLogSrc[] = "vendors/line/line_link";

namespace {

// Received frames may end with ETB; a CR or LF in the LRC's place is accepted.
constexpr FrameRules kLineFrames{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true,
                                 .etb_ends_frame = true, .max_body = 4096};

// One byte within `timeout` seconds: 1, 0 on time-out, -1 on error.
int read_byte(int timeout, char& byte) {
    std::string buf;
    const int n = link_read_nbytes_timeout(buf, 1, timeout);
    if (n > 0 && !buf.empty()) {
        byte = buf[0];
        return 1;
    }
    return n < 0 ? -1 : 0;
}

// Hands records to the vendor while they keep coming within `first`, then
// `next` seconds of each other.
void dispatch_pending(LineVendor& v, int first, int next) {
    std::string rec;
    for (int wait = first; line_read_msg_timeout(v, rec, wait) > 0; wait = next) vendor_handle_data(rec);
}

}  // namespace

void line_change_state(LineVendor& v, LineState to) {
    v.link.state = to;
    switch (to) {
        case LineState::StartPending: svr_setBusy(); break;
        case LineState::Idle: svr_setReady(); break;
        case LineState::Holding: break;  // a turn of ours does not change what may be posted
    }
}

bool line_write_byte(LineVendor& v, char byte) {
    VLOG_DEBUG(4, 0, "entering %s_write_byte(%d)", v.p.prefix, byte);
    v.link.last_activity = time(nullptr);
    return link_write(std::string_view(&byte, 1)) > 0;
}

bool line_eot(LineVendor& v) {
    VLOG_DEBUG(4, 0, "entering %s_line_eot()", v.p.prefix);
    const char eot = ctl::EOT;
    if (link_write(std::string_view(&eot, 1)) <= 0) {
        VLOG_DEBUG(3, 0, "Error during line eot");
        return false;
    }
    v.link.last_activity = time(nullptr);
    line_change_state(v, v.link.started ? LineState::Idle : LineState::StartPending);
    return true;
}

bool line_bid(LineVendor& v) {
    VLOG_DEBUG(4, 0, "entering %s_line_bid()", v.p.prefix);
    // Right after traffic the PMS may still be sending: take its records first.
    const time_t since = time(nullptr) - v.link.last_activity;
    if (since >= 0 && since < kLineReadWait) {
        const int wait = static_cast<int>(since);
        dispatch_pending(v, wait, wait);
    }
    for (int attempt = 0; attempt < kLineAttempts; ++attempt) {
        v.link.last_activity = time(nullptr);
        const char enq = ctl::ENQ;
        if (link_write(std::string_view(&enq, 1)) <= 0) {
            VLOG_DEBUG(3, 0, "Error during line bid");
            return false;
        }
        char b = 0;
        if (read_byte(kLineReadWait, b) <= 0) {
            VLOG_DEBUG(3, 0, "Error while checking for ACK");
            return false;
        }
        if (b == ctl::ACK) {
            v.link.last_activity = time(nullptr);
            line_change_state(v, LineState::Holding);
            return true;
        }
        // NAK: the PMS wants the line itself; let it send, then bid again.
        if (b == ctl::NAK) dispatch_pending(v, 1, kLineReadWait);
    }
    return false;
}

bool line_write_msg(LineVendor& v, std::string_view text) {
    if (text.empty()) return false;
    const std::string frame = stx_encode(text, kLineFrames);
    for (int attempt = 0; attempt < kLineAttempts; ++attempt) {
        if (link_write(frame) <= 0) {
            VLOG_DEBUG(3, 0, "Error while checking for ACK");
            return false;
        }
        v.link.last_activity = time(nullptr);
        char b = 0;
        const int n = read_byte(kLineReadWait, b);
        if (n < 0) {
            VLOG_DEBUG(3, 0, "Error while checking for ACK");
            return false;
        }
        if (n == 0) {
            VLOG_DEBUG(3, 0, "Timeout receiving response.. Sending ENQ");
        } else if (b == ctl::ACK) {
            return true;
        } else if (b == ctl::NAK) {
            VLOG_DEBUG(3, 0, "NACK received");
        } else if (b == ctl::EOT) {
            VLOG_WARN(0, "EOT received, message block aborted.");
            return false;
        }
    }
    line_eot(v);
    return false;
}

int line_read_msg_timeout(LineVendor& v, std::string& record, int timeout) {
    record.clear();
    VLOG_DEBUG(4, 0, "Enter %s_read_msg_timeout...", v.p.prefix);
    StxReader reader(kLineFrames);
    for (;;) {
        const StxReader::Result r = reader.next(timeout);
        switch (r) {
            case StxReader::Result::Failed:
                if (reader.stage() == StxReader::Stage::Text) VLOG_DEBUG(3, 0, "Error reading the rest of transmisson");
                VLOG_ERRNO(0, "%s_read_msg_timeout", v.p.prefix);
                return -1;
            case StxReader::Result::Timeout:
                if (reader.stage() == StxReader::Stage::Text)
                    VLOG_DEBUG(4, 0, "Time out reading the rest of transmisson");
                else if (reader.stage() == StxReader::Stage::Lrc)
                    VLOG_DEBUG(4, 0, "Time out reading the rest of transmisson no checksum");
                return 0;
            case StxReader::Result::Overflow:
                VLOG_ERROR(0, "%s_read_msg_timeout: record too long, dropped", v.p.prefix);
                return -1;
            case StxReader::Result::Control: {
                const char c = reader.control();
                if (c == ctl::ENQ) {
                    // The PMS bids for the line: grant it and wait for its record.
                    if (!line_write_byte(v, ctl::ACK)) {
                        VLOG_ERROR(0, "Unable to respond to PMS ENQ");
                        return -1;
                    }
                    timeout = kLineReadWait;
                    continue;
                }
                if (c == ctl::EOT) {
                    const int need_init = v.link.state == LineState::StartPending ? 1 : 0;
                    VLOG_DEBUG(4, 0, "received EOT, do we need to init? need init = %d", need_init);
                    // The PMS has released the line: a pending start can go now.
                    if (need_init && !v.link.in_start) line_start(v);
                    return -1;
                }
                VLOG_ERROR(0, "Unexpected byte found during read - '%c', int('%d')", c, c);
                return -1;
            }
            case StxReader::Result::Frame:
            case StxReader::Result::BadLrc: break;
        }
        v.link.last_activity = time(nullptr);
        const bool verified = r == StxReader::Result::Frame;
        VLOG_DEBUG(2, 0, "LRC = %d [%c] : %s", reader.expected_lrc(), reader.lrc_received(),
                   verified ? "VERIFIED" : "INVALID");
        if (!verified) {
            VLOG_WARN(0, "PMS message failed checksum.. got %c, expected %c", reader.lrc_received(),
                      static_cast<char>(reader.expected_lrc()));
            line_write_byte(v, ctl::NAK);
            return -1;
        }
        line_write_byte(v, ctl::ACK);
        v.link.last_activity = time(nullptr);
        record = reader.body();
        return static_cast<int>(record.size());
    }
}
